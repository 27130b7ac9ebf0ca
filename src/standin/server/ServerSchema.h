#pragma once
// The server database's tables, indexes, views and triggers.

struct sqlite3;

namespace zeph::sqlite::server {

/// Creates every table, index, view and trigger of the server database in an empty database.
void createSchema(sqlite3 *db);

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
