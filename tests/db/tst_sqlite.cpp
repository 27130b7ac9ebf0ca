// The SQLite backend on its own: connecting, read-only queries, statement checks, errors.
#include "db_helpers.h"
#include "platform/Error.h"
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

TEST(SqliteConnect, AcceptsTheSystemsConnectionTextInAnyLetterCase) {
    TestDb file(2);
    auto db = file.database();
    for (const char *text : {"Driver={SQL Server};server=;database=TarvoDb",
                             "DRIVER={SQL Server};SERVER=;DATABASE=tarvodb;",
                             " driver = {SQL Server} ; Server = (local) ; Database = TARVODB "}) {
        SCOPED_TRACE(text);
        auto conn = db->connect(text);
        EXPECT_EQ(conn->query("SELECT * FROM vw_COS", {}, true).rows.size(), 2u);
    }
    file.scalar("SELECT count(*) FROM Journal"); // a read makes the test's own connection look
    EXPECT_EQ(file.scalar("PRAGMA journal_mode"), "wal");
}

TEST(SqliteConnect, RefusesOtherDatabasesAndServers) {
    TestDb file(2);
    auto db = file.database();
    Error other = errorOf([&] { db->connect("Driver={SQL Server};server=;database=master"); });
    EXPECT_EQ(other.number(), -2147467259);
    EXPECT_NE(other.description().find("\"master\""), std::string::npos) << other.description();
    EXPECT_NE(errorOf([&] { db->connect("Driver={SQL Server};server="); }).number(), 0);
    EXPECT_NE(errorOf([&] {
                  db->connect("Driver={SQL Server};server=FARAWAY;database=TarvoDb");
              }).number(),
              0);
    EXPECT_NE(errorOf([&] { db->connect("garbage"); }).number(), 0);
}

TEST(SqliteConnect, NeverCreatesADatabaseFile) {
    zeph::test::TempFolder dir;
    const std::string missing = dir.path() + "/TarvoDb.sqlite";
    auto db = sqlite::makeDatabase(missing, sqlite::ServerContext{});
    Error e = errorOf([&] { db->connect(kConnection); });
    EXPECT_EQ(e.number(), -2147467259);
    EXPECT_NE(e.description().find(missing), std::string::npos) << e.description();
    EXPECT_FALSE(fs::exists(missing));

    const std::string empty = dir.path() + "/empty.sqlite";
    std::ofstream(empty).close();
    auto emptyDb = sqlite::makeDatabase(empty, sqlite::ServerContext{});
    EXPECT_NE(errorOf([&] { emptyDb->connect(kConnection); }).number(), 0);
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

    Error e = errorOf([&] { conn->query("SELECT * FROM vw_COS WHERE Alias=?", {}, true); });
    EXPECT_EQ(e.number(), -2147217904);
    e = errorOf([&] { conn->query("SELECT * FROM vw_COS", {std::string("extra")}, true); });
    EXPECT_EQ(e.number(), -2147217904);
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
        {"SELECT Nope FROM vw_COS", -2147217900, "no such column: Nope"},
        {"", -2147217900, "The command text holds no statement."},
        {"SELECT * FROM vw_COS WHERE Alias = \"defaultCos\"", -2147217900,
         "no such column: defaultCos"}, // double quotes name, as on the server
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sql);
        for (bool readOnly : {true, false}) {
            Error e = errorOf([&] { conn->query(c.sql, {}, readOnly); });
            EXPECT_EQ(e.number(), c.number);
            EXPECT_EQ(e.description(), c.description);
        }
    }
    Error unique = errorOf(
        [&] { conn->query("INSERT INTO DTMFAccessID (DTMFAccessID) VALUES ('4000')", {}, false); });
    EXPECT_EQ(unique.number(), -2147217873);
    EXPECT_EQ(unique.description(), "UNIQUE constraint failed: DTMFAccessID.DTMFAccessID");
}

// Every one of these must leave the database exactly as it was.
TEST(SqliteQuery, AReadOnlyQueryCannotChangeAnything) {
    TestDb file(3);
    const std::string before = file.dump();
    const std::string attached = file.folder() + "/other.sqlite";
    auto conn = file.database()->connect(kConnection);
    const std::string statements[] = {
        "INSERT INTO Journal VALUES ('x')",
        "REPLACE INTO Journal VALUES ('x')",
        "UPDATE Subscriber SET Alias = 'x'",
        "UPDATE vw_Subscriber SET StreamPath = 'x'",
        "DELETE FROM Subscriber",
        "DROP TABLE Journal",
        "DROP VIEW vw_COS",
        "CREATE TABLE Extra (x)",
        "CREATE TEMP TABLE Extra (x)",
        "ALTER TABLE Journal ADD COLUMN y",
        "ATTACH DATABASE '" + attached + "' AS other",
        "DETACH DATABASE main",
        "PRAGMA user_version = 7",
        "PRAGMA journal_mode = DELETE",
        "PRAGMA query_only = 0",
        "PRAGMA writable_schema = 1",
        "VACUUM",
        "REINDEX",
        "ANALYZE",
        "BEGIN",
        "WITH x AS (SELECT 1) DELETE FROM Journal",
        "SELECT 1; DELETE FROM Journal",
        "SELECT * FROM vw_Subscriber; DROP TABLE Journal",
        "SELECT 1;;",
        "SELECT 1; -- DELETE FROM Journal",
        "SELECT vw_Subscriber.* FROM vw_Subscriber WHERE 1=1; UPDATE Subscriber SET Alias='x'",
    };
    for (const auto &sql : statements) {
        SCOPED_TRACE(sql);
        Error e = errorOf([&] { conn->query(sql, {}, true); });
        EXPECT_NE(e.number(), 0);
    }
    EXPECT_EQ(file.dump(), before);
    EXPECT_FALSE(fs::exists(attached));

    // The refusals leave the connection usable, for reading and for writing.
    EXPECT_EQ(conn->query("SELECT * FROM vw_Subscriber", {}, true).rows.size(), 3u);
    conn->query("INSERT INTO Journal VALUES ('written')", {}, false);
    EXPECT_EQ(file.scalar("SELECT Entry FROM Journal"), "written");
}

