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

/// A database whose connections (for the connection text of TarvoDb) open the given file.
/// Stored procedures are run by the given handler (none: every call is an error). Its run
/// lock is an operating-system lock on a file beside the database file (RunLockFile.h).
std::unique_ptr<IDatabase> makeDatabase(const std::string &path, ProcedureHandler procedures,
                                        ServerNamer namer = {}, OperatorDialect dialect = {});

} // namespace zeph::sqlite
