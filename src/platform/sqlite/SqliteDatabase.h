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

/// A database whose connections (for the connection text of TarvoDb) open the given file.
/// Stored procedures are run by the given handler (none: every call is an error).
std::unique_ptr<IDatabase> makeDatabase(const std::string &path, ProcedureHandler procedures);

} // namespace zeph::sqlite
