// The About window's version text and language menu, with the program folder holding no, one
// or two language libraries.
#include "extras/AboutPage.h"
#include "i18n/modLocalize.h"
#include "support/TempHost.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace fs = std::filesystem;
using namespace zeph;
using zeph::test::TempHost;

namespace {

// Copies built language libraries into the host's program folder; false when the build had
// no resource compiler.
bool provideLibraries(TempHost &host, std::initializer_list<const char *> codes) {
    for (const char *code : codes) {
        const fs::path built = fs::path(ZEPH_BIN_DIR) / (std::string("zephrane_") + code + ".dll");
        if (!fs::exists(built))
            return false;
        fs::copy_file(built, fs::path(host.programFolder()) / built.filename());
    }
    return true;
}

AboutPage loadedAbout(TempHost &host, i18n::modLocalize &localize) {
    AboutPage page(localize, *host.host().ui);
    page.Form_Load();
    return page;
}

} // namespace

TEST(About, VersionReadsMajorMinorBuildRevision) {
    TempHost host(0);
    i18n::modLocalize localize(host.host());
    EXPECT_EQ(loadedAbout(host, localize).lblVersion, "1.0 Build5");
}

TEST(About, FewerThanTwoLibrariesOfferNoLanguages) {
    for (bool oneLibrary : {false, true}) {
        TempHost host(0);
        if (oneLibrary && !provideLibraries(host, {"DEU"}))
            GTEST_SKIP() << "the language libraries were not built";
        i18n::modLocalize localize(host.host());
        const AboutPage page = loadedAbout(host, localize);
        ASSERT_EQ(page.mnuLanguageList.size(), 1u) << oneLibrary;
        EXPECT_EQ(page.mnuLanguageList[0].caption, "no languages loaded");
        EXPECT_EQ(page.mnuLanguageList[0].tag, "1033");
    }
}

TEST(About, TwoLibrariesAreListedByTheirLanguageNames) {
    TempHost host(0);
    if (!provideLibraries(host, {"DEU", "FRA"}))
        GTEST_SKIP() << "the language libraries were not built";
    i18n::modLocalize localize(host.host());
    AboutPage page = loadedAbout(host, localize);
    ASSERT_EQ(page.mnuLanguageList.size(), 2u);
    std::set<std::pair<std::string, std::string>> items;
    for (const auto &item : page.mnuLanguageList)
        items.insert({item.caption, item.tag});
    EXPECT_EQ(items, (std::set<std::pair<std::string, std::string>>{{"German (Germany)", "1031"},
                                                                    {"French (France)", "1036"}}));

    // Choosing an item switches the language; the selection window's texts follow.
    const auto german = std::find_if(page.mnuLanguageList.begin(), page.mnuLanguageList.end(),
                                     [](const auto &item) { return item.tag == "1031"; });
    page.mnuLanguageList_Click(static_cast<int>(german - page.mnuLanguageList.begin()));
    EXPECT_EQ(localize.CurrentLangID(), 1031);
    EXPECT_NE(localize.myLoadResString(237), "Select Subscribers");
}
