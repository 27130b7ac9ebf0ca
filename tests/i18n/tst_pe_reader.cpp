// The language library reader: our built libraries, built images, and damaged copies of both.
#include "PeImage.h"
#include "i18n/OwnStrings.h"
#include "platform/pe/PeResources.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <set>

#ifndef ZEPH_LANGUAGE_LIBRARIES
#define ZEPH_LANGUAGE_LIBRARIES 0
#endif

using zeph::pe::findString;
using zeph::pe::MemorySource;
using zeph::test::buildStringLibrary;
using zeph::test::PeImage;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::optional<std::string> lookUp(const Bytes &bytes, std::uint32_t id) {
    auto text = findString(MemorySource(bytes), id);
    return text ? std::optional(zeph::pe::utf16ToUtf8(*text)) : std::nullopt;
}

std::string libraryPath(const std::string &code) {
    return std::string(ZEPH_BIN_DIR) + "/zephrane_" + code + ".dll";
}

Bytes builtLibrary(const std::string &code) {
    std::ifstream in(libraryPath(code), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#define REQUIRE_LANGUAGE_LIBRARIES()                                                               \
    if (!ZEPH_LANGUAGE_LIBRARIES)                                                                  \
    GTEST_SKIP() << "this build has no MinGW resource compiler"

const std::map<std::uint32_t, std::u16string> kSample = {
    {0, u"zero"},     {1, u"one"},   {15, u"fifteen"}, {16, u"sixteen"},   {20, u""},
    {237, u"Select"}, {300, u"ext"}, {310, u"end"},    {0xFFFEF, u"last"},
};

// Every cut-off copy gives the true string or nothing, never another text.
void expectEveryTruncationSafe(const Bytes &bytes,
                               const std::map<std::uint32_t, std::string> &expected) {
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const Bytes part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        for (const auto &[id, text] : expected) {
            const auto found = lookUp(part, id);
            ASSERT_TRUE(!found || *found == text) << "cut at " << cut << ", id " << id;
        }
    }
}

} // namespace

TEST(PeReader, BuiltLibrariesHoldTheirTranslationsOfEveryOwnId) {
    REQUIRE_LANGUAGE_LIBRARIES();
    for (const std::string code : {"DEU", "FRA", "JPN"}) {
        SCOPED_TRACE(code);
        const Bytes bytes = builtLibrary(code);
        std::set<std::string> distinct;
        for (const auto &own : zeph::i18n::ownStrings()) {
            auto text = lookUp(bytes, own.id);
            ASSERT_TRUE(text && !text->empty()) << "id " << own.id;
            distinct.insert(*text);
        }
        EXPECT_GT(distinct.size(), 25u) << "a library that repeats one text is no translation";
        for (std::uint32_t id : {0u, 17u, 238u, 999u, 70000u}) // ids the program never reads
            EXPECT_FALSE(lookUp(bytes, id)) << id;
    }
    EXPECT_EQ(lookUp(builtLibrary("DEU"), 237), "Teilnehmer ausw\u00e4hlen");
    EXPECT_EQ(lookUp(builtLibrary("DEU"), 308), "Import abgeschlossen.  ");
    EXPECT_EQ(lookUp(builtLibrary("FRA"), 274), "\u00c0 :");
    EXPECT_EQ(lookUp(builtLibrary("JPN"), 153), "\u30d8\u30eb\u30d7");
}

TEST(PeReader, LoaderReadsPlainFilesOnlyAndTakesBackslashes) {
    auto loader = zeph::pe::makeResourceLoader();
    zeph::test::TempFolder folder;
    const std::string dll = folder.path() + "/zephrane_TST.dll";
    zeph::test::writeBytes(dll, buildStringLibrary(kSample).bytes);
    std::string windowsPath = dll;
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    EXPECT_EQ(loader->loadString(windowsPath, 237), "Select");

    const std::string pipe = folder.path() + "/zephrane_PIP.dll";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(loader->loadString(pipe, 237)) << "a pipe would block the program";
    std::filesystem::create_directory(folder.path() + "/zephrane_DIR.dll");
    zeph::test::writeBytes(folder.path() + "/zephrane_EMP.dll", {});
    for (const char *name : {"DIR", "EMP", "NON"})
        EXPECT_FALSE(loader->loadString(folder.path() + "/zephrane_" + name + ".dll", 237)) << name;

    zeph::test::TempHost host(0); // the host's reader is this one
    EXPECT_EQ(host.host().resources->loadString(dll, 237), "Select");
}

TEST(PeReader, FindsStringsAtTheEdgesOfBlocks) {
    for (bool pe32 : {false, true}) {
        SCOPED_TRACE(pe32 ? "PE32" : "PE32+");
        const PeImage image = buildStringLibrary(kSample, pe32);
        for (const auto &[id, text] : kSample) {
            EXPECT_EQ(findString(MemorySource(image.bytes), id).value_or(u""), text) << id;
        }
        // An empty entry is no string.
        for (std::uint32_t id : {2u, 14u, 17u, 20u, 31u, 0xFFFEEu, 0xFFFFFu, 0xFFFFFFFFu})
            EXPECT_FALSE(findString(MemorySource(image.bytes), id)) << id;
    }
}

