// modLocalize: language tables, own strings, look-up order, listing, default and switch.
#include "PeImage.h"
#include "i18n/Languages.h"
#include "i18n/OwnStrings.h"
#include "i18n/modLocalize.h"
#include "platform/pe/PeResources.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

using namespace zeph::i18n;
using Texts = std::vector<std::string>;

namespace {

class Localize : public ::testing::Test {
protected:
    void write(const std::string &code, const std::map<std::uint32_t, std::u16string> &strings) {
        zeph::test::writeBytes(m_host.programFolder() + "/zephrane_" + code + ".dll",
                               zeph::test::buildStringLibrary(strings).bytes);
    }
    void touch(const std::string &name) { std::ofstream(m_host.programFolder() + "/" + name); }
    std::string library(const std::string &name) { return m_host.programFolder() + "\\" + name; }
    std::unique_ptr<modLocalize> loaded(std::int32_t langId) {
        auto loc = std::make_unique<modLocalize>(m_host.host());
        loc->setCurrentLangID(langId);
        loc->InitalizeLanguages();
        return loc;
    }
    LanguageWindow window(const std::string &name, std::function<void()> autoInit = {}) {
        auto log = [this, name](const std::string &step) { m_events.push_back(name + step); };
        LanguageWindow w{name, [log](const FontRule &r) { log(std::to_string(r.charset)); },
                         nullptr, [log] { log(".repaint"); }};
        if (autoInit)
            w.autoInit = [log, autoInit] { log("_Auto_Init"), autoInit(); };
        return w;
    }

    zeph::test::TempHost m_host{0};
    modLocalize m_loc{m_host.host()};
    Texts m_events;
};

} // namespace

TEST(Languages, CodesNamesLocalesAndFonts) {
    EXPECT_EQ((std::vector{CodeToLangId("DEU"), CodeToLangId("deu"), CodeToLangId("KOR")}),
              (std::vector{1031, 1033, 1033}));
    for (const auto &row : languageCodeTable()) {
        EXPECT_EQ(LangIdToCode(row.id), row.code);
        EXPECT_EQ(CodeToLanguageName(row.code), LangIdToName(row.id));
    }
    EXPECT_EQ(LangIdToName(33801), "English (TDD/TTY)");
    EXPECT_EQ(LangIdToName(1042), "Korean") << "a language the code table lacks";
    EXPECT_EQ(LangIdToCode(-1) + LangIdToName(-1), "ERR(error)");
    EXPECT_EQ((std::vector{langIdFromLocale("de-CH"), langIdFromLocale("fr_FR@euro"),
                           langIdFromLocale("_DE")}),
              (std::vector{2055, 1036, 1033}));
    EXPECT_EQ(fontRuleFor(1042).charset, 129);
    EXPECT_EQ(fontRuleFor(3076).charset, 1) << "Chinese (Hong Kong) keeps the default font";
}

TEST_F(Localize, EnglishFromTheOwnTableBeforeAnyLanguageIsSetOrWithoutItsLibrary) {
    EXPECT_EQ(ownString(169), "Invalid input for extension range.  Please input numbers only.");
    write("ENU", {{237, u"from a library"}});
    EXPECT_EQ(m_loc.AvailableLanguages(), Texts{""});
    for (const auto &s : ownStrings())
        EXPECT_EQ(m_loc.myLoadResString(s.id), s.text);
    EXPECT_EQ(loaded(1031)->myLoadResString(237), "Select Subscribers");
    m_host.ui().expectBox("");
    EXPECT_EQ(m_loc.myLoadResString(999), "");
    EXPECT_EQ(m_host.ui().boxes().at(0).text,
              "error in myLoadResString: Resource with identifier '999' not found");
}

TEST_F(Localize, LibraryFirstThenTheOwnTableCutTo1199UnitsAndADamagedLibraryGivesEnglish) {
    write("DEU", {{237, u"Teilnehmer ausw\u00e4hlen"}, {999, u"nur in der Bibliothek"}});
    auto loc = loaded(1031);
    EXPECT_EQ(loc->hLangLib(), library("zephrane_DEU.dll"));
    EXPECT_EQ(loc->myLoadResString(237), "Teilnehmer ausw\u00e4hlen");
    EXPECT_EQ(loc->myLoadResString(30), "Alias") << "an id the library lacks";
    EXPECT_EQ(loc->myLoadResString(999), "nur in der Bibliothek");
    write("DEU", {{237, std::u16string(1200, u'\u00e9')}});
    EXPECT_EQ(loaded(1031)->myLoadResString(237),
              zeph::pe::utf16ToUtf8(std::u16string(1199, u'\u00e9')));
    write("DEU", {{237, std::u16string(1198, u'a') + u"\U0001F600"}}); // a pair is never split
    EXPECT_EQ(loaded(1031)->myLoadResString(237), std::string(1198, 'a'));
    std::ofstream(m_host.programFolder() + "/zephrane_DEU.dll") << "MZ this is no library";
    EXPECT_EQ(loaded(1031)->myLoadResString(237), "Select Subscribers");
}

