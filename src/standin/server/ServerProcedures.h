#pragma once
// The server's stored procedures and the directory synchroniser that answers sync tickets.

#include "StandInServer.h"

namespace zeph::sqlite::server {

/// Runs a stored procedure by name (letter case ignored) inside a savepoint of its own.
/// Arguments are matched by name with the leading "@" (letter case ignored); missing ones take
/// their defaults. Throws Error as the server reports it; nothing of a failed call remains.
std::optional<DbRowSet> callProcedure(sqlite3 *db, const std::string &name,
                                      const std::vector<DbParam> &args, ServerContext &context);

/// True when `name` (letter case ignored, "dbo." allowed) is one of the server's procedures.
bool isProcedure(const std::string &name);

/// What the directory synchroniser does, from the host's "directory-sync" setting.
enum class SyncOutcome { Ok, Fail, Never };
SyncOutcome syncOutcome(const ServerContext &context);

/// A GUID text in the server's form (braced, upper case), or nothing when it is not a GUID.
std::optional<std::string> normalGuid(const std::string &text);

/// The parameter names of a procedure of the server's in their declared order (for a call that
/// gives its arguments by position); nothing for a name the server has not.
std::optional<std::vector<std::string>> procedureParameterNames(const std::string &name);

} // namespace zeph::sqlite::server
