// The programs on the stand-in server reached over TDS: zephrane-sim serve as a real process,
// unixODBC and FreeTDS's driver as an administrator's machine has them.
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/odbc/OdbcDatabase.h"
#include "platform/sqlite/RunLockFile.h"
#include "scenario_helpers.h"
#include "standin/SimHost.h"
#include "tds_helpers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <netinet/in.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

using namespace zeph;
using namespace zeph::test;

namespace {

const char *kProgramText = "Driver={SQL Server};server=;database=TarvoDb";

class CliTds : public ::testing::Test {
protected:
    void SetUp() override {
        if (!freeTdsInstalled())
            GTEST_SKIP() << "FreeTDS's ODBC driver is not registered as \"SQL Server\"";
    }
    Error errorOf(const std::function<void()> &work) {
        try {
            work();
        } catch (const Error &e) {
            return e;
        }
        ADD_FAILURE() << "no error";
        return Error(0, "");
    }
    ScenarioHost m_host{24, 5};
};

TEST_F(CliTds, ListingsCriteriaListsAndADryRunReadAsOnTheEmbeddedDatabase) {
    const std::string csv = m_host.temp().path() + "/list.csv";
    auto first = m_host.cli("--all --list");
    ASSERT_EQ(first.status, 0) << first.err;
    const auto rows = lines(first.out);
    ASSERT_GE(rows.size(), 3u);
    { std::ofstream(csv) << "alias,extension\n" << fields(rows[1])[0] << ",\nnobody,1\n"; }
    const std::vector<std::string> runs = readingRuns(csv);
    const auto embedded = runEach(m_host, runs);
    const Dump before = dumpServer(m_host.host(), nullptr);
    ServedHost served(m_host);
    m_host.useDatabase(served.connectionText());
    EXPECT_EQ(printedDifference(runs, embedded, runEach(m_host, runs)), "");
    // Reading over the server changed nothing in its database.
    EXPECT_EQ(difference(before, dumpServer(m_host.host(), nullptr)), "");
}

TEST_F(CliTds, OnlyTheHostsSqlLoginWithItsPasswordIsAccepted) {
    ServedHost served(m_host, "--verbose");
    struct Case {
        std::string text;
        bool accepted;
    };
    const std::string good = served.connectionText();
    const Case cases[] = {
        {good, true},
        {served.connectionText("wrong"), false},
        {served.connectionText(""), false},
        {std::regex_replace(good, std::regex("UID=zephrane"), "UID=sa"), false},
        {std::regex_replace(good, std::regex("Database=TarvoDb"), "Database=master"), false},
    };
    for (const auto &c : cases) {
        m_host.useDatabase(c.text);
        auto r = m_host.cli("--all --list");
        EXPECT_EQ(r.status == 0, c.accepted) << c.text << "\n" << r.err;
    }
    EXPECT_TRUE(contains(served.output(), "login refused: Login failed for user 'zephrane'."))
        << served.output();
    EXPECT_TRUE(contains(served.output(), "login refused: Login failed for user 'sa'."));
    EXPECT_TRUE(contains(served.output(), "login refused: Cannot open database \"master\""));
    EXPECT_TRUE(contains(served.output(), "login zephrane from "));
}

TEST_F(CliTds, AStatementTheServerDoesNotRunIsAnErrorNeverASuccess) {
    ServedHost served(m_host);
    auto db = odbc::makeDatabase(served.connectionText());
    auto conn = db->connect(kProgramText);
    const std::string refused[] = {
        "PRAGMA table_info(Subscriber)",
        "ATTACH DATABASE 'x.db' AS x",
        "SELECT name FROM sqlite_schema",
        "SELECT * FROM pragma_table_info('Subscriber')",
        "SELECT Alias FROM Subscriber LIMIT 1",
        "SELECT length(Alias) FROM Subscriber",
        "SELECT @@VERSION",
        "SELECT Alias FROM Subscriber WHERE Alias = @Undeclared",
        "SET SHOWPLAN_ALL ON",
        "EXEC sp_NoSuchProcedure",
        "VACUUM",
    };
    for (const auto &sql : refused) {
        Error e = errorOf([&] { conn->query(sql, {}, false); });
        EXPECT_NE(e.number(), 0) << sql;
        EXPECT_FALSE(e.description().empty()) << sql;
    }
    // The connection still serves what the server understands.
    DbRowSet rows = conn->query("SELECT count(*) AS n FROM Subscriber WHERE Alias <> ?",
                                {DbValue(std::string("nobody"))}, true);
    ASSERT_EQ(rows.rows.size(), 1u);
    EXPECT_GT(std::get<std::int64_t>(rows.rows[0][0]), 0);
}

TEST_F(CliTds, FailuresComeBackInSqlServersWords) {
    ServedHost served(m_host);
    auto db = odbc::makeDatabase(served.connectionText());
    auto conn = db->connect(kProgramText);
    const std::string alias = std::get<std::string>(
        conn->query("SELECT Alias FROM Subscriber ORDER BY Alias", {}, true).rows.at(0).at(0));
    const Dump before = dumpServer(m_host.host(), nullptr);
    struct Case {
        std::string sql;
        std::string words;
    };
    const Case cases[] = {
        {"SELECT * FROM NoSuchTable", "Invalid object name 'NoSuchTable'."},
        {"SELECT NoSuchColumn FROM Subscriber", "Invalid column name 'NoSuchColumn'."},
        {"EXEC sp_NoSuchProcedure", "Could not find stored procedure 'sp_NoSuchProcedure'."},
        {"SELECT 1 / (SubscriberType - SubscriberType) FROM Subscriber",
         "Divide by zero error encountered."},
        {"SELECT Alias + 1 FROM Subscriber",
         "Conversion failed when converting the varchar value '"},
        {"SELECT CAST('2024-02-30' AS datetime)",
         "The conversion of a varchar data type to a datetime data type resulted in an "
         "out-of-range value."},
        {"SELECT length(Alias) FROM Subscriber",
         "'length' is not a recognized built-in function name."},
        {"INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) "
         "VALUES ('{00000000-0000-0000-0000-00000000000A}', NULL, 1)",
         "Cannot insert the value NULL into column 'Alias', table 'TarvoDb.dbo.Subscriber'; "
         "column does not allow nulls. INSERT fails."},
        {"INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) "
         "SELECT SubscriberObjectID, 'another-" +
             alias + "', 1 FROM Subscriber WHERE Alias = '" + alias + "'",
         "Violation of PRIMARY KEY constraint 'PK_Subscriber'. Cannot insert duplicate key in "
         "object 'dbo.Subscriber'."},
    };
    for (const Case &c : cases) {
        const Error e = errorOf([&] { conn->query(c.sql, {}, false); });
        EXPECT_NE(e.description().find(c.words), std::string::npos) << c.sql << "\n"
                                                                    << e.description();
    }
    EXPECT_EQ(difference(before, dumpServer(m_host.host(), nullptr)), "");

    // With SQL Server's numbers, as FreeTDS's own client shows them.
    const std::string script = m_host.temp().path() + "/batches.sql";
    std::ofstream(script) << "SELECT * FROM NoSuchTable\ngo\nEXEC sp_NoSuchProcedure\ngo\n"
                             "SELECT 1 / 0\ngo\nSELECT nosuch(1)\ngo\nSELECT 1 +\ngo\n"
                             "SELECT CAST('2030-01-01' AS datetime), 'a' + 'b', 0x414243\ngo\n";
    const std::string out = m_host.temp().path() + "/tsql.out";
    const std::string command = "TDSVER=7.4 tsql -H 127.0.0.1 -p " + std::to_string(served.port()) +
                                " -U zephrane -P " + ServedHost::kPassword + " < " + script +
                                " > " + out + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()) == -1, false);
    const std::string shown = readAll(out);
    for (const char *number : {"Msg 208 ", "Msg 2812 ", "Msg 8134 ", "Msg 195 ", "Msg 102 "})
        EXPECT_NE(shown.find(number), std::string::npos) << number << "\n" << shown;
    EXPECT_NE(shown.find("2030-01-01 00:00:00.000"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\tab\t"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("tsql_"), std::string::npos) << shown; // an expression has no name
}

TEST_F(CliTds, TwoClientsAtOnceEachWithItsOwnSessionAndOneRunLock) {
    ServedHost served(m_host);
    auto first = odbc::makeDatabase(served.connectionText());
    auto second = odbc::makeDatabase(served.connectionText());
    auto a = first->connect(kProgramText);
    auto b = second->connect(kProgramText);
    const std::string alias = std::get<std::string>(
        a->query("SELECT Alias FROM Subscriber ORDER BY Alias", {}, true).rows.at(0).at(0));
    std::string heldBy;
    auto lock = first->takeRunLock(kProgramText, "first", heldBy);
    ASSERT_TRUE(lock);
    // The other client, and an embedded run on the same host, find the run lock taken.
    EXPECT_FALSE(second->takeRunLock(kProgramText, "second", heldBy));
    EXPECT_FALSE(heldBy.empty());
    std::string embeddedHeldBy;
    EXPECT_FALSE(
        sqlite::takeRunLockFile(sim::databasePath(m_host.host()), "embedded", embeddedHeldBy));
    EXPECT_TRUE(contains(embeddedHeldBy, "zephrane-sim serve")) << embeddedHeldBy;
    // Both sessions read and write side by side.
    for (int i = 0; i < 5; ++i) {
        auto rowsA = a->query("SELECT Alias, FirstName FROM Subscriber WHERE Alias = ?",
                              {DbValue(alias)}, false);
        ASSERT_EQ(rowsA.rows.size(), 1u);
        b->updateRow("Subscriber", {"Alias"}, {DbValue(alias)}, {"FirstName"},
                     {DbValue("Name " + std::to_string(i))});
        auto rowsB =
            a->query("SELECT FirstName FROM Subscriber WHERE Alias = ?", {DbValue(alias)}, true);
        EXPECT_EQ(rowsB.rows.at(0).at(0), DbValue("Name " + std::to_string(i)));
    }
    // Let go: the server ends the lock's session, and the embedded run may take it.
    lock.reset();
    std::unique_ptr<IRunLock> embedded;
    EXPECT_TRUE(waitUntil([&] {
        return (embedded = sqlite::takeRunLockFile(sim::databasePath(m_host.host()), "embedded",
                                                   embeddedHeldBy)) != nullptr;
    }));
    EXPECT_FALSE(second->takeRunLock(kProgramText, "second", heldBy));
}

// The run proves the rights it uses before its first change, and nothing more: EXECUTE on the
// procedures it calls, UPDATE and INSERT on the tables it changes, each asked or tried without
// a change; no table is made.
TEST_F(CliTds, TheRightsProbeAsksForTheRightsTheRunUsesAndMakesNothing) {
    ServedHost served(m_host, "--verbose");
    auto db = odbc::makeDatabase(served.connectionText());
    auto conn = db->connect(kProgramText);
    struct Grant {
        const char *object;
        const char *kind;
        const char *permission;
        DbValue granted;
    };
    const DbValue yes = std::int64_t{1};
    const Grant grants[] = {
        {"sp_DeleteSubscriber", "OBJECT", "EXECUTE", yes},
        {"dbo.sp_SqlDirectorySync", "OBJECT", "EXECUTE", yes},
        {"Subscriber", "OBJECT", "UPDATE", yes},
        {"vw_Subscriber", "OBJECT", "SELECT", yes},
        {"DTMFAccessID", "object", "insert", yes},
        {"sp_NoSuchProcedure", "OBJECT", "EXECUTE", DbValue()},
        {"NoSuchTable", "OBJECT", "UPDATE", DbValue()},
        {"Subscriber", "OBJECT", "FLY", DbValue()},
        {"TarvoDb", "DATABASE", "CREATE TABLE", DbValue()},
    };
    for (const Grant &g : grants) {
        DbRowSet rows = conn->query("SELECT HAS_PERMS_BY_NAME(?, ?, ?) AS granted",
                                    {DbValue(std::string(g.object)), DbValue(std::string(g.kind)),
                                     DbValue(std::string(g.permission))},
                                    true);
        ASSERT_EQ(rows.rows.size(), 1u) << g.object;
        EXPECT_EQ(rows.rows[0][0], g.granted) << g.object << " " << g.permission;
    }
    struct Probe {
        std::vector<DbRight> rights;
        std::string refusal; // empty: proved
    };
    const Probe probes[] = {
        {{{"sp_CreateSubscriber", "EXECUTE"}, {"Subscriber", "UPDATE"}, {"DTMFAccessID", "INSERT"}},
         ""},
        {{{"sp_NoSuchProcedure", "EXECUTE"}}, "Could not find stored procedure"},
        {{{"NoSuchTable", "UPDATE"}}, "NoSuchTable"},
        {{{"Subscriber; DROP TABLE Subscriber", "UPDATE"}}, "Invalid object name"},
    };
    const Dump before = dumpServer(m_host.host(), nullptr);
    for (const Probe &p : probes) {
        if (p.refusal.empty()) {
            EXPECT_NO_THROW(conn->proveRights(p.rights));
        } else {
            Error e = errorOf([&] { conn->proveRights(p.rights); });
            EXPECT_TRUE(contains(e.description(), p.refusal)) << e.description();
        }
    }
    // A dry run over the server proves the run's rights as a reset does, and changes nothing.
    m_host.useDatabase(served.connectionText());
    auto dry = m_host.cli("--template defaultTemplate --all --dry-run");
    EXPECT_EQ(dry.status, 1) << dry.err;
    EXPECT_FALSE(contains(dry.out, "cannot be written")) << dry.out;
    EXPECT_EQ(difference(before, dumpServer(m_host.host(), nullptr)), "");
    const std::string log = served.output();
    EXPECT_FALSE(contains(lowerAscii(log), "create table")) << log;
    // EXECUTE asked once for each procedure of the two probes above and the run's five.
    std::size_t asked = 0;
    const std::string ask = "HAS_PERMS_BY_NAME(@P1, 'OBJECT', 'EXECUTE')";
    for (std::size_t at = log.find(ask); at != std::string::npos; at = log.find(ask, at + 1))
        ++asked;
    EXPECT_EQ(asked, 7u) << log;
    EXPECT_TRUE(contains(log, "UPDATE \"Subscriber\" SET")) << log;
    EXPECT_TRUE(contains(log, "INSERT INTO \"DTMFAccessID\"")) << log;
}

// Bytes of a packet that never ends, then the connection is gone.
void dropMidPacket(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const char half[] = {0x12, 0x01, 0x00, 0x40, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    ASSERT_EQ(::send(fd, half, sizeof half, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof half));
    ::close(fd);
}

TEST_F(CliTds, AClientThatGoesAwayMidStatementOrMidRunLeavesNothingHeld) {
    ServedHost served(m_host, "--verbose");
    dropMidPacket(served.port());
    // A run killed while it holds the run lock and a transaction: the server ends its session.
    m_host.useDatabase(served.connectionText());
    Process run = m_host.start("zephrane-cli", "--template defaultTemplate --all --yes");
    ASSERT_TRUE(waitUntil([&] { return contains(served.output(), "sp_DeleteSubscriber"); }))
        << served.output();
    m_host.kill(run);
    auto db = odbc::makeDatabase(served.connectionText());
    std::string heldBy;
    std::unique_ptr<IRunLock> lock;
    EXPECT_TRUE(waitUntil(
        [&] { return (lock = db->takeRunLock(kProgramText, "next", heldBy)) != nullptr; }));
    lock.reset();
    // The recovery of the killed run over the server puts every subscriber back.
    auto recovered = m_host.cli("--recover --yes");
    EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
    m_host.useDatabase("");
    auto check = m_host.run("zephrane-sim", "check " + shellQuoted(m_host.host()));
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_TRUE(contains(served.output(), "ended: ") || contains(served.output(), "closed"));
}

} // namespace

namespace {

// A sync ticket's times come from the clock of the process that runs the server's procedures:
// the program itself when the server is in process, zephrane-sim serve over TDS. With virtual
// time, each clock moves only with its own process's waits.
Dump withoutTicketTimes(Dump dump) {
    static const std::regex times(R"((Created|Completed)=[^|]*)");
    for (auto &[table, rows] : dump) {
        Rows masked;
        for (const auto &row : rows)
            masked.insert(std::regex_replace(row, times, "$1=<time>"));
        rows = std::move(masked);
    }
    return dump;
}

struct ResetCase {
    const char *args;
    const char *directorySync;
};

class ResetBothWays : public ::testing::TestWithParam<ResetCase> {};

// The same host reset in process and over the server: the same run, the same database after.
TEST_P(ResetBothWays, ARunOverTheServerEqualsTheEmbeddedRun) {
    if (!freeTdsInstalled())
        GTEST_SKIP() << "FreeTDS's ODBC driver is not registered as \"SQL Server\"";
    ScenarioHost embedded(20, 9);
    ScenarioHost overTds(20, 9);
    for (const ScenarioHost *host : {&embedded, &overTds})
        host->set("directory-sync", GetParam().directorySync);
    const std::set<std::string> known = idsOf(embedded.host());
    const std::string args =
        std::string("--template defaultTemplate --all --yes ") + GetParam().args;
    auto inProcess = embedded.cli(args);
    ServedHost served(overTds);
    overTds.useDatabase(served.connectionText());
    auto remote = overTds.cli(args);
    served.kill();
    EXPECT_EQ(remote.status, inProcess.status) << remote.err;
    auto in = [](const std::string &text, const ScenarioHost &host) {
        return maskedTimes(std::regex_replace(text, std::regex(host.temp().path()), "<temp>"));
    };
    EXPECT_EQ(in(remote.out, overTds), in(inProcess.out, embedded));
    EXPECT_EQ(in(remote.err, overTds), in(inProcess.err, embedded));
    EXPECT_EQ(difference(withoutTicketTimes(dumpServer(embedded.host(), &known)),
                         withoutTicketTimes(dumpServer(overTds.host(), &known))),
              "");
    EXPECT_EQ(filesOf(embedded.host()), filesOf(overTds.host()));
}

// An advanced search that would run for hours: six copies of the subscribers joined.
const char *kLongSearch =
    "WHERE Alias IN (SELECT a.Alias FROM Subscriber a, Subscriber b, Subscriber c, "
    "Subscriber d, Subscriber e, Subscriber f WHERE a.FirstName + b.FirstName + c.FirstName + "
    "d.FirstName + e.FirstName + f.FirstName = 'x')";

// A search over the server reads without stopping a writer: a reset over the server beside it
// runs as it runs alone; a search stopped by its time limit, or whose program went away,
// stops inside the server too.
TEST(CliTdsReaders, AResetBesideALongSearchFinishesAndAStoppedSearchStopsInTheServer) {
    if (!freeTdsInstalled())
        GTEST_SKIP() << "FreeTDS's ODBC driver is not registered as \"SQL Server\"";
    ScenarioHost alone(20, 9);
    ScenarioHost beside(20, 9);
    const std::string args = "--template defaultTemplate --all --yes";
    auto expected = alone.cli(args);
    ServedHost served(beside, "--verbose");
    beside.useDatabase(served.connectionText());
    auto interrupted = [&] {
        static const std::regex line(R"(session \d+: error \d+: interrupted)");
        const std::string out = served.output();
        return std::distance(std::sregex_iterator(out.begin(), out.end(), line),
                             std::sregex_iterator());
    };

    Process search = beside.start("zephrane-cli", "--where " + shellQuoted(kLongSearch) +
                                                      " --list "
                                                      "--query-timeout 0");
    ASSERT_TRUE(waitUntil([&] { return contains(served.output(), "a.FirstName + b.FirstName"); }))
        << served.output();
    auto reset = beside.cli(args);
    EXPECT_EQ(reset.status, expected.status) << reset.err;
    EXPECT_FALSE(contains(reset.out + reset.err, "locked")) << reset.out;
    EXPECT_FALSE(contains(reset.err, "necessary rights")) << reset.err;
    auto in = [](const std::string &text, const ScenarioHost &host) {
        return maskedTimes(std::regex_replace(text, std::regex(host.temp().path()), "<temp>"));
    };
    EXPECT_EQ(in(reset.out, beside), in(expected.out, alone));
    EXPECT_EQ(interrupted(), 0) << "the search was still running";
    // The search's program goes away: the server stops its statement.
    beside.kill(search);
    EXPECT_TRUE(waitUntil([&] { return interrupted() == 1; })) << served.output();

    // A search stopped by its time limit is cancelled, and the server stops it.
    auto timed = beside.cli("--where " + shellQuoted(kLongSearch) + " --list --query-timeout 1");
    EXPECT_EQ(timed.status, 2);
    EXPECT_TRUE(contains(timed.err, "time limit of 1 second")) << timed.err;
    EXPECT_TRUE(waitUntil([&] { return interrupted() == 2; })) << served.output();
    EXPECT_TRUE(contains(served.output(), "cancel seen")) << served.output();
    // The session of a cancelled statement goes on: the same connection answers again.
    auto db = odbc::makeDatabase(served.connectionText());
    auto conn = db->connect(kProgramText);
    DbQueryLimits limits;
    limits.timeoutSeconds = 1;
    EXPECT_THROW(
        conn->queryWithin("SELECT vw_Subscriber.* FROM vw_Subscriber " + std::string(kLongSearch),
                          {}, limits),
        Error);
    EXPECT_EQ(conn->query("SELECT count(*) AS n FROM Subscriber", {}, true).rows.size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return interrupted() == 3; })) << served.output();
    served.kill();
    auto check = beside.run("zephrane-sim", "check " + shellQuoted(beside.host()));
    EXPECT_EQ(check.status, 0) << check.out;
}

