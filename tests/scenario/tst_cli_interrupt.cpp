// zephrane-cli interrupted while a run is under way, for real: Ctrl+C typed on its
// pseudo-terminal or SIGTERM sent by another program. The first interrupt finishes the
// subscriber under way and stops the run cleanly; a second one ends the program at once and
// leaves its subscriber to --recover.
#include "scenario_helpers.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

namespace fs = std::filesystem;
using zeph::test::contains;
using zeph::test::lines;
using zeph::test::readAll;
using zeph::test::runCommand;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;
using zeph::test::waitUntil;

namespace {

// Three subscribers that every step has work for; the waits for the directory take real time,
// so that the interrupt comes while the first one is under way.
const std::string kReset = "--template defaultTemplate --extensions 4001-4003 --yes";
constexpr const char *kMidSubscriber = "    Removing subscriber from SQL";

std::size_t count(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// The journals in the programs' logs folder.
std::vector<std::string> journals(const ScenarioHost &scenario) {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder())) {
        if (entry.path().filename().string().rfind("Zephrane_Journal_", 0) == 0)
            found.push_back(entry.path().string());
    }
    return found;
}

struct Interrupt {
    const char *name;
    /// Typed on the terminal (Ctrl+C) or sent with kill (SIGTERM).
    bool typed;
    /// How many interrupts come, one after the other, once the first subscriber is under way.
    int times;
    int status;
};

class CliInterrupt : public testing::TestWithParam<Interrupt> {};

// Runs zephrane-cli with `args` and interrupts it `c.times` times once its output holds
// `marker`: Ctrl+C typed on its pseudo-terminal, or SIGTERM sent by another process.
ScenarioHost::Result interrupted(ScenarioHost &scenario, const std::string &args,
                                 const std::string &marker, const Interrupt &c) {
    const std::string outFile = scenario.temp().path() + "/run.out";
    std::filesystem::remove(outFile);
    if (!c.typed) {
        zeph::test::Process process = scenario.start("zephrane-cli", args);
        EXPECT_TRUE(waitUntil([&] { return contains(readAll(process.outFile), marker); }));
        for (int i = 0; i < c.times; ++i)
            ::kill(process.pid, SIGTERM);
        return scenario.finish(process);
    }
    // The feeder types ^C into the terminal once the marker is written, and holds the
    // terminal's input open until the program has ended.
    const std::string done = scenario.temp().path() + "/ended";
    std::filesystem::remove(done);
    std::string feeder = "for i in $(seq 600); do grep -q " + shellQuoted(marker) + " " +
                         shellQuoted(outFile) + " 2>/dev/null && break; sleep 0.1; done;";
    for (int i = 0; i < c.times; ++i)
        feeder += " printf '\\003'; sleep 0.3;";
    feeder +=
        " for i in $(seq 1200); do [ -e " + shellQuoted(done) + " ] && break; sleep 0.1; done";
    // The program's end is marked inside the terminal, so that the feeder stops then.
    const std::string inner = "ZEPHRANE_HOST=" + shellQuoted(scenario.host()) + " " +
                              shellQuoted(scenario.programsFolder() + "/zephrane-cli") + " " +
                              args + " >" + shellQuoted(outFile) + "; status=$?; touch " +
                              shellQuoted(done) + "; exit $status";
    const std::string command =
        "(" + feeder + ") | script -qec " + shellQuoted(inner) + " /dev/null";
    const zeph::test::CommandOutput shown = runCommand(command);
    return {shown.status, readAll(outFile), shown.out};
}

TEST_P(CliInterrupt, StopsAfterTheSubscriberUnderWayOrEndsAtOnce) {
    const Interrupt &c = GetParam();
    ScenarioHost scenario(12, 3);
    scenario.set("virtual-time", "off");
    const ScenarioHost::Result result = interrupted(scenario, kReset, kMidSubscriber, c);
    EXPECT_EQ(result.status, c.status) << result.out << result.err;

    if (c.times == 1) {
        // The subscriber under way went through to its end; no other was begun.
        EXPECT_TRUE(contains(result.err, "stopping after the subscriber under way")) << result.err;
        EXPECT_EQ(count(result.out, "** Resetting Subscriber **"), 1u) << result.out;
        EXPECT_EQ(count(result.out, "    Directory sync complete for creation"), 1u);
        EXPECT_TRUE(contains(result.out, "** The run was stopped by request after the subscriber "
                                         "under way; 2 subscriber(s) not attempted **"))
            << result.out;
        EXPECT_TRUE(contains(result.out, "** Starting synchronization of all distribution lists"));
        EXPECT_TRUE(contains(result.err, "stopped by request, reset 1 subscribers reset."))
            << result.err;
        EXPECT_TRUE(contains(result.err, "2 subscriber(s) not attempted")) << result.err;
        EXPECT_TRUE(contains(result.out, "\nOutcome: 1 reset, 0 reset with errors, 0 skipped, 2 "
                                         "not attempted\n"))
            << result.out;
        // Nothing is left for a recovery.
        const ScenarioHost::Result recover = scenario.cli("--recover --yes");
        EXPECT_EQ(recover.status, 0) << recover.err;
        EXPECT_TRUE(contains(recover.out, "No interrupted reset to finish.")) << recover.out;
        // The failed records name the two not attempted, ready for a later --csv run.
        const std::regex failedPath("Failed records: (\\S+) \\(2 subscriber\\(s\\)\\)");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(result.out, m, failedPath)) << result.out;
        const std::vector<std::string> failed = lines(readAll(m[1]));
        ASSERT_EQ(failed.size(), 3u);
        for (std::size_t i = 1; i < failed.size(); ++i)
            EXPECT_TRUE(contains(failed[i], ",not attempted: the run was stopped by request"))
                << failed[i];
    } else {
        // Ended at once, mid-subscriber: the hint, and the journal keeps the subscriber.
        EXPECT_TRUE(contains(result.err, "Run zephrane-cli --recover to finish it.")) << result.err;
        EXPECT_FALSE(contains(result.out, "** Subscriber mailbox reset process"));
        const ScenarioHost::Result recover = scenario.cli("--recover --yes");
        EXPECT_EQ(recover.status, 0) << recover.out << recover.err;
        EXPECT_TRUE(contains(recover.out, "Recovery complete: 1")) << recover.out;
    }
    // Every journal entry is closed and no synchronisation is owed.
    EXPECT_FALSE(journals(scenario).empty());
    const ScenarioHost::Result again = scenario.cli("--recover --yes");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(contains(again.out, "No interrupted reset to finish.")) << again.out;
    const ScenarioHost::Result check =
        scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host()));
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

