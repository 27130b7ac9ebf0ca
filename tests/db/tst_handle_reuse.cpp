// The SQLite backend keeps the handles of closed connections for the next ones, with statements
// prepared on them. A new connection must still behave as a fresh one: nothing of the previous
// user's session carries over, it sees what others committed, a changed schema is honoured, and a
// database file that was removed or replaced is not read through a kept handle.
#include "db_helpers.h"
#include "platform/sqlite/SqliteDatabase.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace zeph;
using zeph::test::kConnection;
using zeph::test::TestDb;
namespace fs = std::filesystem;

namespace {

std::size_t journalRows(IDatabase &db) {
    return db.connect(kConnection)->query("SELECT * FROM Journal", {}, true).rows.size();
}

void addJournalRow(IDbConnection &conn, const std::string &entry) {
    conn.insertRow("Journal", {"Entry"}, {DbValue(entry)}, {"Entry"});
}

// What a connection may leave behind on its handle.
struct LeftOver {
    const char *name;
    std::function<void(IDbConnection &)> leave;
};

class HandleReuse : public testing::TestWithParam<LeftOver> {};

TEST_P(HandleReuse, TheNextConnectionStartsClean) {
    TestDb file(2);
    auto db = file.database();
    GetParam().leave(*db->connect(kConnection));
    // Several connections in turn, so that every kept handle is met.
    for (int i = 0; i < 6; ++i) {
        auto next = db->connect(kConnection);
        // It may write, and what it writes is committed for everyone at once.
        EXPECT_NO_THROW(addJournalRow(*next, "entry" + std::to_string(i)));
        EXPECT_EQ(file.scalar("SELECT count(*) FROM Journal"), std::to_string(i + 1));
        EXPECT_THROW(next->query("SELECT * FROM temp.Leftover", {}, false), Error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    SqliteBackend, HandleReuse,
    testing::Values(LeftOver{"RefusedWrite",
                             [](IDbConnection &c) {
                                 EXPECT_THROW(c.query("DELETE FROM Journal", {}, true), Error);
                             }},
                    LeftOver{"OpenTransaction",
                             [](IDbConnection &c) {
                                 c.query("BEGIN", {}, false);
                                 addJournalRow(c, "never committed");
                             }},
                    LeftOver{"TemporaryTable",
                             [](IDbConnection &c) {
                                 c.query("CREATE TEMP TABLE Leftover (x)", {}, false);
                             }},
                    LeftOver{"FailedProcedure",
                             [](IDbConnection &c) {
                                 EXPECT_THROW(c.callProcedure("sp_NoSuchProcedure", {}), Error);
                                 // The test's database lacks the server's tables.
                                 EXPECT_THROW(c.callProcedure("sp_DeleteDirectorySyncTicket",
                                                              {{"@Ticket", DbParamType::Guid,
                                                                test::guidFor(1)}}),
                                              Error);
                             }}),
    [](const testing::TestParamInfo<LeftOver> &p) { return std::string(p.param.name); });

TEST(HandleReuse, ARemovedOrReplacedDatabaseFileIsNotReadThroughAKeptHandle) {
    TestDb file(2);
    auto db = file.database();
    EXPECT_EQ(journalRows(*db), 0u);
    // Another database put in its place, as a restore from a backup does.
    TestDb other(2);
    other.exec("INSERT INTO Journal VALUES ('restored'); PRAGMA wal_checkpoint(TRUNCATE)");
    fs::copy_file(other.path(), file.path() + ".new");
    fs::rename(file.path() + ".new", file.path());
    for (const char *suffix : {"-wal", "-shm"})
        fs::remove(file.path() + suffix);
    EXPECT_EQ(journalRows(*db), 1u);

    for (const char *suffix : {"", "-wal", "-shm"})
        fs::remove(file.path() + suffix);
    try {
        db->connect(kConnection);
        ADD_FAILURE() << "a connection was made to a removed database file";
    } catch (const Error &e) {
        EXPECT_NE(e.description().find("cannot be opened"), std::string::npos) << e.description();
    }
}

TEST(HandleReuse, ConnectionsOutliveTheirDatabase) {
    TestDb file(2);
    auto db = file.database();
    auto kept = db->connect(kConnection);
    db->connect(kConnection).reset();
    db.reset();
    addJournalRow(*kept, "after");
    EXPECT_EQ(file.scalar("SELECT count(*) FROM Journal"), "1");
}

// A save's statements are kept with the handle; they must see the table as it is now.
TEST(HandleReuse, SavesFollowAChangedTable) {
    TestDb file(2);
    auto db = file.database();
    auto save = [&](const std::string &value) {
        db->connect(kConnection)
            ->updateRow("Journal", {"rowid"}, {DbValue(std::int64_t{1})}, {"Entry"},
                        {DbValue(value)});
    };
    file.exec("INSERT INTO Journal VALUES ('first')");
    save("second");
    file.exec("ALTER TABLE Journal ADD COLUMN Extra TEXT DEFAULT 'x'");
    save("third");
    EXPECT_EQ(file.scalar("SELECT Entry || Extra FROM Journal"), "thirdx");
    file.exec("DROP TABLE Journal; CREATE TABLE Journal (Other TEXT, Entry TEXT); INSERT INTO "
              "Journal VALUES ('o', 'fourth')");
    save("fifth");
    EXPECT_EQ(file.scalar("SELECT Other || Entry FROM Journal"), "ofifth");
    file.exec("DELETE FROM Journal");
    EXPECT_THROW(save("nowhere"), Error); // no row has that key any more
}

// After a save, the connection holds no read of the file open: what another connection writes next
// is what it reads.
TEST(HandleReuse, AConnectionReadsWhatWasWrittenAfterItsOwnSave) {
    TestDb file(2);
    file.exec("INSERT INTO Journal VALUES ('first')");
    auto db = file.database();
    auto mine = db->connect(kConnection);
    auto other = db->connect(kConnection);
    const std::vector<DbValue> key{DbValue(std::int64_t{1})};
    mine->updateRow("Journal", {"rowid"}, key, {"Entry"}, {DbValue(std::string("mine"))});
    other->updateRow("Journal", {"rowid"}, key, {"Entry"}, {DbValue(std::string("other"))});
    EXPECT_EQ(mine->query("SELECT Entry FROM Journal", {}, true).rows.at(0)[0],
              DbValue(std::string("other")));
    mine->updateRow("Journal", {"rowid"}, key, {"Entry"}, {DbValue(std::string("mine again"))});
    EXPECT_EQ(file.scalar("SELECT Entry FROM Journal"), "mine again");
}

// More save targets than a handle keeps statements for: the later ones are prepared anew.
TEST(HandleReuse, ManySaveTargets) {
    TestDb file(2);
    const int tables = 80;
    for (int t = 0; t < tables; ++t)
        file.exec("CREATE TABLE Extra" + std::to_string(t) +
                  " (Id INTEGER PRIMARY KEY, Value TEXT); INSERT INTO Extra" + std::to_string(t) +
                  " VALUES (1, 'old')");
    auto db = file.database();
    for (int round = 0; round < 2; ++round) {
        auto conn = db->connect(kConnection);
        for (int t = 0; t < tables; ++t) {
            const std::string name = "Extra" + std::to_string(t);
            const std::string value = "new" + std::to_string(round);
            conn->updateRow(name, {"Id"}, {DbValue(std::int64_t{1})}, {"Value"}, {DbValue(value)});
            ASSERT_EQ(file.scalar("SELECT Value FROM " + name), value) << name;
        }
    }
}

} // namespace
