// The SQLite backend keeps the handles of closed connections for the next ones. A new
// connection must still behave as a fresh one: nothing of the previous user's session carries
// over, it sees what others committed, and a database file that was removed or replaced is not
// read through a kept handle.
#include "db_helpers.h"
#include "platform/Error.h"
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

// What a connection may leave behind on its handle, and how the next one would notice it.
struct LeftOver {
    const char *name;
    std::function<void(IDbConnection &)> leave;
};

class HandleReuse : public testing::TestWithParam<LeftOver> {};

TEST_P(HandleReuse, TheNextConnectionStartsClean) {
    TestDb file(2);
    auto db = file.database();
    {
        auto first = db->connect(kConnection);
        GetParam().leave(*first);
    }
    // Several connections in turn, so that every kept handle is met.
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        auto next = db->connect(kConnection);
        // It may write, and what it writes is committed for everyone at once.
        EXPECT_NO_THROW(addJournalRow(*next, "entry" + std::to_string(i)));
        EXPECT_EQ(file.scalar("SELECT count(*) FROM Journal"), std::to_string(i + 1));
        // No temporary table of an earlier user is seen.
        EXPECT_THROW(next->query("SELECT * FROM temp.Leftover", {}, false), Error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    SqliteBackend, HandleReuse,
    testing::Values(LeftOver{"ReadOnlyQuery",
                             [](IDbConnection &c) { c.query("SELECT * FROM vw_COS", {}, true); }},
                    LeftOver{"RefusedWrite",
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
                    LeftOver{"Procedure",
                             [](IDbConnection &c) {
                                 EXPECT_THROW(c.callProcedure("sp_NoSuchProcedure", {}), Error);
                             }}),
    [](const testing::TestParamInfo<LeftOver> &p) { return std::string(p.param.name); });

TEST(HandleReuse, AConnectionSeesWhatOthersCommittedSinceItsHandleWasKept) {
    TestDb file(2);
    auto db = file.database();
    EXPECT_EQ(journalRows(*db), 0u); // its handle is kept now
    auto writer = db->connect(kConnection);
    addJournalRow(*writer, "one");
    EXPECT_EQ(journalRows(*db), 1u);
    file.exec("INSERT INTO Journal VALUES ('from outside')");
    EXPECT_EQ(journalRows(*db), 2u);
}

TEST(HandleReuse, ManyConnectionsAtOnceAndInTurn) {
    TestDb file(2);
    auto db = file.database();
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<IDbConnection>> open;
        for (int i = 0; i < 10; ++i) {
            open.push_back(db->connect(kConnection));
            addJournalRow(*open.back(), std::to_string(round) + "." + std::to_string(i));
        }
        EXPECT_EQ(open.front()->query("SELECT * FROM Journal", {}, true).rows.size(),
                  static_cast<std::size_t>(10 * (round + 1)));
    }
}

TEST(HandleReuse, ARemovedDatabaseFileIsMissingEvenWithHandlesKept) {
    TestDb file(2);
    auto db = file.database();
    EXPECT_EQ(journalRows(*db), 0u);
    for (const char *suffix : {"", "-wal", "-shm"})
        fs::remove(file.path() + suffix);
    try {
        db->connect(kConnection);
        ADD_FAILURE() << "a connection was made to a removed database file";
    } catch (const Error &e) {
        EXPECT_NE(e.description().find("cannot be opened"), std::string::npos) << e.description();
    }
}

TEST(HandleReuse, AReplacedDatabaseFileIsReadAnew) {
    TestDb file(2);
    auto db = file.database();
    EXPECT_EQ(journalRows(*db), 0u);
    // Another database put in its place, as a restore from a backup does.
    TestDb other(2);
    other.exec("INSERT INTO Journal VALUES ('restored')");
    other.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    fs::copy_file(other.path(), file.path() + ".new");
    fs::rename(file.path() + ".new", file.path());
    for (const char *suffix : {"-wal", "-shm"})
        fs::remove(file.path() + suffix);
    EXPECT_EQ(journalRows(*db), 1u);
}

TEST(HandleReuse, ConnectionsOutliveTheirDatabase) {
    TestDb file(2);
    auto db = file.database();
    auto kept = db->connect(kConnection);
    { auto closed = db->connect(kConnection); }
    db.reset();
    addJournalRow(*kept, "after");
    EXPECT_EQ(file.scalar("SELECT count(*) FROM Journal"), "1");
}

} // namespace
