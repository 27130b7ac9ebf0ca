// The benchmark's reset measurement on a small stand-in host: its hosts and user interface, and
// the floor, which must repeat the run's database work exactly, straight to SQLite.
#include "bench/BenchHost.h"
#include "bench/Figures.h"
#include "bench/Floor.h"
#include "platform/sim/SimHost.h"
#include "platform/sim/SimSettings.h"
#include "platform/sqlite/ServerProcedures.h"
#include "platform/sqlite/ServerSql.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

using namespace zeph;
using namespace zeph::bench;
namespace server = zeph::sqlite::server;

namespace {

constexpr std::uint64_t kSeed = 42;

std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What a reset leaves in the server database: the rows of the tables it rewrites, without the
// columns that hold times or ids the database makes up itself.
std::string serverState(const std::string &hostFolder) {
    server::Connection db(sim::databasePath(hostFolder), false);
    std::string state;
    for (const char *sql :
         {"SELECT SubscriberObjectID, Alias, CallHandlerObjectID, DirectoryID, StreamPath, "
          "COSObjectID FROM Subscriber ORDER BY SubscriberObjectID",
          "SELECT CallHandlerObjectID, Alias, IsPrimary FROM CallHandler ORDER BY 1",
          "SELECT ParentObjectID, DTMFAccessID, IsPrimaryID FROM DTMFAccessID ORDER BY 1, 2",
          "SELECT ParentObjectID, count(*) FROM MenuEntry GROUP BY 1 ORDER BY 1",
          "SELECT ParentObjectID, count(*) FROM MessagingRule GROUP BY 1 ORDER BY 1",
          "SELECT count(*) FROM DirectorySyncTicket"}) {
        for (const auto &row : server::queryRows(db.get(), sql).rows) {
            for (const DbValue &v : row)
                state += server::asText(v) + "|";
            state += "\n";
        }
    }
    return state;
}

class BenchReset : public testing::Test {
protected:
    BenchReset()
        : m_host(12, 3) {
        m_host.set("virtual-time", "on");
        m_program = m_copies.path() + "/program";
        m_floor = m_copies.path() + "/floor";
        copyHost(m_host.folder(), m_program);
        copyHost(m_host.folder(), m_floor);
    }

    test::TempHost m_host;
    test::TempFolder m_copies;
    std::string m_program;
    std::string m_floor;
};

TEST(BenchHost, GuidsFollowTheirSeed) {
    SequenceGuids a(kSeed), b(kSeed), other(kSeed + 1);
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string g = a.newGuid();
        EXPECT_EQ(g, b.newGuid());
        EXPECT_NE(g, other.newGuid());
        EXPECT_EQ(sqlite::server::normalGuid(g).value_or(""), g) << g;
        seen.insert(g);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(BenchHost, TheUserInterfaceWantsTheRunAndNothingMore) {
    BenchUi ui;
    EXPECT_EQ(ui.messageBox("Reset them?", MsgButtons::YesNo, MsgIcon::Question, {}),
              MsgAnswer::Yes);
    EXPECT_EQ(ui.messageBox("Press OK to view the log", MsgButtons::OKCancel, MsgIcon::None, {}),
              MsgAnswer::Cancel);
    EXPECT_EQ(ui.messageBox("Done", MsgButtons::OK, MsgIcon::None, {}), MsgAnswer::OK);
    EXPECT_EQ(ui.boxes(), 3);
    EXPECT_EQ(ui.lastText(), "Done");
}

TEST_F(BenchReset, ACopiedHostKeepsItsRecordingsToItself) {
    const std::string registry = readText(sim::registryPath(m_program));
    EXPECT_NE(registry.find(sim::defaultRootPath(m_program)), std::string::npos) << registry;
    EXPECT_EQ(registry.find(m_host.folder() + "/"), std::string::npos) << registry;
    EXPECT_EQ(serverState(m_program), serverState(m_host.folder()));
    EXPECT_EQ(sim::SimSettings::load(m_program, nullptr).get("virtual-time"), "on");
}

TEST_F(BenchReset, TheFloorRepeatsTheRunsDatabaseWork) {
    const std::string before = serverState(m_host.folder());
    auto floor = std::make_shared<Floor>(m_floor, kSeed);
    int gridRows = 0;
    const Timing run = resetEverySubscriber(m_program, floor, gridRows);
    EXPECT_GT(gridRows, 5);
    EXPECT_GT(floor->requests(), static_cast<std::size_t>(gridRows) * 20);
    EXPECT_EQ(floor->mismatches(), 0u) << floor->firstMismatch();
    EXPECT_GT(floor->spent().wallMs, 0);
    EXPECT_LT(floor->spent().wallMs, run.wallMs);
    // Both databases went the same way, and it was a way: the run did change them.
    const std::string program = serverState(m_program);
    EXPECT_EQ(serverState(m_floor), program);
    EXPECT_NE(program, before);
    EXPECT_FALSE(floor->active); // left as it was found
}

TEST_F(BenchReset, AFloorThatDoesOtherWorkIsNoticed) {
    {
        // The floor's copy lacks a subscriber the run will reset.
        server::Connection db(sim::databasePath(m_floor), false);
        const std::string victim = server::asText(
            *server::queryValue(db.get(), "SELECT SubscriberObjectID FROM vw_Subscriber WHERE "
                                          "SubscriberType = 1 ORDER BY Alias LIMIT 1"));
        sqlite::ServerContext context;
        server::callProcedure(db.get(), "sp_DeleteSubscriber",
                              {{"@SubscriberObjectID", DbParamType::Guid, victim},
                               {"@ForceRemove", DbParamType::Integer, std::int64_t{1}}},
                              context);
    }
    auto floor = std::make_shared<Floor>(m_floor, kSeed);
    int gridRows = 0;
    resetEverySubscriber(m_program, floor, gridRows);
    EXPECT_GT(floor->mismatches(), 0u);
    EXPECT_FALSE(floor->firstMismatch().empty());
}

TEST_F(BenchReset, AnIdleFloorIssuesNothing) {
    Floor floor(m_floor, kSeed);
    Request sync;
    sync.kind = Request::Kind::Procedure;
    sync.text = "sp_SqlDirectorySync";
    sync.args = {{"@SyncDistributionList", DbParamType::Integer, std::int64_t{1}}};
    floor.issue(sync);
    EXPECT_EQ(floor.requests(), 0u);

    floor.active = true;
    floor.issue(sync);
    EXPECT_EQ(floor.requests(), 1u);
    EXPECT_EQ(floor.mismatches(), 0u) << floor.firstMismatch();

    Request unknown = sync;
    unknown.text = "sp_NoSuchProcedure";
    floor.issue(unknown); // the program's call went through; this one fails
    EXPECT_EQ(floor.mismatches(), 1u);
    EXPECT_NE(floor.firstMismatch().find("sp_NoSuchProcedure"), std::string::npos);
    EXPECT_NE(floor.firstMismatch().find("here it failed"), std::string::npos);
}

} // namespace
