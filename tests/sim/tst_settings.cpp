#include "platform/sim/SimSettings.h"
#include "support/TempHost.h"

#include <fstream>
#include <gtest/gtest.h>

using zeph::sim::SimSettings;

TEST(SimSettings, RefuseBadInputAndSurviveSaveAndLoad) {
    SimSettings s;
    EXPECT_NE(s.set("directory-synch", "ok"), "");
    EXPECT_NE(s.set("directory-sync", "sometimes"), "");
    EXPECT_NE(s.set("service.Fennix", "running"), "");
    EXPECT_EQ(s.get("directory-sync"), "ok");
    EXPECT_EQ(s.set("service.fennix", "1"), "");
    EXPECT_EQ(s.get("service.Fennix"), "1");
    ASSERT_EQ(s.set("virtual-time", "on"), "");

    zeph::test::TempFolder dir;
    std::string error;
    ASSERT_TRUE(s.save(dir.path(), error)) << error;
    std::ofstream(zeph::sim::settingsPath(dir.path()), std::ios::app)
        << "garbage line\nscm-access=maybe\n";
    std::vector<std::string> problems;
    SimSettings loaded = SimSettings::load(dir.path(), &problems);
    EXPECT_EQ(loaded.get("virtual-time"), "on");
    EXPECT_EQ(loaded.get("service.Fennix"), "1");
    EXPECT_EQ(loaded.get("scm-access"), "full");
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("line 4"), std::string::npos) << problems[0];
}
