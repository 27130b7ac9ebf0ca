// The SQLite backend on its own: connecting, read-only queries, statement checks, errors.
#include "db_helpers.h"
#include "platform/sqlite/SqliteDatabase.h"
#include "platform/sqlite/SqliteQueryShape.h"
#include "support/ErrorOf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace zeph;
using zeph::test::errorOf;
using zeph::test::guidFor;
using zeph::test::kConnection;
using zeph::test::TestDb;
namespace fs = std::filesystem;

namespace {

TEST(SqliteConnect, AcceptsTheSystemsConnectionTextAndNoOther) {
    TestDb file(2);
    auto db = file.database();
    for (const char *text : {"DRIVER={SQL Server};SERVER=;DATABASE=tarvodb;",
                             " driver = {SQL Server} ; Server = (local) ; Database = TARVODB "}) {
        EXPECT_EQ(db->connect(text)->query("SELECT * FROM vw_COS", {}, true).rows.size(), 2u)
            << text;
    }
    file.scalar("SELECT count(*) FROM Journal"); // a read makes the test's connection look
    EXPECT_EQ(file.scalar("PRAGMA journal_mode"), "wal");
    Error other = errorOf([&] { db->connect("Driver={SQL Server};server=;database=master"); });
    EXPECT_EQ(other.number(), -2147467259);
    EXPECT_NE(other.description().find("\"master\""), std::string::npos) << other.description();
    for (const char *text : {"Driver={SQL Server};server=", "garbage",
                             "Driver={SQL Server};server=FARAWAY;database=TarvoDb"})
        EXPECT_NE(errorOf([&] { db->connect(text); }).number(), 0) << text;
}

TEST(SqliteConnect, NeverCreatesADatabaseFile) {
    zeph::test::TempFolder dir;
    const std::string missing = dir.path() + "/TarvoDb.sqlite";
    Error e = errorOf(
        [&] { sqlite::makeDatabase(missing, sqlite::ServerContext{})->connect(kConnection); });
    EXPECT_EQ(e.number(), -2147467259);
    EXPECT_NE(e.description().find(missing), std::string::npos) << e.description();
    EXPECT_FALSE(fs::exists(missing));
    const std::string empty = dir.path() + "/empty.sqlite";
    std::ofstream(empty).close();
    EXPECT_NE(errorOf([&] {
                  sqlite::makeDatabase(empty, sqlite::ServerContext{})->connect(kConnection);
              }).number(),
              0);
    EXPECT_EQ(fs::file_size(empty), 0u);
    EXPECT_FALSE(fs::exists(empty + "-wal"));
}

TEST(SqliteQuery, BindsValuesAndReportsPlaceholderMismatch) {
    TestDb file(3);
    auto conn = file.database()->connect(kConnection);
    DbRowSet rows = conn->query("SELECT CosObjectID FROM vw_COS WHERE Alias=?",
                                {std::string("O'Brien COS")}, true);
    ASSERT_EQ(rows.rows.size(), 1u);
    EXPECT_EQ(rows.rows[0][0], DbValue(guidFor(78)));
    EXPECT_TRUE(rows.updateTarget.empty()); // read-only rows name no target
    EXPECT_EQ(
        errorOf([&] { conn->query("SELECT * FROM vw_COS WHERE Alias=?", {}, true); }).number(),
        -2147217904);
    EXPECT_EQ(errorOf([&] {
                  conn->query("SELECT * FROM vw_COS", {std::string("extra")}, false);
              }).number(),
              -2147217904);
}

TEST(SqliteQuery, ReportsSQLitesOwnMessagesWithDriverNumbers) {
    TestDb file(1);
    auto conn = file.database()->connect(kConnection);
    struct Case {
        const char *sql;
        long number;
        const char *description;
    } cases[] = {
        {"SELEC * FROM vw_COS", -2147217900, "near \"SELEC\": syntax error"},
        {"SELECT * FROM vw_Nope", -2147217900, "no such table: vw_Nope"},
        {"", -2147217900, "The command text holds no statement."},
        {"SELECT * FROM vw_COS WHERE Alias = \"defaultCos\"", -2147217900,
         "no such column: defaultCos"}, // double quotes name, as on the server
        {"SELECT * FROM Subscriber WHERE Alias='x'; DELETE FROM Subscriber", -2147217900,
         "Only one statement is allowed; the text goes on after it: \"DELETE FROM Subscriber\""},
        {"INSERT INTO DTMFAccessID (DTMFAccessID) VALUES ('4000')", -2147217873,
         "UNIQUE constraint failed: DTMFAccessID.DTMFAccessID"},
    };
    const std::string before = file.dump();
    for (const auto &c : cases) {
        for (bool readOnly : {false, true}) {
            if (readOnly && c.number == -2147217873)
                continue; // a write is refused before it can break a constraint
            Error e = errorOf([&] { conn->query(c.sql, {}, readOnly); });
            EXPECT_EQ(e.number(), c.number) << c.sql;
            EXPECT_EQ(e.description(), c.description) << c.sql;
        }
    }
    EXPECT_EQ(file.dump(), before);
    EXPECT_EQ(conn->query("SELECT * FROM vw_COS;  \n", {}, true).rows.size(), 2u); // blanks after
}

// Every one of these must leave the database exactly as it was.
TEST(SqliteQuery, AReadOnlyQueryCannotChangeAnything) {
    TestDb file(3);
    const std::string before = file.dump();
    const std::string attached = file.folder() + "/other.sqlite";
    auto conn = file.database()->connect(kConnection);
    for (const std::string &sql : {
             std::string("INSERT INTO Journal VALUES ('x')"),
             std::string("UPDATE vw_Subscriber SET StreamPath = 'x'"),
             std::string("DELETE FROM Subscriber"),
             std::string("DROP TABLE Journal"),
             std::string("CREATE TEMP TABLE Extra (x)"),
             "ATTACH DATABASE '" + attached + "' AS other",
             std::string("PRAGMA user_version = 7"),
             std::string("PRAGMA query_only = 0"),
             std::string("VACUUM"),
             std::string("BEGIN"),
             std::string("WITH x AS (SELECT 1) DELETE FROM Journal"),
             std::string("SELECT 1; DELETE FROM Journal"),
         }) {
        EXPECT_NE(errorOf([&] { conn->query(sql, {}, true); }).number(), 0) << sql;
    }
    EXPECT_EQ(file.dump(), before);
    EXPECT_FALSE(fs::exists(attached));
    // The refusals leave the connection usable, for reading and for writing.
    EXPECT_EQ(conn->query("SELECT * FROM vw_Subscriber", {}, true).rows.size(), 3u);
    conn->query("INSERT INTO Journal VALUES ('written')", {}, false);
    EXPECT_EQ(file.scalar("SELECT Entry FROM Journal"), "written");
}

TEST(SqliteQuery, NamesTheTargetAndKeyOfASingleSourceQuery) {
    TestDb file(2);
    auto conn = file.database()->connect(kConnection);
    struct Case {
        const char *sql;
        const char *target; // "" when read-only
        const char *key;
    } cases[] = {
        {"Select * from vw_Subscriber order by SubscriberObjectID", "vw_Subscriber",
         "subscriberobjectid"},
        {"SELECT * FROM subscriber WHERE Alias='user1'", "Subscriber", "SubscriberObjectID"},
        {"SELECT * FROM Journal", "Journal", "rowid"},
        {"SELECT * FROM vw_COS", "", ""}, // a view without a listed key
        {"SELECT * FROM Subscriber JOIN CallHandler USING (CallHandlerObjectID)", "", ""},
        {"SELECT Alias FROM Subscriber GROUP BY Alias", "", ""},
    };
    for (const auto &c : cases) {
        DbRowSet rows = conn->query(c.sql, {}, false);
        EXPECT_EQ(rows.updateTarget, c.target) << c.sql;
        EXPECT_EQ(rows.keyColumns,
                  *c.key ? std::vector<std::string>{c.key} : std::vector<std::string>{})
            << c.sql;
    }
    // The key of DTMFAccessID was not selected: it comes as a hidden first column.
    DbRowSet rows = conn->query("SELECT Alias FROM DTMFAccessID", {}, false);
    ASSERT_EQ(rows.columns.size(), 2u);
    EXPECT_TRUE(rows.columns[0].hidden);
    EXPECT_EQ(rows.columns[0].name, "ObjectID");
    EXPECT_FALSE(rows.columns[1].hidden);
}

TEST(SqliteQueryShape, FindsTheSingleSourceOfASelect) {
    struct Case {
        const char *sql;
        const char *source; // nullptr: not a single-source select
    } cases[] = {
        {"select * from [Odd Name] order by a", "Odd Name"},
        {"SELECT * FROM \"q\"\"uoted\" WHERE a = 'FROM Y JOIN Z'", "q\"uoted"},
        {"SELECT a, (SELECT count(*) FROM Y) FROM X WHERE b IN (SELECT c FROM Z)", "X"},
        {"SELECT /* FROM Y, */ * FROM X -- , Z", "X"},
        {"SELECT * FROM X LEFT JOIN Y ON 1", nullptr},
        {"SELECT * FROM X, Y", nullptr},
        {"SELECT max(a) FROM X", nullptr},
        {"SELECT * FROM other.X", nullptr},
    };
    for (const auto &c : cases) {
        auto shape = sqlite::singleSourceSelect(c.sql);
        EXPECT_EQ(shape ? shape->source : "<none>", c.source ? c.source : "<none>") << c.sql;
    }
    auto shape = sqlite::singleSourceSelect("SELECT ALL a FROM X");
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->selectListOffset, std::string("SELECT ALL").size());
}

} // namespace
