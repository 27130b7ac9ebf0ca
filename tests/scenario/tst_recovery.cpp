// Interrupted resets, run for real: the stand-in ends zephrane-cli abruptly after a named
// procedure or step, and `--recover` must leave the server exactly as an uninterrupted reset
// does. Also the dry run's proof that nothing changes, and a damaged journal's refusal.
#include "scenario_helpers.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>

namespace fs = std::filesystem;
using zeph::test::contains;
using zeph::test::difference;
using zeph::test::digestsOf;
using zeph::test::Dump;
using zeph::test::dumpServer;
using zeph::test::filesOf;
using zeph::test::idsOf;
using zeph::test::lines;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;

namespace {

constexpr int kSubscribers = 12;
constexpr unsigned kSeed = 3;
// On this host subscriber 4002 has twelve alternate extensions, recorded greetings and a
// mailbox with messages: every step of a reset has work to do.
const std::string kReset = "--template defaultTemplate --extensions 4002-4002 "
                           "--preserve-alternate-extensions --yes";
constexpr const char *kAlias = "kcarter";
constexpr int kAborted = 86;

// The server, recordings and mailboxes after one uninterrupted reset, computed once.
struct Reference {
    std::set<std::string> known;
    Dump dump;
    std::set<std::string> files;
};

const Reference &reference() {
    static const Reference ref = [] {
        ScenarioHost scenario(kSubscribers, kSeed);
        Reference r;
        r.known = idsOf(scenario.host());
        const ScenarioHost::Result run = scenario.cli(kReset);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        r.dump = dumpServer(scenario.host(), &r.known);
        r.files = filesOf(scenario.host());
        return r;
    }();
    return ref;
}

// Where the first program is ended, and optionally where the first recovery is ended too.
struct Interruption {
    const char *runAbortsAfter;
    const char *recoveryAbortsAfter = "";
    /// The subscriber was never removed: the recovery closes its entry without a reset, and
    /// the administrator's next run resets it.
    bool neverRemoved = false;
};

class Recovery : public testing::TestWithParam<Interruption> {};

} // namespace

TEST_P(Recovery, FinishesAsAnUninterruptedResetWould) {
    const Reference &ref = reference();
    const Interruption point = GetParam();
    ScenarioHost scenario(kSubscribers, kSeed);

    scenario.set("abort-after", point.runAbortsAfter);
    const ScenarioHost::Result run = scenario.cli(kReset);
    ASSERT_EQ(run.status, kAborted) << "never reached " << point.runAbortsAfter << "\n"
                                    << run.out << run.err;
    scenario.set("abort-after", point.recoveryAbortsAfter);

    // Both programs tell at start which subscriber is unfinished.
    const ScenarioHost::Result start = scenario.cli("--list-templates");
    EXPECT_TRUE(contains(start.err, "A reset did not finish")) << start.err;
    EXPECT_TRUE(contains(start.err, kAlias)) << start.err;

    ScenarioHost::Result recovered = scenario.cli("--recover --yes");
    if (*point.recoveryAbortsAfter) {
        ASSERT_EQ(recovered.status, kAborted) << recovered.out << recovered.err;
        scenario.set("abort-after", "");
        recovered = scenario.cli("--recover --yes");
    }
    EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
    if (point.neverRemoved) {
        EXPECT_TRUE(contains(recovered.out, "0 interrupted reset(s) finished, 1 closed"))
            << recovered.out;
        EXPECT_TRUE(contains(recovered.out, "will do: nothing of it was taken away"))
            << recovered.out;
        const ScenarioHost::Result again = scenario.cli(kReset);
        EXPECT_EQ(again.status, 0) << again.out << again.err;
    } else {
        EXPECT_TRUE(contains(recovered.out, "1 interrupted reset(s) finished")) << recovered.out;
        EXPECT_TRUE(contains(recovered.out, "will do: its reset is finished")) << recovered.out;
    }

    EXPECT_EQ(difference(ref.dump, dumpServer(scenario.host(), &ref.known)), "");
    EXPECT_EQ(filesOf(scenario.host()), ref.files);
    EXPECT_EQ(scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host())).status, 0);

    // Finished: no warning any more, and a second recovery has nothing to do.
    EXPECT_FALSE(contains(scenario.cli("--list-templates").err, "A reset did not finish"));
    const ScenarioHost::Result again = scenario.cli("--recover --yes");
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(contains(again.out, "No interrupted reset to finish")) << again.out;
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, Recovery,
    testing::Values(Interruption{"journal", "", true}, Interruption{"recordings", "", true},
                    Interruption{"mailbox", "", true}, Interruption{"sp_DeleteSubscriber"},
                    Interruption{"sp_DeleteDirectorySyncTicket"},
                    Interruption{"sp_CreateSubscriber"}, Interruption{"write-back"},
                    Interruption{"alternate-extensions"}, Interruption{"fixup-1"},
                    Interruption{"fixup-2.row-1"}, Interruption{"fixup-5"}, Interruption{"fixup-6"},
                    Interruption{"fixup-7"}, Interruption{"fixup-9.row-2"},
                    Interruption{"fixup-10"}, Interruption{"sp_ModifySubscriber"},
                    // The recovery itself interrupted, then run again.
                    Interruption{"sp_DeleteSubscriber", "sp_CreateSubscriber"},
                    Interruption{"write-back", "fixup-7"}),
    [](const testing::TestParamInfo<Interruption> &point) {
        std::string name = std::string(point.param.runAbortsAfter) +
                           (*point.param.recoveryAbortsAfter
                                ? std::string("_then_") + point.param.recoveryAbortsAfter
                                : "");
        for (char &c : name)
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(RecoveryRefusals, ADamagedJournalRefusesTheRecoveryAndChangesNothing) {
    ScenarioHost scenario(kSubscribers, kSeed);
    scenario.set("abort-after", "sp_DeleteSubscriber");
    ASSERT_EQ(scenario.cli(kReset).status, kAborted);
    scenario.set("abort-after", "");

    // One changed byte in the journal: the recovery refuses, names the file and line, and
    // changes nothing.
    std::string journal;
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder()))
        if (entry.path().filename().string().rfind("Zephrane_Journal_", 0) == 0)
            journal = entry.path().string();
    ASSERT_FALSE(journal.empty());
    std::string text = zeph::test::readAll(journal);
    const std::size_t at = text.find(kAlias);
    ASSERT_NE(at, std::string::npos);
    text[at] = 'K';
    std::ofstream(journal, std::ios::binary | std::ios::trunc) << text;

    // The abruptly ended program left the database's write-ahead log to the next program,
    // which folds it into the file: the rows are compared, not the bytes.
    const Dump unchanged = dumpServer(scenario.host(), nullptr);
    const std::set<std::string> files = filesOf(scenario.host());
    const ScenarioHost::Result refused = scenario.cli("--recover --yes");
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(contains(refused.err, "is damaged at line 3")) << refused.err;
    EXPECT_EQ(difference(unchanged, dumpServer(scenario.host(), nullptr)), "");
    EXPECT_EQ(filesOf(scenario.host()), files);
}

