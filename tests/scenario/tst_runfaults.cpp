// Faults of the machine under a running reset, with the real programs: a database that cannot
// grow (a file-size limit), a logs folder that fills (the stand-in's file-space setting, and a
// real small tmpfs where this machine may mount one), a database the account may only read,
// and a host folder that vanishes at a chosen step. After each, the server is either sound or
// its journal holds exactly the subscribers that are not back, and --recover brings them back.
// Also: the dry run foresees the real run's errors, template by template.
#include "scenario_helpers.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sqlite3.h>
#include <sys/mount.h>

namespace fs = std::filesystem;
using zeph::test::contains;
using zeph::test::digestsOf;
using zeph::test::lines;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;

namespace {

constexpr int kSubscribers = 30;
constexpr unsigned kSeed = 5;
const std::string kResetAll = "--template defaultTemplate --all --preserve-alternate-extensions "
                              "--skip-dl-sync --yes";

// One text per row of a query on the host's database.
std::vector<std::string> column(const std::string &host, const std::string &sql) {
    std::vector<std::string> values;
    sqlite3 *db = nullptr;
    sqlite3_open_v2((host + "/TarvoDb.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const unsigned char *text = sqlite3_column_text(statement, 0);
            values.emplace_back(text ? reinterpret_cast<const char *>(text) : "NULL");
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return values;
}

// Each subscriber's alias with its ids and creation time: a subscriber that was removed and
// created again has a new creation time.
std::map<std::string, std::string> subscribers(const std::string &host) {
    std::map<std::string, std::string> all;
    for (const std::string &row :
         column(host, "SELECT Alias || '|' || SubscriberObjectID || '|' || CallHandlerObjectID || "
                      "'|' || CreationTime FROM Subscriber"))
        all[row.substr(0, row.find('|'))] = row.substr(row.find('|') + 1);
    return all;
}

// The aliases a normal run skips for a conflicting extension: they must never be removed.
std::set<std::string> skippedByANormalRun(const ScenarioHost &scenario) {
    const ScenarioHost::Result dry = scenario.cli(kResetAll + " --dry-run");
    std::set<std::string> skipped;
    std::string alias;
    for (const std::string &line : lines(dry.out)) {
        if (line.rfind("    Alias=", 0) == 0)
            alias = line.substr(10);
        else if (contains(line, "has a conflicting ID with another object"))
            skipped.insert(alias);
    }
    return skipped;
}

std::string checkHost(const ScenarioHost &scenario) {
    const ScenarioHost::Result check =
        scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host()));
    return check.status == 0 ? std::string() : check.out + check.err;
}

// The aliases that --recover finishes, from its output.
std::set<std::string> recoveredAliases(const std::string &out) {
    std::set<std::string> aliases;
    for (const std::string &line : lines(out)) {
        if (line.rfind("    Alias=", 0) == 0)
            aliases.insert(line.substr(10));
    }
    return aliases;
}

// After a run that a fault stopped: the server is sound, or the subscribers that are not back
// (missing, or not sound) are exactly those the journal holds, and --recover brings them back.
// No subscriber a normal run skips was touched.
void expectSoundOrRecovered(const ScenarioHost &scenario,
                            const std::map<std::string, std::string> &before,
                            const std::set<std::string> &skipped) {
    const std::map<std::string, std::string> after = subscribers(scenario.host());
    for (const std::string &alias : skipped)
        EXPECT_EQ(after.count(alias) ? after.at(alias) : "", before.at(alias))
            << alias << " is skipped by a normal run and must stay untouched";
    std::set<std::string> missing;
    for (const auto &[alias, row] : before) {
        if (!after.count(alias))
            missing.insert(alias);
    }
    const std::string problems = checkHost(scenario);
    const ScenarioHost::Result recover = scenario.cli("--recover --yes");
    if (problems.empty() && missing.empty()) {
        EXPECT_TRUE(contains(recover.out, "No interrupted reset to finish.") || recover.status == 0)
            << recover.out << recover.err;
    } else {
        EXPECT_EQ(recover.status, 0) << recover.out << recover.err;
        const std::set<std::string> recovered = recoveredAliases(recover.out);
        for (const std::string &alias : missing)
            EXPECT_TRUE(recovered.count(alias)) << alias << " is gone and not in the journal";
        EXPECT_LE(recovered.size(), 1u) << "a run stops after the first subscriber not back";
    }
    EXPECT_EQ(checkHost(scenario), "");
    const std::map<std::string, std::string> recoveredState = subscribers(scenario.host());
    for (const auto &[alias, row] : before) {
        ASSERT_TRUE(recoveredState.count(alias)) << alias << " was lost";
        EXPECT_EQ(recoveredState.at(alias).substr(0, 77), row.substr(0, 77))
            << alias << " came back with other ids";
    }
    EXPECT_TRUE(contains(scenario.cli("--recover --yes").out, "No interrupted reset to finish."));
}

// The run log of the last run: its bytes.
std::string lastLog(const ScenarioHost &scenario) {
    fs::path newest;
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Zephrane_Log_", 0) == 0 &&
            (newest.empty() || entry.last_write_time() > fs::last_write_time(newest)))
            newest = entry.path();
    }
    return zeph::test::readAll(newest.string());
}

