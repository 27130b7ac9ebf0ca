// The SQLite backend: connecting, bound values, read-only queries, errors, save targets, and the
// handles it keeps for later connections, which must behave as fresh ones.
#include "db_helpers.h"
#include "platform/sqlite/SqliteDatabase.h"
#include "standin/server/StandInServer.h"
#include "support/ErrorOf.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>

using namespace zeph;
using zeph::test::errorOf;
using zeph::test::guidFor;
using zeph::test::kConnection;
using zeph::test::TestDb;
namespace fs = std::filesystem;

namespace {

TEST(SqliteConnect, TheSystemsConnectionTextOnlyAndNeverANewFile) {
    TestDb file(2);
    auto db = file.database();
    EXPECT_EQ(db->connect(" driver = {SQL Server} ; Server = (local) ; Database = TARVODB ")
                  ->query("SELECT * FROM vw_COS", {}, true)
                  .rows.size(),
              2u);
    Error other = errorOf([&] { db->connect("Driver={SQL Server};server=;database=master"); });
    EXPECT_EQ(other.number(), -2147467259);
    EXPECT_NE(other.description().find("\"master\""), std::string::npos) << other.description();
    const std::string missing = file.folder() + "/missing.sqlite", empty = file.folder() + "/e";
    std::ofstream(empty).close();
    for (const std::string &path : {missing, empty}) {
        Error e = errorOf([&] {
            sqlite::makeStandInDatabase(path, sqlite::ServerContext{})->connect(kConnection);
        });
        EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
    }
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_EQ(fs::file_size(empty), 0u);
}

TEST(SqliteQuery, BindsValuesAndReportsTheDriversNumbersWithoutChangingAnything) {
    TestDb file(3);
    const std::string before = file.dump();
    auto conn = file.database()->connect(kConnection);
    DbRowSet rows = conn->query("SELECT CosObjectID FROM vw_COS WHERE Alias=?",
                                {std::string("O'Brien COS")}, true);
    ASSERT_EQ(rows.rows.size(), 1u);
    EXPECT_EQ(rows.rows[0][0], DbValue(guidFor(78)));
    const std::tuple<const char *, std::vector<DbValue>, long, const char *> cases[] = {
        {"SELEC * FROM vw_COS", {}, -2147217900, "near \"SELEC\": syntax error"},
        {"SELECT * FROM vw_COS WHERE Alias = \"defaultCos\"",
         {},
         -2147217900,
         "no such column: defaultCos"}, // double quotes name, as on the server
        {"SELECT * FROM Subscriber WHERE Alias='x'; DELETE FROM Subscriber",
         {},
         -2147217900,
         "Only one statement is allowed; the text goes on after it: \"DELETE FROM Subscriber\""},
        {"SELECT * FROM vw_COS WHERE Alias=?", {}, -2147217904, ""},
        {"SELECT * FROM vw_COS", {std::string("extra")}, -2147217904, ""},
        {"INSERT INTO DTMFAccessID (DTMFAccessID) VALUES ('4000')",
         {},
         -2147217873,
         "UNIQUE constraint failed: DTMFAccessID.DTMFAccessID"},
    };
    for (const auto &[sql, params, number, description] : cases) {
        Error e = errorOf([&] { conn->query(sql, params, false); });
        EXPECT_EQ(e.number(), number) << sql;
        EXPECT_EQ(*description ? e.description() : "", description) << sql;
    }
    const std::string attached = file.folder() + "/other.sqlite";
    for (const std::string &sql : {
             std::string("UPDATE vw_Subscriber SET StreamPath = 'x'"),
             std::string("CREATE TEMP TABLE Extra (x)"),
             "ATTACH DATABASE '" + attached + "' AS other",
             std::string("PRAGMA query_only = 0"),
             std::string("WITH x AS (SELECT 1) DELETE FROM Journal"),
         }) {
        EXPECT_NE(errorOf([&] { conn->query(sql, {}, true); }).number(), 0) << sql;
    }
    EXPECT_EQ(file.dump(), before);
    EXPECT_FALSE(fs::exists(attached));
    conn->query("INSERT INTO Journal VALUES ('written')", {}, false); // the connection goes on
    EXPECT_EQ(file.scalar("SELECT Entry FROM Journal"), "written");
}

TEST(SqliteQuery, NamesTheTargetAndKeyOfASingleSourceQuery) {
    TestDb file(2);
    auto conn = file.database()->connect(kConnection);
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {"Select * from vw_Subscriber order by SubscriberObjectID", "vw_Subscriber",
         "subscriberobjectid"},
        {"SELECT *, (SELECT count(*) FROM COS) /* FROM COS, */ FROM [subscriber] WHERE Alias IN "
         "(SELECT Alias FROM Journal) -- , COS",
         "Subscriber", "SubscriberObjectID"},
        {"SELECT * FROM Journal WHERE Entry = 'FROM COS JOIN X'", "Journal", "rowid"},
        {"SELECT * FROM vw_COS", "", ""}, // a view without a listed key
        {"SELECT * FROM Subscriber, CallHandler", "", ""},
        {"SELECT Alias FROM Subscriber GROUP BY Alias", "", ""},
    };
    for (const auto &[sql, target, key] : cases) {
        DbRowSet rows = conn->query(sql, {}, false);
        EXPECT_EQ(rows.updateTarget, target) << sql;
        EXPECT_EQ(rows.keyColumns,
                  *key ? std::vector<std::string>{key} : std::vector<std::string>{})
            << sql;
    }
    EXPECT_TRUE(conn->query(std::get<0>(cases[0]), {}, true).updateTarget.empty());
    DbRowSet rows = conn->query("SELECT Alias FROM DTMFAccessID", {}, false);
    ASSERT_EQ(rows.columns.size(), 2u); // the key not selected comes as a hidden first column
    EXPECT_TRUE(rows.columns[0].hidden);
    EXPECT_EQ(rows.columns[0].name, "ObjectID");
}

