// modLocalize: the own table, the look-up order, the library listing and the default language.
#include "PeImage.h"
#include "i18n/OwnStrings.h"
#include "i18n/modLocalize.h"
#include "platform/pe/PeResources.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <filesystem>

using zeph::i18n::modLocalize;
using Codes = std::vector<std::string>;

namespace {

class Localize : public ::testing::Test {
protected:
    // A language library beside the program holding these strings.
    void write(const std::string &code, const std::map<std::uint32_t, std::u16string> &strings) {
        zeph::test::writeBytes(m_host.programFolder() + "/zephrane_" + code + ".dll",
                               zeph::test::buildStringLibrary(strings).bytes);
    }
    void touch(const std::string &name, const std::string &content = "") {
        std::ofstream(m_host.programFolder() + "/" + name, std::ios::binary) << content;
    }
    std::string library(const std::string &name) { return m_host.programFolder() + "\\" + name; }
    // A modLocalize whose language is set and whose library (if any) is loaded.
    std::unique_ptr<modLocalize> loaded(std::int32_t langId) {
        auto loc = std::make_unique<modLocalize>(m_host.host());
        loc->setCurrentLangID(langId);
        loc->InitalizeLanguages();
        return loc;
    }

    zeph::test::TempHost m_host{0};
};

} // namespace

TEST(OwnStrings, KeepTheProgramsSpacingAndSpelling) {
    const std::map<std::uint32_t, std::string> samples = {
        {299, "deSelect All"},
        {169, "Invalid input for extension range.  Please input numbers only."},
        {308, "Import complete.  "},
        {309, " lines read in from text file, "},
    };
    for (const auto &[id, text] : samples)
        EXPECT_EQ(zeph::i18n::ownString(id), text) << id;
    EXPECT_EQ(zeph::i18n::ownStrings().size(), 33u);
    EXPECT_FALSE(zeph::i18n::ownString(330));
}

TEST_F(Localize, EnglishBeforeAnyLanguageIsSetOrWithoutItsLibrary) {
    write("ENU", {{237, u"from a library"}});
    modLocalize loc(m_host.host());
    EXPECT_EQ(loc.CurrentLangID(), 0);
    EXPECT_EQ(loc.AvailableLanguages(), Codes{""});
    for (const auto &s : zeph::i18n::ownStrings())
        EXPECT_EQ(loc.myLoadResString(s.id), s.text);
    auto german = loaded(1031);
    EXPECT_EQ(german->hLangLib(), "");
    EXPECT_EQ(german->myLoadResString(237), "Select Subscribers");
    EXPECT_TRUE(m_host.ui().boxes().empty());
}

TEST_F(Localize, LibraryFirstThenTheOwnTable) {
    write("DEU", {{237, u"Teilnehmer ausw\u00e4hlen"}, {999, u"nur in der Bibliothek"}});
    auto loc = loaded(1031);
    EXPECT_EQ(loc->hLangLib(), library("zephrane_DEU.dll"));
    EXPECT_EQ(loc->myLoadResString(237), "Teilnehmer ausw\u00e4hlen");
    EXPECT_EQ(loc->myLoadResString(30), "Alias") << "an id the library lacks";
    EXPECT_EQ(loc->myLoadResString(999), "nur in der Bibliothek") << "the library may hold more";

    touch("zephrane_DEU.dll", "MZ this is no library at all");
    loc = loaded(1031);
    EXPECT_NE(loc->hLangLib(), "");
    EXPECT_EQ(loc->myLoadResString(237), "Select Subscribers");
    EXPECT_TRUE(m_host.ui().boxes().empty());
}

TEST_F(Localize, AnIdTheOwnTableLacksIsReportedAndGivesEmptyText) {
    modLocalize loc(m_host.host());
    m_host.ui().expectBox("error in myLoadResString: Resource with identifier '999' not found");
    EXPECT_EQ(loc.myLoadResString(999), "");
    ASSERT_EQ(m_host.ui().boxes().size(), 1u);
    EXPECT_EQ(m_host.ui().boxes()[0].text,
              "error in myLoadResString: Resource with identifier '999' not found");
}

