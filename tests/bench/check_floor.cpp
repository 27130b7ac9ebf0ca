// The benchmark's hosts and user interface, the floor (the least work of a correct reset) and
// what the benchmark counts of the database: its syncs and its commits.
#include "bench/BenchHost.h"
#include "bench/Figures.h"
#include "bench/Floor.h"
#include "bench/HostContent.h"
#include "platform/sqlite/SyncCountingVfs.h"
#include "standin/SimHost.h"
#include "standin/server/ServerProcedures.h"
#include "standin/server/ServerSql.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace zeph;
using namespace zeph::bench;
namespace server = zeph::sqlite::server;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kSeed = 42;

class BenchReset : public testing::Test {
protected:
    BenchReset() {
        m_host.set("virtual-time", "on");
        copyHost(m_host.folder(), m_program);
        copyHost(m_host.folder(), m_floor);
        sqlite::countDatabaseSyncs(); // before the copies' databases open
    }

    // Resets every subscriber of the program's copy, the floor beside it on its own.
    ResetRunResult runBoth(const std::shared_ptr<Floor> &floor) {
        return runReset(m_program, {floor});
    }

    HostContent contentOf(const std::string &folder) const {
        return hostContent(folder, idsOf(m_host.folder()));
    }

    test::TempHost m_host{12, 3};
    test::TempFolder m_copies;
    std::string m_program = m_copies.path() + "/program", m_floor = m_copies.path() + "/floor";
};

TEST(BenchHost, GuidsFollowTheirSeedAndTheUserInterfaceWantsTheRunAndNothingMore) {
    SequenceGuids a(kSeed), b(kSeed), other(kSeed + 1);
    for (int i = 0; i < 100; ++i) {
        const std::string g = a.newGuid();
        EXPECT_TRUE(g == b.newGuid() && g != other.newGuid() && sqlite::server::normalGuid(g) == g)
            << g;
    }
    BenchUi ui;
    EXPECT_TRUE(ui.messageBox("Reset them?", MsgButtons::YesNo, MsgIcon::Question, {}) ==
                    MsgAnswer::Yes &&
                ui.messageBox("View the log?", MsgButtons::OKCancel, MsgIcon::None, {}) ==
                    MsgAnswer::Cancel);
}

TEST_F(BenchReset, TheFloorLeavesWhatTheProgramLeavesWithThreeSyncsAndTwoCommitsASubscriber) {
    std::ostringstream registry;
    registry << std::ifstream(sim::registryPath(m_program)).rdbuf();
    EXPECT_NE(registry.str().find("\"Root Path\"=\"C:\\\\Pradix\\\\\""), std::string::npos);
    EXPECT_EQ(registry.str().find(m_host.folder() + "/"), std::string::npos);
    const HostContent before = contentOf(m_host.folder());

    const long floorSyncs = sqlite::databaseSyncsUnder(m_floor);
    const long floorCommits = sqlite::databaseCommitsUnder(m_floor);
    const long programCommits = sqlite::databaseCommitsUnder(m_program);
    const auto floor = std::make_shared<Floor>(m_floor, kSeed);
    const ResetRunResult run = runBoth(floor);
    // Some subscribers of the host are skipped by their checks, by both alike.
    EXPECT_TRUE(run.subscribersReset > 3 && run.subscribersReset < run.gridRows)
        << run.subscribersReset << " of " << run.gridRows;
    EXPECT_EQ(floor->subscribersReset(), run.subscribersReset);
    EXPECT_EQ(floor->subscribersReset() + floor->subscribersSkipped(), run.gridRows);
    // The host's undeletable subscriber is refused its removal, and so its creation, in both.
    EXPECT_EQ(floor->failures(), 2) << floor->firstFailure();
    EXPECT_NE(floor->firstFailure().find("undeletable"), std::string::npos)
        << floor->firstFailure();
    EXPECT_FALSE(floor->active); // left as it was found

    // Counted, not assumed: a journal record before and after each subscriber and the
    // database once between, and one of each for the lists' synchronisation at the run's end
    // (the database's checkpoints come on top when its log grows long).
    const long reset = floor->subscribersReset();
    EXPECT_EQ(floor->journalSyncs(), 2 * reset + 1);
    EXPECT_GE(sqlite::databaseSyncsUnder(m_floor) - floorSyncs, reset + 1);
    EXPECT_EQ(sqlite::databaseCommitsUnder(m_floor) - floorCommits, 2 * reset + 1);
    // The program's commits are counted the same way.
    EXPECT_GE(sqlite::databaseCommitsUnder(m_program) - programCommits, 2 * reset + 1);

    // Both hosts went the same way, rows, recordings and messages, and it was a way: the run
    // changed them, and the host they were copied from is untouched.
    const HostContent program = contentOf(m_program);
    const ContentDifference differs = difference(program, contentOf(m_floor));
    EXPECT_EQ(differs.count, 0) << differs.sample;
    EXPECT_GT(difference(before, program).count, 0);
    EXPECT_LT(program.files.size(), before.files.size()) << "recordings and messages deleted";
    EXPECT_EQ(difference(before, contentOf(m_host.folder())).count, 0);
}