TEST_F(Localize, ListsLibrariesByNameWithoutLetterCaseInListingOrder) {
    const Texts libraries = {"zephrane_DEU.dll", "zephrane_jpn.DLL", "ZEPHRANE_KOR.Dll"};
    for (const auto &name : libraries)
        touch(name);
    for (const char *other : {"zephrane.dll", "other_DEU.dll", "zephrane_DEU.txt", "x.dll.bak"})
        touch(other);
    std::filesystem::create_directory(m_host.programFolder() + "/zephrane_DIR.dll");
    Texts expected; // in the order the folder lists them
    for (const auto &file : m_host.host().files->listFiles(m_host.programFolder()))
        if (std::find(libraries.begin(), libraries.end(), file.name) != libraries.end())
            expected.push_back(file.name.substr(9, 3));
    EXPECT_EQ(loaded(1033)->AvailableLanguages(), expected);
    EXPECT_EQ(expected.size(), 3u);

    m_host.host().exeName = "Zephrane"; // libraries are named after the executable
    EXPECT_EQ(m_loc.languageLibraryPath("DEU"), library("Zephrane_DEU.dll"));
}

TEST_F(Localize, FirstLanguageIsTheUsersDefaultAndIsKeptAndAnUnreadableFolderIsReported) {
    touch("zephrane_DEU.dll");
    for (const auto &[locale, id] : {std::pair("de_DE.UTF-8", 1031), std::pair("fr_CA", 3084)}) {
        m_host.set("locale", locale);
        modLocalize loc(m_host.host());
        loc.InitalizeLanguages();
        EXPECT_EQ(loc.hLangLib(), id == 1031 ? library("zephrane_DEU.dll") : "");
        loc.InitalizeLanguages();
        EXPECT_EQ(loc.CurrentLangID(), id) << "once set, the language is kept";
    }
    m_host.host().programFolder += "/missing";
    m_host.ui().expectBox("Error in InitalizeLanguages: ");
    auto loc = loaded(1033);
    m_host.ui().verifyAllShown();
    EXPECT_EQ(loc->AvailableLanguages(), Texts{""});
    EXPECT_EQ(loc->myLoadResString(132), "Exit");
}

TEST_F(Localize, SwitchRunsItsStepsInOrderUnderTheBusyPointer) {
    auto r1 = m_loc.registerWindow(window("frmMain"));
    auto r2 = m_loc.registerWindow(window("frmSelect", [] {}));
    m_loc.switchLanguage(2052);
    // The fonts on every window, then per window: fonts, _Auto_Init if it has one, repaint.
    EXPECT_EQ(m_events, (Texts{"frmMain134", "frmSelect134", "frmMain134", "frmMain.repaint",
                               "frmSelect134", "frmSelect_Auto_Init", "frmSelect.repaint"}));
    EXPECT_FALSE(m_host.ui().busy());
    EXPECT_EQ(m_host.ui().busyChanges(), 2);
}

TEST_F(Localize, SwitchPassesOverWindowsThatWentAndStepsThatFail) {
    auto keep = m_loc.registerWindow(window("frmMain"));
    {
        WindowRegistration moved = m_loc.registerWindow(window("frmAbout"));
        EXPECT_EQ(m_loc.registeredWindows(), (Texts{"frmMain", "frmAbout"}));
    }
    m_loc.switchLanguage(1042);
    EXPECT_EQ(m_events, (Texts{"frmMain129", "frmMain129", "frmMain.repaint"}));

    // A window unloaded by an earlier window's refresh is passed over; failing steps are too,
    // without a message (the scripted interface fails on any).
    keep.reset();
    WindowRegistration select;
    LanguageWindow broken = window("frmMain", [&] {
        select.reset();
        throw std::runtime_error("no such control");
    });
    broken.setFormFonts = [](const FontRule &) { throw std::runtime_error("no font"); };
    broken.repaint = nullptr;
    auto r1 = m_loc.registerWindow(broken);
    select = m_loc.registerWindow(window("frmSelect"));
    auto r2 = m_loc.registerWindow(window("frmAbout", [] {}));
    m_events.clear();
    m_loc.switchLanguage(1041);
    EXPECT_EQ(m_events, (Texts{"frmSelect128", "frmAbout128", "frmMain_Auto_Init", "frmAbout128",
                               "frmAbout_Auto_Init", "frmAbout.repaint"}));
    EXPECT_FALSE(m_host.ui().busy());
}