// The lines that reached the log are whole, in order, and as the run printed them.
void expectLogIsAnIntactPrefix(const std::string &log, const std::string &printed) {
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n") << "the log ends mid-line";
    const std::vector<std::string> logged = lines(log);
    const std::vector<std::string> shown = lines(printed);
    ASSERT_LE(logged.size(), shown.size());
    for (std::size_t i = 0; i < logged.size(); ++i)
        ASSERT_EQ(logged[i], shown[i]) << "line " << i + 1;
}

// --- the database cannot grow -----------------------------------------------------------------

// Which subscriber each recording and mailbox file of the host belongs to, by path inside the
// host: its voice name, its greetings and the messages of its mailbox folder.
std::map<std::string, std::string> ownersOfFiles(const std::string &host) {
    std::map<std::string, std::string> byName; // a recording's file name, or a mailbox folder
    auto add = [&](const std::string &sql) {
        for (const std::string &row : column(host, sql)) {
            const std::size_t bar = row.find('|');
            std::string path = row.substr(bar + 1);
            path = path.substr(path.find_last_of("\\/") + 1);
            if (!path.empty() && path != "NULL")
                byName[path] = row.substr(0, bar);
        }
    };
    add("SELECT Alias || '|' || StreamPath FROM GlobalSubscriber WHERE StreamPath IS NOT NULL");
    add("SELECT s.Alias || '|' || m.StreamPath FROM MessagingRule m JOIN Subscriber s ON "
        "m.ParentObjectID = s.CallHandlerObjectID WHERE m.StreamPath IS NOT NULL");
    add("SELECT Alias || '|' || SMTPAddress FROM vw_Subscriber WHERE SMTPAddress IS NOT NULL");
    std::map<std::string, std::string> owners;
    for (const std::string &file : zeph::test::filesOf(host)) {
        for (const fs::path &part : fs::path(file)) {
            if (byName.count(part.string())) {
                owners[file] = byName.at(part.string());
                break;
            }
        }
    }
    return owners;
}

class DatabaseFileLimit : public testing::TestWithParam<int> {};

