// The cached tables of TarvoDb: their opening order, failure and what each can do.
#include "db/modTarvoDB.h"
#include "db_helpers.h"
#include "platform/sqlite/SqliteDatabase.h"

#include <gtest/gtest.h>

using namespace zeph;
using namespace zeph::db;
using zeph::test::guidFor;
using zeph::test::TestDb;

namespace {

std::vector<Recordset *> tablesOf(modTarvoDB &tarvo) {
    return {&tarvo.rsNonPrimaryCallHandlers(), &tarvo.rsPrimaryCallHandlers(),
            &tarvo.rsSubscribers(), &tarvo.rsSubscriberTemplates(), &tarvo.rsCOS()};
}

TEST(TarvoDb, OpensTheFiveTablesAsTheProgramUsesThem) {
    TestDb file(5);
    file.exec("DELETE FROM SubscriberTemplate"); // an empty table opens fine
    auto db = file.database();
    modTarvoDB tarvo(*db);
    EXPECT_EQ(tarvo.DbConnectionString(), "Driver={SQL Server};server=;database=TarvoDb");
    for (Recordset *rs : tablesOf(tarvo))
        EXPECT_FALSE(rs->IsOpen()); // they exist, unopened, from the start
    ASSERT_TRUE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
    std::vector<int> counts;
    for (Recordset *rs : tablesOf(tarvo))
        counts.push_back(static_cast<int>(rs->RecordCount()));
    EXPECT_EQ(counts, (std::vector<int>{3, 5, 5, 0, 2}));
    EXPECT_EQ(tarvo.rsPrimaryCallHandlers().CursorLocation(), adUseServer);
    EXPECT_EQ(tarvo.rsSubscribers().CursorLocation(), adUseClient);
    EXPECT_TRUE(tarvo.rsNonPrimaryCallHandlers()["CallHandlerObjectID"].Optimize());
    EXPECT_TRUE(tarvo.rsSubscribers()["SubscriberObjectID"].Optimize());
    EXPECT_FALSE(tarvo.rsPrimaryCallHandlers()["CallHandlerObjectID"].Optimize());
    // Only the subscribers can be written.
    for (Recordset *rs : tablesOf(tarvo))
        EXPECT_EQ(rs->Updatable(), rs == &tarvo.rsSubscribers());
}

TEST(TarvoDb, ShowsTheDatabaseAsItWasAtStartUp) {
    TestDb file(3);
    auto db = file.database();
    modTarvoDB tarvo(*db);
    ASSERT_TRUE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
    file.exec("INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) VALUES ('" +
              guidFor(3333) + "', 'late', 1)");
    Recordset &subs = tarvo.rsSubscribers();
    subs.MoveFirst();
    subs.Find("SubscriberObjectID='" + guidFor(3333) + "'");
    EXPECT_TRUE(subs.Eof()); // not found, and no error
    // A change written through the table reaches the server.
    subs.MoveFirst();
    subs.Find("SubscriberObjectID='" + guidFor(1001) + "'");
    ASSERT_FALSE(subs.Eof());
    subs["StreamPath"] = "x.wav";
    subs.Update();
    EXPECT_EQ(file.scalar("SELECT StreamPath FROM Subscriber WHERE Alias='user1'"), "x.wav");
}

// Each missing view stops the opening at its own table: the tables before it stay open.
TEST(TarvoDb, StopsAtTheFirstTableThatFails) {
    const char *views[] = {"vw_CallHandler_NonPrimary", "vw_CallHandler_Primary", "vw_Subscriber",
                           "vw_SubscriberTemplate", "vw_COS"};
    for (std::size_t failing = 0; failing < 5; ++failing) {
        TestDb file(2);
        file.exec(std::string("DROP VIEW ") + views[failing]);
        auto db = file.database();
        modTarvoDB tarvo(*db);
        EXPECT_FALSE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
        auto tables = tablesOf(tarvo);
        for (std::size_t t = 0; t < tables.size(); ++t)
            EXPECT_EQ(tables[t]->IsOpen(), t < failing) << views[failing] << ", table " << t;
    }
    TestDb file(2);
    auto db = file.database();
    modTarvoDB elsewhere(*db);
    EXPECT_FALSE(elsewhere.bOpenDatabase("Driver={SQL Server};server=;database=Elsewhere"));
    zeph::test::TempFolder empty;
    auto none = sqlite::makeDatabase(empty.path() + "/TarvoDb.sqlite", sqlite::ServerContext{});
    modTarvoDB missing(*none);
    EXPECT_FALSE(missing.bOpenDatabase(missing.DbConnectionString()));
    EXPECT_FALSE(missing.rsNonPrimaryCallHandlers().IsOpen());
}

} // namespace
