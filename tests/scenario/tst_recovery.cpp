// Interrupted resets, run for real: the stand-in ends zephrane-cli abruptly after a named
// procedure or step, and `--recover` must leave the server exactly as an uninterrupted reset
// does. Also the dry run's proof that nothing changes, and a damaged journal's refusal.
#include "scenario_helpers.h"
#include "tds_helpers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sqlite3.h>

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
    // Once its recordings or messages were being removed, a subscriber never removed is reset
    // by the recovery all the same: it is not left cleaned and not reset.
    testing::Values(Interruption{"journal", "", true}, Interruption{"recordings"},
                    Interruption{"mailbox"}, Interruption{"sp_DeleteSubscriber"},
                    Interruption{"sp_DeleteDirectorySyncTicket"},
                    Interruption{"sp_CreateSubscriber"}, Interruption{"write-back"},
                    Interruption{"alternate-extensions"}, Interruption{"fixup-1"},
                    Interruption{"fixup-2"}, Interruption{"fixup-5"}, Interruption{"fixup-6"},
                    Interruption{"fixup-7"}, Interruption{"fixup-9"}, Interruption{"fixup-10"},
                    Interruption{"sp_ModifySubscriber"},
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

// Real SIGKILLs at seeded random moments of a reset of two subscribers (counted in lines of
// its output): after each, `--recover` and the same reset once more leave the server, its
// recordings and mailboxes and every distribution-list membership as one uninterrupted reset.
TEST(RandomKills, RecoveryThenTheSameResetEqualOneUninterruptedReset) {
    const std::string reset = "--template defaultTemplate --extensions 4001-4002 "
                              "--preserve-alternate-extensions --yes";
    ScenarioHost alone(kSubscribers, kSeed);
    const std::set<std::string> known = idsOf(alone.host());
    const ScenarioHost::Result whole = alone.cli(reset);
    ASSERT_EQ(whole.status, 0) << whole.out << whole.err;
    const Dump expected = dumpServer(alone.host(), &known);
    const std::set<std::string> files = filesOf(alone.host());
    const std::size_t outputLines = lines(whole.out).size();

    std::mt19937 random(20261206);
    std::uniform_int_distribution<std::size_t> moment(1, outputLines);
    for (int point = 0; point < 20; ++point) {
        const std::size_t killAt = moment(random);
        SCOPED_TRACE("killed at output line " + std::to_string(killAt));
        ScenarioHost scenario(kSubscribers, kSeed);
        zeph::test::Process run = scenario.start("zephrane-cli", reset);
        zeph::test::waitUntil(
            [&] { return lines(zeph::test::readAll(run.outFile)).size() >= killAt; });
        scenario.kill(run);
        const ScenarioHost::Result recovered = scenario.cli("--recover --yes");
        EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
        const ScenarioHost::Result again = scenario.cli(reset);
        EXPECT_EQ(again.status, 0) << again.out << again.err;
        EXPECT_EQ(difference(expected, dumpServer(scenario.host(), &known)), "");
        EXPECT_EQ(filesOf(scenario.host()), files);
        EXPECT_EQ(scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host())).status, 0);
    }
}

namespace {

std::string journalOf(const ScenarioHost &scenario) {
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder()))
        if (entry.path().filename().string().rfind("Zephrane_Journal_", 0) == 0)
            return entry.path().string();
    return "";
}

// One journal line as the program writes it: tab-separated fields and the CRC-32 of the rest.
std::string journalLine(const std::vector<std::string> &fields) {
    std::string text;
    for (const std::string &field : fields)
        text += (text.empty() ? "" : "\t") + field;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : text) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", ~crc);
    return text + "\t" + hex + "\r\n";
}

// Changes the server's database by hand, as an administrator's tool would.
void changeByHand(const std::string &host, const std::string &sql) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((host + "/TarvoDb.sqlite").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
}

// What the host's files are, the run lock's file left out (a run that is refused or finds
// nothing to do still takes the lock).
std::map<std::string, std::string> digestsWithoutLock(const std::string &host) {
    std::map<std::string, std::string> digests = digestsOf(host);
    digests.erase(host + "/TarvoDb.sqlite.run-lock");
    return digests;
}

} // namespace