// The limit is above the database file by the parameter's kilobytes: the server refuses its
// first write at a different point of the run for each. The run stops there: no subscriber
// after the one under way loses a recording or a message, the one under way is named in the
// log, the closing message and the journal, and --recover finishes it once the limit is gone.
TEST_P(DatabaseFileLimit, StopsAtTheFirstRefusedWriteAndRecovers) {
    ScenarioHost scenario(kSubscribers, kSeed);
    const std::set<std::string> skipped = skippedByANormalRun(scenario);
    const auto before = subscribers(scenario.host());
    const std::map<std::string, std::string> owners = ownersOfFiles(scenario.host());
    ASSERT_GT(owners.size(), 100u) << "the host has recordings and messages to lose";
    const auto limit = fs::file_size(scenario.host() + "/TarvoDb.sqlite") + GetParam() * 1024;
    const ScenarioHost::Result run =
        scenario.run("zephrane-cli", kResetAll, "prlimit --fsize=" + std::to_string(limit) + " --");
    ASSERT_NE(run.status, -1) << "the program was killed: " << run.err;
    ASSERT_EQ(run.status, 1) << run.err;

    // Whose files are gone: subscribers created again by the run, and at most the one under way.
    const auto after = subscribers(scenario.host());
    const std::set<std::string> left = zeph::test::filesOf(scenario.host());
    std::set<std::string> cleanedNotReset;
    for (const auto &[file, alias] : owners) {
        const bool reCreated = after.count(alias) && after.at(alias) != before.at(alias);
        if (!left.count(file) && !reCreated)
            cleanedNotReset.insert(alias);
    }
    EXPECT_LE(cleanedNotReset.size(), 1u)
        << "subscribers the run did not reset lost recordings or messages";
    EXPECT_TRUE(contains(run.err, "the run stopped before resetting every subscriber: the server "
                                  "refused a write"))
        << run.err;
    EXPECT_TRUE(contains(lastLog(scenario), "(error) The run stopped before resetting every "
                                            "subscriber: the server refused a write"));
    const std::string cleanedLine = "were removed, but it was not created again";
    for (const std::string &alias : cleanedNotReset) {
        EXPECT_TRUE(contains(run.err, "1 subscriber(s) cleaned (recordings and messages removed) "
                                      "but not created again"))
            << "the closing message counts " << alias << ": " << run.err;
        EXPECT_TRUE(contains(run.out, cleanedLine)) << alias;
    }
    std::size_t cleanedLines = 0;
    for (const std::string &line : lines(run.out))
        cleanedLines += contains(line, cleanedLine);
    EXPECT_EQ(cleanedLines, cleanedNotReset.size()) << run.out;

    // Writes taken again: the recovery finishes the one under way.
    const ScenarioHost::Result recover = scenario.cli("--recover --yes");
    const std::set<std::string> recovered = recoveredAliases(recover.out);
    for (const std::string &alias : cleanedNotReset) {
        EXPECT_TRUE(recovered.count(alias)) << alias << " is not finished by --recover\n"
                                            << recover.out << recover.err;
        const auto now = subscribers(scenario.host());
        EXPECT_NE(now.count(alias) ? now.at(alias) : "", before.at(alias))
            << alias << " was not created again by --recover";
    }
    for (const std::string &alias : skipped)
        EXPECT_EQ(subscribers(scenario.host()).at(alias), before.at(alias)) << alias;
    EXPECT_EQ(checkHost(scenario), "");
    const std::map<std::string, std::string> recoveredState = subscribers(scenario.host());
    for (const auto &[alias, row] : before) {
        ASSERT_TRUE(recoveredState.count(alias)) << alias << " was lost";
        EXPECT_EQ(recoveredState.at(alias).substr(0, 77), row.substr(0, 77))
            << alias << " came back with other ids";
    }
    EXPECT_TRUE(contains(scenario.cli("--recover --yes").out, "No interrupted reset to finish."));
    if (HasFailure())
        std::cerr << run.out.substr(0, 6000) << run.err << recover.out.substr(0, 4000)
                  << recover.err;
}

// The first write of the run; the first subscribers; well into the run.
INSTANTIATE_TEST_SUITE_P(Levels, DatabaseFileLimit, testing::Values(0, 64, 256, 1024));

// --- the logs folder fills ----------------------------------------------------------------------

// The stand-in's file-space setting: the run log, journal and failed-records file together may
// take that many bytes.
class LogSpace : public testing::TestWithParam<int> {};

TEST_P(LogSpace, StopsBeforeTheNextSubscribersFirstChangeWithTheLogIntact) {
    ScenarioHost scenario(kSubscribers, kSeed);
    const std::set<std::string> skipped = skippedByANormalRun(scenario);
    const auto before = subscribers(scenario.host());
    scenario.set("file-space", std::to_string(GetParam()));
    const ScenarioHost::Result run = scenario.cli(kResetAll);
    scenario.set("file-space", "");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(contains(run.err, "the run stopped before resetting every subscriber: the run log "
                                  "could not be written"))
        << run.err;
    EXPECT_TRUE(contains(run.err, "(No space left on device)")) << "and says why: " << run.err;
    EXPECT_TRUE(contains(run.err, "The run stopped before resetting every subscriber"))
        << "the closing message says so: " << run.err;
    expectLogIsAnIntactPrefix(lastLog(scenario), run.out);
    // No subscriber was started after the line that failed (which may itself be the first line
    // of a subscriber, who then goes no further than its checks).
    const std::vector<std::string> out = lines(run.out);
    const std::size_t logged = lines(lastLog(scenario)).size();
    std::size_t subscribersStarted = 0;
    for (std::size_t i = logged + 1; i < out.size(); ++i)
        subscribersStarted += out[i] == "** Resetting Subscriber **";
    EXPECT_EQ(subscribersStarted, 0u) << "a subscriber was started after the log failed";
    expectSoundOrRecovered(scenario, before, skipped);
}

// Header only; a few subscribers; many.
INSTANTIATE_TEST_SUITE_P(Levels, LogSpace, testing::Values(1500, 6000, 30000));

