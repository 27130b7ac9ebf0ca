#pragma once
// The server database's tables, indexes, views and triggers.

#include <string>
#include <vector>

struct sqlite3;

namespace zeph::sqlite::server {

/// Creates every table, index, view and trigger of the server database in an empty database.
void createSchema(sqlite3 *db);

/// The columns that hold dates and times (datetime on SQL Server). They are stored as text in
/// the ODBC canonical form "yyyy-mm-dd hh:mm:ss", which orders as the dates do, and a T-SQL
/// query compares them as dates.
const std::vector<std::string> &dateTimeColumns();

/// Object type numbers the server uses for the owners of extensions (DTMFAccessID rows).
namespace objtype {
inline constexpr int kSubscriber = 1;
inline constexpr int kDistributionList = 2;
inline constexpr int kCallHandler = 3;
inline constexpr int kInterviewHandler = 5;
inline constexpr int kDirectoryHandler = 6;
inline constexpr int kLocation = 9;
} // namespace objtype

} // namespace zeph::sqlite::server
