#pragma once
// The database backend over an SQLite file.

#include "platform/Database.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace zeph::sqlite {

/// Runs a stored procedure by name on a connection's open handle. Throws Error for an unknown
/// procedure or a failure. The file has no procedures of its own: whoever serves them installs
/// this.
using ProcedureHandler = std::function<std::optional<DbRowSet>(sqlite3 *db, const std::string &name,
                                                               const std::vector<DbParam> &args)>;

/// The server's name (IDatabase::serverName), read on a connection's open handle. Throws Error.
/// Whoever serves the file installs this; without it the file's path names the server.
using ServerNamer = std::function<std::string(sqlite3 *db)>;

/// How the text of an operator's query (queryWithin) is read. With `tsql`, it is T-SQL, run
/// with SQL Server's meaning or refused with SQL Server's error (platform/sqltext/Tsql.h), and
/// `dateTimeColumns` name the columns that hold datetime values as text. Without, the text is
/// SQLite's own.
struct OperatorDialect {
    bool tsql = false;
    std::vector<std::string> dateTimeColumns;
};

/// Sets a newly opened handle of the server database to work as the program's connections do:
/// its write-ahead log, synced at the program's durable points instead of at every commit, and
/// its page cache. For whoever works on the file beside the program and is to be compared with
/// it (the benchmark). Throws Error.
void useProgramSettings(sqlite3 *db);

/// Makes every commit made so far on the handle's file lasting: one sync of its write-ahead
/// log. Throws Error when the sync fails.
void syncCommits(sqlite3 *db);

/// The durable points of one handle set by useProgramSettings. A checkpoint of the write-ahead
/// log syncs the log before it copies it into the database and the database after, so the
/// checkpoint a long log is due is made at a durable point, where it is the durable point's
/// sync as well, instead of inside a commit followed by the point's own sync: one sync fewer
/// for each checkpoint. Between durable points a commit checkpoints the log only when it has
/// grown far past its due length (kBackstopFrames), so that it stays bounded without them.
/// Lives no longer than the handle, whose commits it watches.
class DurablePoints {
public:
    /// A checkpoint is due at a durable point once the log holds this many frames (pages)
    /// since the last: twice SQLite's own length for its automatic checkpoints (8 MB of 4 kB
    /// pages). A checkpoint costs the disk two syncs and the log's new beginning a third, so a
    /// longer log pays them half as often; a reader looks pages up in the log's index, which
    /// grows by one table of 4,096 frames.
    static constexpr int kCheckpointFrames = 2000;
    static constexpr int kBackstopFrames = 4 * kCheckpointFrames;

    explicit DurablePoints(sqlite3 *db);
    ~DurablePoints();
    DurablePoints(const DurablePoints &) = delete;
    DurablePoints &operator=(const DurablePoints &) = delete;

    /// Makes every commit made so far on the handle's file lasting: a checkpoint of the whole
    /// log when one is due and nothing holds it back, otherwise one sync of the log. Throws
    /// Error when the sync fails.
    void makeDurable();
    /// The frames committed to the log since its last checkpoint, as the last commit left it.
    int framesSinceCheckpoint() const { return m_frames - m_checkpointed; }

private:
    static int onCommit(void *self, sqlite3 *db, const char *schema, int frames);
    bool checkpointWhole();

    sqlite3 *m_db;
    int m_frames = 0;       // in the log after the handle's last commit
    int m_checkpointed = 0; // of them copied into the database by the last whole checkpoint
};

/// A database whose connections (for the connection text of TarvoDb) open the given file.
/// Stored procedures are run by the given handler (none: every call is an error). Its run
/// lock is an operating-system lock on a file beside the database file (RunLockFile.h).
std::unique_ptr<IDatabase> makeDatabase(const std::string &path, ProcedureHandler procedures,
                                        ServerNamer namer = {}, OperatorDialect dialect = {});

} // namespace zeph::sqlite