// A real small file system under the logs folder, where this machine lets the test mount one.
TEST(LogTmpfs, ARealFullTmpfsStopsTheRunWithTheLogIntact) {
    ScenarioHost scenario(kSubscribers, kSeed);
    const std::set<std::string> skipped = skippedByANormalRun(scenario);
    const auto before = subscribers(scenario.host());
    fs::create_directories(scenario.logsFolder());
    if (::mount("tmpfs", scenario.logsFolder().c_str(), "tmpfs", 0, "size=40k") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs privileges); the file-space "
                        "setting stands in for it";
    const ScenarioHost::Result run = scenario.cli(kResetAll);
    EXPECT_EQ(run.status, 1) << run.err;
    // The log, the journal and the failed-records file share the full disk: the run stops at
    // whichever of the first two finds it full first (the failed records are written as the
    // run goes, so the log is not always that one).
    EXPECT_TRUE(contains(run.err, "the run log could not be written") ||
                contains(run.err, "the recovery journal could not be written"))
        << run.err;
    EXPECT_TRUE(contains(run.err, "No space left on device")) << "and says why: " << run.err;
    expectLogIsAnIntactPrefix(lastLog(scenario), run.out);
    if (HasFailure())
        std::cerr << run.out.substr(0, 3000) << run.err;
    // Room again for the recovery's own log.
    const std::string saved = scenario.temp().path() + "/full-logs";
    fs::create_directories(saved);
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder()))
        fs::copy(entry.path(), saved / entry.path().filename());
    ::umount(scenario.logsFolder().c_str());
    for (const auto &entry : fs::directory_iterator(saved))
        fs::copy(entry.path(), fs::path(scenario.logsFolder()) / entry.path().filename(),
                 fs::copy_options::overwrite_existing);
    expectSoundOrRecovered(scenario, before, skipped);
}

// --- the account may only read the database -------------------------------------------------