// Host I's run ended with its subscriber removed; host J runs from the same program folder.
// J's programs name I's journal as another server's and never apply it (J stays byte for byte
// as it was, and a reset of the same alias on J is not held back); I's recovery brings it back.
TEST(OtherServersJournals, AreNamedAndNeverApplied) {
    ScenarioHost i(kSubscribers, kSeed);
    ScenarioHost j(kSubscribers, kSeed);
    j.sharePrograms(i);
    i.set("abort-after", "sp_DeleteSubscriber");
    ASSERT_EQ(i.cli(kReset).status, kAborted);
    i.set("abort-after", "");

    const auto before = digestsWithoutLock(j.host());
    const ScenarioHost::Result start = j.cli("--list-templates");
    // Named once, quietly, with no advice that does not apply here.
    EXPECT_TRUE(contains(start.err, "Recovery journals of other servers, left alone here: "))
        << start.err;
    EXPECT_TRUE(contains(start.err, " (SQL Server {")) << start.err;
    EXPECT_FALSE(contains(start.err, "did not finish")) << start.err;
    EXPECT_FALSE(contains(start.err, "--recover")) << start.err;
    EXPECT_EQ(lines(start.err).size(), 1u) << start.err;
    const ScenarioHost::Result recovery = j.cli("--recover --yes");
    EXPECT_EQ(recovery.status, 0) << recovery.out << recovery.err;
    EXPECT_TRUE(contains(recovery.out, "belongs to another server")) << recovery.out;
    EXPECT_TRUE(contains(recovery.out, "No interrupted reset to finish")) << recovery.out;
    EXPECT_EQ(digestsWithoutLock(j.host()), before);
    const ScenarioHost::Result reset = j.cli(kReset);
    EXPECT_EQ(reset.status, 0) << reset.out;

    const ScenarioHost::Result recovered = i.cli("--recover --yes");
    EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
    EXPECT_TRUE(contains(recovered.out, "1 interrupted reset(s) finished")) << recovered.out;
    EXPECT_EQ(i.run("zephrane-sim", "check " + shellQuoted(i.host())).status, 0);
}

