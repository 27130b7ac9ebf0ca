// The About window's version text and language menu, and the help window's layout.
#include "extras/AboutPage.h"
#include "extras/HelpWindowLayout.h"
#include "i18n/modLocalize.h"
#include "support/TempHost.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace zeph;
using Menu = std::vector<std::pair<std::string, std::string>>;

TEST(About, FewerThanTwoLibrariesOfferNoLanguagesAndTwoAreListedByNameAndSwitch) {
    test::TempHost host(0);
    i18n::modLocalize localize(host.host());
    AboutPage page(localize, *host.host().ui);
    for (const char *code : {"DEU", "FRA"}) {
        const fs::path built = fs::path(ZEPH_BIN_DIR) / (std::string("zephrane_") + code + ".dll");
        if (!fs::exists(built))
            GTEST_SKIP() << "the language libraries were not built";
        fs::copy_file(built, fs::path(host.programFolder()) / built.filename());
        page.Form_Load();
        const LanguageMenuItem &first = page.mnuLanguageList.at(0);
        EXPECT_TRUE(code[0] == 'F' || first.caption + first.tag == "no languages loaded1033");
    }
    EXPECT_EQ(page.lblVersion, "1.0 Build5");
    Menu menu;
    for (const auto &item : page.mnuLanguageList)
        menu.push_back({item.caption, item.tag});
    const auto at =
        std::find(menu.begin(), menu.end(), Menu::value_type{"German (Germany)", "1031"}) -
        menu.begin();
    std::sort(menu.begin(), menu.end());
    EXPECT_EQ(menu, (Menu{{"French (France)", "1036"}, {"German (Germany)", "1031"}}));
    page.mnuLanguageList_Click(static_cast<int>(at)); // the texts follow
    EXPECT_EQ(localize.myLoadResString(237), "Teilnehmer ausw\u00e4hlen");
    // The menu ticks German now, and only German.
    for (int i = 0; i < static_cast<int>(page.mnuLanguageList.size()); ++i)
        EXPECT_EQ(page.isCurrentLanguage(i), i == static_cast<int>(at)) << i;
    EXPECT_FALSE(page.isCurrentLanguage(-1));
}

TEST(HelpWindow, SnapsBackToTheMinimumAndPlacesTheBrowser) {
    const HelpWindowLayout l = helpFormResize(1000, 9000);
    EXPECT_EQ(std::tuple(l.windowWidth, l.windowHeight, l.browser.left, l.browser.top,
                         l.browser.width, l.browser.height),
              std::tuple(2500, 9000, 100, 1, 2300, 8600));
    EXPECT_EQ(helpPageAddress("C:\\Tools\\Zephrane"), "file://C:\\Tools\\Zephrane\\Zephrane.htm");
}

TEST(HelpWindow, ThePageAddressNamesItsFileOnEverySystem) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"file://C:\\Tools\\Zephrane\\Zephrane.htm", "C:/Tools/Zephrane/Zephrane.htm"},
        {"FILE://d:\\Z\\Zephrane.htm", "d:/Z/Zephrane.htm"},
        {"file:///C:/Tools/Zephrane.htm", "C:/Tools/Zephrane.htm"},
        {"file:///opt/zephrane\\Zephrane.htm", "/opt/zephrane/Zephrane.htm"},
        {"file://\\\\srv\\share\\Zephrane.htm", "//srv/share/Zephrane.htm"},
        {"http://localhost/App_Zephrane.htm", ""},
        {"file:/", ""},
        {"", ""},
    };
    for (const auto &[address, path] : cases)
        EXPECT_EQ(helpPagePath(address), path) << address;
}

TEST(HelpWindow, TheAddressOfAProgramFolderLeadsToThePageInIt) {
    // The program folder as this system names it: a drive and backslashes on Windows.
    test::TempHost host(0);
    const fs::path folder = fs::path(host.programFolder()) / "Help here";
    fs::create_directories(folder);
    { std::ofstream(folder / "Zephrane.htm") << "<h1>Zephrane</h1>"; }
    const std::string path = helpPagePath(helpPageAddress(folder.string()));
    EXPECT_TRUE(fs::exists(fs::path(path))) << path;
    EXPECT_TRUE(fs::equivalent(fs::path(path), folder / "Zephrane.htm")) << path;
}