TEST(ReadOnlyDatabase, TheRunRefusesWithTheSystemsMessageAndChangesNothing) {
    ScenarioHost scenario(kSubscribers, kSeed);
    // CI runs as root, which reads and writes past any mode: the run is made as nobody.
    const ScenarioHost::Result probe = scenario.run("zephrane-sim", "--help",
                                                    "setpriv --reuid=nobody --regid=nogroup "
                                                    "--clear-groups --");
    if (probe.status == -1 || contains(probe.err, "setpriv:"))
        GTEST_SKIP() << "the programs cannot be run as another account here: " << probe.err;
    fs::permissions(scenario.temp().path(), fs::perms::all, fs::perm_options::add);
    for (const auto &entry : fs::recursive_directory_iterator(scenario.temp().path()))
        fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
    fs::permissions(scenario.host() + "/TarvoDb.sqlite",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto before = digestsOf(scenario.host());
    const ScenarioHost::Result run = scenario.run(
        "zephrane-cli", kResetAll, "setpriv --reuid=nobody --regid=nogroup --clear-groups --");
    // Refused before the question, first thing said: nothing was reset, and why.
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_TRUE(contains(run.err, "zephrane-cli: Nothing was reset: the server database cannot be "
                                  "written ("))
        << run.err;
    EXPECT_TRUE(contains(run.err, "Unable to open TarvoDB with necessary rights needed for this "
                                  "tool."))
        << run.err;
    EXPECT_FALSE(contains(run.err, "Restting subscirber mailboxes")) << run.err;
    EXPECT_FALSE(contains(run.err, "Recipient Update Service")) << run.err;
    EXPECT_EQ(run.out, "");
    const auto after = digestsOf(scenario.host());
    for (const auto &[path, digest] : before) {
        if (path.find("TarvoDb.sqlite-") != std::string::npos)
            continue; // SQLite's shared-memory index
        EXPECT_EQ(after.count(path) ? after.at(path) : "", digest) << path;
    }
}

// --- no thread can be started ---------------------------------------------------------------

// The account may start no further process or thread (a process limit of one, as nobody: root
// passes it): the run does the work it would give a thread itself, and ends as a run on a
// machine with threads to spare does.
TEST(NoThreads, TheRunDoesItsWorkItselfAndEndsAsAnyRun) {
    ScenarioHost scenario(kSubscribers, kSeed);
    const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups --";
    const ScenarioHost::Result probe = scenario.run("zephrane-sim", "--help", asNobody);
    if (probe.status == -1 || contains(probe.err, "setpriv:"))
        GTEST_SKIP() << "the programs cannot be run as another account here: " << probe.err;
    ScenarioHost twin(kSubscribers, kSeed);
    const ScenarioHost::Result expected = twin.cli(kResetAll);
    fs::permissions(scenario.temp().path(), fs::perms::all, fs::perm_options::add);
    for (const auto &entry : fs::recursive_directory_iterator(scenario.temp().path()))
        fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
    // The leak check at the program's end needs a thread of its own.
    const ScenarioHost::Result run =
        scenario.run("zephrane-cli", kResetAll,
                     asNobody + " env ASAN_OPTIONS=detect_leaks=0 prlimit --nproc=1 --");
    EXPECT_EQ(run.status, expected.status) << run.err;
    EXPECT_FALSE(contains(run.err, "terminate")) << run.err;
    EXPECT_TRUE(contains(run.err, "Subscriber mailbox reset process complete")) << run.err;
    auto counts = [](const std::string &err) {
        std::smatch match;
        static const std::regex closing("reset (\\d+) subscribers reset\\.  (\\d+) error");
        return std::regex_search(err, match, closing) ? match.str(0) : std::string("none");
    };
    EXPECT_EQ(counts(run.err), counts(expected.err));
    EXPECT_NE(counts(run.err), "none") << run.err;
    EXPECT_EQ(checkHost(scenario), "");
}

// --- the host folder vanishes ------------------------------------------------------------------

struct VanishCase {
    const char *name;
    const char *step; // the vanish-after setting
};

class HostVanishes : public testing::TestWithParam<VanishCase> {};

TEST_P(HostVanishes, TheRunStopsAndNothingIsResetBlind) {
    ScenarioHost scenario(kSubscribers, kSeed);
    const std::set<std::string> skipped = skippedByANormalRun(scenario);
    const auto before = subscribers(scenario.host());
    scenario.set("vanish-after", GetParam().step);
    const ScenarioHost::Result run = scenario.cli(kResetAll);
    const std::string away = scenario.host() + ".vanished";
    ASSERT_TRUE(fs::exists(away)) << run.err;
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(contains(run.err, "the run stopped before resetting every subscriber")) << run.err;
    // Once the server is gone, no subscriber goes further than its checks.
    const std::vector<std::string> out = lines(run.out);
    std::size_t removalsAfter = 0;
    bool gone = false;
    for (const std::string &line : out) {
        gone = gone || contains(line, "no longer there") || contains(line, "cannot be opened");
        removalsAfter += gone && line == "    Removing subscriber from SQL";
    }
    EXPECT_EQ(removalsAfter, 0u) << run.out;
    fs::rename(away, scenario.host());
    scenario.set("vanish-after", "");
    expectSoundOrRecovered(scenario, before, skipped);
}

INSTANTIATE_TEST_SUITE_P(Steps, HostVanishes,
                         testing::Values(VanishCase{"BeforeTheRemoval", "mailbox#3"},
                                         VanishCase{"AfterTheCreation", "write-back#2"},
                                         VanishCase{"InTheFixUps", "fixup-8#2"},
                                         VanishCase{"BetweenSubscribers", "finished#2"}),
                         [](const testing::TestParamInfo<VanishCase> &param) {
                             return std::string(param.param.name);
                         });

// --- the dry run foresees the real run's errors -------------------------------------------------

int errorsOf(const ScenarioHost::Result &run) {
    std::smatch match;
    static const std::regex count("(\\d+) error\\(s\\) encountered");
    return std::regex_search(run.err, match, count) ? std::stoi(match[1]) : -1;
}

TEST(DryRunForesight, TheDryRunCountsTheRealRunsErrorsForEveryTemplate) {
    ScenarioHost templates(kSubscribers, kSeed);
    const ScenarioHost::Result list = templates.cli("--list-templates");
    ASSERT_EQ(list.status, 0) << list.err;
    std::vector<std::string> aliases;
    const std::vector<std::string> rows = lines(list.out);
    for (std::size_t i = 1; i < rows.size(); ++i) // after the header
        if (!rows[i].empty())
            aliases.push_back(rows[i].substr(0, rows[i].find('\t')));
    ASSERT_GE(aliases.size(), 2u);
    for (const std::string &alias : aliases) {
        ScenarioHost scenario(kSubscribers, kSeed);
        const std::string reset = "--template " + alias + " --all --skip-dl-sync --yes";
        const ScenarioHost::Result dry = scenario.cli(reset + " --dry-run");
        const ScenarioHost::Result real = scenario.cli(reset);
        EXPECT_EQ(errorsOf(dry), errorsOf(real)) << alias << "\n" << dry.out << "\n" << real.out;
        EXPECT_GT(errorsOf(dry), 0) << alias;
    }
}

} // namespace