// A subscriber changed by hand after its entry was journaled is held with its differences
// until its alias is named; a hand-written entry for a subscriber nobody selected is closed
// without a reset. Neither is reset: their messages and recordings stay.
TEST(RecoveryChecks, AChangedSubscriberIsHeldAndAHandWrittenEntryIsNotApplied) {
    ScenarioHost scenario(kSubscribers, kSeed);
    scenario.set("abort-after", "journal");
    ASSERT_EQ(scenario.cli(kReset).status, kAborted);
    scenario.set("abort-after", "");
    changeByHand(
        scenario.host(),
        "UPDATE Subscriber SET LastName='Smith' WHERE Alias='kcarter'; "
        "UPDATE DTMFAccessID SET DTMFAccessID='4999' WHERE IsPrimaryID=1 AND "
        "ParentObjectID=(SELECT SubscriberObjectID FROM Subscriber WHERE Alias='kcarter')");
    // An entry nobody's run wrote, for rnelson, its values read from the server.
    std::vector<std::string> begin = {"begin", "2"};
    sqlite3 *db = nullptr;
    sqlite3_open((scenario.host() + "/TarvoDb.sqlite").c_str(), &db);
    sqlite3_stmt *row = nullptr;
    sqlite3_prepare_v2(
        db,
        "SELECT SubscriberObjectID, Alias, CallHandlerObjectID, FirstName, LastName, "
        "DisplayName, DTMFAccessID, DirectoryID FROM vw_Subscriber WHERE "
        "Alias='rnelson'",
        -1, &row, nullptr);
    ASSERT_EQ(sqlite3_step(row), SQLITE_ROW);
    for (int c = 0; c < 8; ++c)
        begin.push_back(reinterpret_cast<const char *>(sqlite3_column_text(row, c)));
    sqlite3_finalize(row);
    sqlite3_close(db);
    begin.push_back("defaultTemplate");
    const std::string journal = journalOf(scenario);
    std::ofstream(journal, std::ios::binary | std::ios::app) << journalLine(begin);

    const std::set<std::string> files = filesOf(scenario.host());
    const Dump before = dumpServer(scenario.host(), nullptr);
    const ScenarioHost::Result held = scenario.cli("--recover --yes");
    EXPECT_EQ(held.status, 1) << held.out << held.err;
    for (const char *line :
         {"changed: LastName: 'Carter' in the journal, 'Smith' on the server",
          "changed: DTMFAccessID: '4002' in the journal, '4999' on the server",
          "will do: it was changed since the journal was written",
          "0 interrupted reset(s) finished, 1 closed without a reset, 1 left open"})
        EXPECT_TRUE(contains(held.out, line)) << line << "\n" << held.out;
    EXPECT_TRUE(contains(scenario.cli("--list-templates").err, "kcarter"));

    const ScenarioHost::Result accepted = scenario.cli("--recover --accept-changed KCarter --yes");
    EXPECT_EQ(accepted.status, 0) << accepted.out << accepted.err;
    EXPECT_TRUE(contains(accepted.out, "accepted change: LastName")) << accepted.out;
    EXPECT_TRUE(contains(accepted.out, "1 closed without a reset")) << accepted.out;
    EXPECT_FALSE(contains(scenario.cli("--list-templates").err, "did not finish"));

    // Nothing of either subscriber was reset.
    const Dump after = dumpServer(scenario.host(), nullptr);
    for (const char *table : {"Subscriber", "CallHandler", "DTMFAccessID", "MessagingRule",
                              "NotificationDevice", "MenuEntry"})
        EXPECT_EQ(before.at(table), after.at(table)) << table;
    EXPECT_EQ(filesOf(scenario.host()), files);
}

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
    // Cleaned and not removed (the removal's transaction went with the program), so the
    // selection finds it again; a creation is never left half-done to be found.
    scenario.set("abort-after", "mailbox");
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

// Kept history costs a start nothing it need not read: a journal with nothing left to do ends
// with its closed mark, and zephrane-cli reads no further than that mark of each kept journal.
// A journal whose mark a crash cut short is read whole, as before journals had one.
TEST(KeptJournals, AStartReadsOnlyTheClosedMarkOfEachKeptJournal) {
    ScenarioHost scenario(kSubscribers, kSeed);
    ASSERT_NE(scenario.cli("--template defaultTemplate --all --yes").status, 2);
    std::string journal;
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder()))
        if (entry.path().filename().string().rfind("Zephrane_Journal_", 0) == 0)
            journal = entry.path().string();
    ASSERT_FALSE(journal.empty());
    std::ifstream in(journal, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const std::size_t markAt = text.rfind('\n', text.size() - 2) + 1;
    ASSERT_EQ(text.compare(markAt, 7, "closed\t"), 0) << text;

    // A month of kept journals, each damaged everywhere before its mark.
    const std::string damaged = std::string(markAt - 1, '#') + "\n" + text.substr(markAt);
    for (int day = 1; day <= 30; ++day) {
        char name[64];
        std::snprintf(name, sizeof name, "/Zephrane_Journal_202611%02d_10_00_00.txt", day);
        std::ofstream(scenario.logsFolder() + name, std::ios::binary) << damaged;
    }
    ScenarioHost::Result start = scenario.cli("--list-templates");
    EXPECT_EQ(start.status, 0) << start.err;
    EXPECT_FALSE(contains(start.err, "damaged")) << start.err;

    // The mark of one of them cut short: that one is read whole, and its damage is told.
    const std::string cut = scenario.logsFolder() + "/Zephrane_Journal_20261115_10_00_00.txt";
    std::ofstream(cut, std::ios::binary | std::ios::trunc) << damaged.substr(0, damaged.size() - 3);
    start = scenario.cli("--list-templates");
    EXPECT_TRUE(contains(start.err, "Zephrane_Journal_20261115_10_00_00.txt")) << start.err;
    EXPECT_TRUE(contains(start.err, "damaged")) << start.err;
}