TEST(SqliteQuery, AWritableQueryTooRunsOneStatementOnly) {
    TestDb file(3);
    const std::string before = file.dump();
    auto conn = file.database()->connect(kConnection);
    Error e = errorOf([&] {
        conn->query("SELECT * FROM Subscriber WHERE Alias='x'; DELETE FROM Subscriber", {}, false);
    });
    EXPECT_EQ(e.number(), -2147217900);
    EXPECT_EQ(file.dump(), before);
    // Blanks after the statement are fine.
    EXPECT_EQ(conn->query("SELECT * FROM vw_COS;  \n", {}, true).rows.size(), 2u);
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
        {"SELECT Alias FROM DTMFAccessID", "DTMFAccessID", "ObjectID"},
        {"SELECT * FROM Journal", "Journal", "rowid"},
        {"SELECT * FROM main.COS c WHERE c.Alias <> ''", "COS", "CosObjectID"},
        {"SELECT * FROM vw_COS", "", ""}, // a view without a listed key
        {"SELECT DISTINCT * FROM Subscriber", "", ""},
        {"SELECT count(*) FROM Subscriber", "", ""},
        {"SELECT * FROM Subscriber, CallHandler", "", ""},
        {"SELECT * FROM Subscriber JOIN CallHandler USING (CallHandlerObjectID)", "", ""},
        {"SELECT Alias FROM Subscriber UNION SELECT Alias FROM CallHandler", "", ""},
        {"SELECT Alias FROM Subscriber GROUP BY Alias", "", ""},
        {"SELECT * FROM (SELECT * FROM Subscriber)", "", ""},
        {"WITH s AS (SELECT * FROM Subscriber) SELECT * FROM s", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sql);
        DbRowSet rows = conn->query(c.sql, {}, false);
        EXPECT_EQ(rows.updateTarget, c.target);
        if (*c.key) {
            ASSERT_EQ(rows.keyColumns.size(), 1u);
            EXPECT_EQ(rows.keyColumns[0], c.key);
        }
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
        {"SELECT * FROM X", "X"},
        {"select * from [Odd Name] order by a", "Odd Name"},
        {"SELECT * FROM \"q\"\"uoted\" WHERE a = 'FROM Y JOIN Z'", "q\"uoted"},
        {"SELECT a, (SELECT count(*) FROM Y) FROM X WHERE b IN (SELECT c FROM Z)", "X"},
        {"SELECT * FROM X AS x LIMIT 3;", "X"},
        {"SELECT /* FROM Y, */ * FROM X -- , Z", "X"},
        {"SELECT * FROM X LEFT JOIN Y ON 1", nullptr},
        {"SELECT * FROM X NATURAL JOIN Y", nullptr},
        {"SELECT * FROM X, Y", nullptr},
        {"SELECT max(a) FROM X", nullptr},
        {"SELECT a FROM X GROUP BY a", nullptr},
        {"SELECT 1", nullptr},
        {"UPDATE X SET a = 1", nullptr},
        {"SELECT * FROM other.X", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sql);
        auto shape = sqlite::singleSourceSelect(c.sql);
        if (!c.source) {
            EXPECT_FALSE(shape.has_value());
            continue;
        }
        ASSERT_TRUE(shape.has_value());
        EXPECT_EQ(shape->source, c.source);
    }
    auto shape = sqlite::singleSourceSelect("SELECT ALL a FROM X");
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->selectListOffset, std::string("SELECT ALL").size());
}

TEST(SqliteConnections, SeeEachOthersChanges) {
    TestDb file(3);
    auto db = file.database();
    auto reader = db->connect(kConnection);
    auto writer = db->connect(kConnection);
    EXPECT_EQ(reader->query("SELECT * FROM Journal", {}, true).rows.size(), 0u);
    writer->updateRow("vw_Subscriber", {"SubscriberObjectID"}, {guidFor(1001)}, {"StreamPath"},
                      {std::string("a.wav")});
    DbRowSet rows =
        reader->query("SELECT StreamPath FROM vw_Subscriber WHERE Alias='user1'", {}, true);
    EXPECT_EQ(rows.rows.at(0).at(0), DbValue(std::string("a.wav")));
}

TEST(SqliteProcedures, GoToTheServersProcedures) {
    TestDb file(1);
    auto conn = file.database()->connect(kConnection);
    // The test database holds no procedures: the server's answer for an unknown one comes back.
    Error e = errorOf([&] { conn->callProcedure("sp_NoSuchProcedure", {}); });
    EXPECT_NE(e.number(), 0);
    EXPECT_NE(e.description().find("sp_NoSuchProcedure"), std::string::npos) << e.description();
}

} // namespace