TEST(RecoveryRefusals, AResetOfASubscriberWhoseResetIsUnfinishedSkipsIt) {
    ScenarioHost scenario(kSubscribers, kSeed);
    // Its rows are back on the old ids, so the selection finds it again.
    scenario.set("abort-after", "fixup-10");
    ASSERT_EQ(scenario.cli(kReset).status, kAborted);
    scenario.set("abort-after", "");
    ASSERT_EQ(scenario.cli("--list-templates").status, 0); // folds the database's log in

    const Dump before = dumpServer(scenario.host(), nullptr);
    const std::set<std::string> files = filesOf(scenario.host());
    const ScenarioHost::Result again = scenario.cli(kReset);
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(contains(again.out, "did not finish; finish it with \"zephrane-cli --recover\""))
        << again.out;
    const Dump after = dumpServer(scenario.host(), nullptr);
    // Only the directory's list synchronisation at the end of the run may have changed rows.
    for (const char *table : {"Subscriber", "GlobalSubscriber", "CallHandler", "DTMFAccessID",
                              "MessagingRule", "NotificationDevice"})
        EXPECT_EQ(before.at(table), after.at(table)) << table;
    EXPECT_EQ(filesOf(scenario.host()), files);
}

TEST(DryRun, ChangesNothingAndLogsWhatItWouldDo) {
    ScenarioHost scenario(kSubscribers, kSeed);
    const auto before = digestsOf(scenario.host());
    const ScenarioHost::Result dry =
        scenario.cli("--template defaultTemplate --all --preserve-alternate-extensions --dry-run");
    EXPECT_TRUE(dry.status == 0 || dry.status == 1) << dry.err;
    EXPECT_EQ(digestsOf(scenario.host()), before);
    // A query selection is not the operator's history: the registry stays as it was too.
    const ScenarioHost::Result query =
        scenario.cli("--template defaultTemplate --where " + shellQuoted("WHERE Alias LIKE 'k%'") +
                     " --dry-run");
    EXPECT_TRUE(query.status == 0 || query.status == 1) << query.err;
    EXPECT_TRUE(contains(query.out, "    Alias=kcarter")) << query.out;
    EXPECT_EQ(digestsOf(scenario.host()), before);

    const std::vector<std::string> out = lines(dry.out);
    const auto start = std::find_if(out.begin(), out.end(), [](const std::string &line) {
        return line.rfind("Starting process at:", 0) == 0;
    });
    ASSERT_NE(start, out.end());
    ASSERT_LT(start + 2, out.end());
    EXPECT_EQ(start[2], "** Dry run: nothing is changed; each change is logged as what the run "
                        "would do **");
    for (const char *would : {"(dry run) would delete ", "(dry run) would remove the subscriber",
                              "(dry run) would create the subscriber again from the template "
                              "defaultTemplate",
                              "(dry run) would add back the alternate extension ",
                              "(dry run) would start synchronization of all distribution lists"})
        EXPECT_TRUE(contains(dry.out, would)) << would;
    EXPECT_TRUE(contains(dry.err, "Dry run complete, nothing was changed")) << dry.err;
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder()))
        EXPECT_NE(entry.path().filename().string().rfind("Zephrane_Journal_", 0), 0u)
            << "a dry run writes no journal";
}