void addJournalRow(IDbConnection &conn) {
    conn.insertRow("Journal", {"Entry"}, {DbValue(std::string("entry"))}, {"Entry"});
}

void save(IDbConnection &conn, const std::string &table, const std::string &column,
          const std::string &value) {
    conn.updateRow(table, {"rowid"}, {DbValue(std::int64_t{1})}, {column}, {DbValue(value)});
}

TEST(HandleReuse, TheNextConnectionStartsClean) {
    const std::function<void(IDbConnection &)> leftOvers[] = {
        [](IDbConnection &c) { EXPECT_THROW(c.query("DELETE FROM Journal", {}, true), Error); },
        [](IDbConnection &c) {
            c.query("BEGIN", {}, false);
            addJournalRow(c);
        },
        [](IDbConnection &c) { c.query("CREATE TEMP TABLE Leftover (x)", {}, false); },
        [](IDbConnection &c) { EXPECT_THROW(c.callProcedure("sp_NoSuchProcedure", {}), Error); },
    };
    for (const auto &leave : leftOvers) {
        TestDb file(2);
        auto db = file.database();
        leave(*db->connect(kConnection));
        for (int i = 0; i < 6; ++i) { // every kept handle is met
            auto next = db->connect(kConnection);
            EXPECT_NO_THROW(addJournalRow(*next));
            EXPECT_EQ(file.scalar("SELECT count(*) FROM Journal"), std::to_string(i + 1));
            EXPECT_THROW(next->query("SELECT * FROM temp.Leftover", {}, false), Error);
        }
    }
}

TEST(HandleReuse, AReplacedOrRemovedFileIsNotReadThroughAKeptHandle) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows replaces or removes no open database file";
#endif
    TestDb file(2), other(2);
    auto db = file.database();
    auto kept = db->connect(kConnection);
    EXPECT_TRUE(kept->query("SELECT * FROM Journal", {}, true).rows.empty());
    other.exec("INSERT INTO Journal VALUES ('restored'); PRAGMA wal_checkpoint(TRUNCATE)");
    fs::copy_file(other.path(), file.path() + ".new"); // as a restore from a backup does
    fs::rename(file.path() + ".new", file.path());
    for (const char *suffix : {"-wal", "-shm"})
        fs::remove(file.path() + suffix);
    EXPECT_EQ(db->connect(kConnection)->query("SELECT * FROM Journal", {}, true).rows.size(), 1u);
    for (const char *suffix : {"", "-wal", "-shm"})
        fs::remove(file.path() + suffix);
    Error e = errorOf([&] { db->connect(kConnection); });
    EXPECT_NE(e.description().find("cannot be opened"), std::string::npos) << e.description();
    db.reset();
    // A connection outlives its database object, but writes nothing into a file that is no
    // longer the server's: a vanished server does not answer.
    Error gone = errorOf([&] { addJournalRow(*kept); });
    EXPECT_NE(gone.description().find("no longer there"), std::string::npos) << gone.description();
}

