#include "extras/HelpWindowLayout.h"

#include <gtest/gtest.h>

using namespace zeph;

TEST(HelpWindow, SnapsBackToTheMinimumAndPlacesTheBrowser) {
    struct Case {
        int w, h, expectW, expectH;
    };
    const Case cases[] = {
        {1000, 1000, 2500, 2400}, {2499, 5000, 2500, 5000}, {6000, 2399, 6000, 2400},
        {2500, 2400, 2500, 2400}, {9000, 7000, 9000, 7000},
    };
    for (const Case &c : cases) {
        const HelpWindowLayout layout = helpFormResize(c.w, c.h);
        EXPECT_EQ(layout.windowWidth, c.expectW) << c.w;
        EXPECT_EQ(layout.windowHeight, c.expectH) << c.h;
        EXPECT_EQ(layout.browser.left, 100);
        EXPECT_EQ(layout.browser.top, 1);
        EXPECT_EQ(layout.browser.width, c.expectW - 200);
        EXPECT_EQ(layout.browser.height, c.expectH - 400);
    }
}

TEST(HelpWindow, PageAddressIsTheProgramFoldersHelpFile) {
    EXPECT_EQ(helpPageAddress("C:\\Tools\\Zephrane"), "file://C:\\Tools\\Zephrane\\Zephrane.htm");
}
