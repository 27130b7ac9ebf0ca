// The language library reader: our built libraries, built images, and damaged copies of them.
#include "PeImage.h"
#include "i18n/OwnStrings.h"
#include "platform/pe/PeResources.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <iterator>

using zeph::pe::findString;
using zeph::pe::MemorySource;
using zeph::pe::utf16ToUtf8;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::optional<std::string> lookUp(const Bytes &bytes, std::uint32_t id) {
    auto text = findString(MemorySource(bytes), id);
    return text ? std::optional(utf16ToUtf8(*text)) : std::nullopt;
}

const std::map<std::uint32_t, std::u16string> kSample = {
    {0, u"zero"},     {1, u"one"},   {15, u"fifteen"}, {16, u"sixteen"},   {20, u""},
    {237, u"Select"}, {300, u"ext"}, {310, u"end"},    {0xFFFEF, u"last"},
};

} // namespace

TEST(PeReader, BuiltLibrariesHoldTheirTranslationsOfEveryOwnId) {
    if (!ZEPH_LANGUAGE_LIBRARIES)
        GTEST_SKIP() << "this build has no MinGW resource compiler";
    for (const std::string code : {"DEU", "FRA", "JPN"}) {
        std::ifstream in(std::string(ZEPH_BIN_DIR) + "/zephrane_" + code + ".dll",
                         std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        for (const auto &own : zeph::i18n::ownStrings())
            EXPECT_NE(lookUp(bytes, own.id).value_or(""), "") << code << " " << own.id;
        EXPECT_FALSE(lookUp(bytes, 238));
        EXPECT_TRUE(code != "DEU" || lookUp(bytes, 308) == "Import abgeschlossen.  ");
    }
}

TEST(PeReader, LoaderReadsPlainFilesOnly) {
    auto loader = zeph::pe::makeResourceLoader();
    zeph::test::TempFolder folder;
    const std::string dll = folder.path() + "/zephrane_TST.dll";
    zeph::test::writeBytes(dll, zeph::test::buildStringLibrary(kSample).bytes);
    EXPECT_EQ(loader->loadString(dll, 237), "Select");
#ifndef _WIN32 // Windows has no named pipe in a folder
    ASSERT_EQ(::mkfifo((folder.path() + "/zephrane_PIP.dll").c_str(), 0600), 0);
#endif
    std::filesystem::create_directory(folder.path() + "/zephrane_DIR.dll");
    zeph::test::writeBytes(folder.path() + "/zephrane_EMP.dll", {});
    for (const char *name : {"PIP", "DIR", "EMP", "NON"}) // a pipe would block the program
        EXPECT_FALSE(loader->loadString(folder.path() + "/zephrane_" + name + ".dll", 237)) << name;
}

TEST(PeReader, FindsStringsAtTheEdgesOfBlocksAndKeepsSurrogatePairs) {
    for (bool pe32 : {false, true}) {
        const Bytes bytes = zeph::test::buildStringLibrary(kSample, pe32).bytes;
        for (const auto &[id, text] : kSample)
            EXPECT_EQ(findString(MemorySource(bytes), id).value_or(u""), text) << id;
        // An empty entry is no string.
        for (std::uint32_t id : {2u, 17u, 20u, 0xFFFEEu, 0xFFFFFu, 0xFFFFFFFFu})
            EXPECT_FALSE(findString(MemorySource(bytes), id)) << id << " " << pe32;
    }
    EXPECT_EQ(utf16ToUtf8(std::u16string{char16_t(0xDD1E), u'a', char16_t(0xD834)}),
              "\uFFFDa\uFFFD");
}

TEST(PeReader, DamagedImagesGiveTheStringOrNothingAndAreNeverReadOutside) {
    const zeph::test::PeImage image = zeph::test::buildStringLibrary(kSample);
    for (std::size_t cut = 0; cut < image.bytes.size(); ++cut) {
        const Bytes part(image.bytes.begin(), image.bytes.begin() + static_cast<long>(cut));
        for (std::uint32_t id : {0u, 15u, 237u, 0xFFFEFu}) {
            const auto found = lookUp(part, id);
            ASSERT_TRUE(!found || found == utf16ToUtf8(kSample.at(id))) << cut << ", id " << id;
        }
    }
    for (std::size_t at = 0; at < image.bytes.size(); ++at) {
        for (std::uint8_t flip : {0xFF, 0x80}) {
            Bytes bytes = image.bytes;
            bytes[at] ^= flip;
            for (std::uint32_t id : {0u, 237u, 0xFFFEFu})
                (void)lookUp(bytes, id); // the sanitizers watch every read
        }
    }
    // Offsets and counts pointing outside the file; 237's block is the third.
    const std::size_t block = image.nameDirectory + 20 + 8 * 2, entry = image.dataEntries[2];
    const std::pair<std::size_t, std::uint32_t> damages[] = {
        {0x3C, 0xFFFFFFF0u},                                        // the new header
        {0x3C, static_cast<std::uint32_t>(image.bytes.size() - 2)}, // just past the end
        {image.resourceEntry, 0xFFFFFFF8u},                         // the address wraps around
        {image.peHeader + 6, 0xFFFF},                               // 65535 sections
        {image.resourceStart + 12, 0xFFFFFFFFu},                    // 65535 type entries
        {block, 0x80000000u},                                       // a cycle through the root
        {block, 0x80000000u | 24},                                  // pointing at itself
        {entry, 0xFFFFFF00u},                                       // the data's address
        {entry + 4, 0xFFFFFFFFu},                                   // the data's size
        {entry + 4, 2},                                             // a size that cuts the text
    };
    for (const auto &[at, value] : damages) {
        zeph::test::PeImage damaged = image;
        damaged.put32(at, value);
        EXPECT_FALSE(lookUp(damaged.bytes, 237)) << at << " " << value;
        for (const auto &[id, text] : kSample)
            (void)lookUp(damaged.bytes, id); // no crash, no read outside the image
    }
}