TEST(HandleReuse, SavesFollowTheTableAndReadsFollowOtherWriters) {
    TestDb file(2);
    file.exec("INSERT INTO Journal VALUES ('first')");
    auto db = file.database();
    auto mine = db->connect(kConnection);
    save(*mine, "Journal", "Entry", "mine");
    save(*db->connect(kConnection), "Journal", "Entry", "other");
    EXPECT_EQ(mine->query("SELECT Entry FROM Journal", {}, true).rows.at(0)[0],
              DbValue(std::string("other")));
    file.exec("ALTER TABLE Journal ADD COLUMN Extra TEXT DEFAULT 'x'");
    save(*db->connect(kConnection), "Journal", "Entry", "third");
    EXPECT_EQ(file.scalar("SELECT Entry || Extra FROM Journal"), "thirdx");
    file.exec("DROP TABLE Journal; CREATE TABLE Journal (Other TEXT, Entry TEXT); INSERT INTO "
              "Journal VALUES ('o', 'fourth')");
    save(*mine, "Journal", "Entry", "fifth");
    EXPECT_EQ(file.scalar("SELECT Other || Entry FROM Journal"), "ofifth");
    file.exec("DELETE FROM Journal");
    EXPECT_THROW(save(*mine, "Journal", "Entry", "nowhere"), Error); // no row has that key

    // More save targets than a handle keeps statements for.
    for (int t = 0; t < 80; ++t)
        file.exec("CREATE TABLE Extra" + std::to_string(t) + " (Value TEXT); INSERT INTO Extra" +
                  std::to_string(t) + " VALUES ('old')");
    for (const char *value : {"new0", "new1"}) {
        auto conn = db->connect(kConnection);
        for (int t = 0; t < 80; ++t) {
            save(*conn, "Extra" + std::to_string(t), "Value", value);
            ASSERT_EQ(file.scalar("SELECT Value FROM Extra" + std::to_string(t)), value) << t;
        }
    }
}

long count(const TestDb &file, const char *table) {
    return std::stol(file.scalar(std::string("SELECT count(*) FROM ") + table));
}

TEST(SqliteTransaction, AStepsRowsCommitTogetherOrNotAtAll) {
    TestDb file(2);
    auto db = file.database();
    auto conn = db->connect(kConnection);
    conn->beginTransaction();
    for (int i = 0; i < 3; ++i)
        addJournalRow(*conn);
    // Another program sees nothing of the step before it commits.
    EXPECT_TRUE(db->connect(kConnection)->query("SELECT * FROM Journal", {}, true).rows.empty());
    conn->rollbackTransaction();
    EXPECT_EQ(count(file, "Journal"), 0);

    conn->beginTransaction();
    addJournalRow(*conn);
    // A row that cannot be saved fails alone; the step's other rows stay in it.
    Error missing = errorOf([&] {
        conn->updateRow("Journal", {"rowid"}, {DbValue(std::int64_t{99})}, {"Entry"},
                        {DbValue(std::string("x"))});
    });
    EXPECT_EQ(missing.number(), sqlerr::kRowChanged);
    addJournalRow(*conn);
    conn->commitTransaction();
    EXPECT_EQ(count(file, "Journal"), 2);
    EXPECT_NO_THROW(conn->makeDurable());

    // A commit with no transaction open (the server took it back) is a failure, not a success.
    Error none = errorOf([&] { conn->commitTransaction(); });
    EXPECT_NE(none.description().find("taken back"), std::string::npos) << none.description();
    conn->rollbackTransaction(); // nothing open: nothing happens
    EXPECT_EQ(count(file, "Journal"), 2);
}

/// What SQLite counts of each statement prepared on a connection's handle.
struct PreparedStatement {
    std::string sql;
    int runs = 0;
    int preparedAgain = 0;
};

/// A database over the file whose one stored procedure reports the statements of the handle
/// it runs on.
std::unique_ptr<IDatabase> inspectedDatabase(const TestDb &file,
                                             std::vector<PreparedStatement> &found) {
    return sqlite::makeDatabase(
        file.path(), [&found](sqlite3 *db, const std::string &, const std::vector<DbParam> &) {
            found.clear();
            for (sqlite3_stmt *s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s))
                found.push_back({sqlite3_sql(s), sqlite3_stmt_status(s, SQLITE_STMTSTATUS_RUN, 0),
                                 sqlite3_stmt_status(s, SQLITE_STMTSTATUS_REPREPARE, 0)});
            return std::optional<DbRowSet>();
        });
}

