// The language library reader: our built libraries, built images, and damaged copies of both.
#include "PeImage.h"
#include "i18n/OwnStrings.h"
#include "platform/pe/PeResources.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#ifndef ZEPH_LANGUAGE_LIBRARIES
#define ZEPH_LANGUAGE_LIBRARIES 0
#endif

using zeph::pe::findString;
using zeph::pe::MemorySource;
using zeph::test::buildStringLibrary;
using zeph::test::PeImage;

namespace {

std::optional<std::string> lookUp(const std::vector<std::uint8_t> &bytes, std::uint32_t id) {
    auto text = findString(MemorySource(bytes), id);
    if (!text)
        return std::nullopt;
    return zeph::pe::utf16ToUtf8(*text);
}

std::string libraryPath(const std::string &code) {
    return std::string(ZEPH_BIN_DIR) + "/zephrane_" + code + ".dll";
}

// The built libraries, or a skip when this build has no resource compiler.
std::vector<std::uint8_t> builtLibrary(const std::string &code) {
    return zeph::test::readBytes(libraryPath(code));
}

#define REQUIRE_LANGUAGE_LIBRARIES()                                                               \
    do {                                                                                           \
        if (!ZEPH_LANGUAGE_LIBRARIES)                                                              \
            GTEST_SKIP() << "this build has no MinGW resource compiler";                           \
    } while (0)

const std::map<std::uint32_t, std::u16string> kSample = {
    {0, u"zero"},     {1, u"one"},   {15, u"fifteen"}, {16, u"sixteen"},
    {237, u"Select"}, {300, u"ext"}, {310, u"end"},    {0xFFFEF, u"last"},
};

} // namespace

TEST(PeReader, BuiltLibrariesHoldEveryIdOfTheOwnTable) {
    REQUIRE_LANGUAGE_LIBRARIES();
    for (const std::string code : {"DEU", "FRA", "JPN"}) {
        SCOPED_TRACE(code);
        const auto bytes = builtLibrary(code);
        std::set<std::string> distinct;
        for (const auto &own : zeph::i18n::ownStrings()) {
            auto text = lookUp(bytes, own.id);
            ASSERT_TRUE(text) << "id " << own.id;
            EXPECT_FALSE(text->empty());
            distinct.insert(*text);
        }
        // Ids the program never reads are not in the libraries.
        for (std::uint32_t id : {0u, 1u, 17u, 238u, 330u, 999u, 70000u})
            EXPECT_FALSE(lookUp(bytes, id)) << id;
        EXPECT_GT(distinct.size(), 25u) << "a library that repeats one text is no translation";
    }
}

TEST(PeReader, BuiltLibrariesGiveTheirTranslations) {
    REQUIRE_LANGUAGE_LIBRARIES();
    struct Case {
        const char *code;
        std::uint32_t id;
        std::string text;
    };
    const Case cases[] = {
        {"DEU", 237, "Teilnehmer ausw\u00e4hlen"},
        {"DEU", 18, "<< Zur\u00fcck"},
        {"DEU", 308, "Import abgeschlossen.  "},
        {"DEU", 309, " Zeilen aus der Textdatei gelesen, "},
        {"FRA", 237, "S\u00e9lectionner des abonn\u00e9s"},
        {"FRA", 110, "Nom d'affichage"},
        {"FRA", 274, "\u00c0 :"},
        {"JPN", 237, "\u52a0\u5165\u8005\u306e\u9078\u629e"},
        {"JPN", 153, "\u30d8\u30eb\u30d7"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.code) + " " + std::to_string(c.id));
        EXPECT_EQ(lookUp(builtLibrary(c.code), c.id), c.text);
    }
}

TEST(PeReader, LoaderReadsFilesNamedWithBackslashes) {
    REQUIRE_LANGUAGE_LIBRARIES();
    auto loader = zeph::pe::makeResourceLoader();
    std::string path = libraryPath("DEU");
    std::replace(path.begin(), path.end(), '/', '\\');
    EXPECT_EQ(loader->loadString(path, 132), "Beenden");
    EXPECT_FALSE(loader->loadString(libraryPath("XYZ"), 132)) << "a missing file";
}

TEST(PeReader, FindsStringsAtTheEdgesOfBlocks) {
    for (bool pe32 : {false, true}) {
        SCOPED_TRACE(pe32 ? "PE32" : "PE32+");
        const PeImage image = buildStringLibrary(kSample, pe32);
        for (const auto &[id, text] : kSample)
            EXPECT_EQ(findString(MemorySource(image.bytes), id), text) << id;
        for (std::uint32_t id : {2u, 14u, 17u, 31u, 236u, 0xFFFEEu, 0xFFFFFu, 0xFFFFFFFFu})
            EXPECT_FALSE(findString(MemorySource(image.bytes), id)) << id;
    }
}

TEST(PeReader, EmptyEntryIsNoString) {
    const PeImage image = buildStringLibrary({{20, u""}, {21, u"x"}});
    EXPECT_FALSE(findString(MemorySource(image.bytes), 20));
    EXPECT_EQ(findString(MemorySource(image.bytes), 21), u"x");
}