// Disk syncs counted by strace in every process of a command and its children.
struct SyncCounter {
    explicit SyncCounter(std::string file)
        : path(std::move(file)) {}
    std::string wrapper() const {
        return "strace -f -c --seccomp-bpf -e trace=fsync,fdatasync,sync_file_range,msync -o " +
               shellQuoted(path);
    }
    /// The calls of the summary's "total" line (its 4th field); -1 when there is none.
    long syncs() const {
        std::istringstream text(readAll(path));
        for (std::string line; std::getline(text, line);) {
            std::istringstream fields(line);
            std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
            if (words.size() >= 5 && words.back() == "total")
                return std::stol(words[3]);
        }
        return -1;
    }
    std::string path;
};

bool straceWorks() {
    return runCommand("strace -f -c --seccomp-bpf -e trace=fsync -o /dev/null true 2>/dev/null")
               .status == 0;
}

// The disk is waited for as often over the server as in process: each changing step is one
// transaction of the server's, and the server's log reaches the disk at the run's own durable
// points (sys.sp_flush_log), not at every commit.
TEST(CliTdsSyncs, AResetOverTheServerSyncsTheDiskAtMostEightTimesASubscriberInAll) {
    if (!freeTdsInstalled())
        GTEST_SKIP() << "FreeTDS's ODBC driver is not registered as \"SQL Server\"";
    if (!straceWorks())
        GTEST_SKIP() << "strace cannot trace processes here";
    ScenarioHost host(20, 7);
    host.set("virtual-time", "on");
    const SyncCounter server(host.temp().path() + "/serve.strace");
    const SyncCounter program(host.temp().path() + "/cli.strace");
    ServedHost served(host, "", server.wrapper());
    host.useDatabase(served.connectionText());
    auto run =
        host.run("zephrane-cli", "--template defaultTemplate --all --yes", program.wrapper());
    served.stop();
    ASSERT_NE(run.status, 2) << run.err;
    long subscribers = 0;
    for (std::size_t at = run.out.find("** Resetting Subscriber **"); at != std::string::npos;
         at = run.out.find("** Resetting Subscriber **", at + 1))
        ++subscribers;
    ASSERT_GT(subscribers, 10) << run.out;
    const long serverSyncs = server.syncs();
    const long programSyncs = program.syncs();
    ASSERT_GE(serverSyncs, 0) << readAll(server.path);
    ASSERT_GE(programSyncs, 0) << readAll(program.path);
    // The server made the run's changes lasting at least once a subscriber.
    EXPECT_GE(serverSyncs, subscribers / 2) << readAll(server.path);
    EXPECT_LE(serverSyncs + programSyncs, 8 * subscribers)
        << "server " << serverSyncs << ", program " << programSyncs << ", " << subscribers
        << " subscribers";
    // Nothing the run did is lost with the server's end.
    auto check = host.run("zephrane-sim", "check " + shellQuoted(host.host()));
    EXPECT_EQ(check.status, 0) << check.out;
}

