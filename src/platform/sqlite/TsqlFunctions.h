#pragma once
// The tsql_* functions that give a translated T-SQL query SQL Server's meaning on an SQLite
// handle, and what the translation needs to know of the database (its columns' types).

#include "platform/sqltext/Tsql.h"

#include <string>
#include <vector>

struct sqlite3;

namespace zeph::sqlite {

/// Installs the tsql_* functions on a handle. A function that fails carries SQL Server's number
/// in its message (sqltext::carriedErrorOf).
void registerTsqlFunctions(sqlite3 *db);

/// The declared type of every column of the database's tables and views, by name. Columns
/// named in `dateTimeColumns` hold datetime values (as their canonical text) whatever their
/// declared type. Throws Error when the schema cannot be read.
sqltext::TsqlCatalogue tsqlCatalogue(sqlite3 *db, const std::vector<std::string> &dateTimeColumns);

} // namespace zeph::sqlite
