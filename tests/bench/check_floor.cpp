// The benchmark's hosts and user interface, and the floor: the run's database work, repeated.
#include "bench/BenchHost.h"
#include "bench/Figures.h"
#include "bench/Floor.h"
#include "platform/sqlite/SyncCountingVfs.h"
#include "standin/SimHost.h"
#include "standin/server/ServerProcedures.h"
#include "standin/server/ServerSql.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace zeph;
using namespace zeph::bench;
namespace server = zeph::sqlite::server;

namespace {

constexpr std::uint64_t kSeed = 42;

// What a reset leaves in the server database: the rows of the tables it rewrites, without the
// columns that hold times or ids the database makes up itself.
std::string serverState(const std::string &hostFolder) {
    server::Connection db(sim::databasePath(hostFolder), false);
    std::string state;
    for (const char *sql :
         {"SELECT SubscriberObjectID, Alias, CallHandlerObjectID, DirectoryID, StreamPath, "
          "COSObjectID FROM Subscriber ORDER BY SubscriberObjectID",
          "SELECT ParentObjectID, DTMFAccessID, IsPrimaryID FROM DTMFAccessID ORDER BY 1, 2",
          "SELECT count(*) FROM DirectorySyncTicket"}) {
        for (const auto &row : server::queryRows(db.get(), sql).rows)
            for (const DbValue &v : row)
                state += server::asText(v) + "|";
    }
    return state;
}

class BenchReset : public testing::Test {
protected:
    BenchReset() {
        m_host.set("virtual-time", "on");
        copyHost(m_host.folder(), m_program);
        copyHost(m_host.folder(), m_floor);
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

TEST_F(BenchReset, ACopiedHostKeepsItsRecordingsToItselfAndTheFloorRepeatsTheRunsWork) {
    std::ostringstream registry;
    registry << std::ifstream(sim::registryPath(m_program)).rdbuf();
    EXPECT_NE(registry.str().find("\"Root Path\"=\"C:\\\\Pradix\\\\\""), std::string::npos);
    EXPECT_EQ(registry.str().find(m_host.folder() + "/"), std::string::npos);
    const std::string before = serverState(m_host.folder());

    sqlite::countDatabaseSyncs();
    const long programSyncs = sqlite::databaseSyncsUnder(m_program);
    const long floorSyncs = sqlite::databaseSyncsUnder(m_floor);
    const auto floor = std::make_shared<Floor>(m_floor, kSeed);
    const ResetRunResult run = runReset(m_program, {floor});
    const int gridRows = run.gridRows;
    const long fileSyncs = run.fileSyncs;
    EXPECT_TRUE(gridRows > 5 && floor->requests() > gridRows * 20u) << floor->requests();
    // Syncs are counted, not assumed: the run's files and database synced, and the floor's
    // three journal records and one commit for each subscriber the run finished.
    const long finished = floor->journalSyncs() / 3;
    EXPECT_TRUE(finished > 0 && finished < gridRows) << floor->journalSyncs();
    EXPECT_GE(fileSyncs, 6 * finished);
    EXPECT_GE(sqlite::databaseSyncsUnder(m_program) - programSyncs, finished);
    EXPECT_GE(sqlite::databaseSyncsUnder(m_floor) - floorSyncs, finished);
    EXPECT_EQ(floor->mismatches(), 0u) << floor->firstMismatch();
    // Both databases went the same way, and it was a way: the run did change them.
    const std::string program = serverState(m_program);
    EXPECT_EQ(serverState(m_floor), program);
    EXPECT_NE(program, before);
    EXPECT_EQ(serverState(m_host.folder()), before) << "the original host is untouched";
    EXPECT_FALSE(floor->active); // left as it was found
}

TEST_F(BenchReset, AFloorThatDoesOtherWorkIsNoticedAndAnIdleOneIssuesNothing) {
    // The floor's copy lacks a subscriber the run will reset.
    server::exec(server::Connection(sim::databasePath(m_floor), false).get(),
                 "DELETE FROM Subscriber WHERE SubscriberObjectID = (SELECT SubscriberObjectID "
                 "FROM vw_Subscriber WHERE SubscriberType = 1 ORDER BY Alias LIMIT 1)");
    auto floor = std::make_shared<Floor>(m_floor, kSeed);
    runReset(m_program, {floor});
    EXPECT_GT(floor->mismatches(), 0u);

    Floor idle(m_floor, kSeed);
    Request unknown;
    unknown.kind = Request::Kind::Procedure;
    unknown.text = "sp_NoSuchProcedure";
    idle.issue(unknown);
    EXPECT_EQ(idle.requests(), 0u);
    idle.active = true;
    idle.issue(unknown); // the program's call went through; this one fails
    EXPECT_EQ(idle.mismatches(), 1u);
    EXPECT_NE(idle.firstMismatch().find("sp_NoSuchProcedure"), std::string::npos);
}

} // namespace