INSTANTIATE_TEST_SUITE_P(CliTds, ResetBothWays,
                         ::testing::Values(ResetCase{"", "ok"},
                                           ResetCase{"--preserve-alternate-extensions", "ok"},
                                           ResetCase{"", "fail"}, ResetCase{"", "never"}),
                         [](const ::testing::TestParamInfo<ResetCase> &each) {
                             return std::string(each.param.args[0] ? "PreservedExtensions"
                                                                   : "Defaults") +
                                    "_DirectorySync_" + each.param.directorySync;
                         });

} // namespace

namespace {

class CliTdsFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (!freeTdsInstalled())
            GTEST_SKIP() << "FreeTDS's ODBC driver is not registered as \"SQL Server\"";
    }
    ScenarioHost m_host{16, 21};
};

// The server's process killed while a run goes on over it: the run stops with errors instead of
// hanging or calling it done, and once the server is back the recovery puts everything right.
TEST_F(CliTdsFaults, AServerKilledMidRunStopsTheRunAndTheRecoveryFinishesItsWork) {
    Process run;
    {
        ServedHost served(m_host, "--verbose");
        m_host.useDatabase(served.connectionText());
        run = m_host.start("zephrane-cli", "--template defaultTemplate --all --yes");
        ASSERT_TRUE(waitUntil([&] { return contains(served.output(), "sp_CreateSubscriber"); }))
            << served.output();
        served.kill();
    }
    const auto stopped = m_host.finish(run);
    EXPECT_NE(stopped.status, 0) << stopped.out;
    EXPECT_TRUE(contains(stopped.out, "(error)")) << stopped.out;

    ServedHost again(m_host);
    m_host.useDatabase(again.connectionText());
    auto recovered = m_host.cli("--recover --yes");
    EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
    again.kill();
    auto check = m_host.run("zephrane-sim", "check " + shellQuoted(m_host.host()));
    EXPECT_EQ(check.status, 0) << check.out;
}

