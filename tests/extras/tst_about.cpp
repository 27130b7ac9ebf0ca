// The About window's version text and language menu, and the help window's layout.
#include "extras/AboutPage.h"
#include "extras/HelpWindowLayout.h"
#include "i18n/modLocalize.h"
#include "support/TempHost.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace zeph;
using Menu = std::vector<std::pair<std::string, std::string>>;

namespace {

// The About menu with these built language libraries in the program folder (nothing when the
// build had no resource compiler).
std::optional<Menu> menuWith(std::initializer_list<const char *> codes,
                             std::string *version = nullptr, const std::string &click = "") {
    test::TempHost host(0);
    for (const char *code : codes) {
        const fs::path built = fs::path(ZEPH_BIN_DIR) / (std::string("zephrane_") + code + ".dll");
        if (!fs::exists(built))
            return std::nullopt;
        fs::copy_file(built, fs::path(host.programFolder()) / built.filename());
    }
    i18n::modLocalize localize(host.host());
    AboutPage page(localize, *host.host().ui);
    page.Form_Load();
    Menu menu;
    for (const auto &item : page.mnuLanguageList)
        menu.push_back({item.caption, item.tag});
    if (version)
        *version = page.lblVersion;
    if (!click.empty()) { // choosing an item switches the language; the texts follow
        const auto it =
            std::find_if(menu.begin(), menu.end(), [&](auto &i) { return i.second == click; });
        page.mnuLanguageList_Click(static_cast<int>(it - menu.begin()));
        menu.push_back({std::to_string(localize.CurrentLangID()), localize.myLoadResString(237)});
    }
    return menu;
}

} // namespace

TEST(About, VersionAndFewerThanTwoLibrariesOfferNoLanguages) {
    std::string version;
    EXPECT_EQ(menuWith({}, &version), (Menu{{"no languages loaded", "1033"}}));
    EXPECT_EQ(version, "1.0 Build5");
    const auto one = menuWith({"DEU"});
    if (!one)
        GTEST_SKIP() << "the language libraries were not built";
    EXPECT_EQ(one, (Menu{{"no languages loaded", "1033"}}));
}

TEST(About, TwoLibrariesAreListedByTheirLanguageNamesAndSwitchTheLanguage) {
    auto menu = menuWith({"DEU", "FRA"}, nullptr, "1031");
    if (!menu)
        GTEST_SKIP() << "the language libraries were not built";
    std::sort(menu->begin(), menu->end());
    EXPECT_EQ(menu, (Menu{{"1031", "Teilnehmer ausw\u00e4hlen"},
                          {"French (France)", "1036"},
                          {"German (Germany)", "1031"}}));
}

TEST(HelpWindow, SnapsBackToTheMinimumAndPlacesTheBrowser) {
    const int cases[][4] = {{1000, 1000, 2500, 2400},
                            {2499, 5000, 2500, 5000},
                            {6000, 2399, 6000, 2400},
                            {9000, 7000, 9000, 7000}};
    for (const auto &[w, h, expectW, expectH] : cases) {
        const HelpWindowLayout layout = helpFormResize(w, h);
        EXPECT_EQ(layout.windowWidth, expectW) << w;
        EXPECT_EQ(layout.windowHeight, expectH) << h;
        EXPECT_EQ(layout.browser.left, 100);
        EXPECT_EQ(layout.browser.top, 1);
        EXPECT_EQ(layout.browser.width, expectW - 200);
        EXPECT_EQ(layout.browser.height, expectH - 400);
    }
    EXPECT_EQ(helpPageAddress("C:\\Tools\\Zephrane"), "file://C:\\Tools\\Zephrane\\Zephrane.htm");
}
