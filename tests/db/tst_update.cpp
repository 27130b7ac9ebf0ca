// Saving rows: changed fields through tables and views, changed keys, new rows.
#include "db/AdoErrors.h"
#include "db/Recordset.h"
#include "db_helpers.h"
#include "support/ErrorOf.h"

#include <gtest/gtest.h>

using namespace zeph;
using zeph::test::errorOf;
using namespace zeph::db;
using zeph::test::guidFor;
using zeph::test::kConnection;
using zeph::test::TestDb;

namespace {

class UpdateTest : public ::testing::Test {
protected:
    TestDb m_file{10};
    std::unique_ptr<IDatabase> m_db = m_file.database();

    Recordset open(const std::string &sql, const std::vector<DbValue> &params = {},
                   LockTypeEnum lock = adLockOptimistic) {
        Recordset rs(*m_db);
        rs.CursorLocation(adUseClient);
        rs.Open(sql, kConnection, adOpenKeyset, lock, params);
        return rs;
    }
    // The subscribers in the view's order, positioned on the one with id guidFor(1000 + n).
    Recordset subscriber(int n) {
        Recordset rs = open("Select * from vw_Subscriber order by SubscriberObjectID");
        rs["SubscriberObjectID"].Optimize(true);
        rs.MoveFirst();
        rs.Find("SubscriberObjectID='" + guidFor(1000 + n) + "'");
        EXPECT_FALSE(rs.Eof());
        return rs;
    }
    std::string stored(const std::string &column, const std::string &id) {
        return m_file.scalar("SELECT " + column + " FROM Subscriber WHERE SubscriberObjectID='" +
                             id + "'");
    }
};

TEST_F(UpdateTest, SavesAFieldThroughAViewByKey) {
    Recordset rs = subscriber(4);
    ASSERT_TRUE(rs.Updatable());
    const std::string quoted = "greetings\\it's; DROP TABLE Subscriber; --'";
    rs["StreamPath"] = quoted;
    EXPECT_EQ(rs["StreamPath"].Text(), quoted); // the pending value reads back
    EXPECT_EQ(rs.EditMode(), adEditInProgress);
    rs.Update();
    EXPECT_EQ(rs.EditMode(), adEditNone);
    EXPECT_EQ(stored("StreamPath", guidFor(1004)), quoted); // stored as it is: a bound value
    EXPECT_EQ(m_file.scalar("SELECT count(*) FROM Subscriber WHERE StreamPath IS NOT NULL"), "1");
    rs["StreamPath"] = Null;
    rs.Update();
    EXPECT_EQ(stored("StreamPath", guidFor(1004)), "NULL");
    EXPECT_TRUE(rs["StreamPath"].IsNull());
}

TEST_F(UpdateTest, SavesAChangedKeyByTheKeyItWasReadWith) {
    Recordset rs = subscriber(2);
    const std::string newId = guidFor(8888);
    rs["SubscriberObjectID"] = newId;
    rs["CallHandlerObjectID"] = guidFor(9999);
    rs.Update();
    EXPECT_EQ(stored("count(*)", guidFor(1002)), "0");
    EXPECT_EQ(stored("Alias || ' ' || CallHandlerObjectID", newId), "user2 " + guidFor(9999));
    // The row is now known by its new key: a second save finds it, and so does the index.
    rs["StreamPath"] = "after.wav";
    rs.Update();
    EXPECT_EQ(stored("StreamPath", newId), "after.wav");
    rs.MoveFirst();
    rs.Find("SubscriberObjectID='" + guidFor(1002) + "'");
    EXPECT_TRUE(rs.Eof());
    rs.MoveFirst();
    rs.Find("SubscriberObjectID='" + newId + "'");
    EXPECT_EQ(rs.Eof() ? "" : rs["Alias"].Text(), "user2");
}

TEST_F(UpdateTest, SavesThroughATableWhoseKeyTheQueryDoesNotSelect) {
    m_file.exec("INSERT INTO NotificationDevice VALUES ('" + guidFor(60) + "', 'dev0', '" +
                guidFor(1001) + "'), ('" + guidFor(61) + "', 'dev1', '" + guidFor(1001) + "'), ('" +
                guidFor(70) + "', 'other', '" + guidFor(1002) + "')");
    Recordset rs =
        open("SELECT Alias, ParentObjectID FROM NotificationDevice WHERE ParentObjectID=?",
             {guidFor(1001)});
    ASSERT_TRUE(rs.Updatable());
    EXPECT_EQ(rs.FieldCount(), 2u); // the key fetched for saving is not a field
    EXPECT_EQ(errorOf([&] { rs["NotificationDeviceObjectID"]; }).number(), 3265);
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
        rs["ParentObjectID"] = guidFor(5555); // moving off a changed row saves it
    EXPECT_EQ(m_file.scalar(
                  "SELECT group_concat(Alias || ':' || ParentObjectID) FROM NotificationDevice"),
              "dev0:" + guidFor(5555) + ",dev1:" + guidFor(5555) + ",other:" + guidFor(1002));
}

TEST_F(UpdateTest, AReadOnlySetRefusesChanges) {
    Recordset rs = open("SELECT * FROM vw_Subscriber", {}, adLockReadOnly);
    EXPECT_FALSE(rs.Updatable());
    Error e = errorOf([&] { rs["StreamPath"] = "x"; });
    EXPECT_EQ(e.number(), 3251);
    EXPECT_EQ(e.description(), "Current Recordset does not support updating. This may be a "
                               "limitation of the provider, or of the selected locktype.");
    EXPECT_EQ(errorOf([&] { rs.AddNew(); }).number(), 3251);
    // Rows of several sources cannot be saved back.
    Recordset joined = open("SELECT * FROM vw_Subscriber INNER JOIN DTMFAccessID ON "
                            "vw_Subscriber.SubscriberObjectID = DTMFAccessID.ParentObjectID");
    EXPECT_EQ(joined.RecordCount(), 10);
    EXPECT_EQ(errorOf([&] { joined["Alias"] = "x"; }).number(), 3251);
}

TEST_F(UpdateTest, AFailedSaveDropsTheChangeAndTheSetGoesOn) {
    Recordset rs = subscriber(0);
    m_file.exec("DELETE FROM Subscriber WHERE Alias = 'user0'");
    rs["StreamPath"] = "lost.wav";
    Error e = errorOf([&] { rs.Update(); });
    EXPECT_EQ(e.number(), -2147217864);
    EXPECT_EQ(e.description(), "Row cannot be located for updating. Some values may have been "
                               "changed since it was last read.");
    EXPECT_EQ(rs.EditMode(), adEditNone);
    EXPECT_TRUE(rs["StreamPath"].IsNull()); // the row keeps what it had
    rs.MoveNext();                          // and moving on does not try again
    EXPECT_EQ(rs["Alias"].Text(), "user1");
}

TEST_F(UpdateTest, AddsRowsAndReadsBackWhatTheServerMade) {
    Recordset rs = open("SELECT * FROM DTMFAccessID WHERE ParentObjectID=?", {guidFor(1003)});
    ASSERT_EQ(rs.RecordCount(), 1);
    for (int n = 1; n <= 2; ++n) {
        rs.AddNew();
        rs["ParentObjectID"] = guidFor(1003);
        rs["DTMFAccessID"] = std::to_string(7000 + n);
        rs["Alias"] = "SYSTEM_DEFINED_ALT_EXT_" + std::to_string(n);
        rs.Update();
    }
    EXPECT_EQ(rs.RecordCount(), 3);
    EXPECT_EQ(rs["Alias"].Text(), "SYSTEM_DEFINED_ALT_EXT_2");
    EXPECT_FALSE(rs["ObjectID"].IsNull());  // the generated key
    EXPECT_EQ(rs["IsPrimaryID"].Long(), 0); // the column's default
    // A new row can be changed again: it is known by its key.
    rs["DTMFAccessID"] = "7003";
    rs.Update();
    EXPECT_EQ(m_file.scalar("SELECT group_concat(DTMFAccessID || ':' || Alias) FROM DTMFAccessID "
                            "WHERE IsPrimaryID = 0"),
              "7001:SYSTEM_DEFINED_ALT_EXT_1,7003:SYSTEM_DEFINED_ALT_EXT_2");

    // A constraint violation is reported and nothing is added.
    rs.AddNew();
    rs["ParentObjectID"] = guidFor(1003);
    rs["DTMFAccessID"] = "4005"; // another subscriber's extension
    Error e = errorOf([&] { rs.Update(); });
    EXPECT_EQ(e.number(), -2147217873);
    EXPECT_EQ(e.description(), "UNIQUE constraint failed: DTMFAccessID.DTMFAccessID");
    EXPECT_EQ(rs.RecordCount(), 3);
    EXPECT_EQ(rs.EditMode(), adEditNone);
    EXPECT_EQ(m_file.scalar("SELECT count(*) FROM DTMFAccessID"), "12");
}

TEST_F(UpdateTest, AddsARowThroughAView) {
    Recordset rs = open("SELECT * FROM vw_Subscriber WHERE Alias=?", {"nobody"});
    rs.AddNew();
    rs["SubscriberObjectID"] = guidFor(4242);
    rs["Alias"] = "newbie";
    rs["DisplayName"] = "New 'B'";
    rs.Update();
    EXPECT_EQ(rs.RecordCount(), 1);
    EXPECT_EQ(stored("DisplayName", guidFor(4242)), "New 'B'");
}

TEST_F(UpdateTest, CancelDropsPendingChanges) {
    Recordset rs = open("Select * from vw_Subscriber order by SubscriberObjectID");
    rs["StreamPath"] = "x.wav";
    EXPECT_EQ(errorOf([&] { rs.Close(); }).number(), 3219); // a pending change is not dropped
    rs.CancelUpdate();
    EXPECT_TRUE(rs["StreamPath"].IsNull());
    rs.AddNew();
    rs.CancelUpdate();
    EXPECT_EQ(rs.RecordCount(), 10);
    EXPECT_EQ(rs["Alias"].Text(), "user0"); // back on the row it was on
    rs.Close();
    EXPECT_EQ(stored("StreamPath", guidFor(1000)), "NULL");
}

} // namespace