// The advanced search's statements over the server: every write attempt is refused and leaves
// the database as it was.
TEST_F(CliTdsFaults, EveryWriteAttemptOfAReadOnlyQueryLeavesTheDatabaseUnchanged) {
    ServedHost served(m_host);
    const Dump before = dumpServer(m_host.host(), nullptr);
    auto db = odbc::makeDatabase(served.connectionText());
    auto conn = db->connect(kProgramText);
    const char *writes[] = {
        "UPDATE Subscriber SET FirstName = 'x'",
        "DELETE FROM DTMFAccessID",
        "INSERT INTO DTMFAccessID (DTMFAccessID) VALUES ('1')",
        "CREATE TABLE zeph_Sneaky (x INT)",
        "EXEC sp_DeleteSubscriber @SubscriberObjectID = NULL",
    };
    for (const char *sql : writes) {
        EXPECT_THROW(conn->query(sql, {}, true), Error) << sql;
        // Refused, and the server and the session still answer.
        EXPECT_NO_THROW(conn->query("SELECT count(*) AS n FROM Subscriber", {}, true)) << sql;
    }
    // A write behind a read: the reading is answered, the writing taken back with the
    // transaction the query runs in.
    try {
        conn->query("SELECT 1 AS one; DELETE FROM Subscriber", {}, true);
    } catch (const Error &) {
    }
    served.kill();
    EXPECT_EQ(difference(before, dumpServer(m_host.host(), nullptr)), "");
}