TEST(PeReader, Utf16ToUtf8KeepsPairsAndReplacesLoneSurrogates) {
    using zeph::pe::utf16ToUtf8;
    EXPECT_EQ(utf16ToUtf8(u"A\u00e9\u30b4\U0001D11E"), "A\u00e9\u30b4\U0001D11E");
    EXPECT_EQ(utf16ToUtf8(std::u16string{char16_t(0xDD1E), u'a'}), "\uFFFDa");
    EXPECT_EQ(utf16ToUtf8(std::u16string{char16_t(0xD834), u'a'}), "\uFFFDa");
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD834))), "\uFFFD");
}

TEST(PeReader, TruncatedImagesGiveTheStringOrNothing) {
    const PeImage image = buildStringLibrary(kSample);
    std::map<std::uint32_t, std::string> expected;
    for (const auto &[id, text] : kSample)
        expected[id] = zeph::pe::utf16ToUtf8(text);
    expectEveryTruncationSafe(image.bytes, expected);
    EXPECT_FALSE(lookUp({image.bytes.begin(), image.bytes.begin() + 0x200}, 237))
        << "cut where the resource section starts";

    REQUIRE_LANGUAGE_LIBRARIES();
    const Bytes bytes = builtLibrary("DEU");
    expectEveryTruncationSafe(bytes, {{18, *lookUp(bytes, 18)}, {237, *lookUp(bytes, 237)}});
}

TEST(PeReader, OffsetsPointingOutsideTheFileGiveNothing) {
    // Each damage writes to every block's entry in the block directory, or every data entry.
    auto blocks = [](PeImage &i, std::uint32_t v) {
        for (std::size_t k = 0; k < i.dataEntries.size(); ++k)
            i.put32(i.nameDirectory + 20 + 8 * k, v);
    };
    auto entries = [](PeImage &i, std::size_t field, std::uint32_t v) {
        for (auto e : i.dataEntries)
            i.put32(e + field, v);
    };
    const std::pair<const char *, std::function<void(PeImage &)>> damages[] = {
        {"new header offset far beyond the file", [](PeImage &i) { i.put32(0x3C, 0xFFFFFFF0u); }},
        {"new header offset just past the end",
         [](PeImage &i) { i.put32(0x3C, static_cast<std::uint32_t>(i.bytes.size() - 2)); }},
        {"no PE signature", [](PeImage &i) { i.bytes[i.peHeader + 1] = 'X'; }},
        {"unknown optional header", [](PeImage &i) { i.put16(i.peHeader + 24, 0x999); }},
        {"optional header too short", [](PeImage &i) { i.put16(i.peHeader + 20, 100); }},
        {"no data directories", [](PeImage &i) { i.put32(i.resourceEntry - 20, 2); }},
        {"resource address wraps around",
         [](PeImage &i) { i.put32(i.resourceEntry, 0xFFFFFFF8u); }},
        {"section beyond the file", [](PeImage &i) { i.put32(i.sectionHeader + 20, 0xFFFFFE00u); }},
        {"65535 sections", [](PeImage &i) { i.put16(i.peHeader + 6, 0xFFFF); }},
        {"no sections", [](PeImage &i) { i.put16(i.peHeader + 6, 0); }},
        {"65535 type entries", [](PeImage &i) { i.put32(i.resourceStart + 12, 0xFFFFFFFFu); }},
        {"type entry outside the section",
         [](PeImage &i) { i.put32(i.resourceStart + 20, 0x8FFFFFF0u); }},
        {"type entry at data, not a directory",
         [](PeImage &i) { i.put32(i.resourceStart + 20, 0x18); }},
        {"block entries outside the section", [&](PeImage &i) { blocks(i, 0xFFFFFFFFu); }},
        {"directory cycle through the root", [&](PeImage &i) { blocks(i, 0x80000000u); }},
        {"directory pointing at itself",
         [&](PeImage &i) { blocks(i, 0x80000000u | static_cast<std::uint32_t>(24)); }},
        {"data address beyond the file", [&](PeImage &i) { entries(i, 0, 0xFFFFFF00u); }},
        {"data size beyond the file", [&](PeImage &i) { entries(i, 4, 0xFFFFFFFFu); }},
        {"data size cuts the string", [&](PeImage &i) { entries(i, 4, 2); }},
    };
    for (const auto &[what, apply] : damages) {
        SCOPED_TRACE(what);
        PeImage image = buildStringLibrary(kSample);
        ASSERT_EQ(lookUp(image.bytes, 237), "Select");
        apply(image);
        EXPECT_FALSE(lookUp(image.bytes, 237));
        for (const auto &[id, text] : kSample)
            (void)lookUp(image.bytes, id); // no crash, no read outside the image
    }
}

TEST(PeReader, EveryByteDamagedStaysInsideTheImage) {
    const PeImage image = buildStringLibrary(kSample);
    for (std::size_t at = 0; at < image.bytes.size(); ++at) {
        for (std::uint8_t flip : {std::uint8_t{0xFF}, std::uint8_t{0x80}}) {
            Bytes bytes = image.bytes;
            bytes[at] ^= flip;
            for (std::uint32_t id : {0u, 237u, 0xFFFEFu})
                (void)lookUp(bytes, id); // the sanitizers watch every read
        }
    }
}
