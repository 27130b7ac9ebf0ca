#pragma once
// The wrapper over sqlite3 statements that the database backend and the stand-in server share:
// prepared statements with bound values, statements kept prepared on a handle for reuse, and
// SQLite failures turned into the error numbers the caller's clients see.

#include "platform/Database.h"
#include "platform/DbErrors.h"
#include "platform/Error.h"
#include "platform/sqltext/SqlText.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zeph::sqlite {

/// Gives the error number for an SQLite result code (primary or extended). The backend numbers
/// failures as the driver does (errorNumber); the stand-in server has a coarser numbering of
/// its own.
using ErrorNumbering = long (*)(int resultCode);

/// The driver's number for an SQLite result code.
long errorNumber(int resultCode);
/// WriteRefused for the codes by which the database file refuses a write for a reason of its
/// own (full, read-only, failing storage, held by another writer); Plain for the others.
ErrorKind errorKind(int resultCode);
/// Error(numbering(rc), SQLite's message for the connection, or for the code without one).
Error sqliteError(sqlite3 *db, int resultCode, ErrorNumbering numbering = errorNumber);
[[noreturn]] void throwError(sqlite3 *db, int resultCode, ErrorNumbering numbering = errorNumber);

/// Runs one or more statements without parameters.
void exec(sqlite3 *db, std::string_view sql, ErrorNumbering numbering = errorNumber);

using sqltext::quoteName;

/// One prepared statement; values are bound by position (1-based), columns read by index.
/// Only a single statement is accepted: a text that goes on after its first statement (other
/// than blanks) is refused.
class Statement {
public:
    Statement(sqlite3 *db, std::string_view sql, ErrorNumbering numbering = errorNumber);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, const DbValue &value);
    /// Binds values to ?1, ?2, ... in order; the count must match the placeholders.
    Statement &bindAll(const std::vector<DbValue> &values);
    /// Advances to the next row; false when there is none. Throws Error on failure (the
    /// statement is reset then, so that it holds nothing open).
    bool step();
    /// Runs a statement that returns no rows, then resets it for the next use.
    void run();
    /// Back to its start, with its values let go.
    void reset();

    int columnCount() const;
    std::string columnName(int index) const;
    DbValue value(int index) const;
    bool isNull(int index) const;
    /// The column as text (a number as its digits; "" for NULL).
    std::string text(int index) const;
    std::int64_t integer(int index) const;

    sqlite3_stmt *get() const { return m_stmt; }
    ErrorNumbering numbering() const { return m_numbering; }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    ErrorNumbering m_numbering;
};

/// One use of a statement. A kept statement goes back to its cache when the use ends, reset
/// (so that it holds no read of the file open) and with its values let go; a statement
/// prepared for this use alone is finalized.
class StatementUse {
public:
    StatementUse(const StatementUse &) = delete;
    StatementUse &operator=(const StatementUse &) = delete;
    ~StatementUse();

    Statement *operator->() const { return m_stmt; }
    Statement &operator*() const { return *m_stmt; }

private:
    friend class StatementCache;
    StatementUse(Statement &kept, bool &busy);
    explicit StatementUse(std::unique_ptr<Statement> owned);

    std::unique_ptr<Statement> m_owned;
    Statement *m_stmt;
    bool *m_busy = nullptr;
};

/// Statements kept prepared on one open handle, by their text, so that a text used again is
/// not prepared again. The cache belongs to whoever owns the handle and must go before the
/// handle is closed. While it lives, forHandle() finds it, so that code given only the handle
/// (the stand-in server's procedures) can use it.
class StatementCache {
public:
    static constexpr std::size_t kDefaultCapacity = 128;

    /// Whether forHandle() finds the cache: a handle's second cache, for statements that must
    /// never be mixed with its others, stays unlisted.
    enum class Listing { Listed, Unlisted };

    explicit StatementCache(sqlite3 *db, std::size_t capacity = kDefaultCapacity,
                            Listing listing = Listing::Listed);
    ~StatementCache();
    StatementCache(const StatementCache &) = delete;
    StatementCache &operator=(const StatementCache &) = delete;

    /// The kept statement for `sql`, prepared on first use. A text that is in use already
    /// (a nested use), has another numbering, or finds the cache full is prepared for this
    /// use alone.
    StatementUse use(std::string_view sql, ErrorNumbering numbering = errorNumber);

    /// The cache of a handle, or null when its owner keeps none.
    static StatementCache *forHandle(sqlite3 *db);
    /// `sql` on `db`: through the handle's cache when there is one.
    static StatementUse useOn(sqlite3 *db, std::string_view sql, ErrorNumbering numbering);

private:
    struct Kept {
        std::unique_ptr<Statement> stmt;
        bool busy = false;
    };

    sqlite3 *m_db;
    std::size_t m_capacity;
    Listing m_listing;
    std::unordered_map<std::string, Kept> m_kept;
};

} // namespace zeph::sqlite
