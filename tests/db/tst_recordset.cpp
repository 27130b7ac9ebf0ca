// Record sets over the SQLite backend: reading, walking, searching.
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

class RecordsetTest : public ::testing::Test {
protected:
    TestDb m_file{10};
    std::unique_ptr<IDatabase> m_db = m_file.database();

    Recordset open(const std::string &sql, const std::vector<DbValue> &params = {}) {
        Recordset rs(*m_db);
        rs.CursorLocation(adUseClient);
        rs.Open(sql, kConnection, adOpenKeyset, adLockReadOnly, params);
        return rs;
    }
};

const char *kAll = "Select * from vw_Subscriber order by SubscriberObjectID";

TEST_F(RecordsetTest, ReadsFieldsWithoutLetterCaseAndConvertsAsTheSystemDoes) {
    Recordset rs = open(kAll);
    EXPECT_EQ(rs.RecordCount(), 10);
    EXPECT_EQ(rs["ALIAS"].Text(), "user0");
    EXPECT_EQ(rs["subscriberobjectid"].Name(), "SubscriberObjectID");
    EXPECT_EQ(rs["SubscriberType"].Text(), "1"); // a number read as text
    EXPECT_EQ(rs["DTMFAccessID"].Long(), 4000);  // text read as a number
    EXPECT_EQ(rs.Fields(std::size_t{1}).Name(), "Alias");
    Error missing = errorOf([&] { rs["NoSuchColumn"].Text(); });
    EXPECT_EQ(missing.number(), 3265);
    EXPECT_EQ(
        missing.description(),
        "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    EXPECT_EQ(errorOf([&] { rs.Fields(std::size_t{16}); }).number(), 3265);
    // NULL reads as NULL and refuses to be text or a number.
    EXPECT_TRUE(rs["StreamPath"].IsNull());
    Error null = errorOf([&] { rs["StreamPath"].Text(); });
    EXPECT_EQ(null.number(), 94);
    EXPECT_EQ(null.description(), "Invalid use of Null");
    EXPECT_EQ(errorOf([&] { rs["StreamPath"].Long(); }).number(), 94);
    EXPECT_EQ(errorOf([&] { rs["Alias"].Long(); }).number(), 13); // "user0" is no number
}

TEST_F(RecordsetTest, WalksToTheEndAndRefusesToGoFurther) {
    Recordset rs = open(kAll);
    int seen = 0;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
        EXPECT_EQ(rs["Alias"].Text(), "user" + std::to_string(seen++));
    EXPECT_EQ(seen, 10);
    const std::string noRecord = "Either BOF or EOF is True, or the current record has been "
                                 "deleted. Requested operation requires a current record.";
    for (Error e : {errorOf([&] { rs.MoveNext(); }), errorOf([&] { rs["Alias"].Value(); })}) {
        EXPECT_EQ(e.number(), 3021);
        EXPECT_EQ(e.description(), noRecord);
    }
    rs.MoveFirst();
    EXPECT_EQ(rs["Alias"].Text(), "user0");
}

TEST_F(RecordsetTest, EmptyAndClosedSetsHaveNoRows) {
    Recordset rs = open("SELECT * FROM vw_Subscriber WHERE Alias = ?", {"nobody"});
    EXPECT_EQ(rs.RecordCount(), 0);
    EXPECT_TRUE(rs.Eof() && rs.Bof());
    // There is no first row to move to: the template and class-of-service lists learn of an empty
    // table this way.
    EXPECT_EQ(errorOf([&] { rs.MoveFirst(); }).number(), 3021);
    rs.Find("Alias='user1'");
    EXPECT_TRUE(rs.Eof());
    rs.Close();
    rs.Close();            // closing twice is harmless
    EXPECT_TRUE(rs.Eof()); // a loop over a closed set ends at once
    EXPECT_EQ(errorOf([&] { rs.RecordCount(); }).number(), 3704);
    EXPECT_EQ(errorOf([&] { rs["Alias"]; }).number(), 3704);
    Recordset cos = open("SELECT * FROM vw_COS");
    EXPECT_EQ(errorOf([&] { cos.Open("SELECT * FROM vw_COS", kConnection); }).number(), 3705);
}

TEST_F(RecordsetTest, FailedOpenLeavesTheSetClosed) {
    Recordset rs(*m_db);
    Error e = errorOf([&] { rs.Open("SELECT * FROM vw_Nothing", kConnection); });
    EXPECT_EQ(e.number(), -2147217900);
    EXPECT_EQ(e.description(), "no such table: vw_Nothing");
    EXPECT_FALSE(rs.IsOpen());
    rs.Open("SELECT * FROM vw_COS", kConnection); // and it can be opened afterwards
    EXPECT_EQ(rs.RecordCount(), 2);
}

TEST_F(RecordsetTest, AFieldKeptAcrossAReopenIsRefusedNotMisread) {
    Recordset rs = open("SELECT * FROM vw_Subscriber");
    Field last = rs.Fields(std::size_t{15});
    rs.Close();
    EXPECT_EQ(errorOf([&] { last.Value(); }).number(), 3704);
    rs.Open("SELECT * FROM vw_COS", kConnection);
    EXPECT_EQ(errorOf([&] { last.Value(); }).number(), 3265);
}

// --- Find ----------------------------------------------------------------------------------------

class FindTest : public RecordsetTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FindTest, FindsTheFirstMatchFromTheCurrentRow) {
    Recordset rs = open(kAll);
    if (GetParam()) {
        for (const char *column : {"SubscriberObjectID", "Alias", "SubscriberType", "DTMFAccessID"})
            rs[column].Optimize(true);
    }
    const std::pair<const char *, int> cases[] = {
        // criterion, the row found (-1: none)
        {"SubscriberObjectID='{00000000-0000-0000-0000-000000001009}'", 9},
        {"SubscriberObjectID='{00000000-0000-0000-0000-00000000100}'", -1}, // a prefix only
        {"[Alias]='USER7'", 7}, // letter case ignored, as the server compares
        {"Alias='user7 '", -1}, // blanks count
        {"SubscriberType=1.0", 0},
        {"DTMFAccessID=4003", 3}, // a text column with a number criterion
        {"DTMFAccessID='04003'", -1},
        {"StreamPath=NULL", -1}, // NULL matches nothing
        {"Alias='O'Brien COS'", -1},
    };
    for (const auto &[criterion, row] : cases) {
        rs.MoveFirst();
        rs.Find(criterion);
        EXPECT_EQ(rs.Eof() ? -1 : static_cast<int>(rs.AbsolutePosition()), row) << criterion;
    }
    // Forward from the current row, which counts itself.
    rs.MoveFirst();
    rs.MoveNext();
    rs.MoveNext();
    rs.Find("SubscriberType=1");
    EXPECT_EQ(rs.AbsolutePosition(), 2u);
    rs.Find("Alias='user1'"); // behind the current row: not found
    EXPECT_TRUE(rs.Eof());
    rs.Find("Alias='user1'"); // at the end it stays at the end
    EXPECT_TRUE(rs.Eof());

