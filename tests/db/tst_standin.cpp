// The data layer on a real stand-in host: the cached tables, a stored procedure's row saved back
// under another identity, and saves through the server's view and tables.
#include "db/Command.h"
#include "db/modTarvoDB.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zeph;
using namespace zeph::db;

namespace {

const std::string kText = "Driver={SQL Server};server=;database=TarvoDb";

// The rows of a read-only query, as "Column" of each row.
std::vector<std::string> column(IDatabase &db, const std::string &sql, const std::string &name,
                                const std::vector<DbValue> &params) {
    Recordset rs(db);
    rs.CursorLocation(adUseClient);
    rs.Open(sql, kText, adOpenForwardOnly, adLockReadOnly, params);
    std::vector<std::string> values;
    for (; !rs.Eof(); rs.MoveNext())
        values.push_back(rs[name].IsNull() ? "NULL" : rs[name].Text());
    return values;
}

TEST(StandInHost, OpensTheCachedTablesAndFindsEveryPrimaryCallHandler) {
    test::TempHost host(20);
    modTarvoDB tarvo(*host.host().database);
    ASSERT_TRUE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
    EXPECT_GE(tarvo.rsSubscribers().RecordCount(), 20);
    EXPECT_GT(tarvo.rsSubscriberTemplates().RecordCount(), 0);
    EXPECT_GT(tarvo.rsCOS().RecordCount(), 0);
    EXPECT_TRUE(tarvo.rsSubscribers().Updatable());

    Recordset &subs = tarvo.rsSubscribers();
    Recordset &handlers = tarvo.rsPrimaryCallHandlers();
    int found = 0;
    for (subs.MoveFirst(); !subs.Eof(); subs.MoveNext()) {
        if (subs["CallHandlerObjectID"].IsNull())
            continue;
        handlers.MoveFirst();
        handlers.Find("CallHandlerObjectID='" + subs["CallHandlerObjectID"].Text() + "'");
        EXPECT_FALSE(handlers.Eof()) << subs["Alias"].Text();
        ++found;
    }
    EXPECT_GE(found, 20);
}

TEST(StandInHost, AProceduresRowIsSavedBackUnderTheOldIdentity) {
    test::TempHost host(3);
    IDatabase &db = *host.host().database;
    const std::string templateAlias =
        column(db, "Select * from vw_SubscriberTemplate", "Alias", {}).at(0);

    Command cmd(db);
    cmd.ActiveConnection(kText);
    cmd.CommandType(adCmdStoredProc);
    cmd.CommandText("sp_CreateSubscriber");
    cmd.AppendParameter("@Alias", adVarChar, "o'reilly");
    cmd.AppendParameter("@DtmfAccessId", adVarChar, "98765");
    cmd.AppendParameter("@templateAlias", adVarChar, templateAlias);
    cmd.AppendParameter("@SubscriberType", adInteger, 1);
    cmd.AppendParameter("@Undeletable", adInteger, 0);
    cmd.AppendParameter("@DisplayName", adVarChar, "O'Reilly, Pat");
    cmd.AppendParameter("@FirstName", adVarChar, "Pat");
    cmd.AppendParameter("@LastName", adVarChar, "O'Reilly");
    cmd.AppendParameter("@DirectorySync", adInteger, 0);
    Recordset rs;
    rs.Open(cmd, adOpenKeyset, adLockOptimistic);
    ASSERT_EQ(rs.RecordCount(), 1);
    ASSERT_TRUE(rs.Updatable());
    const std::string newId = rs["SubscriberObjectID"].Text();
    const std::string oldId = "{0BADC0DE-1234-4321-ABCD-0123456789AB}";
    rs["SubscriberObjectID"] = oldId;
    rs.Update();
    rs.Close();

    const std::string byId = "SELECT * FROM vw_Subscriber WHERE SubscriberObjectID=?";
    EXPECT_EQ(column(db, byId, "DisplayName", {oldId}), std::vector<std::string>{"O'Reilly, Pat"});
    EXPECT_EQ(column(db, byId, "Alias", {oldId}), std::vector<std::string>{"o'reilly"});
    EXPECT_TRUE(column(db, byId, "Alias", {newId}).empty());
}

TEST(StandInHost, SavesThroughTheSubscriberViewAndThroughTables) {
    test::TempHost host(3);
    IDatabase &db = *host.host().database;
    modTarvoDB tarvo(db);
    ASSERT_TRUE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
    Recordset &subs = tarvo.rsSubscribers();
    subs.MoveFirst();
    const std::string id = subs["SubscriberObjectID"].Text();
    subs["StreamPath"] = "voice's name.wav";
    subs.Update();
    const std::string byId = "SELECT * FROM vw_Subscriber WHERE SubscriberObjectID=?";
    EXPECT_EQ(column(db, byId, "StreamPath", {id}), std::vector<std::string>{"voice's name.wav"});
    subs["StreamPath"] = Null;
    subs.Update();
    EXPECT_EQ(column(db, byId, "StreamPath", {id}), std::vector<std::string>{"NULL"});

    // A query that does not select the table's key still saves by it.
    Recordset devices(db);
    devices.Open("SELECT Alias, ParentObjectID FROM NotificationDevice WHERE ParentObjectID=?",
                 kText, adOpenKeyset, adLockOptimistic, {id});
    ASSERT_TRUE(devices.Updatable());
    ASSERT_GT(devices.RecordCount(), 0);
    EXPECT_EQ(devices.FieldCount(), 2u);
    std::vector<std::string> renamed;
    for (devices.MoveFirst(); !devices.Eof(); devices.MoveNext()) {
        renamed.push_back("renamed " + devices["Alias"].Text());
        devices["Alias"] = renamed.back();
        devices.Update();
    }
    std::vector<std::string> stored =
        column(db, "SELECT Alias FROM NotificationDevice WHERE ParentObjectID=?", "Alias", {id});
    std::sort(stored.begin(), stored.end());
    std::sort(renamed.begin(), renamed.end());
    EXPECT_EQ(stored, renamed);
}

} // namespace
