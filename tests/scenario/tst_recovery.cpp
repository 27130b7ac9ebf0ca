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
#include <sqlite3.h>

namespace fs = std::filesystem;
using zeph::test::lines;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;
using zeph::test::TempHost;

namespace {

constexpr int kSubscribers = 12;
constexpr unsigned kSeed = 3;
// On this host subscriber 4002 has twelve alternate extensions, recorded greetings and a
// mailbox with messages: every step of a reset has work to do.
const std::string kReset = "--template defaultTemplate --extensions 4002-4002 "
                           "--preserve-alternate-extensions --yes";
constexpr const char *kAlias = "kcarter";
constexpr int kAborted = 86;

const std::regex kGuid("\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-"
                       "[0-9A-Fa-f]{12}\\}");

using Rows = std::multiset<std::string>;
using Dump = std::map<std::string, Rows>;

// Runs a query and hands each row's values, as text, to `row`.
template <class Row> void eachRow(sqlite3 *db, const std::string &sql, Row &&row) {
    sqlite3_stmt *statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::pair<std::string, std::string>> values;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            const unsigned char *text = sqlite3_column_text(statement, c);
            values.emplace_back(sqlite3_column_name(statement, c),
                                text ? reinterpret_cast<const char *>(text) : "NULL");
        }
        row(values);
    }
    sqlite3_finalize(statement);
}

// Every table's rows, compared as sets: ids the reset generated (absent from `known`) read as
// "<new>", the host's own folder as "<host>", and the time stamps the clock wrote are left out.
// A row that still names a new id where an uninterrupted reset names the old one shows as a
// difference. Without `known` the ids are kept as they are.
Dump dumpServer(const std::string &host, const std::set<std::string> *known) {
    Dump dump;
    sqlite3 *db = nullptr;
    sqlite3_open_v2((host + "/TarvoDb.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::vector<std::string> tables;
    eachRow(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name",
            [&](const auto &values) { tables.push_back(values[0].second); });
    for (const std::string &table : tables) {
        Rows &rows = dump[table];
        eachRow(db, "SELECT * FROM \"" + table + "\"", [&](const auto &values) {
            std::string text;
            for (const auto &[column, value] : values) {
                if (column.find("Time") != std::string::npos)
                    continue;
                const bool generated =
                    known && std::regex_match(value, kGuid) && !known->count(value);
                std::string shown = generated ? "<new>" : value;
                if (const std::size_t at = shown.find(host); at != std::string::npos)
                    shown.replace(at, host.size(), "<host>");
                text += column + "=" + shown + "|";
            }
            rows.insert(text);
        });
    }
    sqlite3_close(db);
    return dump;
}

std::set<std::string> idsOf(const std::string &host) {
    std::set<std::string> ids;
    for (const auto &[table, rows] : dumpServer(host, nullptr)) {
        (void)table;
        for (const std::string &row : rows) {
            for (std::sregex_iterator it(row.begin(), row.end(), kGuid), end; it != end; ++it)
                ids.insert(it->str());
        }
    }
    return ids;
}

// The recordings and mailbox files that are left, by path inside the host.
std::set<std::string> filesOf(const std::string &host) {
    std::set<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(host)) {
        const std::string relative = fs::relative(entry.path(), host).string();
        if (entry.is_regular_file() && relative.find("TarvoDb") == std::string::npos &&
            relative != "stand-in.conf")
            files.insert(relative);
    }
    return files;
}

// Digests of every file of the host: the proof that nothing at all was changed.
std::map<std::string, std::string> digestsOf(const std::string &host) {
    std::map<std::string, std::string> digests;
    for (const auto &entry : fs::recursive_directory_iterator(host)) {
        if (entry.is_regular_file())
            digests[entry.path().string()] = TempHost::fileDigest(entry.path().string());
    }
    return digests;
}

// What the table rows differ in, for a readable failure.
std::string difference(const Dump &expected, const Dump &actual) {
    std::string text;
    for (const auto &[table, rows] : expected) {
        const Rows &other = actual.count(table) ? actual.at(table) : Rows{};
        if (rows == other)
            continue;
        text += table + ":\n";
        for (const std::string &row : rows)
            if (!other.count(row))
                text += "  missing " + row + "\n";
        for (const std::string &row : other)
            if (!rows.count(row))
                text += "  extra   " + row + "\n";
    }
    return text;
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

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
    EXPECT_TRUE(contains(recovered.out, "1 interrupted reset(s) finished")) << recovered.out;

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
    testing::Values(Interruption{"journal"}, Interruption{"recordings"}, Interruption{"mailbox"},
                    Interruption{"sp_DeleteSubscriber"},
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
    EXPECT_TRUE(contains(refused.err, "is damaged at line 2")) << refused.err;
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
