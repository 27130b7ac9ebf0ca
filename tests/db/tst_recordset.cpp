// Record sets and commands over the SQLite backend: reading, walking, searching, saving, and the
// cached tables of TarvoDb.
#include "db/AdoErrors.h"
#include "db/Command.h"
#include "db/Recordset.h"
#include "db/modTarvoDB.h"
#include "db_helpers.h"
#include "support/ErrorOf.h"

#include <gtest/gtest.h>

using namespace zeph;
using namespace zeph::db;
using zeph::test::errorOf;
using zeph::test::guidFor;
using zeph::test::kConnection;
using zeph::test::TestDb;

namespace {

class RecordsetTest : public ::testing::TestWithParam<bool> {
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
    // Positioned on the subscriber guidFor(1000 + n).
    Recordset subscriber(int n) {
        Recordset rs = open("Select * from vw_Subscriber order by SubscriberObjectID");
        rs["SubscriberObjectID"].Optimize(true);
        rs.Find("SubscriberObjectID='" + guidFor(1000 + n) + "'");
        EXPECT_FALSE(rs.Eof());
        return rs;
    }
    std::string stored(const std::string &column, const std::string &id) {
        return m_file.scalar("SELECT " + column + " FROM Subscriber WHERE SubscriberObjectID='" +
                             id + "'");
    }
};

const char *kAll = "Select * from vw_Subscriber order by SubscriberObjectID";

TEST_F(RecordsetTest, ReadsAndWalksAsTheSystemDoes) {
    Recordset rs = open(kAll);
    EXPECT_EQ(rs["ALIAS"].Text(), "user0");
    EXPECT_EQ(rs["SubscriberType"].Text(), "1"); // a number read as text
    EXPECT_EQ(rs["DTMFAccessID"].Long(), 4000);  // text read as a number
    Error missing = errorOf([&] { rs["NoSuchColumn"].Text(); });
    EXPECT_EQ(missing.number(), 3265);
    EXPECT_EQ(
        missing.description(),
        "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    EXPECT_TRUE(rs["StreamPath"].IsNull());
    Error null = errorOf([&] { rs["StreamPath"].Text(); });
    EXPECT_EQ(null.number(), 94);
    EXPECT_EQ(null.description(), "Invalid use of Null");
    EXPECT_EQ(errorOf([&] { rs["Alias"].Long(); }).number(), 13);

    int seen = 0;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
        EXPECT_EQ(rs["Alias"].Text(), "user" + std::to_string(seen++));
    EXPECT_EQ(seen, 10);
    for (Error e : {errorOf([&] { rs.MoveNext(); }), errorOf([&] { rs["Alias"].Value(); })}) {
        EXPECT_EQ(e.number(), 3021);
        EXPECT_EQ(e.description(), "Either BOF or EOF is True, or the current record has been "
                                   "deleted. Requested operation requires a current record.");
    }
}

TEST_F(RecordsetTest, EmptyClosedAndFailedSets) {
    Recordset rs = open("SELECT * FROM vw_Subscriber WHERE Alias = ?", {"nobody"});
    EXPECT_TRUE(rs.Eof() && rs.Bof());
    EXPECT_EQ(errorOf([&] { rs.MoveFirst(); }).number(), 3021); // how an empty table is learnt
    rs.Close();
    rs.Close();            // closing twice is harmless
    EXPECT_TRUE(rs.Eof()); // a loop over a closed set ends at once
    EXPECT_EQ(errorOf([&] { rs.RecordCount(); }).number(), 3704);
    Error e = errorOf([&] { rs.Open("SELECT * FROM vw_Nothing", kConnection); });
    EXPECT_EQ(e.number(), -2147217900);
    EXPECT_EQ(e.description(), "no such table: vw_Nothing");
    EXPECT_FALSE(rs.IsOpen());
    rs.Open("SELECT * FROM vw_Subscriber", kConnection);
    EXPECT_EQ(errorOf([&] { rs.Open("SELECT * FROM vw_COS", kConnection); }).number(), 3705);
    // A field kept across a reopen is refused, not misread.
    Field last = rs.Fields(std::size_t{15});
    rs.Close();
    EXPECT_EQ(errorOf([&] { last.Value(); }).number(), 3704);
    rs.Open("SELECT * FROM vw_COS", kConnection);
    EXPECT_EQ(errorOf([&] { last.Value(); }).number(), 3265);
    for (const char *criterion : {"Alias>'a'", "Alias", "Alias='a", "Alias LIKE 'a*'"})
        EXPECT_EQ(errorOf([&] { rs.Find(criterion); }).number(), 3001) << criterion;
    EXPECT_EQ(errorOf([&] { rs.Find("Nope='a'"); }).number(), 3265);
}

TEST_P(RecordsetTest, FindsTheFirstMatchFromTheCurrentRow) {
    Recordset rs = open(kAll), cos = open("SELECT * FROM vw_COS");
    if (GetParam()) {
        for (const char *column : {"SubscriberObjectID", "Alias", "DTMFAccessID"})
            rs[column].Optimize(true);
        cos["Alias"].Optimize(true);
    }
    const std::pair<const char *, int> cases[] = {
        {"SubscriberObjectID='{00000000-0000-0000-0000-000000001009}'", 9},
        {"SubscriberObjectID='{00000000-0000-0000-0000-00000000100}'", -1}, // a prefix only
        {"[Alias]='USER7'", 7},                                             // letter case ignored
        {"Alias='user7 '", -1},                                             // blanks count
        {"DTMFAccessID=4003", 3}, // a text column with a number criterion
        {"StreamPath=NULL", -1},  // NULL matches nothing
    };
    for (const auto &[criterion, row] : cases) {
        rs.MoveFirst();
        rs.Find(criterion);
        EXPECT_EQ(rs.Eof() ? -1 : static_cast<int>(rs.AbsolutePosition()), row) << criterion;
    }
    rs.MoveFirst();
    rs.MoveNext();
    rs.Find("SubscriberType=1"); // the current row counts itself
    EXPECT_EQ(rs.AbsolutePosition(), 1u);
    rs.Find("Alias='user0'"); // behind the current row: not found
    EXPECT_TRUE(rs.Eof());
    cos.Find("Alias='O'Brien COS'");
    EXPECT_EQ(cos.Eof() ? "" : cos["CosObjectID"].Text(), guidFor(78));
    cos.MoveFirst();
    cos.Find("Alias", std::string("o'brien cos"));
    EXPECT_EQ(cos.Eof() ? "" : cos["Alias"].Text(), "O'Brien COS");
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutIndex, RecordsetTest, ::testing::Bool(),
                         [](const auto &p) { return p.param ? "Indexed" : "Scanned"; });

TEST(RecordsetLarge, SearchesGiveTheSameAnswersWhenTheySwitchToAnIndex) {
    TestDb file(1500);
    auto db = file.database();
    Recordset plain(*db), indexed(*db);
    for (Recordset *rs : {&plain, &indexed})
        rs->Open("Select * from vw_CallHandler_Primary order by CallHandlerObjectID", kConnection,
                 adOpenKeyset);
    indexed["CallHandlerObjectID"].Optimize(true);
    auto at = [](Recordset &rs) {
        return rs.Eof() ? -1 : static_cast<long>(rs.AbsolutePosition());
    };
    for (int i = 0; i < 60; ++i) { // the plain set starts indexing on its own along the way
        std::string criterion = "CallHandlerObjectID='" + guidFor(500000 + (i * 37) % 1600) + "'";
        for (Recordset *rs : {&plain, &indexed}) {
            rs->MoveFirst();
            rs->Find(criterion);
        }
        EXPECT_EQ(at(plain), at(indexed)) << criterion;
    }
}

TEST_F(RecordsetTest, SavesThroughAViewByTheKeyTheRowWasReadWith) {
    Recordset rs = subscriber(2);
    const std::string quoted = "greetings\\it's; DROP TABLE Subscriber; --'", newId = guidFor(8888);
    rs["StreamPath"] = quoted;
    rs.Update();
    EXPECT_EQ(stored("StreamPath", guidFor(1002)), quoted); // a bound value
    EXPECT_EQ(m_file.scalar("SELECT count(*) FROM Subscriber WHERE StreamPath IS NOT NULL"), "1");
    rs["SubscriberObjectID"] = newId;
    rs["StreamPath"] = Null;
    rs.Update();
    EXPECT_EQ(stored("count(*)", guidFor(1002)), "0");
    EXPECT_EQ(stored("Alias || IFNULL(StreamPath, '-')", newId), "user2-");
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

TEST_F(RecordsetTest, RefusedFailedAndCancelledChangesLeaveTheRowAsItWas) {
    Recordset readOnly = open("SELECT * FROM vw_Subscriber", {}, adLockReadOnly);
    Error e = errorOf([&] { readOnly["StreamPath"] = "x"; });
    EXPECT_EQ(e.number(), 3251);
    EXPECT_EQ(e.description(), "Current Recordset does not support updating. This may be a "
                               "limitation of the provider, or of the selected locktype.");
    Recordset joined = open("SELECT * FROM vw_Subscriber INNER JOIN DTMFAccessID ON "
                            "vw_Subscriber.SubscriberObjectID = DTMFAccessID.ParentObjectID");
    EXPECT_EQ(errorOf([&] { joined["Alias"] = "x"; }).number(), 3251);

    Recordset rs = subscriber(0);
    rs["StreamPath"] = "x.wav";
    EXPECT_EQ(errorOf([&] { rs.Close(); }).number(), 3219); // a pending change is not dropped
    rs.CancelUpdate();
    EXPECT_TRUE(rs["StreamPath"].IsNull());
    rs.AddNew();
    rs.CancelUpdate();
    EXPECT_EQ(rs.RecordCount(), 10);
    m_file.exec("DELETE FROM Subscriber WHERE Alias = 'user0'");
    rs["StreamPath"] = "lost.wav";
    e = errorOf([&] { rs.Update(); });
    EXPECT_EQ(e.number(), -2147217864);
    EXPECT_EQ(e.description(), "Row cannot be located for updating. Some values may have been "
                               "changed since it was last read.");
    EXPECT_TRUE(rs["StreamPath"].IsNull()); // the row keeps what it had
    rs.MoveNext();                          // and moving on does not try again
    EXPECT_EQ(rs["Alias"].Text(), "user1");
    EXPECT_EQ(m_file.scalar("SELECT count(*) FROM Subscriber WHERE StreamPath IS NOT NULL"), "0");
}

TEST_F(RecordsetTest, AddsRowsAndReadsBackWhatTheServerMade) {
    Recordset rs = open("SELECT * FROM DTMFAccessID WHERE ParentObjectID=?", {guidFor(1003)});
    for (int n = 1; n <= 2; ++n) {
        rs.AddNew();
        rs["ParentObjectID"] = guidFor(1003);
        rs["DTMFAccessID"] = std::to_string(7000 + n);
        rs["Alias"] = "SYSTEM_DEFINED_ALT_EXT_" + std::to_string(n);
        rs.Update();
    }
    EXPECT_EQ(rs.RecordCount(), 3);
    EXPECT_FALSE(rs["ObjectID"].IsNull());  // the generated key
    EXPECT_EQ(rs["IsPrimaryID"].Long(), 0); // the column's default
    rs["DTMFAccessID"] = "7003";            // a new row is known by its key
    rs.Update();
    EXPECT_EQ(m_file.scalar("SELECT group_concat(DTMFAccessID || ':' || Alias) FROM DTMFAccessID "
                            "WHERE IsPrimaryID = 0"),
              "7001:SYSTEM_DEFINED_ALT_EXT_1,7003:SYSTEM_DEFINED_ALT_EXT_2");
    rs.AddNew();
    rs["ParentObjectID"] = guidFor(1003);
    rs["DTMFAccessID"] = "4005"; // another subscriber's extension
    EXPECT_EQ(errorOf([&] { rs.Update(); }).number(), -2147217873);
    EXPECT_EQ(rs.RecordCount(), 3);
    EXPECT_EQ(m_file.scalar("SELECT count(*) FROM DTMFAccessID"), "12");
}

std::vector<Recordset *> tablesOf(modTarvoDB &tarvo) {
    return {&tarvo.rsNonPrimaryCallHandlers(), &tarvo.rsPrimaryCallHandlers(),
            &tarvo.rsSubscribers(), &tarvo.rsSubscriberTemplates(), &tarvo.rsCOS()};
}

TEST(TarvoDb, OpensTheFiveTablesAsTheyWereAtStartUp) {
    TestDb file(5);
    file.exec("DELETE FROM SubscriberTemplate"); // an empty table opens fine
    auto db = file.database();
    modTarvoDB tarvo(*db);
    ASSERT_TRUE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
    std::vector<int> counts;
    for (Recordset *rs : tablesOf(tarvo)) {
        counts.push_back(static_cast<int>(rs->RecordCount()));
        EXPECT_EQ(rs->Updatable(), rs == &tarvo.rsSubscribers()); // only subscribers are written
    }
    EXPECT_EQ(counts, (std::vector<int>{1, 5, 5, 0, 2}));
    EXPECT_TRUE(tarvo.rsNonPrimaryCallHandlers()["CallHandlerObjectID"].Optimize());
    EXPECT_TRUE(tarvo.rsSubscribers()["SubscriberObjectID"].Optimize());

    file.exec("INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) VALUES ('" +
              guidFor(3333) + "', 'late', 1)");
    Recordset &subs = tarvo.rsSubscribers();
    subs.Find("SubscriberObjectID='" + guidFor(3333) + "'");
    EXPECT_TRUE(subs.Eof()); // not found, and no error
    subs.MoveFirst();
    subs.Find("SubscriberObjectID='" + guidFor(1001) + "'");
    ASSERT_FALSE(subs.Eof());
    subs["StreamPath"] = "x.wav";
    subs.Update(); // a change written through the table reaches the server
    EXPECT_EQ(file.scalar("SELECT StreamPath FROM Subscriber WHERE Alias='user1'"), "x.wav");
}

TEST_F(RecordsetTest, CommandsRefuseValuesThatDoNotFitAndRunQueryTextsReadOnly) {
    Command cmd(*m_db);
    const std::pair<DataTypeEnum, DbValue> refused[] = {
        {adInteger, std::string("one")},
        {adInteger, std::int64_t{1} << 40},
        {adGUID, std::string("{11111111-2222-3333-4444-55555555555}")},
    };
    for (const auto &[type, value] : refused) {
        Error e = errorOf([&] { cmd.AppendParameter("@X", type, value); });
        EXPECT_EQ(e.number(), 3421);
        EXPECT_EQ(e.description(),
                  "Application uses a value of the wrong type for the current operation.");
    }
    EXPECT_EQ(errorOf([&] { cmd.Execute(); }).number(), 3704); // no connection yet
    cmd.ActiveConnection(kConnection);
    cmd.CommandType(adCmdText);
    cmd.CommandText("DELETE FROM Subscriber");
    EXPECT_NE(errorOf([&] { cmd.Execute(); }).number(), 0);
    cmd.CommandText("SELECT * FROM vw_COS");
    EXPECT_EQ(cmd.Execute().RecordCount(), 2);
    EXPECT_EQ(m_file.scalar("SELECT count(*) FROM Subscriber"), "10");
}

TEST(DbValues, ReadAsTheSystemReadsThem) {
    EXPECT_EQ(valueText(DbValue(0.1 + 0.2)), "0.3");
    EXPECT_EQ(valueText(DbValue(1e20)), "1E+20");
    EXPECT_EQ(valueLong(DbValue(2.5)), 2); // half to even
    EXPECT_EQ(valueLong(DbValue(3.5)), 4);
    EXPECT_EQ(errorOf([] { valueLong(DbValue(1e300)); }).number(), 6);
    EXPECT_EQ(KeyHash{}("{ABCDEF01-2345-6789-ABCD-EF0123456789}"),
              KeyHash{}("{abcdef01-2345-6789-abcd-ef0123456789}"));
}

} // namespace
