// The ODBC backend through the real driver manager (unixODBC) and a real driver: the SQLite
// ODBC driver on a small server database. What is proved here holds for any driver: bound
// values, forward reading into record sets, rows saved back by key, read-only queries that
// leave nothing behind, and the driver's errors as the system's.
#include "db_helpers.h"
#include "platform/DbErrors.h"
#include "platform/odbc/OdbcDatabase.h"
#include "support/ErrorOf.h"
#include "support/OdbcDriver.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zeph;
using zeph::test::errorOf;
using zeph::test::guidFor;
using zeph::test::kConnection;
using zeph::test::TestDb;
namespace fs = std::filesystem;

namespace {

class OdbcTest : public ::testing::Test {
protected:
    void SetUp() override {
        // scripts/test installs the driver (libsqliteodbc): missing, the test fails.
        ASSERT_FALSE(test::sqliteOdbcDriver().empty()) << "the SQLite ODBC driver is not installed";
        m_db = odbc::makeDatabase("Driver=" + test::sqliteOdbcDriver() +
                                  ";Database=" + m_file.path() + ";NoWCHAR=0");
    }
    std::unique_ptr<IDbConnection> connect() { return m_db->connect(kConnection); }

    TestDb m_file{5};
    std::unique_ptr<IDatabase> m_db;
};

TEST_F(OdbcTest, ReadsBoundValuesIntoTheSameRowsAsTheEmbeddedBackend) {
    const std::string sql = "SELECT Alias, DTMFAccessID, SubscriberType, RemoteNodeID, "
                            "SubscriberObjectID FROM Subscriber WHERE Alias <> ? AND "
                            "SubscriberType = ? ORDER BY Alias";
    const std::vector<DbValue> params = {std::string("user2"), std::int64_t{1}};
    DbRowSet over = connect()->query(sql, params, true);
    DbRowSet embedded = m_file.database()->connect(kConnection)->query(sql, params, true);
    ASSERT_EQ(over.rows.size(), 4u);
    EXPECT_EQ(over.rows, embedded.rows);
    ASSERT_EQ(over.columns.size(), embedded.columns.size());
    for (std::size_t c = 0; c < over.columns.size(); ++c)
        EXPECT_EQ(over.columns[c].name, embedded.columns[c].name);
    EXPECT_TRUE(over.updateTarget.empty()); // read-only rows are never saved back
}

TEST_F(OdbcTest, TextOfEveryScriptAndLongTextTravelWhole) {
    const std::string names[] = {"Zoë Ångström", "日本語の名前", "emoji 😀 and quote '", "",
                                 std::string(9000, 'x')};
    auto conn = connect();
    for (const auto &name : names) {
        conn->updateRow("Subscriber", {"SubscriberObjectID"}, {guidFor(1001)}, {"DisplayName"},
                        {name});
        DbRowSet rows =
            conn->query("SELECT DisplayName FROM Subscriber WHERE DisplayName = ?", {name}, true);
        ASSERT_EQ(rows.rows.size(), 1u) << name.substr(0, 40);
        EXPECT_EQ(rows.rows[0][0], DbValue(name));
        EXPECT_EQ(m_file.scalar("SELECT DisplayName FROM Subscriber WHERE Alias = 'user1'"),
                  name.empty() ? "" : name);
    }
}

TEST_F(OdbcTest, RowsOfOneTableAreSavedBackByTheirKeyFetchedHiddenWhenNotSelected) {
    auto conn = connect();
    DbRowSet all =
        conn->query("SELECT * FROM Subscriber WHERE Alias = ?", {std::string("user3")}, false);
    EXPECT_EQ(all.updateTarget, "Subscriber");
    EXPECT_EQ(all.keyColumns, std::vector<std::string>{"SubscriberObjectID"});
    for (const auto &column : all.columns)
        EXPECT_FALSE(column.hidden) << column.name;

    DbRowSet some = conn->query("SELECT Alias, DisplayName FROM Subscriber WHERE Alias = ?",
                                {std::string("user3")}, false);
    ASSERT_EQ(some.columns.size(), 3u);
    EXPECT_TRUE(some.columns[0].hidden);
    EXPECT_EQ(some.columns[0].name, "SubscriberObjectID");
    ASSERT_EQ(some.rows.size(), 1u);
    EXPECT_EQ(some.rows[0][0], DbValue(guidFor(1003)));

    // Several sources: read-only.
    EXPECT_TRUE(conn->query("SELECT s.Alias FROM Subscriber s JOIN CallHandler c ON "
                            "c.CallHandlerObjectID = s.CallHandlerObjectID",
                            {}, false)
                    .updateTarget.empty());
}

TEST_F(OdbcTest, AnUpdateFindsExactlyItsRowOrChangesNothing) {
    auto conn = connect();
    conn->updateRow("Subscriber", {"SubscriberObjectID"}, {guidFor(1002)},
                    {"DisplayName", "SubscriberType"}, {std::string("Changed"), std::int64_t{7}});
    EXPECT_EQ(m_file.scalar("SELECT DisplayName || SubscriberType FROM Subscriber WHERE "
                            "Alias = 'user2'"),
              "Changed7");
    // A command's statement that changes rows reads none.
    DbRowSet none = conn->query("UPDATE Subscriber SET LastName = ? WHERE Alias = ?",
                                {std::string("Done"), std::string("user4")}, false);
    EXPECT_TRUE(none.columns.empty() && none.rows.empty());
    EXPECT_EQ(m_file.scalar("SELECT LastName FROM Subscriber WHERE Alias = 'user4'"), "Done");
    const std::string before = m_file.dump();
    Error gone = errorOf([&] {
        conn->updateRow("Subscriber", {"SubscriberObjectID"}, {guidFor(99)}, {"Alias"},
                        {std::string("x")});
    });
    EXPECT_EQ(gone.number(), sqlerr::kRowChanged);
    Error many = errorOf([&] {
        conn->updateRow("Subscriber", {"SubscriberType"}, {std::int64_t{1}}, {"Alias"},
                        {std::string("x")});
    });
    EXPECT_NE(many.description().find("Too many rows"), std::string::npos) << many.description();
    Error refused = errorOf([&] {
        conn->updateRow("Subscriber", {"SubscriberObjectID"}, {guidFor(1001)}, {"Alias"},
                        {DbValue()}); // Alias is NOT NULL
    });
    EXPECT_NE(refused.number(), 0);
    EXPECT_EQ(m_file.dump(), before);
    // The connection goes on working after each failed transaction.
    EXPECT_EQ(conn->query("SELECT COUNT(*) FROM Subscriber", {}, true).rows[0][0],
              DbValue(std::int64_t{5}));
}

TEST_F(OdbcTest, AnInsertedRowIsReadBackByItsKeyWithTheServersDefaults) {
    auto conn = connect();
    auto row =
        conn->insertRow("COS", {"CosObjectID", "Alias"}, {guidFor(79), std::string("newCos")},
                        {"CosObjectID", "Alias", "TextName"});
    ASSERT_TRUE(row);
    EXPECT_EQ(*row, (std::vector<DbValue>{guidFor(79), std::string("newCos"), DbValue()}));
    // A key the server makes itself cannot be found again: stored, not read back.
    EXPECT_FALSE(conn->insertRow("DTMFAccessID", {"DTMFAccessID", "Alias"},
                                 {std::string("4999"), std::string("extra")},
                                 {"ObjectID", "IsPrimaryID"}));
    EXPECT_EQ(m_file.scalar("SELECT IsPrimaryID FROM DTMFAccessID WHERE DTMFAccessID = '4999'"),
              "0");
    Error duplicate = errorOf([&] { conn->insertRow("COS", {"CosObjectID"}, {guidFor(79)}, {}); });
    EXPECT_NE(duplicate.description().find("UNIQUE"), std::string::npos) << duplicate.description();
}

TEST_F(OdbcTest, EveryWriteAttemptOfAReadOnlyQueryLeavesTheDatabaseUnchanged) {
    const std::string before = m_file.dump();
    auto conn = connect();
    // The driver runs each statement inside the transaction; as it returns no rows it is
    // refused, and what it did is rolled back.
    for (const char *sql :
         {"UPDATE Subscriber SET Alias = 'x'", "DELETE FROM Subscriber",
          "INSERT INTO Journal VALUES ('x')", "DROP TABLE Journal", "CREATE TABLE Extra (a)"}) {
        Error e = errorOf([&] { conn->query(sql, {}, true); });
        EXPECT_EQ(e.number(), sqlerr::kPermission) << sql << ": " << e.description();
    }
    EXPECT_EQ(m_file.dump(), before);
    EXPECT_EQ(conn->query("SELECT COUNT(*) FROM Subscriber", {}, true).rows[0][0],
              DbValue(std::int64_t{5}));
}

TEST_F(OdbcTest, DriverErrorsReachTheCallerWithNumberAndText) {
    auto conn = connect();
    Error missing = errorOf([&] { conn->query("SELECT * FROM NoSuchTable", {}, true); });
    EXPECT_NE(missing.number(), 0);
    EXPECT_NE(missing.description().find("no such table"), std::string::npos)
        << missing.description();
    // A procedure the database does not have is an error, never an empty success.
    Error procedure = errorOf([&] {
        conn->callProcedure("csp_SubscriberDelete",
                            {{"@SubscriberObjectID", DbParamType::Guid, guidFor(1001)}});
    });
    EXPECT_NE(procedure.number(), 0);
    // Names that are not plain names never reach the statement text.
    for (const std::string &name :
         {std::string("x; DROP TABLE Journal"), std::string("a b"), std::string("")}) {
        Error e = errorOf([&] { conn->callProcedure(name, {}); });
        EXPECT_EQ(e.number(), sqlerr::kSyntaxOrObject) << name;
    }
    Error argument = errorOf([&] {
        conn->callProcedure("sp_x", {{"@a = 1; DROP TABLE Journal; --", DbParamType::Text, {}}});
    });
    EXPECT_EQ(argument.number(), sqlerr::kSyntaxOrObject);
    EXPECT_EQ(m_file.scalar("SELECT COUNT(*) FROM sqlite_schema WHERE name = 'Journal'"), "1");

    Error noDriver = errorOf(
        [] { odbc::makeDatabase("Driver={No Such Driver};Database=x")->connect(kConnection); });
    EXPECT_EQ(noDriver.number(), sqlerr::kGeneral);
    EXPECT_FALSE(noDriver.description().empty());
}

TEST_F(OdbcTest, ClosedConnectionsServeTheNextOnesAsFreshOnes) {
    {
        auto conn = connect();
        EXPECT_THROW(conn->updateRow("Subscriber", {"SubscriberObjectID"}, {guidFor(99)}, {"Alias"},
                                     {std::string("x")}),
                     Error);
    }
    for (int i = 0; i < 3; ++i) {
        auto a = connect();
        auto b = connect();
        a->updateRow("Subscriber", {"SubscriberObjectID"}, {guidFor(1000 + i)}, {"FirstName"},
                     {std::string("F") + std::to_string(i)});
        EXPECT_EQ(b->query("SELECT FirstName FROM Subscriber WHERE Alias = ?",
                           {std::string("user") + std::to_string(i)}, true)
                      .rows[0][0],
                  DbValue(std::string("F") + std::to_string(i)));
    }
}

// A change of every row that holds a value is one statement, the same through the driver and
// on the embedded database: all of its rows or, when it fails, none; with a limit, none when
// more rows than that hold the value.
TEST(RowsChange, AllRowsThatHoldTheValuesOrNoneAlikeOnBothBackends) {
    struct Case {
        const char *name;
        DbRowsChange change;
        std::int64_t changed; // -1: refused
        const char *check;    // a count the change leaves, "" when the database is as it was
        const char *counted;
    };
    const DbValue one = std::int64_t{1};
    const std::vector<Case> cases = {
        {"every row that holds the value",
         {"Subscriber", {"SubscriberType"}, {one}, {"LastName"}, {std::string("Same")}},
         5,
         "SELECT COUNT(*) FROM Subscriber WHERE LastName = 'Same'",
         "5"},
        {"no row holds it",
         {"Subscriber", {"SubscriberType"}, {std::int64_t{9}}, {"LastName"}, {std::string("x")}},
         0,
         "",
         ""},
        {"the rows move out of the condition",
         {"CallHandler",
          {"IsPrimary"},
          {one},
          {"IsPrimary", "RecipientObjectID"},
          {std::int64_t{0}, DbValue()}},
         5,
         "SELECT COUNT(*) FROM CallHandler WHERE IsPrimary = 0 AND RecipientObjectID IS NULL",
         "6"},
        {"two conditions",
         {"Subscriber",
          {"SubscriberType", "Alias"},
          {one, std::string("user3")},
          {"DisplayName"},
          {DbValue()}},
         1,
         "SELECT COUNT(*) FROM Subscriber WHERE DisplayName IS NULL",
         "1"},
        {"the single row expected",
         {"Subscriber", {"Alias"}, {std::string("user2")}, {"LastName"}, {std::string("One")}, 1},
         1,
         "SELECT Alias FROM Subscriber WHERE LastName = 'One'",
         "user2"},
        {"more rows than expected are left as they are",
         {"Subscriber", {"SubscriberType"}, {one}, {"LastName"}, {std::string("x")}, 1},
         0,
         "",
         ""},
        {"as many rows as allowed",
         {"Subscriber", {"SubscriberType"}, {one}, {"LastName"}, {std::string("Five")}, 5},
         5,
         "SELECT COUNT(*) FROM Subscriber WHERE LastName = 'Five'",
         "5"},
        {"a value one row refuses changes none",
         {"DTMFAccessID", {"IsPrimaryID"}, {one}, {"DTMFAccessID"}, {std::string("4002")}},
         -1,
         "",
         ""},
        {"a column the table lacks",
         {"Subscriber", {"Alias"}, {std::string("user1")}, {"NoSuchColumn"}, {one}},
         -1,
         "",
         ""},
        {"without a condition",
         {"Subscriber", {}, {}, {"LastName"}, {std::string("x")}},
         -1,
         "",
         ""},
    };
    ASSERT_FALSE(test::sqliteOdbcDriver().empty()) << "the SQLite ODBC driver is not installed";
    for (const Case &c : cases) {
        for (const bool overOdbc : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (overOdbc ? ", over ODBC" : ", embedded"));
            auto open = [overOdbc](const TestDb &file) {
                return overOdbc ? odbc::makeDatabase("Driver=" + test::sqliteOdbcDriver() +
                                                     ";Database=" + file.path() + ";NoWCHAR=0")
                                : file.database();
            };
            TestDb file(5);
            const std::unique_ptr<IDatabase> database = open(file);
            auto conn = database->connect(kConnection);
            const std::string before = file.dump();
            if (c.changed < 0)
                EXPECT_NE(errorOf([&] { conn->updateWhere(c.change); }).number(), 0);
            else
                EXPECT_EQ(conn->updateWhere(c.change), c.changed);
            if (*c.check)
                EXPECT_EQ(file.scalar(c.check), c.counted);
            else
                EXPECT_EQ(file.dump(), before);
            // The connection goes on working after a failed change.
            EXPECT_EQ(conn->query("SELECT COUNT(*) FROM Subscriber", {}, true).rows.at(0).at(0),
                      DbValue(std::int64_t{5}));

            // Inside a transaction the change is the transaction's, taken back with it.
            if (c.changed > 0) {
                TestDb other(5);
                const std::unique_ptr<IDatabase> otherDatabase = open(other);
                auto inTransaction = otherDatabase->connect(kConnection);
                const std::string unchanged = other.dump();
                inTransaction->beginTransaction();
                EXPECT_EQ(inTransaction->updateWhere(c.change), c.changed);
                inTransaction->rollbackTransaction();
                EXPECT_EQ(other.dump(), unchanged);
            }
        }
    }
}

TEST(OdbcText, PasswordsAreHiddenWhereverTheyStand) {
    const std::pair<const char *, const char *> cases[] = {
        {"Driver={SQL Server};Server=h,1433;UID=sa;PWD=secret",
         "Driver={SQL Server};Server=h,1433;UID=sa;PWD=***"},
        {"pwd = s;Database=TarvoDb", "pwd =***;Database=TarvoDb"},
        {"Password={a;b}}c};Database=x;", "Password=***;Database=x;"},
        {"Driver={SQL Server};server=;database=TarvoDb",
         "Driver={SQL Server};server=;database=TarvoDb"},
        {"PWD=", "PWD=***"},
        {"", ""},
    };
    for (const auto &[text, shown] : cases)
        EXPECT_EQ(odbc::hidePassword(text), shown) << text;
}

} // namespace
