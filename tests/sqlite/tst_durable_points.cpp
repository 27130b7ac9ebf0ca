// The durable points of a program handle: how many times the disk is asked to sync for the
// commits they make lasting, and that what they make lasting is in the database file when the
// write-ahead log is checkpointed there.
#include "platform/sqlite/SqliteDatabase.h"
#include "platform/sqlite/SyncCountingVfs.h"
#include "support/TempHost.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

using zeph::sqlite::DurablePoints;

// One page of the log a row: a value that fills most of a page.
constexpr int kRowBytes = 3000;

struct Closer {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, Closer>;

Db open(const std::string &path) {
    sqlite3 *db = nullptr;
    EXPECT_EQ(
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
        SQLITE_OK);
    return Db(db);
}

void exec(sqlite3 *db, const std::string &sql) {
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db);
}

long long count(sqlite3 *db) {
    sqlite3_stmt *s = nullptr;
    sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM t", -1, &s, nullptr);
    const long long n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    return n;
}

// Counted from before the file is opened: the layer counts files opened after it is installed.
Db openCounted(const std::string &path) {
    zeph::sqlite::countDatabaseSyncs();
    return open(path);
}

// A database as the program opens it, with a table of page-sized rows, in a folder of its own
// whose syncs are counted.
class Handle {
public:
    Handle()
        : m_db(openCounted(path())) {
        zeph::sqlite::useProgramSettings(m_db.get());
        m_points = std::make_unique<DurablePoints>(m_db.get());
        exec(m_db.get(), "CREATE TABLE t (v BLOB)");
        m_points->makeDurable();
    }
    sqlite3 *db() const { return m_db.get(); }
    DurablePoints &points() { return *m_points; }
    std::string path() const { return m_folder.path() + "/data.sqlite"; }
    long syncs() const { return zeph::sqlite::databaseSyncsUnder(m_folder.path()); }

    // `rows` page-sized rows in transactions of `perCommit`.
    void commitRows(int rows, int perCommit) {
        for (int done = 0; done < rows; done += perCommit) {
            exec(db(), "BEGIN");
            for (int i = done; i < rows && i < done + perCommit; ++i)
                exec(db(), "INSERT INTO t VALUES (zeroblob(" + std::to_string(kRowBytes) + "))");
            exec(db(), "COMMIT");
        }
    }

    // The rows the database file holds by itself, without its write-ahead log.
    long long rowsInDatabaseFile() const {
        // A new name each time: the Windows standard library does not copy over a file.
        const std::string copy = m_folder.path() + "/copy" + std::to_string(++m_copies) + ".sqlite";
        std::filesystem::copy_file(path(), copy);
        Db alone = open(copy);
        return count(alone.get());
    }

private:
    zeph::test::TempFolder m_folder;
    Db m_db;
    std::unique_ptr<DurablePoints> m_points;
    mutable int m_copies = 0;
};

struct Case {
    const char *what;
    int rows;
    int perCommit;
    long commitSyncs;  // asked for while the rows are committed
    long durableSyncs; // asked for by the durable point after them
    bool checkpointed; // the database file holds the rows after the durable point
};

TEST(DurablePoints, ACheckpointDueIsTheDurablePointsSync) {
    const int due = DurablePoints::kCheckpointFrames;
    const Case cases[] = {
        // A short log: the log's own sync, nothing copied.
        {"short log", 40, 10, 0, 1, false},
        // A log past its due length: no checkpoint inside the commits, one at the durable
        // point (the log's sync, then the database's) in place of the log's own sync.
        {"log due for a checkpoint", due + 100, 100, 0, 2, true},
        // Far past it with no durable point: a commit checkpoints the log (its two syncs) so
        // that it stays bounded, and the next begins the log again (a sync of its new header);
        // the durable point after them syncs only what came after.
        {"log past the backstop", DurablePoints::kBackstopFrames + 100, 100, 3, 1, false},
    };
    for (const Case &c : cases) {
        Handle h;
        const long before = h.syncs();
        h.commitRows(c.rows, c.perCommit);
        const long afterCommits = h.syncs();
        EXPECT_EQ(afterCommits - before, c.commitSyncs) << c.what;
        h.points().makeDurable();
        EXPECT_EQ(h.syncs() - afterCommits, c.durableSyncs) << c.what;
        EXPECT_EQ(h.rowsInDatabaseFile() == c.rows, c.checkpointed) << c.what;
        EXPECT_EQ(count(h.db()), c.rows) << c.what;
        EXPECT_LT(h.points().framesSinceCheckpoint(), due) << c.what;
    }
}

// A reader that still needs the log's older frames keeps them from being copied: the durable
// point then syncs the log itself, and the checkpoint is made at a later one.
TEST(DurablePoints, ALogAReaderHoldsIsSyncedAndCheckpointedLater) {
    Handle h;
    h.commitRows(10, 10);
    Db reader = open(h.path());
    exec(reader.get(), "BEGIN");
    ASSERT_EQ(count(reader.get()), 10); // holds its snapshot
    h.commitRows(DurablePoints::kCheckpointFrames + 50, 100);
    const long before = h.syncs();
    h.points().makeDurable();
    // The partial checkpoint syncs the log before it copies the older frames (the database is
    // synced only when the whole log is copied); the durable point cannot tell that sync from
    // none, and syncs the log itself.
    EXPECT_EQ(h.syncs() - before, 2);
    EXPECT_LT(h.rowsInDatabaseFile(), count(h.db()));
    EXPECT_GE(h.points().framesSinceCheckpoint(), DurablePoints::kCheckpointFrames);
    exec(reader.get(), "COMMIT");
    const long released = h.syncs();
    h.points().makeDurable();
    EXPECT_EQ(h.syncs() - released, 2);
    EXPECT_EQ(h.rowsInDatabaseFile(), count(h.db()));
}

} // namespace