// A run mixes saves through kept statements with read-only queries and stored procedures;
// neither may make every kept statement be prepared again at its next use.
TEST(SqliteStatements, ReadOnlyQueriesLeaveTheKeptStatementsPrepared) {
    TestDb file(3);
    std::vector<PreparedStatement> found;
    auto conn = inspectedDatabase(file, found)->connect(kConnection);
    addJournalRow(*conn);
    for (int round = 0; round < 3; ++round) {
        save(*conn, "Journal", "Entry", "round " + std::to_string(round));
        EXPECT_EQ(conn->query("SELECT Entry FROM Journal", {}, true).rows.size(), round + 1u);
        conn->callProcedure("inspect", {});
        addJournalRow(*conn);
    }
    conn->callProcedure("inspect", {});
    ASSERT_FALSE(found.empty());
    for (const PreparedStatement &s : found)
        EXPECT_EQ(s.preparedAgain, 0) << s.sql;
    EXPECT_EQ(count(file, "Journal"), 4);
}

// A query asked again is prepared once and kept; it is prepared again, still for reading
// only, when another program changes the schema.
TEST(SqliteStatements, AReadOnlyQueryIsKeptPreparedAndStaysReadOnly) {
    TestDb file(3);
    std::vector<PreparedStatement> found;
    auto conn = inspectedDatabase(file, found)->connect(kConnection);
    const std::string sql = "SELECT Alias FROM Subscriber WHERE Alias = ?";
    auto keptForTheQuery = [&] {
        conn->callProcedure("inspect", {});
        for (const PreparedStatement &s : found)
            if (s.sql == sql)
                return s;
        return PreparedStatement{};
    };
    for (int round = 1; round <= 3; ++round) {
        EXPECT_EQ(conn->query(sql, {DbValue(std::string("user1"))}, true).rows.size(), 1u);
        EXPECT_EQ(keptForTheQuery().runs, round);
    }
    EXPECT_EQ(keptForTheQuery().preparedAgain, 0);
    file.exec("CREATE TABLE Added (x)");
    EXPECT_EQ(conn->query(sql, {DbValue(std::string("user2"))}, true).rows.size(), 1u);
    EXPECT_EQ(keptForTheQuery().preparedAgain, 1);
    // The writing texts of the same connection are refused as before, and nothing changed.
    const std::string before = file.dump();
    EXPECT_EQ(errorOf([&] { conn->query("DELETE FROM Subscriber", {}, true); }).number(),
              sqlerr::kPermission);
    EXPECT_EQ(file.dump(), before);
}

TEST(SqliteSave, ARowIsFoundByItsKeyOnceAndOtherKeysMayNotChangeMore) {
    TestDb file(3);
    auto conn = file.database()->connect(kConnection);
    const std::string id = file.scalar("SELECT SubscriberObjectID FROM Subscriber LIMIT 1");
    struct Case {
        const char *target;
        std::vector<std::string> keys;
        DbValue key;
        long error; // 0: saved
    };
    file.exec("INSERT INTO Journal VALUES ('twin'); INSERT INTO Journal VALUES ('twin')");
    const Case cases[] = {
        {"vw_Subscriber", {"SubscriberObjectID"}, DbValue(id), 0},
        {"vw_Subscriber", {"SubscriberObjectID"}, DbValue(guidFor(999)), sqlerr::kRowChanged},
        {"Subscriber", {"SubscriberObjectID"}, DbValue(guidFor(998)), sqlerr::kRowChanged},
        {"Journal", {"Entry"}, DbValue(std::string("twin")), -2147467259}, // two rows
        {"Journal", {"Entry"}, DbValue(std::string("nobody")), sqlerr::kRowChanged},
    };
    for (const Case &c : cases) {
        const std::string before = file.dump();
        const char *column = std::string(c.target) == "Journal" ? "Entry" : "FirstName";
        Error e = errorOf([&] {
            conn->updateRow(c.target, c.keys, {c.key}, {column}, {DbValue(std::string("Saved"))});
        });
        if (c.error == 0) {
            EXPECT_EQ(file.scalar("SELECT FirstName FROM Subscriber WHERE SubscriberObjectID='" +
                                  id + "'"),
                      "Saved");
            continue;
        }
        EXPECT_EQ(e.number(), c.error) << c.target << ": " << e.description();
        EXPECT_EQ(file.dump(), before) << c.target; // nothing of a refused save stays
    }
}

} // namespace
