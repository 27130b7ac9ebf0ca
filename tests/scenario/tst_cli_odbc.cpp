// The programs on a database named by ZEPHRANE_DATABASE: the host's own database file reached
// through unixODBC and the SQLite ODBC driver reads exactly as the embedded backend reads it.
#include "scenario_helpers.h"
#include "support/OdbcDriver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace zeph::test;
namespace fs = std::filesystem;

namespace {

class CliOdbc : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(sqliteOdbcDriver().empty()) << "the SQLite ODBC driver is not installed";
    }
    void overOdbc() {
        m_host.useDatabase("Driver=" + sqliteOdbcDriver() + ";Database=" + m_host.host() +
                           "/TarvoDb.sqlite;UID=admin;PWD=s3cret");
    }
    ScenarioHost m_host{30, 11};
};

TEST_F(CliOdbc, HostInfoNamesTheDatabaseInUseWithoutItsPassword) {
    auto embedded = m_host.cli("--host-info");
    EXPECT_EQ(embedded.status, 0);
    EXPECT_NE(embedded.out.find("database: the stand-in host's own (embedded)"), std::string::npos)
        << embedded.out;
    overOdbc();
    auto odbc = m_host.cli("--host-info");
    EXPECT_EQ(odbc.status, 0);
    EXPECT_NE(odbc.out.find("database: ODBC (ZEPHRANE_DATABASE): Driver="), std::string::npos)
        << odbc.out;
    EXPECT_NE(odbc.out.find("UID=admin;PWD=***"), std::string::npos) << odbc.out;
    EXPECT_EQ(odbc.out.find("s3cret"), std::string::npos) << odbc.out;
}

TEST_F(CliOdbc, StartUpChecksSelectionsAndADryRunReadAsOnTheEmbeddedDatabase) {
    const std::string csv = m_host.temp().path() + "/list.csv";
    { std::ofstream(csv) << "alias,extension\nnobody,1\n"; }
    auto first = m_host.cli("--all --list");
    ASSERT_EQ(first.status, 0) << first.err;
    const auto rows = lines(first.out);
    ASSERT_GE(rows.size(), 3u);
    const std::string alias = fields(rows[1])[0];
    { std::ofstream(csv) << "alias,extension\n" << alias << ",\nnobody,1\n"; }
    const std::vector<std::string> runs = readingRuns(csv);
    const auto embedded = runEach(m_host, runs);
    overOdbc();
    EXPECT_EQ(printedDifference(runs, embedded, runEach(m_host, runs)), "");
    EXPECT_GT(lines(embedded[7].out).size(), 50u); // a whole run was compared
}

} // namespace