namespace {

// The alias and names of a subscriber, as its own row and its global row hold them.
std::vector<std::string> namesOf(const std::string &host, const std::string &objectId) {
    std::vector<std::string> names;
    sqlite3 *db = nullptr;
    sqlite3_open_v2((host + "/TarvoDb.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (const char *table : {"Subscriber", "GlobalSubscriber"}) {
        sqlite3_stmt *row = nullptr;
        const std::string sql =
            std::string("SELECT Alias, FirstName, LastName, DisplayName FROM ") + table +
            " WHERE SubscriberObjectID=?";
        sqlite3_prepare_v2(db, sql.c_str(), -1, &row, nullptr);
        sqlite3_bind_text(row, 1, objectId.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(row) == SQLITE_ROW) {
            for (int c = 0; c < 4; ++c) {
                const unsigned char *text = sqlite3_column_text(row, c);
                names.push_back(std::string(table) + "." + sqlite3_column_name(row, c) + "=[" +
                                (text ? reinterpret_cast<const char *>(text) : "NULL") + "]");
            }
        }
        sqlite3_finalize(row);
    }
    sqlite3_close(db);
    return names;
}

class BlankNames : public testing::TestWithParam<const char *> {};

} // namespace

// An alias and names with blanks around them come back exactly as they were, from a reset
// and from the recovery of one interrupted at the creation, the write-back or a fix-up.
TEST_P(BlankNames, ComeBackExactlyAlsoThroughTheRecovery) {
    ScenarioHost scenario(kSubscribers, kSeed);
    const std::string setNames = " SET Alias=' kcarter  ', FirstName=' Kim', LastName='Carter ', "
                                 "DisplayName='  Kim  Carter ' WHERE Alias='kcarter'";
    changeByHand(scenario.host(),
                 "UPDATE GlobalSubscriber" + setNames + "; UPDATE Subscriber" + setNames);
    sqlite3 *db = nullptr;
    sqlite3_open((scenario.host() + "/TarvoDb.sqlite").c_str(), &db);
    sqlite3_stmt *row = nullptr;
    sqlite3_prepare_v2(db, "SELECT SubscriberObjectID FROM Subscriber WHERE Alias=' kcarter  '", -1,
                       &row, nullptr);
    ASSERT_EQ(sqlite3_step(row), SQLITE_ROW);
    const std::string objectId = reinterpret_cast<const char *>(sqlite3_column_text(row, 0));
    sqlite3_finalize(row);
    sqlite3_close(db);
    const std::vector<std::string> before = namesOf(scenario.host(), objectId);
    ASSERT_EQ(before.size(), 8u);

    scenario.set("abort-after", GetParam());
    const ScenarioHost::Result run = scenario.cli(kReset);
    scenario.set("abort-after", "");
    if (*GetParam()) {
        ASSERT_EQ(run.status, kAborted) << run.out << run.err;
        const ScenarioHost::Result recovered = scenario.cli("--recover --yes");
        EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
        EXPECT_TRUE(contains(recovered.out, "1 interrupted reset(s) finished")) << recovered.out;
    } else {
        EXPECT_EQ(run.status, 0) << run.out << run.err;
    }
    EXPECT_EQ(namesOf(scenario.host(), objectId), before);
    EXPECT_EQ(scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host())).status, 0);
    EXPECT_TRUE(contains(scenario.cli("--recover --yes").out, "No interrupted reset to finish"));
}

