#pragma once
// Small helpers over the sqlite3 C API for the stand-in server: prepared statements, savepoints
// and the mapping of SQLite failures to the errors a SQL Server client would see.

#include "platform/Database.h"
#include "platform/Error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zeph::sqlite::server {

/// Error numbers as the server's client library reports them.
namespace dberr {
inline constexpr long kCommand = -2147217900;   // the server rejected the command
inline constexpr long kIntegrity = -2147217873; // a constraint was violated
inline constexpr long kConvert = -2147217913;   // a value could not be converted
inline constexpr long kFailed = -2147467259;    // any other failure
} // namespace dberr

/// The error for a failed SQLite call on `db`.
Error sqliteError(sqlite3 *db, int rc);

/// A prepared statement; values are bound by position (1-based), columns read by index.
class Statement {
public:
    Statement(sqlite3 *db, std::string_view sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, const DbValue &value);
    /// Binds values to ?1, ?2, ... in order.
    Statement &bindAll(const std::vector<DbValue> &values);
    /// Advances to the next row; false when there is none (the statement is done).
    bool step();
    /// Runs a statement that returns no rows, then resets it for the next use.
    void run();
    void reset();

    int columnCount() const;
    std::string columnName(int index) const;
    DbValue value(int index) const;
    bool isNull(int index) const;
    std::string text(int index) const;
    std::int64_t integer(int index) const;

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

/// Runs one or more statements without parameters.
void exec(sqlite3 *db, std::string_view sql);

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

/// An opened database file, closed by the destructor.
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
};

/// Helpers on values.
inline bool isNull(const DbValue &v) {
    return std::holds_alternative<std::monostate>(v);
}
std::string asText(const DbValue &v);

} // namespace zeph::sqlite::server
