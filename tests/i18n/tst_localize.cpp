// modLocalize: the own table, the look-up order, the library listing and the default language.
#include "PeImage.h"
#include "i18n/OwnStrings.h"
#include "i18n/modLocalize.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

using zeph::i18n::modLocalize;

namespace {

// A resource loader that serves texts by library file name and counts its calls.
class FakeLoader : public zeph::IResourceLoader {
public:
    std::map<std::string, std::map<unsigned, std::string>> libraries;
    int calls = 0;

    std::optional<std::string> loadString(const std::string &libraryPath, unsigned id) override {
        ++calls;
        const std::string name = libraryPath.substr(libraryPath.find_last_of("\\/") + 1);
        auto library = libraries.find(name);
        if (library == libraries.end())
            return std::nullopt;
        auto text = library->second.find(id);
        if (text == library->second.end())
            return std::nullopt;
        return text->second;
    }
};

class Localize : public ::testing::Test {
protected:
    zeph::test::TempHost m_host{0};

    FakeLoader &fakeLoader() {
        auto loader = std::make_unique<FakeLoader>();
        FakeLoader &ref = *loader;
        m_host.host().resources = std::move(loader);
        return ref;
    }

    void touch(const std::string &name, const std::string &content = "") {
        std::ofstream(m_host.programFolder() + "/" + name, std::ios::binary) << content;
    }
};

std::string repeat(const std::string &piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

} // namespace

TEST(OwnStrings, HoldTheProgramsTextsCharacterForCharacter) {
    const std::map<std::uint32_t, std::string> expected = {
        {237, "Select Subscribers"},
        {153, "Help"},
        {24, "Add Subscribers To Grid"},
        {230, "Select All"},
        {299, "deSelect All"},
        {69, "Browse..."},
        {98, "Clear Grid"},
        {274, "To:"},
        {289, "Users in Grid"},
        {18, "<< Previous"},
        {132, "Exit"},
        {191, "Next >>"},
        {30, "Alias"},
        {110, "Display Name"},
        {134, "Extension"},
        {139, "First Name"},
        {170, "Last Name"},
        {155, "Home Server"},
        {79, "COS"},
        {168, "Invalid extension range. First extension must be lower than the second."},
        {169, "Invalid input for extension range.  Please input numbers only."},
        {329, "You must select a location first"},
        {331, "You must select a switch first"},
        {332, "You must select a mailstore first"},
        {333, "You must first select a COS"},
        {296, "You must first select subscribers to delete"},
        {231, "Select CSV file for subscriber selection"},
        {130, "Error! CSV file is not a valid format.  See the help for details on format "
              "requirements."},
        {131, "Error! Could not open CSV input file."},
        {300, "extension"},
        {308, "Import complete.  "},
        {309, " lines read in from text file, "},
        {310, " users added to grid."},
    };
    std::map<std::uint32_t, std::string> actual;
    for (const auto &s : zeph::i18n::ownStrings())
        actual[s.id] = std::string(s.text);
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(zeph::i18n::ownString(308), "Import complete.  ");
    EXPECT_FALSE(zeph::i18n::ownString(0));
    EXPECT_FALSE(zeph::i18n::ownString(330));
}

TEST_F(Localize, BeforeAnyLanguageIsSetEveryTextIsEnglish) {
    fakeLoader().libraries["zephrane_ENU.dll"][237] = "from a library";
    touch("zephrane_ENU.dll");
    modLocalize loc(m_host.host());
    EXPECT_EQ(loc.CurrentLangID(), 0);
    EXPECT_EQ(loc.hLangLib(), "");
    EXPECT_EQ(loc.AvailableLanguages(), std::vector<std::string>{""});
    for (const auto &s : zeph::i18n::ownStrings())
        EXPECT_EQ(loc.myLoadResString(s.id), s.text);
    EXPECT_TRUE(m_host.ui().boxes().empty());
}

TEST_F(Localize, WithoutLibrariesTheListHoldsOneEmptyEntryAndTextsAreEnglish) {
    modLocalize loc(m_host.host());
    loc.setCurrentLangID(1031);
    loc.InitalizeLanguages();
    EXPECT_EQ(loc.AvailableLanguages(), std::vector<std::string>{""});
    EXPECT_EQ(loc.hLangLib(), "");
    EXPECT_EQ(loc.myLoadResString(237), "Select Subscribers");
    EXPECT_TRUE(m_host.ui().boxes().empty());
}

TEST_F(Localize, LibraryFirstThenTheOwnTable) {
    FakeLoader &loader = fakeLoader();
    loader.libraries["zephrane_DEU.dll"] = {
        {237, "Teilnehmer ausw\u00e4hlen"}, {30, ""}, {999, "nur in der Bibliothek"}};
    touch("zephrane_DEU.dll");
    modLocalize loc(m_host.host());
    loc.setCurrentLangID(1031);
    loc.InitalizeLanguages();
    EXPECT_EQ(loc.hLangLib(), m_host.programFolder() + "\\zephrane_DEU.dll");
    EXPECT_EQ(loc.myLoadResString(237), "Teilnehmer ausw\u00e4hlen");
    EXPECT_EQ(loc.myLoadResString(153), "Help") << "an id the library lacks";
    EXPECT_EQ(loc.myLoadResString(30), "Alias") << "an empty text counts as none";
    EXPECT_EQ(loc.myLoadResString(999), "nur in der Bibliothek") << "the library may hold more";
    EXPECT_TRUE(m_host.ui().boxes().empty());
}

TEST_F(Localize, MissingLibraryFileLeavesNoneLoaded) {
    FakeLoader &loader = fakeLoader();
    loader.libraries["zephrane_DEU.dll"][237] = "Teilnehmer";
    modLocalize loc(m_host.host()); // the file itself is not there
    loc.setCurrentLangID(1031);
    loc.InitalizeLanguages();
    EXPECT_EQ(loc.hLangLib(), "");
    EXPECT_EQ(loc.myLoadResString(237), "Select Subscribers");
    EXPECT_EQ(loader.calls, 0);
}

TEST_F(Localize, AnIdTheOwnTableLacksIsReportedAndGivesEmptyText) {
    modLocalize loc(m_host.host());
    m_host.ui().expectBox("error in myLoadResString: Resource with identifier '999' not found");
    EXPECT_EQ(loc.myLoadResString(999), "");
    m_host.ui().verifyAllShown();
    ASSERT_EQ(m_host.ui().boxes().size(), 1u);
    EXPECT_EQ(m_host.ui().boxes()[0].text,
              "error in myLoadResString: Resource with identifier '999' not found");
    EXPECT_EQ(m_host.ui().boxes()[0].buttons, zeph::MsgButtons::OK);
}

TEST_F(Localize, LongTextsAreCutTo1199Utf16Units) {
    struct Case {
        const char *what;
        std::string library;
        std::string expected;
    };
    const Case cases[] = {
        {"1500 characters", repeat("a", 1500), repeat("a", 1199)},
        {"exactly 1199", repeat("b", 1199), repeat("b", 1199)},
        {"1200", repeat("b", 1200), repeat("b", 1199)},
        {"two-byte characters count once", repeat("\u00e9", 1500), repeat("\u00e9", 1199)},
        {"characters beyond U+FFFF count twice", repeat("\U0001F600", 700),
         repeat("\U0001F600", 599)},
        {"a pair is never split", repeat("a", 1198) + "\U0001F600", repeat("a", 1198)},
    };
    FakeLoader &loader = fakeLoader();
    touch("zephrane_DEU.dll");
    modLocalize loc(m_host.host());
    loc.setCurrentLangID(1031);
    loc.InitalizeLanguages();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        loader.libraries["zephrane_DEU.dll"][237] = c.library;
        EXPECT_EQ(loc.myLoadResString(237), c.expected);
    }
}