// Each argument of each of the server's procedures given as NULL, the others as a reset gives
// them: what the procedure cannot do without is refused with an error, the rest is done as
// with the argument left out, and the server and the session go on either way.
TEST_F(CliTdsFaults, EveryProcedureGivenNullForAnyArgumentAnswersAndTheSessionGoesOn) {
    ServedHost served(m_host);
    auto db = odbc::makeDatabase(served.connectionText());
    auto conn = db->connect(kProgramText);
    const DbRowSet subscribers = conn->query(
        "SELECT SubscriberObjectID FROM Subscriber WHERE Undeletable = 0 ORDER BY Alias", {}, true);
    std::size_t nextSubscriber = 0;
    int nextNumber = 0;
    auto guid = [&] {
        const std::string n = std::to_string(++nextNumber);
        return "{0A0A0A0A-0000-4000-8000-" + std::string(12 - n.size(), '0') + n + "}";
    };
    auto subscriber = [&]() -> DbValue { return subscribers.rows.at(nextSubscriber++).at(0); };
    using T = DbParamType;
    // Every argument of a call with real values, made anew for each case.
    const std::map<std::string, std::function<std::vector<DbParam>()>> calls = {
        {"sp_DeleteSubscriber",
         [&]() -> std::vector<DbParam> {
             return {{"@SubscriberObjectID", T::Guid, subscriber()},
                     {"@DirectorySync", T::Integer, std::int64_t{1}},
                     {"@ForceRemove", T::Integer, std::int64_t{0}},
                     {"@DirectorySyncTicket", T::Guid, guid()}};
         }},
        {"sp_CreateSubscriber",
         [&]() -> std::vector<DbParam> {
             const std::string n = std::to_string(++nextNumber);
             return {{"@Alias", T::Text, "nulls" + n},
                     {"@DtmfAccessId", T::Text, "77" + n},
                     {"@templateAlias", T::Text, std::string("defaultTemplate")},
                     {"@SubscriberType", T::Integer, std::int64_t{1}},
                     {"@Undeletable", T::Integer, std::int64_t{0}},
                     {"@DisplayName", T::Text, "Nulls " + n},
                     {"@DirectoryID", T::Guid, guid()},
                     {"@Uid", T::Text, "uid" + n},
                     {"@FirstName", T::Text, std::string("Null")},
                     {"@LastName", T::Text, "Case" + n},
                     {"@DirectorySync", T::Integer, std::int64_t{1}},
                     {"@DirectorySyncTicket", T::Guid, guid()}};
         }},
        {"sp_ModifySubscriber",
         [&]() -> std::vector<DbParam> {
             return {{"@SubscriberObjectID", T::Guid, subscriber()},
                     {"@DirectorySyncTicket", T::Guid, guid()},
                     {"@DirectorySync", T::Integer, std::int64_t{1}}};
         }},
        {"sp_DeleteDirectorySyncTicket",
         [&]() -> std::vector<DbParam> {
             return {{"@Ticket", T::Guid, guid()}};
         }},
        {"sp_SqlDirectorySync",
         [&]() -> std::vector<DbParam> {
             return {{"@SyncDistributionList", T::Integer, std::int64_t{1}}};
         }},
    };
    struct Case {
        const char *procedure;
        const char *argument;
        bool refused;
    };
    const Case cases[] = {
        {"sp_DeleteSubscriber", "@SubscriberObjectID", true},
        {"sp_DeleteSubscriber", "@DirectorySync", false},
        {"sp_DeleteSubscriber", "@ForceRemove", false},
        {"sp_DeleteSubscriber", "@DirectorySyncTicket", false},
        {"sp_CreateSubscriber", "@Alias", true},
        {"sp_CreateSubscriber", "@DtmfAccessId", true},
        {"sp_CreateSubscriber", "@templateAlias", false}, // the default template
        {"sp_CreateSubscriber", "@SubscriberType", true}, // the column takes no NULL
        {"sp_CreateSubscriber", "@Undeletable", false},
        {"sp_CreateSubscriber", "@DisplayName", false},
        {"sp_CreateSubscriber", "@DirectoryID", false},
        {"sp_CreateSubscriber", "@Uid", false},
        {"sp_CreateSubscriber", "@FirstName", false},
        {"sp_CreateSubscriber", "@LastName", false},
        {"sp_CreateSubscriber", "@DirectorySync", false},
        {"sp_CreateSubscriber", "@DirectorySyncTicket", false},
        {"sp_ModifySubscriber", "@SubscriberObjectID", true},
        {"sp_ModifySubscriber", "@DirectorySyncTicket", false},
        {"sp_ModifySubscriber", "@DirectorySync", false},
        {"sp_DeleteDirectorySyncTicket", "@Ticket", true},
        {"sp_SqlDirectorySync", "@SyncDistributionList", false},
    };
    std::map<std::string, int> covered;
    for (const Case &c : cases) {
        std::vector<DbParam> args = calls.at(c.procedure)();
        auto null = std::find_if(args.begin(), args.end(),
                                 [&](const DbParam &a) { return a.name == c.argument; });
        ASSERT_NE(null, args.end()) << c.procedure << " " << c.argument;
        null->value = DbValue();
        ++covered[c.procedure];
        const std::string what = std::string(c.procedure) + " " + c.argument + " = NULL";
        try {
            conn->callProcedure(c.procedure, args);
            EXPECT_FALSE(c.refused) << what << ": done";
        } catch (const Error &e) {
            EXPECT_TRUE(c.refused) << what << ": " << e.description();
            // An error of the server's, not a failure of the connection or the memory.
            EXPECT_NE(e.number(), 0) << what;
            EXPECT_FALSE(contains(e.description(), "insufficient system memory")) << what;
            EXPECT_FALSE(contains(e.description(), "link")) << what << ": " << e.description();
        }
        // The session goes on.
        ASSERT_NO_THROW(conn->query("SELECT count(*) AS n FROM Subscriber", {}, true)) << what;
    }
    // Every argument of every procedure had its case.
    for (const auto &[procedure, make] : calls)
        EXPECT_EQ(covered[procedure], static_cast<int>(make().size())) << procedure;
    auto ended = served.kill();
    EXPECT_FALSE(contains(ended.err, "AddressSanitizer")) << ended.err;
    EXPECT_FALSE(contains(ended.err, "runtime error")) << ended.err;
}

TEST_F(CliTdsFaults, InitMakesASqlLoginWithARandomPasswordThatShowLists) {
    auto shown = m_host.run("zephrane-sim", "show " + shellQuoted(m_host.host()));
    ASSERT_EQ(shown.status, 0);
    static const std::regex password(R"(sql-password = ([0-9a-f]{20})\n)");
    std::smatch match;
    EXPECT_TRUE(std::regex_search(shown.out, match, password)) << shown.out;
    EXPECT_TRUE(contains(shown.out, "sql-login = zephrane")) << shown.out;
    ScenarioHost other(4, 21);
    auto otherShown = other.run("zephrane-sim", "show " + shellQuoted(other.host()));
    EXPECT_FALSE(contains(otherShown.out, match[1].str())) << "two hosts, one password";
    // A host without a password serves no one.
    other.set("sql-password", "");
    auto refused = other.run("zephrane-sim", "serve " + shellQuoted(other.host()) + " --port 0");
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, "has no SQL password")) << refused.err;
}

} // namespace