INSTANTIATE_TEST_SUITE_P(Interruptions, BlankNames,
                         testing::Values("", "sp_CreateSubscriber", "write-back", "fixup-7"),
                         [](const testing::TestParamInfo<const char *> &point) {
                             std::string name = *point.param ? point.param : "none";
                             for (char &c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// "STEP#N" ends the program the N-th time the step is reached, and only then; a count that is
// not a whole number from 1 is refused when it is set.
TEST(AbortAfter, EndsTheProgramTheNthTimeItsStepIsReached) {
    for (const int n : {1, 2, 3}) {
        ScenarioHost scenario(kSubscribers, kSeed);
        scenario.set("abort-after", "mailbox#" + std::to_string(n));
        const ScenarioHost::Result run =
            scenario.cli("--template defaultTemplate --all --skip-dl-sync --yes");
        EXPECT_EQ(run.status, kAborted) << n << "\n" << run.err;
        long removals = 0;
        for (const std::string &line : lines(run.out))
            removals += line == "    Removing subscriber from SQL";
        // Each subscriber before the N-th went on from its mailbox to its removal.
        EXPECT_EQ(removals, n - 1) << run.out;
        EXPECT_TRUE(contains(run.err, "after mailbox (abort-after)")) << run.err;
    }
    ScenarioHost scenario(kSubscribers, kSeed);
    for (const char *wrong : {"sp_DeleteSubscriber#0", "sp_DeleteSubscriber#x", "#2"}) {
        const ScenarioHost::Result set =
            scenario.run("zephrane-sim", "set " + shellQuoted(scenario.host()) + " abort-after " +
                                             shellQuoted(wrong));
        EXPECT_NE(set.status, 0) << wrong;
        EXPECT_TRUE(contains(set.err, "takes STEP or STEP#N")) << wrong << ": " << set.err;
    }
}

namespace {

// A host's folder copied as an administrator would, every file's times and modes kept.
void copyHost(const std::string &from, const std::string &to) {
    fs::remove_all(to);
    const auto copied =
        zeph::test::runCommand("cp -a " + shellQuoted(from) + " " + shellQuoted(to) + " 2>&1");
    ASSERT_EQ(copied.status, 0) << copied.out;
}

// The values of one subscriber's row of vw_Subscriber, by column.
std::map<std::string, std::string> subscriberRow(const std::string &host,
                                                 const std::string &alias) {
    std::map<std::string, std::string> values;
    sqlite3 *db = nullptr;
    sqlite3_open((host + "/TarvoDb.sqlite").c_str(), &db);
    sqlite3_stmt *row = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM vw_Subscriber WHERE Alias=?", -1, &row, nullptr);
    sqlite3_bind_text(row, 1, alias.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(row) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(row); ++c) {
            const unsigned char *text = sqlite3_column_text(row, c);
            values[sqlite3_column_name(row, c)] = text ? reinterpret_cast<const char *>(text) : "";
        }
    }
    sqlite3_finalize(row);
    sqlite3_close(db);
    return values;
}

// The journal's lines with one record's field changed and its checksum made anew.
void rewriteRecord(const std::string &journal, const std::string &startsWith, std::size_t field,
                   const std::string &value) {
    std::string text;
    for (std::string line : lines(zeph::test::readAll(journal))) {
        if (line.rfind(startsWith, 0) == 0) {
            std::vector<std::string> f = zeph::test::fields(line);
            f.pop_back(); // the checksum
            f.at(field) = value;
            text += journalLine(f);
        } else if (!line.empty()) {
            text += line + "\r\n";
        }
    }
    std::ofstream(journal, std::ios::binary | std::ios::trunc) << text;
}

std::vector<std::string> journalsOf(const ScenarioHost &scenario) {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder()))
        if (entry.path().filename().string().rfind("Zephrane_Journal_", 0) == 0)
            found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

// A copy of a host is another server: the first program that finds the copy gives it an
// identity of its own and says so; from the shared program folder the copy's recovery never
// applies the original's journal, and the original's own recovery still finds its entry open.
// A host moved within its disk keeps its identity.
TEST(CopiedHost, IsAnotherServerAndNeverTakesTheOriginalsJournal) {
    ScenarioHost original(kSubscribers, kSeed);
    original.set("abort-after", "write-back");
    ASSERT_EQ(original.cli(kReset).status, kAborted);
    original.set("abort-after", "");
    ScenarioHost copy(kSubscribers, kSeed);
    copy.sharePrograms(original);
    copyHost(original.host(), copy.host());

    const Dump before = dumpServer(copy.host(), nullptr);
    const ScenarioHost::Result start = copy.cli("--list-templates");
    EXPECT_TRUE(contains(start.err, "is given an identity of its own")) << start.err;
    EXPECT_TRUE(contains(start.err, "Recovery journals of other servers")) << start.err;
    const ScenarioHost::Result recovery = copy.cli("--recover --yes");
    EXPECT_EQ(recovery.status, 0) << recovery.out << recovery.err;
    EXPECT_TRUE(contains(recovery.out, "No interrupted reset to finish")) << recovery.out;
    EXPECT_FALSE(contains(recovery.err, "identity of its own")) << "told once: " << recovery.err;
    EXPECT_EQ(difference(before, dumpServer(copy.host(), nullptr)), "");

    // The original, moved within its disk, is still itself.
    const std::string moved = original.host() + "-moved";
    fs::rename(original.host(), moved);
    const ScenarioHost::Result recovered = original.runOn(moved, "zephrane-cli", "--recover --yes");
    EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
    EXPECT_TRUE(contains(recovered.out, "1 interrupted reset(s) finished")) << recovered.out;
    EXPECT_FALSE(contains(recovered.err, "identity of its own")) << recovered.err;
    EXPECT_EQ(original.run("zephrane-sim", "check " + shellQuoted(moved)).status, 0);
    fs::rename(moved, original.host());
}

// Recovery reads the server, not the journal's word: an entry whose recorded ids name another
// subscriber is held as changed, and that subscriber keeps its extension and everything else.
TEST(RecoveryChecks, AnEntryWhoseIdsNameAnotherSubscriberIsHeld) {
    ScenarioHost scenario(kSubscribers, kSeed);
    scenario.set("abort-after", "write-back");
    ASSERT_EQ(scenario.cli(kReset).status, kAborted);
    scenario.set("abort-after", "");
    ASSERT_EQ(scenario.cli("--list-templates").status, 0); // folds the database's log in
    const auto other = subscriberRow(scenario.host(), "rnelson");
    ASSERT_FALSE(other.empty());
    const std::string journal = journalOf(scenario);
    std::ofstream(journal, std::ios::binary | std::ios::app) << journalLine(
        {"created", "1", other.at("SubscriberObjectID"), other.at("CallHandlerObjectID")});

    const Dump before = dumpServer(scenario.host(), nullptr);
    const ScenarioHost::Result held = scenario.cli("--recover --yes");
    EXPECT_EQ(held.status, 1) << held.out << held.err;
    EXPECT_TRUE(contains(held.out, "in the journal names the subscriber 'rnelson'")) << held.out;
    EXPECT_TRUE(contains(held.out, "will do: it was changed since")) << held.out;
    EXPECT_TRUE(contains(held.out, "0 interrupted reset(s) finished")) << held.out;
    const Dump after = dumpServer(scenario.host(), nullptr);
    for (const char *table : {"Subscriber", "GlobalSubscriber", "CallHandler", "DTMFAccessID",
                              "MessagingRule", "NotificationDevice", "MenuEntry"})
        EXPECT_EQ(before.at(table), after.at(table)) << table;
    EXPECT_EQ(subscriberRow(scenario.host(), "rnelson"), other);
    EXPECT_TRUE(contains(scenario.cli("--list-templates").err, kAlias));
}

// The closed mark names where it begins: one added to the end of a journal whose entries are
// open (by hand, or copied from another journal) hides none of them from the start-up scan or
// the recovery.
TEST(KeptJournals, AClosedMarkAddedToAJournalWithOpenEntriesHidesNothing) {
    ScenarioHost scenario(kSubscribers, kSeed);
    scenario.set("abort-after", "sp_DeleteSubscriber");
    ASSERT_EQ(scenario.cli(kReset).status, kAborted);
    scenario.set("abort-after", "");
    const std::string journal = journalOf(scenario);
    const std::string text = zeph::test::readAll(journal);
    for (const std::vector<std::string> &mark :
         {std::vector<std::string>{"closed"}, std::vector<std::string>{"closed", "120"},
          std::vector<std::string>{"closed", std::to_string(text.size())}}) {
        std::ofstream(journal, std::ios::binary | std::ios::trunc)
            << text << journalLine({"lists-done"}) << journalLine(mark);
        const ScenarioHost::Result start = scenario.cli("--list-templates");
        EXPECT_TRUE(contains(start.err, "A reset did not finish")) << mark.back() << start.err;
        EXPECT_TRUE(contains(start.err, kAlias)) << start.err;
    }
    const ScenarioHost::Result recovered = scenario.cli("--recover --yes");
    EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
    EXPECT_TRUE(contains(recovered.out, "1 interrupted reset(s) finished")) << recovered.out;
    EXPECT_EQ(scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host())).status, 0);
}