TEST(PeReader, Utf16ToUtf8KeepsPairsAndReplacesLoneSurrogates) {
    using zeph::pe::utf16ToUtf8;
    EXPECT_EQ(utf16ToUtf8(u"A\u00e9\u30b4"), "A\u00e9\u30b4");
    EXPECT_EQ(utf16ToUtf8(u"\U0001D11E"), "\U0001D11E");
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD834))), "\uFFFD");
    EXPECT_EQ(utf16ToUtf8(std::u16string{char16_t(0xDD1E), u'a'}), "\uFFFDa");
    EXPECT_EQ(utf16ToUtf8(std::u16string{char16_t(0xD834), u'a'}), "\uFFFDa");
}

// A cut-off copy gives the true string or nothing, never another text.
void expectTruncationsSafe(const std::vector<std::uint8_t> &bytes,
                           const std::vector<std::size_t> &cuts,
                           const std::map<std::uint32_t, std::string> &expected) {
    for (std::size_t cut : cuts) {
        const std::vector<std::uint8_t> part(bytes.begin(),
                                             bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        for (const auto &[id, text] : expected) {
            auto found = lookUp(part, id);
            if (found) {
                ASSERT_EQ(*found, text) << "cut at " << cut << ", id " << id;
            }
        }
    }
}

std::vector<std::size_t> everyOffset(std::size_t size) {
    std::vector<std::size_t> cuts(size);
    for (std::size_t i = 0; i < size; ++i)
        cuts[i] = i;
    return cuts;
}

TEST(PeReader, TruncatedBuiltLibraryGivesTheStringOrNothing) {
    REQUIRE_LANGUAGE_LIBRARIES();
    const auto bytes = builtLibrary("DEU");
    std::map<std::uint32_t, std::string> expected;
    for (std::uint32_t id : {18u, 237u, 333u})
        expected[id] = *lookUp(bytes, id);

    // Every section's start and end in the file, and one byte either side of each.
    const std::uint32_t pe = bytes[0x3C] | bytes[0x3D] << 8;
    const std::size_t sections = bytes[pe + 6] | bytes[pe + 7] << 8;
    const std::size_t table = pe + 24 + (bytes[pe + 20] | bytes[pe + 21] << 8);
    std::vector<std::size_t> boundaries = {0, 1, 2, 0x3C, 0x40, pe, pe + 4, pe + 24, table};
    for (std::size_t s = 0; s < sections; ++s) {
        const std::size_t h = table + 40 * s;
        const std::size_t start = bytes[h + 20] | bytes[h + 21] << 8 | bytes[h + 22] << 16;
        const std::size_t raw = bytes[h + 16] | bytes[h + 17] << 8 | bytes[h + 18] << 16;
        for (std::size_t edge : {h, h + 40, start, start + raw}) {
            for (std::size_t near : {edge - 1, edge, edge + 1}) {
                if (near < bytes.size())
                    boundaries.push_back(near);
            }
        }
    }
    expectTruncationsSafe(bytes, boundaries, expected);
    expectTruncationsSafe(bytes, everyOffset(bytes.size()), expected);

    // Cut where the resource section starts, no string is left.
    std::size_t resources = 0;
    for (std::size_t s = 0; s < sections; ++s) {
        const std::size_t h = table + 40 * s;
        if (std::string(reinterpret_cast<const char *>(&bytes[h]), 5) == ".rsrc")
            resources = bytes[h + 20] | bytes[h + 21] << 8 | bytes[h + 22] << 16;
    }
    ASSERT_GT(resources, 0u);
    EXPECT_FALSE(
        lookUp({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(resources)}, 237));
}

TEST(PeReader, TruncatedBuiltImageAtEveryOffset) {
    const PeImage image = buildStringLibrary(kSample);
    std::map<std::uint32_t, std::string> expected;
    for (const auto &[id, text] : kSample)
        expected[id] = zeph::pe::utf16ToUtf8(text);
    expectTruncationsSafe(image.bytes, everyOffset(image.bytes.size()), expected);
    EXPECT_FALSE(lookUp({image.bytes.begin(), image.bytes.begin() + 0x200}, 237))
        << "cut where the resource section starts";
}

// One damage to a built image, and what a look-up of id 237 must then give.
struct Damage {
    const char *what;
    void (*apply)(PeImage &);
};

TEST(PeReader, OffsetsPointingOutsideTheFileGiveNothing) {
    const Damage damages[] = {
        {"new header offset far beyond the file", [](PeImage &i) { i.put32(0x3C, 0xFFFFFFF0u); }},
        {"new header offset just past the end",
         [](PeImage &i) { i.put32(0x3C, static_cast<std::uint32_t>(i.bytes.size() - 2)); }},
        {"no PE signature", [](PeImage &i) { i.bytes[i.peHeader + 1] = 'X'; }},
        {"unknown optional header", [](PeImage &i) { i.put16(i.peHeader + 24, 0x999); }},
        {"optional header too short for the resource entry",
         [](PeImage &i) { i.put16(i.peHeader + 20, 100); }},
        {"no data directories", [](PeImage &i) { i.put32(i.resourceEntry - 16 - 4, 2); }},
        {"resource directory outside every section",
         [](PeImage &i) { i.put32(i.resourceEntry, 0x7FFFFFF0u); }},
        {"resource directory address wraps around",
         [](PeImage &i) { i.put32(i.resourceEntry, 0xFFFFFFF8u); }},
        {"section data beyond the file",
         [](PeImage &i) { i.put32(i.sectionHeader + 20, 0xFFFFFE00u); }},
        {"65535 sections", [](PeImage &i) { i.put16(i.peHeader + 6, 0xFFFF); }},
        {"no sections", [](PeImage &i) { i.put16(i.peHeader + 6, 0); }},
        {"type directory claims 65535 entries",
         [](PeImage &i) {
             i.put16(i.resourceStart + 14, 0xFFFF);
             i.put16(i.resourceStart + 12, 0xFFFF);
         }},
        {"type entry points outside the section",
         [](PeImage &i) { i.put32(i.resourceStart + 20, 0x8FFFFFF0u); }},
        {"type entry points at data, not a directory",
         [](PeImage &i) { i.put32(i.resourceStart + 20, 0x18); }},
        {"block entry points outside the section",
         [](PeImage &i) {
             for (std::size_t k = 0; k < i.dataEntries.size(); ++k)
                 i.put32(i.nameDirectory + 16 + 8 * k + 4, 0xFFFFFFFFu);
         }},
        {"data entry address beyond the file",
         [](PeImage &i) {
             for (auto e : i.dataEntries)
                 i.put32(e, 0xFFFFFF00u);
         }},
        {"data entry size beyond the file",
         [](PeImage &i) {
             for (auto e : i.dataEntries)
                 i.put32(e + 4, 0xFFFFFFFFu);
         }},
        {"data entry size cuts the string",
         [](PeImage &i) {
             for (auto e : i.dataEntries)
                 i.put32(e + 4, 2);
         }},
    };
    for (const auto &damage : damages) {
        SCOPED_TRACE(damage.what);
        PeImage image = buildStringLibrary(kSample);
        ASSERT_EQ(lookUp(image.bytes, 237), "Select");
        damage.apply(image);
        EXPECT_FALSE(lookUp(image.bytes, 237));
        for (const auto &[id, text] : kSample)
            (void)lookUp(image.bytes, id); // no crash, no read outside the image
    }
}

TEST(PeReader, CyclicDirectoriesEndTheWalk) {
    PeImage image = buildStringLibrary(kSample);
    const std::uint32_t nameDir =
        static_cast<std::uint32_t>(image.nameDirectory - image.resourceStart);
    // Every block entry points back at the root, and the root's language level at itself.
    for (std::size_t k = 0; k < image.dataEntries.size(); ++k)
        image.put32(image.nameDirectory + 16 + 8 * k + 4, 0x80000000u);
    EXPECT_FALSE(lookUp(image.bytes, 237));

    // The block directory points at itself.
    image = buildStringLibrary(kSample);
    for (std::size_t k = 0; k < image.dataEntries.size(); ++k)
        image.put32(image.nameDirectory + 16 + 8 * k + 4, 0x80000000u | nameDir);
    EXPECT_FALSE(lookUp(image.bytes, 237));
}

TEST(PeReader, EveryByteDamagedStaysInsideTheImage) {
    const PeImage image = buildStringLibrary(kSample);
    // Stops at the end of the resource data: beyond it is padding.
    for (std::size_t at = 0; at < image.bytes.size(); ++at) {
        for (std::uint8_t flip : {std::uint8_t{0xFF}, std::uint8_t{0x80}}) {
            std::vector<std::uint8_t> bytes = image.bytes;
            bytes[at] ^= flip;
            for (std::uint32_t id : {0u, 237u, 0xFFFEFu})
                (void)lookUp(bytes, id);
        }
    }
    SUCCEED() << "each damaged image was read without a fault (the sanitizers watch)";
}

TEST(PeReader, HostHasTheReader) {
    zeph::test::TempHost host(0);
    ASSERT_NE(host.host().resources, nullptr);
    const PeImage image = buildStringLibrary(kSample);
    const std::string path = host.programFolder() + "/zephrane_TST.dll";
    zeph::test::writeBytes(path, image.bytes);
    EXPECT_EQ(host.host().resources->loadString(path, 237), "Select");
}

TEST(PeReader, OnlyPlainFilesAreRead) {
    zeph::test::TempFolder folder;
    auto loader = zeph::pe::makeResourceLoader();
    const std::string pipe = folder.path() + "/zephrane_PIP.dll";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(loader->loadString(pipe, 237)) << "a pipe would block the program";
    const std::string dir = folder.path() + "/zephrane_DIR.dll";
    std::filesystem::create_directory(dir);
    EXPECT_FALSE(loader->loadString(dir, 237));
    EXPECT_FALSE(loader->loadString(folder.path() + "/zephrane_NON.dll", 237));
    zeph::test::writeBytes(folder.path() + "/zephrane_EMP.dll", {});
    EXPECT_FALSE(loader->loadString(folder.path() + "/zephrane_EMP.dll", 237));
}