TEST_F(Localize, LongTextsAreCutTo1199Utf16Units) {
    std::u16string pairs; // characters beyond U+FFFF count twice
    for (int i = 0; i < 700; ++i)
        pairs += u"\U0001F600";
    const std::pair<std::u16string, std::size_t> cases[] = {
        // the text and the units kept
        {std::u16string(1199, u'b'), 1199},
        {std::u16string(1200, u'b'), 1199},
        {std::u16string(1500, u'\u00e9'), 1199}, // a two-byte character counts once
        {pairs, 1198},
        {std::u16string(1198, u'a') + u"\U0001F600", 1198}, // a pair is never split
    };
    for (const auto &[text, kept] : cases) {
        write("DEU", {{237, text}});
        EXPECT_EQ(loaded(1031)->myLoadResString(237), zeph::pe::utf16ToUtf8(text.substr(0, kept)))
            << text.size() << " units";
    }
}

TEST_F(Localize, ListsLibrariesByNameWithoutLetterCaseInListingOrder) {
    const Codes libraries = {"zephrane_DEU.dll", "zephrane_jpn.DLL", "ZEPHRANE_KOR.Dll"};
    for (const auto &name : libraries)
        touch(name);
    for (const char *other :
         {"zephrane.dll", "other_DEU.dll", "zephrane_DEU.txt", "zephraneDEU.dll", "x.dll.bak"})
        touch(other);
    std::filesystem::create_directory(m_host.programFolder() + "/zephrane_DIR.dll");
    Codes expected; // in the order the folder lists them
    for (const auto &file : m_host.host().files->listFiles(m_host.programFolder())) {
        if (std::find(libraries.begin(), libraries.end(), file.name) != libraries.end())
            expected.push_back(file.name.substr(9, 3));
    }
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(loaded(1033)->AvailableLanguages(), expected);
    EXPECT_TRUE(m_host.ui().boxes().empty());
}

TEST_F(Localize, CodesOutsideTheTableMapToEnglishAndLoadItsLibrary) {
    touch("zephrane_KOR.dll");
    touch("zephrane_ENU.dll");
    modLocalize loc(m_host.host());
    loc.switchLanguage(zeph::i18n::CodeToLangId("KOR"));
    EXPECT_EQ(loc.CurrentLangID(), 1033);
    EXPECT_EQ(loc.hLangLib(), library("zephrane_ENU.dll"));
    m_host.host().exeName = "Zephrane"; // libraries are named after the executable
    EXPECT_EQ(loc.languageLibraryPath("DEU"), library("Zephrane_DEU.dll"));
}

TEST_F(Localize, UnreadableProgramFolderIsReportedAndTheListKeepsItsEntry) {
    m_host.host().programFolder = m_host.programFolder() + "/missing";
    m_host.ui().expectBox("Error in InitalizeLanguages: ");
    auto loc = loaded(1033);
    m_host.ui().verifyAllShown();
    EXPECT_EQ(loc->AvailableLanguages(), Codes{""});
    EXPECT_EQ(loc->myLoadResString(132), "Exit");
}

TEST_F(Localize, FirstLanguageIsTheUsersDefaultAndIsKept) {
    const std::tuple<const char *, std::int32_t, const char *> cases[] = {
        {"de_DE.UTF-8", 1031, "zephrane_DEU.dll"},
        {"ja_JP.UTF-8", 1041, "zephrane_JPN.dll"},
        {"fr_CA", 3084, nullptr},
        {"C", 1033, nullptr},
    };
    touch("zephrane_DEU.dll");
    touch("zephrane_JPN.dll");
    for (const auto &[locale, id, file] : cases) {
        SCOPED_TRACE(locale);
        m_host.set("locale", locale);
        modLocalize loc(m_host.host());
        loc.InitalizeLanguages();
        EXPECT_EQ(loc.CurrentLangID(), id);
        EXPECT_EQ(loc.hLangLib(), file ? library(file) : "");
        loc.InitalizeLanguages();
        EXPECT_EQ(loc.CurrentLangID(), id) << "once set, the language is kept";
    }
}
