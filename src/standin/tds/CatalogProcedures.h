#pragma once
// The catalogue procedures SQL Server's client libraries call to learn a database's tables,
// their columns and keys, and the server's data types (ODBC's SQLTables, SQLColumns,
// SQLPrimaryKeys, SQLGetTypeInfo): sp_tables, sp_columns, sp_pkeys, sp_datatype_info and
// sp_datatype_info_100, answered from the stand-in database's own schema in the columns and
// types SQL Server answers with. The reading of their calls and patterns (CatalogText.cpp)
// needs no database.

#include "SessionDatabase.h"

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

struct sqlite3;

namespace zeph::tds {

/// An argument of the call by its name ("@table_name"); NULL when not given.
using ArgumentByName = std::function<DbValue(std::string_view)>;

/// The result of catalogue procedure `name` ("sp_tables", ...), or nothing when `name` is none
/// of them. Throws Error when the database cannot be read.
std::optional<StatementResult> catalogProcedure(sqlite3 *db, std::string_view name,
                                                const ArgumentByName &arg);

/// A procedure's name without "dbo.", "sys." or "master.dbo.", in lower case.
std::string catalogProcedureName(std::string_view name);

/// The order of a catalogue procedure's arguments, for a call that gives them by position;
/// empty when `name` is none of them.
std::vector<std::string_view> catalogArgumentOrder(std::string_view name);

/// A batch that does nothing but call a catalogue procedure, as ODBC drivers send them
/// ("sp_datatype_info_100 12,3", "exec sp_tables @table_name = N'x'"), with its arguments by
/// name; nothing for any other text.
struct CatalogCall {
    std::string procedure;
    std::vector<DbParam> arguments;
};
std::optional<CatalogCall> catalogBatch(std::string_view text);

/// Whether `text` matches the LIKE pattern (`%`, `_`, `[...]`), letter case ignored.
bool likeMatch(std::string_view pattern, std::string_view text);

} // namespace zeph::tds
