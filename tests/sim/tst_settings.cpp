#include "platform/sim/SimSettings.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

using zeph::sim::SimSettings;

TEST(SimSettings, RejectsUnknownNamesAndBadValues) {
    SimSettings s;
    EXPECT_NE(s.set("directory-synch", "ok"), "");
    EXPECT_NE(s.set("directory-sync", "sometimes"), "");
    EXPECT_NE(s.set("service.Fennix", "running"), "");
    EXPECT_EQ(s.get("directory-sync"), "ok");
    EXPECT_EQ(s.set("service.fennix", "1"), "");
    EXPECT_EQ(s.get("service.Fennix"), "1");
}

TEST(SimSettings, SurviveSaveAndLoadAndReportBadLines) {
    zeph::test::TempFolder dir;
    SimSettings s;
    ASSERT_EQ(s.set("virtual-time", "on"), "");
    std::string error;
    ASSERT_TRUE(s.save(dir.path(), error)) << error;
    {
        std::FILE *f = std::fopen(zeph::sim::settingsPath(dir.path()).c_str(), "a");
        std::fputs("garbage line\nscm-access=maybe\n", f);
        std::fclose(f);
    }
    std::vector<std::string> problems;
    SimSettings loaded = SimSettings::load(dir.path(), &problems);
    EXPECT_EQ(loaded.get("virtual-time"), "on");
    EXPECT_EQ(loaded.get("scm-access"), "full");
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("line 3"), std::string::npos) << problems[0];
}