// One entry that cannot be finished (its template is gone) is left open with its reason, and
// the recovery goes on: the other run's subscriber is brought back. Named again with a template
// that exists, the stuck one is finished too.
TEST(RecoveryChecks, OneEntryThatCannotBeFinishedKeepsNoneOfTheOthersWaiting) {
    ScenarioHost scenario(kSubscribers, kSeed);
    scenario.set("abort-after", "sp_DeleteSubscriber");
    ASSERT_EQ(scenario.cli(kReset).status, kAborted);
    const std::string stuck = journalOf(scenario);
    rewriteRecord(stuck, "begin\t1\t", 10, "goneTemplate");
    const ScenarioHost::Result second =
        scenario.cli("--template defaultTemplate --extensions 4001-4001 --yes");
    ASSERT_EQ(second.status, kAborted) << second.out << second.err;
    scenario.set("abort-after", "");
    ASSERT_EQ(journalsOf(scenario).size(), 2u);
    ASSERT_EQ(journalsOf(scenario).front(), stuck) << "the older run's journal comes first";

    const ScenarioHost::Result recovered = scenario.cli("--recover --yes");
    EXPECT_EQ(recovered.status, 1) << recovered.out << recovered.err;
    EXPECT_TRUE(contains(recovered.out, "1 interrupted reset(s) finished")) << recovered.out;
    EXPECT_TRUE(contains(recovered.out, "1 left open (could not be finished)")) << recovered.out;
    EXPECT_TRUE(contains(recovered.out, "the recovery goes on with the next one")) << recovered.out;
    const ScenarioHost::Result start = scenario.cli("--list-templates");
    EXPECT_TRUE(contains(start.err, kAlias)) << start.err;

    const ScenarioHost::Result named = scenario.cli("--recover --template defaultTemplate --yes");
    EXPECT_EQ(named.status, 0) << named.out << named.err;
    EXPECT_TRUE(contains(named.out, "1 interrupted reset(s) finished")) << named.out;
    EXPECT_FALSE(contains(scenario.cli("--list-templates").err, "did not finish"));
    EXPECT_EQ(scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host())).status, 0);
}

