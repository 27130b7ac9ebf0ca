// What a reset asks of the machine, counted by strace in the real program: the threads it
// starts, the seeks of its line-by-line files, the disk syncs, and the looks at the database
// file's place. Each is bounded by a constant or by a small number a subscriber, however many
// subscribers the run resets, so that a regression to a cost a request or a line shows.
#include "scenario_helpers.h"

#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using zeph::test::readAll;
using zeph::test::runCommand;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;

namespace {

// The calls of each system call in strace's summary (-c).
std::map<std::string, long> callsOf(const std::string &summaryFile) {
    std::map<std::string, long> calls;
    std::istringstream text(readAll(summaryFile));
    for (std::string line; std::getline(text, line);) {
        std::istringstream words(line);
        std::vector<std::string> fields{std::istream_iterator<std::string>(words), {}};
        // "% time, seconds, usecs/call, calls, [errors,] syscall"
        if (fields.size() < 5 || fields.back() == "total" || fields.back() == "syscall")
            continue;
        try {
            calls[fields.back()] = std::stol(fields[3]);
        } catch (const std::exception &) {
            continue;
        }
    }
    return calls;
}

bool straceWorks() {
    return runCommand("strace -f -c -e trace=fsync -o /dev/null true 2>/dev/null").status == 0;
}

// The subscribers the run ticked, from its closing lines.
int tickedCount(const std::string &err) {
    std::smatch match;
    static const std::regex closing("Of (\\d+) ticked");
    return std::regex_search(err, match, closing) ? std::stoi(match[1]) : -1;
}

// The subscribers of the failed-records file, from the run's closing lines.
int failedCount(const std::string &out) {
    std::smatch match;
    static const std::regex closing("Failed records: .* \\((\\d+) subscriber");
    return std::regex_search(out, match, closing) ? std::stoi(match[1]) : 0;
}

struct Costs {
    int ticked = 0;
    int failed = 0;
    std::map<std::string, long> calls; // every process of the run
    long looks = 0;                    // stats of the database file by its path
    long of(const std::string &name) const { return calls.count(name) ? calls.at(name) : 0; }
};

Costs resetCosts(int subscribers, const std::string &options) {
    ScenarioHost scenario(subscribers, 7);
    const std::string all = scenario.temp().path() + "/all.strace";
    // The leak check does not work under a tracer.
    const std::string env = "env ASAN_OPTIONS=detect_leaks=0 ";
    const std::string reset = "--template defaultTemplate --all --yes " + options;
    const ScenarioHost::Result run = scenario.run(
        "zephrane-cli", reset,
        env + "strace -f -c -o " + shellQuoted(all) +
            " -e trace=clone,clone3,fork,vfork,lseek,fsync,fdatasync,sync_file_range,msync");
    EXPECT_NE(run.status, 2) << run.err;
    Costs costs;
    costs.ticked = tickedCount(run.err);
    costs.failed = failedCount(run.out + run.err);
    costs.calls = callsOf(all);
    // The database file's place is looked at by its path (SQLite's own looks at the open file
    // go by its descriptor): one line of the trace each.
    ScenarioHost twin(subscribers, 7);
    const std::string file = twin.temp().path() + "/file.strace";
    const std::string database = twin.host() + "/TarvoDb.sqlite";
    const ScenarioHost::Result again =
        twin.run("zephrane-cli", reset,
                 env + "strace -f -o " + shellQuoted(file) +
                     " -e trace=stat,lstat,newfstatat,fstatat64,statx");
    EXPECT_NE(again.status, 2) << again.err;
    std::istringstream trace(readAll(file));
    for (std::string line; std::getline(trace, line);)
        costs.looks += line.find("\"" + database + "\"") != std::string::npos;
    return costs;
}

struct CostCase {
    const char *name;
    const char *options;
};

class RunCosts : public testing::TestWithParam<CostCase> {};

TEST_P(RunCosts, AreBoundedASubscriberNotARequestOrALine) {
    if (!straceWorks())
        GTEST_SKIP() << "strace cannot trace processes here";
    const Costs costs = resetCosts(24, GetParam().options);
    ASSERT_GT(costs.ticked, 12);
    const long ticked = costs.ticked;
    // One thread for the run's syncs, whatever the number of subscribers.
    EXPECT_LE(costs.of("clone") + costs.of("clone3"), 2)
        << costs.of("clone3") << " thread(s) for " << ticked << " subscribers";
    // A line is one write where it ends the file: no seek before it. The journals' look at their
    // last line seeks, the same for any number of subscribers.
    EXPECT_LE(costs.of("lseek"), 16) << costs.of("lseek") << " seeks";
    // Three syncs a subscriber (the journal's record, the database, the log), and the
    // failed-records file's at the end of a subscriber it names, beside the run's beginning and
    // end.
    const long syncs =
        costs.of("fsync") + costs.of("fdatasync") + costs.of("sync_file_range") + costs.of("msync");
    EXPECT_LE(syncs, 3 * ticked + costs.failed + 20)
        << syncs << " syncs for " << ticked << " subscribers, " << costs.failed << " failed";
    // The database file's place is looked at once a subscriber, not at each request.
    EXPECT_LE(costs.looks, 2 * ticked + 80)
        << costs.looks << " looks for " << ticked << " subscribers";
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunCosts,
    testing::Values(CostCase{"Plain", ""},
                    CostCase{"PreservedExtensions", "--preserve-alternate-extensions"},
                    CostCase{"NoListSynchronisation", "--skip-dl-sync"}),
    [](const testing::TestParamInfo<CostCase> &param) { return std::string(param.param.name); });

} // namespace
