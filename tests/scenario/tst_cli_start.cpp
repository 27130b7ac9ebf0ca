// What zephrane-cli says before it changes anything: a run it cannot make is refused before
// its question, with "Nothing was reset" first and exit status 2; a run under way in another
// process is named as running, never as unfinished.
#include "scenario_helpers.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using zeph::test::contains;
using zeph::test::digestsOf;
using zeph::test::Process;
using zeph::test::readAll;
using zeph::test::ScenarioHost;
using zeph::test::waitUntil;

namespace {

const std::string kReset = "--template defaultTemplate --extensions 4001-4003 --yes";

std::map<std::string, std::string> digestsWithoutLock(const std::string &host) {
    std::map<std::string, std::string> digests = digestsOf(host);
    digests.erase(host + "/TarvoDb.sqlite.run-lock");
    return digests;
}

std::size_t logsIn(const ScenarioHost &scenario) {
    std::size_t n = 0;
    std::error_code missing;
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder(), missing))
        n += entry.path().filename().string().rfind("Zephrane_", 0) == 0;
    return n;
}

struct Refusal {
    const char *name;
    /// Makes the run impossible on the host.
    void (*cause)(const ScenarioHost &);
    const char *reason;
};

class CliRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(CliRefusal, ComesBeforeTheQuestionAndChangesNothing) {
    const Refusal &c = GetParam();
    ScenarioHost scenario(12, 3);
    c.cause(scenario);
    const auto before = digestsWithoutLock(scenario.host());
    const ScenarioHost::Result run = scenario.cli(kReset);
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_EQ(run.err.rfind(std::string("zephrane-cli: Nothing was reset: ") + c.reason, 0), 0u)
        << run.err;
    // No question, no log, no list synchronisation, no note for reset mailboxes.
    EXPECT_FALSE(contains(run.err, "Restting subscirber mailboxes")) << run.err;
    EXPECT_FALSE(contains(run.err, "Recipient Update Service")) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(logsIn(scenario), 0u);
    EXPECT_EQ(digestsWithoutLock(scenario.host()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, CliRefusal,
    testing::Values(Refusal{"MailLibraryMissing",
                            [](const ScenarioHost &s) { s.set("mail-library", "missing"); },
                            "the mail store cannot be reached."},
                    Refusal{"RecordingsFolderMissing",
                            [](const ScenarioHost &s) {
                                fs::rename(s.host() + "/Pradix/Stream Files",
                                           s.host() + "/Pradix/elsewhere");
                            },
                            "the recordings folder "}),
    [](const testing::TestParamInfo<Refusal> &param) { return std::string(param.param.name); });

// While a reset runs in another process, with a subscriber removed and not yet back, a start
// says that a reset is running, names it, and calls nothing unfinished; a second reset is
// refused before its question.
TEST(RunUnderWay, IsNamedAsRunningNeverAsUnfinished) {
    ScenarioHost scenario(12, 3);
    // Real waits for the directory: the run is still under way while the others start.
    scenario.set("virtual-time", "off");
    Process first = scenario.start("zephrane-cli", kReset);
    ASSERT_TRUE(waitUntil(
        [&] { return contains(readAll(first.outFile), "    Removing subscriber from SQL"); }));

    const ScenarioHost::Result listing = scenario.cli("--list-templates");
    EXPECT_EQ(listing.status, 0) << listing.err;
    EXPECT_TRUE(contains(listing.err, "zephrane-cli: A reset is running now (user "))
        << listing.err;
    EXPECT_TRUE(contains(listing.err, "program zephrane-cli")) << listing.err;
    EXPECT_FALSE(contains(listing.err, "did not finish")) << listing.err;
    EXPECT_FALSE(contains(listing.err, "--recover")) << listing.err;

    const ScenarioHost::Result second = scenario.cli(kReset);
    EXPECT_EQ(second.status, 2) << second.err;
    EXPECT_TRUE(contains(second.err, "zephrane-cli: Nothing was reset: Another run is changing "
                                     "this server: "))
        << second.err;
    EXPECT_FALSE(contains(second.err, "Restting subscirber mailboxes")) << second.err;

    const ScenarioHost::Result ended = scenario.finish(first);
    EXPECT_TRUE(contains(ended.err, "Subscriber mailbox reset process complete")) << ended.err;
    // Once it has ended, nothing is said at all.
    const ScenarioHost::Result after = scenario.cli("--list-templates");
    EXPECT_FALSE(contains(after.err, "A reset")) << after.err;
}

} // namespace