TEST_F(BenchReset, AFloorThatDoesOtherWorkIsSeenAndAnIdleOneDoesNothing) {
    // The floor's copy lacks a subscriber the run will reset: what it leaves differs.
    server::exec(server::Connection(sim::databasePath(m_floor), false).get(),
                 "DELETE FROM Subscriber WHERE SubscriberObjectID = (SELECT SubscriberObjectID "
                 "FROM vw_Subscriber WHERE SubscriberType = 1 AND DirectoryID IS NOT NULL "
                 "ORDER BY Alias LIMIT 1)");
    auto floor = std::make_shared<Floor>(m_floor, kSeed);
    const ResetRunResult run = runBoth(floor);
    EXPECT_LE(floor->subscribersReset(), run.subscribersReset);
    EXPECT_GT(difference(contentOf(m_program), contentOf(m_floor)).count, 0);

    // A floor that is not active resets nothing and writes nothing.
    const std::string other = m_copies.path() + "/idle";
    copyHost(m_host.folder(), other);
    Floor idle(other, kSeed);
    idle.plan({{"{00000000-0000-4000-8000-000000000000}"}, "AnyTemplate", true});
    idle.resetNext();
    idle.endRun();
    EXPECT_EQ(idle.subscribersReset() + idle.subscribersSkipped(), 0);
    EXPECT_EQ(idle.journalSyncs(), 0);
    EXPECT_EQ(difference(contentOf(m_host.folder()), contentOf(other)).count, 0);
}

TEST(HostContentOf, TellsRowsFilesAndMadeUpIdsApart) {
    test::TempHost host(6, 2);
    test::TempFolder copies;
    const std::string copy = copies.path() + "/copy";
    copyHost(host.folder(), copy);
    const std::set<std::string> known = idsOf(host.folder());
    ASSERT_FALSE(known.empty());
    EXPECT_EQ(difference(hostContent(host.folder(), known), hostContent(copy, known)).count, 0);

    struct Case {
        const char *what;
        const char *sql;  // run on the copy
        long differences; // rows or files that then differ
    };
    const Case cases[] = {
        // A time the server wrote is no content; a made-up id is "<new>" whatever its digits.
        {"a time stamp", "UPDATE Subscriber SET ModificationTime = '2001-01-01 00:00:00'", 0},
        {"a value", "UPDATE Subscriber SET DisplayName = 'x' WHERE rowid = 1", 2},
        {"a row more",
         "INSERT INTO DirectorySyncTicket (Ticket, ObjectID, Operation, result) "
         "VALUES ('{11111111-1111-4111-8111-111111111111}', 'x', 'modify', 0)",
         3},
    };
    for (const Case &c : cases) {
        server::exec(server::Connection(sim::databasePath(copy), false).get(), c.sql);
        EXPECT_EQ(difference(hostContent(host.folder(), known), hostContent(copy, known)).count,
                  c.differences)
            << c.what;
    }
    // Two rows that differ only in an id the server made up are the same content.
    server::exec(
        server::Connection(sim::databasePath(copy), false).get(),
        "UPDATE DirectorySyncTicket SET Ticket = '{22222222-2222-4222-8222-222222222222}'");
    EXPECT_EQ(difference(hostContent(host.folder(), known), hostContent(copy, known)).count, 3);
    // A recording gone is a difference.
    const HostContent files = hostContent(copy, known);
    ASSERT_FALSE(files.files.empty());
    fs::remove(copy + "/" + *files.files.begin());
    EXPECT_EQ(difference(hostContent(host.folder(), known), hostContent(copy, known)).count, 4);
}

TEST(DatabaseCommits, AreTheTransactionsThatWroteToTheLogWhateverTheirSize) {
    test::TempFolder folder;
    sqlite::countDatabaseSyncs();
    server::Connection db(folder.path() + "/counted.sqlite", true);
    server::exec(db.get(), "PRAGMA journal_mode=WAL; CREATE TABLE t (x)");
    const long before = sqlite::databaseCommitsUnder(folder.path());
    struct Case {
        const char *what;
        const char *sql;
        long commits;
    };
    const Case cases[] = {
        {"one row", "INSERT INTO t VALUES (1)", 1},
        {"a transaction of three changes",
         "BEGIN; INSERT INTO t VALUES (2); "
         "UPDATE t SET x = x + 1; DELETE FROM t WHERE x = 3; "
         "COMMIT",
         1},
        {"many pages",
         "INSERT INTO t SELECT randomblob(3000) FROM (WITH RECURSIVE n(i) AS "
         "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) SELECT i FROM n)",
         1},
        {"an empty transaction", "BEGIN IMMEDIATE; COMMIT", 0},
        {"a read", "SELECT count(*) FROM t", 0},
        {"a change taken back", "BEGIN; INSERT INTO t VALUES (5); ROLLBACK", 0},
        {"two transactions", "INSERT INTO t VALUES (6); INSERT INTO t VALUES (7)", 2},
    };
    long expected = before;
    for (const Case &c : cases) {
        server::exec(db.get(), c.sql);
        expected += c.commits;
        EXPECT_EQ(sqlite::databaseCommitsUnder(folder.path()), expected) << c.what;
    }
}

} // namespace
