#pragma once
// Small helpers over the sqlite3 API for the database backend: prepared statements with bound
// values, and SQLite failures turned into the errors an ADO program sees.

#include "platform/Database.h"
#include "platform/Error.h"

#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zeph::sqlite {

/// Error numbers as the SQL Server driver reports the same kinds of failure.
namespace sqlerr {
inline constexpr long kGeneral = -2147467259;        // unspecified failure (a lost or bad file)
inline constexpr long kSyntaxOrObject = -2147217900; // a bad statement or a missing object
inline constexpr long kMissingValue = -2147217904;   // a placeholder without a value
inline constexpr long kPermission = -2147217911;     // the statement is not allowed here
inline constexpr long kConversion = -2147217913;     // a value of the wrong type
inline constexpr long kConstraint = -2147217873;     // a key, unique or check constraint
inline constexpr long kTimeout = -2147217871;        // the database stayed busy
inline constexpr long kTooLong = -2147217833;        // a value too long for the database
} // namespace sqlerr

/// The error number for an SQLite result code (primary or extended).
long errorNumber(int resultCode);
/// Throws Error(errorNumber(rc), SQLite's message for the connection).
[[noreturn]] void throwError(sqlite3 *db, int resultCode);

/// A name quoted for SQL text: "name" with inner quotes doubled.
std::string quoteName(std::string_view name);

/// One prepared statement. Only a single statement is accepted: a text that goes on after its
/// first statement (other than blanks) is refused.
class Statement {
public:
    Statement(sqlite3 *db, std::string_view sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    /// Binds values to the placeholders in order; the count must match.
    void bind(const std::vector<DbValue> &values);
    /// Advances to the next row; false when done. Throws Error on failure.
    bool step();
    int columnCount() const;
    std::string columnName(int column) const;
    DbValue column(int column) const;
    sqlite3_stmt *get() const { return m_stmt; }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace zeph::sqlite
