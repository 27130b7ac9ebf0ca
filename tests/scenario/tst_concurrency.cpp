// Runs that meet, run for real as separate processes: two resets of one server at once, a
// holder killed, two runs from one program folder in the same second, a reset killed between
// its subscribers, and one killed after some of its subscribers failed.
#include "scenario_helpers.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace zeph::test;

namespace {

constexpr int kSubscribers = 12;
constexpr unsigned kSeed = 3;
const std::string kReset = "--template defaultTemplate --extensions 4001-4002 --yes";

std::string lockFile(const ScenarioHost &scenario) {
    return scenario.host() + "/TarvoDb.sqlite.run-lock";
}

// Waits until the started program holds the server's run lock (its holder text is written).
bool waitForHolder(const ScenarioHost &scenario) {
    return waitUntil([&] {
        std::error_code failed;
        return fs::file_size(lockFile(scenario), failed) > 0 && !failed;
    });
}

// Waits until the started program's output holds `line` for the `count`-th time.
bool waitForLine(const Process &process, const std::string &line, int count) {
    return waitUntil([&] {
        const std::vector<std::string> out = lines(readAll(process.outFile));
        return std::count(out.begin(), out.end(), line) >= count;
    });
}

std::vector<std::string> filesNamed(const std::string &folder, const std::string &prefix) {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

TEST(OneRunPerServer, ASecondRunIsRefusedAndAKilledHolderFreesTheServer) {
    ScenarioHost alone(kSubscribers, kSeed);
    const std::set<std::string> known = idsOf(alone.host());
    ASSERT_EQ(alone.cli(kReset).status, 0);
    const Dump expected = dumpServer(alone.host(), &known);

    // Real time: each subscriber waits for the directory, so the first run lasts seconds.
    ScenarioHost scenario(kSubscribers, kSeed);
    scenario.set("virtual-time", "off");
    Process first = scenario.start("zephrane-cli", kReset);
    ASSERT_TRUE(waitForHolder(scenario));

    const ScenarioHost::Result second = scenario.cli(kReset);
    EXPECT_EQ(second.status, 2) << second.out << second.err;
    EXPECT_TRUE(contains(second.err, "Another run is changing this server: user ")) << second.err;
    EXPECT_TRUE(contains(second.err, "program zephrane-cli, since ")) << second.err;
    EXPECT_TRUE(contains(second.err, "(process " + std::to_string(first.pid) + ")")) << second.err;
    EXPECT_FALSE(contains(second.out, "** Resetting Subscriber **")) << second.out;
    const ScenarioHost::Result recovery = scenario.cli("--recover --yes");
    EXPECT_EQ(recovery.status, 2) << recovery.out << recovery.err;
    EXPECT_TRUE(contains(recovery.err, "Another run is changing this server")) << recovery.err;
    // Reading takes no lock.
    const ScenarioHost::Result listing = scenario.cli(kReset + " --list");
    EXPECT_EQ(listing.status, 0) << listing.err;

    const ScenarioHost::Result firstDone = scenario.finish(first);
    EXPECT_EQ(firstDone.status, 0) << firstDone.out << firstDone.err;
    EXPECT_EQ(difference(expected, dumpServer(scenario.host(), &known)), "");
    ASSERT_EQ(filesNamed(scenario.logsFolder(), "Zephrane_Log_").size(), 1u)
        << "the refused runs leave no log";

    // A holder that is killed leaves no lock behind: the next run goes ahead.
    Process killed = scenario.start("zephrane-cli", kReset);
    ASSERT_TRUE(waitForHolder(scenario));
    EXPECT_EQ(scenario.kill(killed).status, -SIGKILL);
    scenario.set("virtual-time", "on");
    const ScenarioHost::Result next = scenario.cli("--recover --yes");
    EXPECT_EQ(next.status, 0) << next.out << next.err;
    EXPECT_FALSE(contains(next.err, "Another run")) << next.err;
}

TEST(OneProgramFolder, TwoRunsInTheSameSecondWriteTwoLogsAndTwoJournals) {
    ScenarioHost one(kSubscribers, kSeed);
    ScenarioHost two(kSubscribers, kSeed);
    two.sharePrograms(one);
    // Started together just after a second begins, so that they name their files in it.
    while (std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
                   .count() %
               1000 >
           50)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Process a = one.start("zephrane-cli", kReset);
    Process b = two.start("zephrane-cli", kReset);
    const ScenarioHost::Result ra = one.finish(a);
    const ScenarioHost::Result rb = two.finish(b);
    ASSERT_EQ(ra.status, 0) << ra.out << ra.err;
    ASSERT_EQ(rb.status, 0) << rb.out << rb.err;

    const std::vector<std::string> logs = filesNamed(one.logsFolder(), "Zephrane_Log_");
    ASSERT_EQ(logs.size(), 2u);
    for (const std::string &log : logs) {
        const std::string text = readAll(log);
        int subscribers = 0;
        for (const std::string &line : lines(text))
            subscribers += line == "** Resetting Subscriber **";
        EXPECT_EQ(subscribers, 2) << log;
        EXPECT_TRUE(contains(text, "** Subscriber mailbox reset process complete at ")) << log;
    }
    EXPECT_EQ(filesNamed(one.logsFolder(), "Zephrane_Journal_").size(), 2u);
    EXPECT_EQ(filesNamed(one.logsFolder(), "Zephrane_Failed_").size(), 2u);
    // Both journals read back whole and finished: neither host is warned about anything.
    for (const ScenarioHost *scenario : {&one, &two}) {
        const ScenarioHost::Result start = scenario->cli("--list-templates");
        EXPECT_EQ(start.status, 0);
        EXPECT_FALSE(contains(start.err, "recovery journal")) << start.err;
        EXPECT_FALSE(contains(start.err, "did not finish")) << start.err;
    }
}

TEST(KilledBetweenSubscribers, TheRecoveryPutsEveryListMembershipBack) {
    ScenarioHost scenario(kSubscribers, kSeed);
    const Dump before = dumpServer(scenario.host(), nullptr);
    Process run = scenario.start("zephrane-cli", kReset);
    ASSERT_TRUE(waitForLine(
        run, "    Checking for DTMFAccessID uniqueness in dialing domain for this user", 2));
    scenario.kill(run);

    const ScenarioHost::Result start = scenario.cli("--list-templates");
    EXPECT_TRUE(contains(start.err, "synchronisation of all distribution lists")) << start.err;
    const ScenarioHost::Result recovered = scenario.cli("--recover --yes");
    EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
    EXPECT_TRUE(contains(recovered.out, "** Starting synchronization of all distribution lists"))
        << recovered.out;
    EXPECT_EQ(before.at("DistributionListMember"),
              dumpServer(scenario.host(), nullptr).at("DistributionListMember"));
    EXPECT_TRUE(contains(scenario.cli("--recover --yes").out, "No interrupted reset to finish"));
}

// The failed-records file grows with the run: a run killed after some subscribers failed leaves
// the records of those subscribers, whole, and the file selects exactly them again.
TEST(KilledAfterAFailure, TheFailedRecordsSoFarAreInTheFileAndImportBack) {
    ScenarioHost scenario(kSubscribers, kSeed);
    // Real time, so that the run is still going when it is killed; every subscriber fails its
    // directory synchronisation, so every subscriber that ends is a failed record.
    scenario.set("virtual-time", "off");
    scenario.set("directory-sync", "fail");
    Process run =
        scenario.start("zephrane-cli", "--template defaultTemplate --extensions 4001-4010 --yes");
    ASSERT_TRUE(waitForLine(run, "** Resetting Subscriber **", 3));
    EXPECT_EQ(scenario.kill(run).status, -SIGKILL);

    const std::vector<std::string> logs = filesNamed(scenario.logsFolder(), "Zephrane_Log_");
    const std::vector<std::string> failed = filesNamed(scenario.logsFolder(), "Zephrane_Failed_");
    ASSERT_EQ(logs.size(), 1u);
    ASSERT_EQ(failed.size(), 1u) << "a killed run leaves its failed records";
    long begun = 0;
    for (const std::string &line : lines(readAll(logs[0])))
        begun += line == "** Resetting Subscriber **";
    ASSERT_LT(begun, 10) << "the run ended before it was killed";

    const std::string text = readAll(failed[0]);
    const std::vector<std::string> records = lines(text);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0], "alias,extension,reason");
    // Every subscriber that ended is there, and the one under way only when it has failed.
    const long recorded = static_cast<long>(records.size()) - 1;
    EXPECT_GE(recorded, begun - 1) << text;
    EXPECT_LE(recorded, begun) << text;
    EXPECT_GE(recorded, 2) << text;
    std::set<std::string> extensions;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const std::vector<std::string> f = fields(records[i], ',');
        ASSERT_EQ(f.size(), 3u) << records[i];
        EXPECT_TRUE(f[2] == "skipped" || f[2].rfind("(error)", 0) == 0) << records[i];
        extensions.insert(f[1]);
    }
    EXPECT_EQ(extensions.size(), static_cast<std::size_t>(recorded)) << text;

    scenario.set("directory-sync", "ok");
    const ScenarioHost::Result back = scenario.cli("--csv " + shellQuoted(failed[0]) + " --list");
    ASSERT_EQ(back.status, 0) << back.err;
    std::set<std::string> listed;
    for (const std::string &row : listedRows(back.out))
        listed.insert(fields(row)[4]);
    EXPECT_EQ(listed, extensions);
}