TEST_F(Localize, RealLibraryFileWithA1500CharacterString) {
    const auto image = zeph::test::buildStringLibrary(
        {{237, std::u16string(1500, u'x')}, {18, u"<< Zur\u00fcck"}});
    zeph::test::writeBytes(m_host.programFolder() + "/zephrane_DEU.dll", image.bytes);
    modLocalize loc(m_host.host());
    loc.setCurrentLangID(1031);
    loc.InitalizeLanguages();
    EXPECT_EQ(loc.myLoadResString(237), std::string(1199, 'x'));
    EXPECT_EQ(loc.myLoadResString(18), "<< Zur\u00fcck");
    EXPECT_EQ(loc.myLoadResString(153), "Help");
}

TEST_F(Localize, DamagedLibraryFileServesTheOwnTable) {
    touch("zephrane_DEU.dll", "MZ this is no library at all");
    modLocalize loc(m_host.host());
    loc.setCurrentLangID(1031);
    loc.InitalizeLanguages();
    EXPECT_NE(loc.hLangLib(), "");
    EXPECT_EQ(loc.myLoadResString(237), "Select Subscribers");
    EXPECT_TRUE(m_host.ui().boxes().empty());
}

TEST_F(Localize, ListsLibrariesByNameWithoutLetterCaseInListingOrder) {
    const std::vector<std::string> libraries = {"zephrane_DEU.dll", "zephrane_FRA.dll",
                                                "zephrane_jpn.DLL", "ZEPHRANE_KOR.Dll"};
    for (const auto &name : libraries)
        touch(name);
    for (const char *other : {"zephrane.dll", "other_DEU.dll", "zephrane_DEU.txt",
                              "zephraneDEU.dll", "zephrane_DEU.dll.bak", "readme.txt"})
        touch(other);
    std::filesystem::create_directory(m_host.programFolder() + "/zephrane_DIR.dll");

    // The libraries in the order the folder lists them.
    std::vector<std::string> expected;
    for (const auto &file : m_host.host().files->listFiles(m_host.programFolder())) {
        for (const auto &name : libraries) {
            if (file.name == name)
                expected.push_back(name.substr(9, 3));
        }
    }
    ASSERT_EQ(expected.size(), 4u);

    modLocalize loc(m_host.host());
    loc.setCurrentLangID(1033);
    loc.InitalizeLanguages();
    EXPECT_EQ(loc.AvailableLanguages(), expected);
    EXPECT_TRUE(m_host.ui().boxes().empty());
}

