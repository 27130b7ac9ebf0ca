// A client's flush of the log (sys.sp_flush_log) is the session's durable point: every commit
// before it is lasting, and a log grown long is checkpointed there, into the database file,
// rather than inside one of the client's commits.
#include "standin/server/StandInServer.h"
#include "standin/tds/SessionDatabase.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace zeph;

namespace {

long long rowsOf(tds::SessionDatabase &session) {
    const tds::StatementResult counted = session.query("SELECT COUNT(*) FROM t", {});
    return counted.rows ? std::get<std::int64_t>(counted.rows->rows.at(0).at(0)) : -1;
}

// The database file alone, as a copy that has no log beside it: what a checkpoint put there.
long long rowsInTheFileAlone(const std::string &folder, const std::string &database, int copy) {
    const std::string alone = folder + "/alone" + std::to_string(copy) + ".sqlite";
    std::filesystem::copy_file(database, alone);
    try {
        tds::SessionDatabase reader(alone, {}, "reader");
        return rowsOf(reader);
    } catch (const std::exception &) {
        return 0; // the table itself is still only in the log
    }
}

TEST(SessionFlush, AFlushAfterALongLogLeavesEveryCommitInTheDatabaseFile) {
    test::TempFolder folder;
    const std::string database = folder.path() + "/TarvoDb.sqlite";
    const Status created = sqlite::createServerDatabase(
        database, {0, 1, folder.path() + "/Pradix/", folder.path() + "/mailstore", ""});
    ASSERT_TRUE(created) << created.error();
    tds::SessionDatabase session(database, {}, "writer");
    session.query("CREATE TABLE t(v TEXT)", {});
    // Each row about a page of the log, each its own commit: far more than SQLite's own
    // length for a checkpoint inside a commit, less than the length past which a commit
    // checkpoints the log itself.
    const std::string row(3000, 'x');
    constexpr int kRows = 2500;
    for (int i = 0; i < kRows; ++i)
        session.query("INSERT INTO t(v) VALUES (?)", {DbValue(row + std::to_string(i))});
    ASSERT_EQ(rowsOf(session), kRows);
    EXPECT_LT(rowsInTheFileAlone(folder.path(), database, 1), kRows)
        << "no commit checkpointed the log: the rows are in the log until the flush";
    session.call("sys.sp_flush_log", {});
    EXPECT_EQ(rowsInTheFileAlone(folder.path(), database, 2), kRows);
}

} // namespace