    Recordset cos = open("SELECT * FROM vw_COS");
    if (GetParam())
        cos["Alias"].Optimize(true);
    cos.MoveFirst();
    cos.Find("Alias='O'Brien COS'");
    ASSERT_FALSE(cos.Eof());
    EXPECT_EQ(cos["CosObjectID"].Text(), guidFor(78));
    cos.MoveFirst();
    cos.Find("Alias", std::string("o'brien cos"));
    EXPECT_EQ(cos.Eof() ? "" : cos["Alias"].Text(), "O'Brien COS");
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutIndex, FindTest, ::testing::Bool(),
                         [](const auto &p) { return p.param ? "Indexed" : "Scanned"; });

TEST_F(RecordsetTest, FindRefusesWhatItCannotSearch) {
    Recordset rs = open("SELECT * FROM vw_COS");
    for (const char *criterion : {"Alias>'a'", "Alias", "Alias='a", "Alias LIKE 'a*'"})
        EXPECT_EQ(errorOf([&] { rs.Find(criterion); }).number(), 3001) << criterion;
    EXPECT_EQ(errorOf([&] { rs.Find("Nope='a'"); }).number(), 3265);
}

TEST(RecordsetLarge, SearchesGiveTheSameAnswersWhenTheySwitchToAnIndex) {
    TestDb file(1500);
    auto db = file.database();
    Recordset plain(*db), indexed(*db);
    for (Recordset *rs : {&plain, &indexed})
        rs->Open("Select * from vw_CallHandler_Primary order by CallHandlerObjectID", kConnection,
                 adOpenKeyset);
    indexed["CallHandlerObjectID"].Optimize(true);
    // Many searches on one column: the plain set starts indexing on its own along the way.
    for (int i = 0; i < 60; ++i) {
        std::string criterion = "CallHandlerObjectID='" + guidFor(500000 + (i * 37) % 1600) + "'";
        for (Recordset *rs : {&plain, &indexed}) {
            rs->MoveFirst();
            if (i % 3 == 0)
                rs->MoveNext(); // sometimes from the second row
            rs->Find(criterion);
        }
        ASSERT_EQ(plain.Eof(), indexed.Eof()) << criterion;
        if (!plain.Eof()) {
            EXPECT_EQ(plain.AbsolutePosition(), indexed.AbsolutePosition()) << criterion;
        }
    }
    EXPECT_FALSE(plain["CallHandlerObjectID"].Optimize()); // the hint itself is unchanged
}

TEST(DbValues, ReadAsTheSystemReadsThem) {
    EXPECT_EQ(valueText(DbValue(0.1 + 0.2)), "0.3");
    EXPECT_EQ(valueText(DbValue(1e20)), "1E+20");
    EXPECT_EQ(valueLong(DbValue(2.5)), 2); // half to even, as the system rounds
    EXPECT_EQ(valueLong(DbValue(3.5)), 4);
    EXPECT_EQ(valueLong(DbValue(std::string(" 9007199254740993 "))), 9007199254740993);
    EXPECT_EQ(errorOf([] { valueLong(DbValue(std::string(""))); }).number(), 13);
    EXPECT_EQ(errorOf([] { valueLong(DbValue(1e300)); }).number(), 6);
    // Search keys: a number matches its text, letter case is ignored, NULL matches nothing.
    EXPECT_TRUE(matchesKey(DbValue(7.0), "7"));
    EXPECT_TRUE(matchesKey(DbValue(std::string("AbC")), "aBc"));
    EXPECT_FALSE(matchesKey(DbValue(std::string("AbC")), "aBc "));
    EXPECT_FALSE(matchesKey(DbValue{}, ""));
    EXPECT_EQ(KeyHash{}("{ABCDEF01-2345-6789-ABCD-EF0123456789}"),
              KeyHash{}("{abcdef01-2345-6789-abcd-ef0123456789}"));
}

} // namespace