TEST_F(Localize, CodesOutsideTheTableMapToEnglishAndLoadItsLibrary) {
    EXPECT_EQ(zeph::i18n::CodeToLangId("jpn"), 1033);
    EXPECT_EQ(zeph::i18n::CodeToLangId("KOR"), 1033);
    EXPECT_EQ(zeph::i18n::CodeToLanguageName("KOR"), "English (United States)");
    EXPECT_EQ(zeph::i18n::CodeToLanguageName("jpn"), "English (United States)");

    touch("zephrane_KOR.dll");
    touch("zephrane_ENU.dll");
    modLocalize loc(m_host.host());
    loc.switchLanguage(zeph::i18n::CodeToLangId("KOR"));
    EXPECT_EQ(loc.CurrentLangID(), 1033);
    EXPECT_EQ(loc.hLangLib(), m_host.programFolder() + "\\zephrane_ENU.dll");
}

TEST_F(Localize, UnreadableProgramFolderIsReportedAndTheListKeepsItsEntry) {
    m_host.host().programFolder = m_host.programFolder() + "/missing";
    modLocalize loc(m_host.host());
    loc.setCurrentLangID(1033);
    m_host.ui().expectBox("Error in InitalizeLanguages: ");
    loc.InitalizeLanguages();
    m_host.ui().verifyAllShown();
    EXPECT_EQ(loc.AvailableLanguages(), std::vector<std::string>{""});
    EXPECT_EQ(loc.myLoadResString(132), "Exit");
}

TEST_F(Localize, FirstLanguageIsTheUsersDefault) {
    struct Case {
        const char *locale;
        std::int32_t id;
        const char *library;
    };
    const Case cases[] = {
        {"de_DE.UTF-8", 1031, "zephrane_DEU.dll"},
        {"ja_JP.UTF-8", 1041, "zephrane_JPN.dll"},
        {"fr_CA", 3084, ""},
        {"", 1033, ""},
        {"C", 1033, ""},
    };
    touch("zephrane_DEU.dll");
    touch("zephrane_JPN.dll");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale);
        m_host.set("locale", c.locale);
        modLocalize loc(m_host.host());
        loc.InitalizeLanguages();
        EXPECT_EQ(loc.CurrentLangID(), c.id);
        EXPECT_EQ(loc.hLangLib(),
                  std::string(c.library).empty() ? "" : m_host.programFolder() + "\\" + c.library);
        // Once set, the language is kept.
        loc.InitalizeLanguages();
        EXPECT_EQ(loc.CurrentLangID(), c.id);
    }
}

TEST_F(Localize, LibraryPathIsNamedAfterTheExecutable) {
    m_host.host().exeName = "Zephrane";
    modLocalize loc(m_host.host());
    EXPECT_EQ(loc.languageLibraryPath("DEU"), m_host.programFolder() + "\\Zephrane_DEU.dll");
}
