#pragma once
// What the stand-in server adds to the shared statement wrapper: the error numbers a SQL Server
// client sees for the server's failures, savepoints, and opening a database file. The server's
// statements are kept prepared on the handle when its owner keeps a statement cache (the
// backend's handles and Connection do).

#include "platform/sqlite/SqliteStatement.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::sqlite::server {

/// Error numbers as the server's client library reports them.
namespace dberr {
inline constexpr long kCommand = -2147217900;   // the server rejected the command
inline constexpr long kIntegrity = -2147217873; // a constraint was violated
inline constexpr long kConvert = -2147217913;   // a value could not be converted
inline constexpr long kFailed = -2147467259;    // any other failure
} // namespace dberr

/// The server's number for a failed SQLite call: a violated constraint, or any other failure.
long errorNumber(int resultCode);

/// A statement prepared for the server (its failures numbered as the server's).
class Statement : public sqlite::Statement {
public:
    Statement(sqlite3 *db, std::string_view sql)
        : sqlite::Statement(db, sql, server::errorNumber) {}
};

/// A statement of the server's for one use: kept prepared on the handle when it has a cache.
inline StatementUse statement(sqlite3 *db, std::string_view sql) {
    return StatementCache::useOn(db, sql, server::errorNumber);
}

/// Runs one or more statements without parameters.
inline void exec(sqlite3 *db, std::string_view sql) {
    sqlite::exec(db, sql, server::errorNumber);
}

/// All rows of a query, with column names.
DbRowSet queryRows(sqlite3 *db, std::string_view sql, const std::vector<DbValue> &params = {});

/// The first column of the first row, or nothing when there is no row.
std::optional<DbValue> queryValue(sqlite3 *db, std::string_view sql,
                                  const std::vector<DbValue> &params = {});
std::int64_t queryCount(sqlite3 *db, std::string_view sql, const std::vector<DbValue> &params = {});

/// A savepoint: everything done while it is open is undone unless release() is called.
/// Works inside or outside a transaction of the caller.
class Savepoint {
public:
    explicit Savepoint(sqlite3 *db);
    ~Savepoint();
    Savepoint(const Savepoint &) = delete;
    Savepoint &operator=(const Savepoint &) = delete;
    void release();

private:
    sqlite3 *m_db;
    bool m_open = true;
};

/// An opened database file with a cache of the server's statements, closed by the destructor.
class Connection {
public:
    /// Opens an existing file (create false) or creates a new one. Throws Error.
    Connection(const std::string &path, bool create);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    sqlite3 *get() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
    std::unique_ptr<StatementCache> m_statements;
};

/// Helpers on values.
inline bool isNull(const DbValue &v) {
    return std::holds_alternative<std::monostate>(v);
}
std::string asText(const DbValue &v);

} // namespace zeph::sqlite::server
