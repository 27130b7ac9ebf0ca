// Queries the operator writes with --where that would hold the program (no end, too many rows,
// a value or data without measure) are stopped by their limits: the program says why, imports
// and changes nothing and exits 2. Run for real, on the embedded database and over ODBC.
#include "scenario_helpers.h"
#include "support/OdbcDriver.h"

#include <gtest/gtest.h>

using namespace zeph::test;

namespace {

// The texts read alike as T-SQL (the embedded database) and as SQLite's own (the SQLite ODBC
// driver). Without end: six copies of every messaging rule.
const std::string kEndless =
    "WHERE Alias IN (SELECT 'x' FROM MessagingRule a, MessagingRule b, MessagingRule c, "
    "MessagingRule d, MessagingRule e, MessagingRule f WHERE a.Enabled + b.Enabled + c.Enabled + "
    "d.Enabled + e.Enabled + f.Enabled < 0)";
// Every subscriber 2,000 times: more rows than the grid holds.
const std::string kDigit = "(SELECT 0 AS d UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL "
                           "SELECT 3 UNION ALL SELECT 4 UNION ALL SELECT 5 UNION ALL SELECT 6 "
                           "UNION ALL SELECT 7 UNION ALL SELECT 8 UNION ALL SELECT 9)";
const std::string kTooMany = "CROSS JOIN (SELECT 0 AS d UNION ALL SELECT 1) AS w CROSS JOIN " +
                             kDigit + " AS x CROSS JOIN " + kDigit + " AS y CROSS JOIN " + kDigit +
                             " AS z";
const std::string kHugeValue = "WHERE length(zeroblob(900000000)) > 0";
const std::string kHugeValueTsql = "WHERE LEN(REPLICATE('x', 900000000)) > 0";

struct Case {
    std::string tail;
    std::string options;
    std::string setting; // the host's query-timeout, empty: its default
    std::string message;
};

class CliQueryLimits : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!GetParam())
            return;
        ASSERT_FALSE(sqliteOdbcDriver().empty()) << "the SQLite ODBC driver is not installed";
        m_host.useDatabase("Driver=" + sqliteOdbcDriver() + ";Database=" + m_host.host() +
                           "/TarvoDb.sqlite");
    }
    std::string database() const { return TempHost::fileDigest(m_host.host() + "/TarvoDb.sqlite"); }

    ScenarioHost m_host{20, 3};
};

TEST_P(CliQueryLimits, AQueryStoppedByItsLimitsImportsAndChangesNothing) {
    const Case cases[] = {
        {kEndless, "--query-timeout 1", "",
         "The query ran longer than its time limit of 1 second and was stopped."},
        {kEndless, "", "2", "The query ran longer than its time limit of 2 seconds"},
        {kTooMany, "", "", "The query found more than 32767 subscribers"},
        {kEndless + " AND 1=1", "--query-timeout x", "", "--query-timeout takes whole seconds"},
    };
    const std::string before = database();
    for (const Case &c : cases) {
        if (!c.setting.empty())
            m_host.set("query-timeout", c.setting);
        for (const std::string rest : {"--list", "--template defaultTemplate --yes"}) {
            const auto r =
                m_host.cli("--where " + shellQuoted(c.tail) + " " + c.options + " " + rest);
            EXPECT_EQ(r.status, 2) << c.tail << " " << rest << "\n" << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << c.tail << "\n" << r.err;
            EXPECT_EQ(r.err.find("Invalid SQL entry"), std::string::npos) << r.err;
            EXPECT_TRUE(r.out.empty()) << r.out;
        }
        m_host.set("query-timeout", "30");
    }
    EXPECT_EQ(database(), before);
}

// The embedded database refuses to make the value; a server makes it, and the reading stops.
TEST_P(CliQueryLimits, AValueWithoutMeasureIsNeverReadWhole) {
    const auto r =
        m_host.cli("--where " + shellQuoted(GetParam() ? kHugeValue : kHugeValueTsql) + " --list");
    if (GetParam()) {
        // The SQLite ODBC driver computes length() without making the value: the query is sound.
        EXPECT_EQ(r.status, 0) << r.err;
        return;
    }
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("The query makes a value longer than 1048576 bytes"), std::string::npos)
        << r.err;
}

INSTANTIATE_TEST_SUITE_P(Databases, CliQueryLimits, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &param) {
                             return param.param ? "Odbc" : "Embedded";
                         });

} // namespace