// --recover stops alike: the first interrupt finishes the entry under way and leaves the
// others open in their journals; a second ends it at once, and a later --recover finishes all.
TEST_P(CliInterrupt, RecoverStopsAfterTheSubscriberUnderWayOrEndsAtOnce) {
    const Interrupt &c = GetParam();
    ScenarioHost scenario(12, 3);
    // Three runs, each ended by the stand-in after its first removal: each skips the
    // subscribers left unfinished before it and leaves one of its own.
    scenario.set("abort-after", "sp_DeleteSubscriber");
    for (int run = 0; run < 3; ++run)
        ASSERT_EQ(scenario.cli("--template defaultTemplate --all --yes").status, 86) << run;
    scenario.set("abort-after", "");
    scenario.set("virtual-time", "off");
    const ScenarioHost::Result result = interrupted(
        scenario, "--recover --yes", "    Finishing the interrupted reset recorded in", c);
    EXPECT_EQ(result.status, c.status) << result.out << result.err;
    EXPECT_EQ(count(result.out, "** Resetting Subscriber **"), 1u) << result.out;
    std::string finished = "Recovery complete: 3 interrupted reset(s) finished";
    if (c.times == 1) {
        EXPECT_TRUE(contains(result.err, "stopping after the subscriber under way")) << result.err;
        EXPECT_EQ(count(result.out, "    Directory sync complete for creation"), 1u);
        for (const char *line :
             {"** The recovery was stopped by request after the subscriber under way; 2 "
              "entr(ies) left open for the next recovery **",
              "** Starting synchronization of all distribution lists",
              "Recovery stopped by request: 1 interrupted reset(s) finished, 0 closed without a "
              "reset, 0 left open (changed since), 0 left open (could not be finished), 2 not "
              "begun (left for the next recovery).  0 error(s) encountered."})
            EXPECT_TRUE(contains(result.out, line)) << line << "\n" << result.out;
        // No error line: "(error)" stands only in the log header's hint.
        EXPECT_EQ(count(result.out, "(error)"), 1u) << result.out;
        EXPECT_TRUE(contains(result.err, "2 entr(ies) left open: run zephrane-cli --recover "
                                         "again"))
            << result.err;
        finished = "Recovery complete: 2 interrupted reset(s) finished";
    } else {
        EXPECT_TRUE(contains(result.err, "Run zephrane-cli --recover again to finish it."))
            << result.err;
        EXPECT_FALSE(contains(result.out, "Recovery complete")) << result.out;
        EXPECT_FALSE(contains(result.out, "Recovery stopped")) << result.out;
    }
    // What was left is finished by the next recovery, and the server is whole.
    const ScenarioHost::Result rest = scenario.cli("--recover --yes");
    EXPECT_EQ(rest.status, 0) << rest.out << rest.err;
    EXPECT_TRUE(contains(rest.out, finished)) << rest.out;
    const ScenarioHost::Result again = scenario.cli("--recover --yes");
    EXPECT_TRUE(contains(again.out, "No interrupted reset to finish.")) << again.out;
    const ScenarioHost::Result check =
        scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host()));
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

INSTANTIATE_TEST_SUITE_P(Ways, CliInterrupt,
                         testing::Values(Interrupt{"CtrlCOnce", true, 1, 130},
                                         Interrupt{"SigtermOnce", false, 1, 143},
                                         Interrupt{"CtrlCTwice", true, 2, 130}),
                         [](const testing::TestParamInfo<Interrupt> &param) {
                             return std::string(param.param.name);
                         });

} // namespace