// One host, one identity: a reset interrupted in process is finished over TDS (unixODBC,
// FreeTDS, zephrane-sim serve), and one interrupted over TDS is finished in process.
TEST(OneHostOneIdentity, AJournalWrittenOneWayIsRecoveredTheOther) {
    if (!zeph::test::freeTdsInstalled())
        GTEST_SKIP() << "FreeTDS's ODBC driver is not registered as \"SQL Server\"";
    for (const bool writtenOverTds : {false, true}) {
        SCOPED_TRACE(writtenOverTds ? "written over TDS" : "written in process");
        ScenarioHost scenario(kSubscribers, kSeed);
        zeph::test::ServedHost served(scenario);
        if (writtenOverTds)
            scenario.useDatabase(served.connectionText());
        scenario.set("abort-after", "sp_DeleteSubscriber");
        ASSERT_EQ(scenario.cli(kReset).status, kAborted);
        scenario.set("abort-after", "");
        scenario.useDatabase(writtenOverTds ? "" : served.connectionText());
        const ScenarioHost::Result recovered = scenario.cli("--recover --yes");
        EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
        EXPECT_FALSE(contains(recovered.out, "another server")) << recovered.out;
        EXPECT_TRUE(contains(recovered.out, "1 interrupted reset(s) finished")) << recovered.out;
        served.kill();
        EXPECT_EQ(scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host())).status, 0);
    }
}
