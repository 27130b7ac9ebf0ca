// Limits on a query an operator wrote, on both backends: the embedded one and ODBC (unixODBC and
// the SQLite ODBC driver on the same database file). A query that never ends is stopped by its
// time limit or by a cancel from the caller's thread, and a query that brings back too much
// stops being read: nothing of it takes the program's time or memory without end.
#include "db_helpers.h"
#include "platform/QueryLimits.h"
#include "platform/odbc/OdbcDatabase.h"
#include "support/ErrorOf.h"
#include "support/OdbcDriver.h"

#include <gtest/gtest.h>

using namespace zeph;
using zeph::test::errorOf;
using zeph::test::kConnection;
using zeph::test::TestDb;

namespace {

// The texts read alike as T-SQL (the embedded database) and as SQLite's own (the SQLite ODBC
// driver).
// Counts without end: a statement that only a limit stops (sixteen copies of the subscribers).
std::string endless() {
    std::string from, sum;
    for (char c = 'a'; c < 'a' + 16; ++c) {
        from += std::string(from.empty() ? "" : ", ") + "Subscriber " + c;
        sum += std::string(sum.empty() ? "" : " + ") + c + ".SubscriberType";
    }
    return "SELECT COUNT(*) FROM " + from + " WHERE " + sum + " < 0";
}
const std::string kEndless = endless();
// 1,000 rows per subscriber of the test database: 5,000 in all.
const std::string kDigit = "(SELECT 0 AS d UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL "
                           "SELECT 3 UNION ALL SELECT 4 UNION ALL SELECT 5 UNION ALL SELECT 6 "
                           "UNION ALL SELECT 7 UNION ALL SELECT 8 UNION ALL SELECT 9)";
const std::string kMany = "SELECT Alias, x.d, y.d, z.d FROM Subscriber, " + kDigit + " AS x, " +
                          kDigit + " AS y, " + kDigit + " AS z";

enum class Backend { Embedded, Odbc };

class QueryLimits : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::Embedded) {
            m_db = m_file.database();
            return;
        }
        ASSERT_FALSE(test::sqliteOdbcDriver().empty()) << "the SQLite ODBC driver is not installed";
        m_db = odbc::makeDatabase("Driver=" + test::sqliteOdbcDriver() +
                                  ";Database=" + m_file.path() + ";NoWCHAR=0");
    }
    DbRowSet query(const std::string &sql, const DbQueryLimits &limits) {
        return m_db->connect(kConnection)->queryWithin(sql, {}, limits);
    }

    TestDb m_file{5};
    std::unique_ptr<IDatabase> m_db;
};

TEST_P(QueryLimits, AnEndlessQueryIsStoppedByItsTimeLimitAndTheConnectionServesOn) {
    DbQueryLimits limits;
    limits.timeoutSeconds = 1;
    const Error e = errorOf([&] { query(kEndless, limits); });
    EXPECT_EQ(e.number(), kQueryTimedOut) << e.description();
    EXPECT_EQ(e.description(), "The query ran longer than its time limit of 1 second and was "
                               "stopped.");
    EXPECT_TRUE(stoppedByLimits(e));
    // The next query on a connection of the same database reads as ever.
    EXPECT_EQ(query("SELECT count(*) FROM Subscriber", limits).rows.at(0).at(0),
              DbValue(std::int64_t{5}));
}

TEST_P(QueryLimits, ACancelFromTheCallersThreadStopsTheQuery) {
    int asked = 0;
    DbQueryLimits limits;
    limits.timeoutSeconds = 0; // no time limit: only the cancel can stop it
    limits.keepGoing = [&] { return ++asked < 3; };
    const Error e = errorOf([&] { query(kEndless, limits); });
    EXPECT_EQ(e.number(), kQueryCancelled) << e.description();
    EXPECT_EQ(e.description(), "The query was cancelled.");
    EXPECT_GE(asked, 3);
}

TEST_P(QueryLimits, RowsBeyondTheCapAreNeverReadAndSaySo) {
    struct Case {
        std::size_t maxRows;
        std::size_t rows;
        bool cut;
    };
    const Case cases[] = {{0, 5000, false}, {5000, 5000, false}, {4999, 4999, true}, {7, 7, true}};
    for (const Case &c : cases) {
        DbQueryLimits limits;
        limits.maxRows = c.maxRows;
        const DbRowSet rows = query(kMany, limits);
        EXPECT_EQ(rows.rows.size(), c.rows) << c.maxRows;
        EXPECT_EQ(rows.cut, c.cut) << c.maxRows;
    }
}

TEST_P(QueryLimits, AValueOrAllDataBeyondTheByteLimitsStopsTheQuery) {
    struct Case {
        std::string sql;
        std::size_t maxValue;
        std::size_t maxTotal;
        long number; // 0: read whole
    };
    // T-SQL on the embedded database, SQLite's own through its ODBC driver.
    const bool tsql = GetParam() == Backend::Embedded;
    const std::string longText = tsql ? "SELECT REPLICATE('ab', 150000)"
                                      : "SELECT hex(zeroblob(150000))"; // 300,000 characters
    const std::string thousand = tsql ? "SELECT REPLICATE('x', 1000) FROM Subscriber"
                                      : "SELECT printf('%.*c', 1000, 'x') FROM Subscriber";
    const Case cases[] = {
        {longText, 1 << 20, 0, 0},
        {longText, 100000, 0, kQueryValueTooLong},
        {tsql ? "SELECT LEN(REPLICATE('x', 900000000))" : "SELECT length(zeroblob(900000000))",
         1 << 20, 0, tsql ? kQueryValueTooLong : 0},
        {thousand, 1 << 20, 4000, kQueryValueTooLong},
        {thousand, 1 << 20, 20000, 0},
    };
    for (const Case &c : cases) {
        DbQueryLimits limits;
        limits.maxValueBytes = c.maxValue;
        limits.maxTotalBytes = c.maxTotal;
        const Error e = errorOf([&] { query(c.sql, limits); });
        EXPECT_EQ(e.number(), c.number) << c.sql << ": " << e.description();
    }
}

TEST_P(QueryLimits, AStatementThatWouldWriteIsRefusedWithinLimitsToo) {
    const std::string before = m_file.dump();
    DbQueryLimits limits;
    limits.timeoutSeconds = 5;
    const Error e = errorOf([&] { query("DELETE FROM Subscriber", limits); });
    EXPECT_NE(e.number(), 0);
    EXPECT_FALSE(stoppedByLimits(e));
    EXPECT_EQ(m_file.dump(), before);
}

INSTANTIATE_TEST_SUITE_P(Backends, QueryLimits, ::testing::Values(Backend::Embedded, Backend::Odbc),
                         [](const ::testing::TestParamInfo<Backend> &param) {
                             return param.param == Backend::Embedded ? "Embedded" : "Odbc";
                         });

} // namespace
