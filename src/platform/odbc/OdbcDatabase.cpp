// The database backend over ODBC.
//
// Each of the program's connections is an ODBC connection of its own; closed ones are kept for
// the next (a login to a server costs a round trip or more), checked before reuse. Queries read
// forward to the end into a record set. A read-only query runs inside a transaction that is
// always rolled back, so that whatever the statement would change, nothing remains. Rows are
// saved back through the one table a query reads, found by its primary key.
#include "OdbcDatabase.h"

#include "OdbcCall.h"
#include "OdbcStatement.h"
#include "StoppableRun.h"
#include "platform/AsciiText.h"
#include "platform/DbErrors.h"
#include "platform/sqltext/SqlText.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

namespace zeph::odbc {
namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 15;
// Connections kept for reuse. A reset run holds one query and one command at a time beside the
// cached tables' own connections.
constexpr std::size_t kIdleConnections = 4;

using sqltext::insertText;
using sqltext::quoteName;
using sqltext::updateSetText;

/// The ODBC environment of the backend (version 3 behaviour).
class Environment {
public:
    Environment()
        : m_env(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
        m_env.check(SQLSetEnvAttr(m_env.get(), SQL_ATTR_ODBC_VERSION,
                                  reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
                    "Setting up ODBC");
    }
    SQLHENV get() const { return m_env.get(); }

private:
    Handle m_env;
};

/// One open connection to the server.
class Link {
public:
    Link(const Environment &env, const std::string &connectionText)
        : m_dbc(SQL_HANDLE_DBC, env.get()) {
        SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
        std::basic_string<SQLWCHAR> text = toWide(connectionText);
        SQLSMALLINT length = 0;
        m_dbc.check(SQLDriverConnectW(m_dbc.get(), nullptr, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), nullptr, 0, &length,
                                      SQL_DRIVER_NOPROMPT),
                    "Connecting to the database");
        m_connected = true;
    }
    ~Link() {
        if (m_connected)
            SQLDisconnect(m_dbc.get());
    }
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    SQLHDBC get() const { return m_dbc.get(); }
    void check(SQLRETURN rc, std::string_view what) const { m_dbc.check(rc, what); }

    bool alive() const {
        SQLUINTEGER dead = SQL_CD_FALSE;
        SQLRETURN rc = SQLGetConnectAttr(m_dbc.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
        // A driver that cannot tell is trusted: the first statement finds out.
        return !SQL_SUCCEEDED(rc) || dead == SQL_CD_FALSE;
    }

    /// Table keys as the catalogue told them, by the name asked for (letter case ignored):
    /// looked up once per connection. Nothing known: the table has no key.
    std::map<std::string, std::vector<std::string>> &keys() { return m_keys; }
    /// False once the server said it has no sys.sp_flush_log: its every commit is lasting.
    bool &flushesLog() { return m_flushesLog; }
    /// Updatable queries run again with hidden key columns, by their text: the next run of
    /// the same text goes straight to the rewritten one.
    std::map<std::string, std::pair<std::string, std::size_t>> &rewritten() { return m_rewritten; }

    /// Opens a transaction (autocommit off); end() closes it.
    void begin() {
        check(SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_AUTOCOMMIT,
                                reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              "Starting a transaction");
    }
    /// Commits or rolls back, and goes back to autocommit. Throws when that fails.
    void end(bool commit) {
        check(SQLEndTran(SQL_HANDLE_DBC, m_dbc.get(), commit ? SQL_COMMIT : SQL_ROLLBACK),
              commit ? "Committing" : "Rolling back");
        check(SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_AUTOCOMMIT,
                                reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
              "Ending a transaction");
    }

private:
    Handle m_dbc;
    bool m_connected = false;
    std::map<std::string, std::vector<std::string>> m_keys;
    std::map<std::string, std::pair<std::string, std::size_t>> m_rewritten;
    bool m_flushesLog = true;
};

/// Closed connections kept for the next ones with the same connection text.
class LinkPool {
public:
    std::unique_ptr<Link> take(const std::string &text) {
        std::lock_guard lock(m_mutex);
        for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
            if (it->first == text) {
                std::unique_ptr<Link> link = std::move(it->second);
                m_idle.erase(it);
                return link;
            }
        }
        return nullptr;
    }
    void giveBack(const std::string &text, std::unique_ptr<Link> link) {
        std::lock_guard lock(m_mutex);
        if (m_idle.size() < kIdleConnections)
            m_idle.emplace_back(text, std::move(link));
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<std::string, std::unique_ptr<Link>>> m_idle;
};

/// The table a query's rows are saved to and its key.
struct SaveTarget {
    std::string name;
    std::vector<std::string> keyColumns;
};

/// A program's reading of one table or view that cannot change anything, so that it needs no
/// transaction to be undone: a single SELECT (no second statement, no SELECT ... INTO).
bool plainReading(const std::string &sql) {
    if (!sqltext::singleSourceSelect(sql))
        return false;
    const std::size_t semicolon = sql.find(';');
    if (semicolon != std::string::npos &&
        sql.find_first_not_of(" \t\r\n;", semicolon) != std::string::npos)
        return false;
    const std::string lower = lowerAscii(sql);
    for (std::size_t at = lower.find("into"); at != std::string::npos;
         at = lower.find("into", at + 1)) {
        auto wordChar = [&](std::size_t i) {
            const char c = lower[i];
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '@' ||
                   c == '#' || c == '"' || c == '[' || c == ']';
        };
        if ((at == 0 || !wordChar(at - 1)) && (at + 4 >= lower.size() || !wordChar(at + 4)))
            return false;
    }
    return true;
}

/// A procedure's or argument's name as it may stand in a statement: letters, digits, "_",
/// and "." between parts; anything else is refused (names are never quoted into text).
bool isPlainName(std::string_view name, bool argument) {
    if (argument) {
        if (name.size() < 2 || name.front() != '@')
            return false;
        name.remove_prefix(1);
    }
    if (name.empty() || name.front() == '.' || name.back() == '.')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const char lower = static_cast<char>(c | 0x20);
        return (c >= '0' && c <= '9') || (lower >= 'a' && lower <= 'z') || c == '_' || c == '.';
    });
}

class OdbcConnection : public IDbConnection {
public:
    OdbcConnection(std::unique_ptr<Link> link, std::string text, std::shared_ptr<LinkPool> pool)
        : m_link(std::move(link))
        , m_text(std::move(text))
        , m_pool(std::move(pool)) {}
    ~OdbcConnection() override {
        if (m_grouping)
            rollbackTransaction(); // a transaction left open is taken back, never committed
        if (m_reusable)
            m_pool->giveBack(m_text, std::move(m_link));
    }

    DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                   bool readOnly) override {
        return readOnly ? readOnlyQuery(sql, params) : updatableQuery(sql, params);
    }
    // The rows as the driver fetches them, one at a time.
    void readRows(const std::string &sql, const std::vector<DbValue> &params,
                  const std::function<bool(const std::vector<DbValue> &)> &row) override;
    // A statement an operator wrote: read only, and stopped by its limits (the driver's time
    // limit, a watch from this thread that cancels it, the rows and bytes read).
    DbRowSet queryWithin(const std::string &sql, const std::vector<DbValue> &params,
                         const DbQueryLimits &limits) override {
        return readOnlyQuery(sql, params, &limits);
    }
    void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                   const std::vector<DbValue> &keyValues, const std::vector<std::string> &columns,
                   const std::vector<DbValue> &values) override;
    std::int64_t updateWhere(const DbRowsChange &change) override;
    std::optional<std::vector<DbValue>>
    insertRow(const std::string &target, const std::vector<std::string> &columns,
              const std::vector<DbValue> &values,
              const std::vector<std::string> &readBack) override;
    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override;
    // A table made inside a transaction that is rolled back: the server must let this login
    // change the database, and nothing of the change stays.
    void proveWritable() override;

    // Each right as the server grants it: a procedure's EXECUTE asked of HAS_PERMS_BY_NAME
    // (a data source without it has no procedures to grant), a table's UPDATE or INSERT by a
    // statement that changes no row, inside a transaction that is taken back. Nothing is made
    // or changed, so an account with exactly the rights the run uses is accepted.
    void proveRights(const std::vector<DbRight> &rights) override;

    // The changes that follow are one transaction of the server's (autocommit off) until
    // commitTransaction or rollbackTransaction (SQLEndTran).
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;
    // sys.sp_flush_log: the commits of a server that delays their durability reach its disk.
    // A server without it makes every commit lasting.
    void makeDurable() override;

private:
    DbRowSet readOnlyQuery(const std::string &sql, const std::vector<DbValue> &params,
                           const DbQueryLimits *limits = nullptr);
    DbRowSet updatableQuery(const std::string &sql, const std::vector<DbValue> &params);
    std::optional<SaveTarget> saveTarget(const std::string &name);
    std::int64_t count(const std::string &target, const std::vector<std::string> &keyColumns,
                       const std::vector<DbValue> &keyValues);
    /// Runs `work` inside a transaction: committed when it returns, rolled back when it throws
    /// or when `commit` is false.
    template <class Work> auto inTransaction(bool commit, Work &&work);

    std::unique_ptr<Link> m_link;
    std::string m_text;
    std::shared_ptr<LinkPool> m_pool;
    bool m_reusable = true;
    bool m_grouping = false; // a transaction of the caller's is open
};

template <class Work> auto OdbcConnection::inTransaction(bool commit, Work &&work) {
    // Inside the caller's transaction the work is part of it, committed or taken back with it.
    if (m_grouping)
        return work();
    m_link->begin();
    try {
        auto result = work();
        m_link->end(commit);
        return result;
    } catch (...) {
        try {
            m_link->end(false);
        } catch (const Error &) {
            // A connection whose transaction state is unknown serves no one else.
            m_reusable = false;
        }
        throw;
    }
}

std::string whereKey(const std::vector<std::string> &keyColumns) {
    std::string where;
    for (const auto &key : keyColumns)
        where += (where.empty() ? " WHERE " : " AND ") + quoteName(key) + " = ?";
    return where;
}

DbRowSet OdbcConnection::readOnlyQuery(const std::string &sql, const std::vector<DbValue> &params,
                                       const DbQueryLimits *limits) {
    static const DbQueryLimits kNone;
    const DbQueryLimits &within = limits ? *limits : kNone;
    const SQLULEN seconds =
        limits ? static_cast<SQLULEN>(std::max(limits->timeoutSeconds, 0)) : kQueryTimeoutSeconds;
    // The program's own plain readings change nothing and run as they are, also inside the
    // caller's transaction, where nothing else could be undone alone.
    if (!limits && plainReading(sql)) {
        Statement stmt(m_link->get(), seconds);
        stmt.bind(params);
        stmt.execute(sql);
        if (stmt.columnCount() == 0)
            throw Error(sqlerr::kPermission, "The statement was refused: a read-only query "
                                             "may only read data (it returned no rows).");
        DbRowSet rows = stmt.fetchAll(0);
        stmt.drain();
        return rows;
    }
    if (m_grouping)
        throw Error(sqlerr::kPermission, "The statement was refused: inside a transaction only "
                                         "a reading of one table or view may run read-only.");
    // Whatever the statement does is undone: the transaction is never committed.
    return inTransaction(false, [&] {
        Statement stmt(m_link->get(), seconds);
        stmt.bind(params);
        return runStoppable(stmt, within, [&] {
            stmt.execute(sql);
            if (stmt.columnCount() == 0)
                throw Error(sqlerr::kPermission, "The statement was refused: a read-only query "
                                                 "may only read data (it returned no rows).");
            DbRowSet rows = stmt.fetchAll(0, within);
            if (!rows.cut)
                stmt.drain();
            return rows;
        });
    });
}

void OdbcConnection::readRows(const std::string &sql, const std::vector<DbValue> &params,
                              const std::function<bool(const std::vector<DbValue> &)> &row) {
    const bool plain = plainReading(sql);
    if (!plain && m_grouping)
        throw Error(sqlerr::kPermission, "The statement was refused: inside a transaction only "
                                         "a reading of one table or view may run read-only.");
    auto read = [&] {
        Statement stmt(m_link->get());
        stmt.bind(params);
        stmt.execute(sql);
        if (stmt.columnCount() == 0)
            throw Error(sqlerr::kPermission, "The statement was refused: a read-only query "
                                             "may only read data (it returned no rows).");
        if (stmt.fetchEach(row))
            stmt.drain();
        return true;
    };
    // A statement that might change something is undone: its transaction is never committed.
    if (plain)
        read();
    else
        inTransaction(false, read);
}

DbRowSet OdbcConnection::updatableQuery(const std::string &sql,
                                        const std::vector<DbValue> &params) {
    std::optional<sqltext::QueryShape> shape = sqltext::singleSourceSelect(sql);
    std::optional<SaveTarget> target = shape ? saveTarget(shape->source) : std::nullopt;
    auto stmt = std::make_unique<Statement>(m_link->get());
    stmt->bind(params);
    std::size_t hidden = 0;
    auto known = target ? m_link->rewritten().find(sql) : m_link->rewritten().end();
    if (known != m_link->rewritten().end()) {
        hidden = known->second.second;
        stmt->execute(known->second.first);
    } else {
        stmt->execute(sql);
    }
    if (target && known == m_link->rewritten().end()) {
        // Key columns the query does not select are fetched as hidden columns, so that each row
        // can still be found again when it is saved: the query runs again with them.
        const std::vector<std::string> selected = stmt->columnNames();
        std::string keys;
        for (const auto &key : target->keyColumns) {
            if (std::none_of(selected.begin(), selected.end(),
                             [&](const std::string &c) { return equalsIgnoreCase(c, key); })) {
                keys += " " + quoteName(key) + ",";
                ++hidden;
            }
        }
        if (hidden) {
            std::string rewritten = sql;
            rewritten.insert(shape->selectListOffset, keys);
            stmt = std::make_unique<Statement>(m_link->get());
            stmt->bind(params);
            stmt->execute(rewritten);
            m_link->rewritten()[sql] = {rewritten, hidden};
        }
    }
    DbRowSet rows = stmt->fetchAll(hidden);
    stmt->drain();
    if (target) {
        rows.updateTarget = target->name;
        rows.keyColumns = target->keyColumns;
    }
    return rows;
}

// The primary key of a table, from the driver's catalogue ("schema.table" or "table").
std::optional<SaveTarget> OdbcConnection::saveTarget(const std::string &name) {
    std::string schema;
    std::string table = name;
    if (auto dot = name.rfind('.'); dot != std::string::npos) {
        schema = name.substr(0, dot);
        table = name.substr(dot + 1);
    }
    SaveTarget target;
    target.name = name;
    const std::string known = lowerAscii(name);
    if (auto found = m_link->keys().find(known); found != m_link->keys().end()) {
        if (found->second.empty())
            return std::nullopt;
        target.keyColumns = found->second;
        return target;
    }
    try {
        Statement stmt(m_link->get());
        std::basic_string<SQLWCHAR> wideSchema = toWide(schema);
        std::basic_string<SQLWCHAR> wideTable = toWide(table);
        SQLRETURN rc =
            SQLPrimaryKeysW(stmt.get(), nullptr, 0, schema.empty() ? nullptr : wideSchema.data(),
                            static_cast<SQLSMALLINT>(schema.empty() ? 0 : wideSchema.size()),
                            wideTable.data(), static_cast<SQLSMALLINT>(wideTable.size()));
        check(rc, SQL_HANDLE_STMT, stmt.get(), "Reading a table's key");
        DbRowSet keys = stmt.fetchAll(0);
        // COLUMN_NAME is the 4th column, KEY_SEQ the 5th.
        std::sort(keys.rows.begin(), keys.rows.end(), [](const auto &a, const auto &b) {
            return a.size() > 4 && b.size() > 4 && a[4] < b[4];
        });
        for (const auto &row : keys.rows) {
            if (row.size() > 3)
                if (auto column = std::get_if<std::string>(&row[3]))
                    target.keyColumns.push_back(*column);
        }
    } catch (const Error &) {
        return std::nullopt; // no key known: the rows are read-only (asked again next time)
    }
    m_link->keys()[known] = target.keyColumns;
    if (target.keyColumns.empty())
        return std::nullopt;
    return target;
}

std::int64_t OdbcConnection::count(const std::string &target,
                                   const std::vector<std::string> &keyColumns,
                                   const std::vector<DbValue> &keyValues) {
    Statement stmt(m_link->get());
    stmt.bind(keyValues);
    stmt.execute("SELECT COUNT(*) FROM " + quoteName(target) + whereKey(keyColumns));
    DbRowSet rows = stmt.fetchAll(0);
    stmt.drain();
    if (rows.rows.size() != 1 || rows.rows[0].size() != 1)
        throw Error(sqlerr::kGeneral, "The row count of " + target + " could not be read.");
    const DbValue &value = rows.rows[0][0];
    if (auto n = std::get_if<std::int64_t>(&value))
        return *n;
    if (auto text = std::get_if<std::string>(&value))
        return std::stoll(*text);
    throw Error(sqlerr::kGeneral, "The row count of " + target + " could not be read.");
}

void OdbcConnection::updateRow(const std::string &target,
                               const std::vector<std::string> &keyColumns,
                               const std::vector<DbValue> &keyValues,
                               const std::vector<std::string> &columns,
                               const std::vector<DbValue> &values) {
    if (keyColumns.empty() || keyColumns.size() != keyValues.size() ||
        columns.size() != values.size() || columns.empty())
        throw Error(sqlerr::kGeneral, "A row cannot be saved without its key and its changes.");
    inTransaction(true, [&] {
        const std::string sql = updateSetText(target, columns) + whereKey(keyColumns);
        std::vector<DbValue> bound = values;
        bound.insert(bound.end(), keyValues.begin(), keyValues.end());
        Statement stmt(m_link->get());
        stmt.bind(bound);
        stmt.execute(sql);
        SQLLEN changed = stmt.rowCount();
        stmt.drain();
        // A table's count is the server's word; a view's rows, changed by its triggers, are
        // not counted by every server: then they are counted by their key.
        const std::int64_t found =
            changed > 0 ? static_cast<std::int64_t>(changed) : count(target, keyColumns, keyValues);
        if (found == 0)
            throw Error(sqlerr::kRowChanged, "Row cannot be located for updating. Some values may "
                                             "have been changed since it was last read.");
        if (found > 1)
            throw Error(sqlerr::kGeneral, "Key column information is insufficient or incorrect. "
                                          "Too many rows were affected by update.");
        return 0;
    });
}

std::int64_t OdbcConnection::updateWhere(const DbRowsChange &change) {
    if (change.whereColumns.empty() || change.whereColumns.size() != change.whereValues.size() ||
        change.columns.size() != change.values.size() || change.columns.empty())
        throw Error(sqlerr::kGeneral, "Rows cannot be changed without a condition and changes.");
    const bool guarded = change.atMost > 0;
    const std::string sql =
        sqltext::updateWhereText(change.target, change.columns, change.whereColumns, guarded);
    std::vector<DbValue> bound = change.values;
    bound.insert(bound.end(), change.whereValues.begin(), change.whereValues.end());
    if (guarded) {
        bound.insert(bound.end(), change.whereValues.begin(), change.whereValues.end());
        bound.emplace_back(change.atMost);
    }
    return inTransaction(true, [&] {
        Statement stmt(m_link->get());
        stmt.bind(bound);
        stmt.execute(sql);
        const SQLLEN changed = stmt.rowCount();
        stmt.drain();
        // The rows found cannot be counted afterwards (the change may move them out of the
        // condition): a server that does not count them is not taken to have found none.
        if (changed < 0)
            throw Error(sqlerr::kGeneral, "The server did not tell how many rows of " +
                                              change.target + " were changed.");
        return static_cast<std::int64_t>(changed);
    });
}

std::optional<std::vector<DbValue>>
OdbcConnection::insertRow(const std::string &target, const std::vector<std::string> &columns,
                          const std::vector<DbValue> &values,
                          const std::vector<std::string> &readBack) {
    if (columns.size() != values.size())
        throw Error(sqlerr::kGeneral, "A new row needs one value per column.");
    const std::string sql = insertText(target, columns);
    {
        Statement stmt(m_link->get());
        stmt.bind(values);
        stmt.execute(sql);
        stmt.drain();
    }
    // Read the row back by its key, so that defaults show as the server made them. A key the
    // server made itself is not known here: then there is nothing to read back.
    try {
        std::optional<SaveTarget> key = saveTarget(target);
        if (!key || readBack.empty())
            return std::nullopt;
        std::vector<DbValue> keyValues;
        for (const auto &column : key->keyColumns) {
            auto it = std::find_if(columns.begin(), columns.end(), [&](const std::string &c) {
                return equalsIgnoreCase(c, column);
            });
            if (it == columns.end())
                return std::nullopt;
            keyValues.push_back(values[static_cast<std::size_t>(it - columns.begin())]);
        }
        std::string select = "SELECT ";
        for (std::size_t i = 0; i < readBack.size(); ++i)
            select += (i ? ", " : "") + quoteName(readBack[i]);
        select += " FROM " + quoteName(target) + whereKey(key->keyColumns);
        Statement stmt(m_link->get());
        stmt.bind(keyValues);
        stmt.execute(select);
        DbRowSet rows = stmt.fetchAll(0);
        stmt.drain();
        if (rows.rows.size() != 1)
            return std::nullopt; // not one row: do not guess
        return rows.rows[0];
    } catch (const Error &) {
        return std::nullopt; // the row is stored; only its read-back failed
    }
}

void OdbcConnection::proveRights(const std::vector<DbRight> &rights) {
    inTransaction(false, [&] {
        bool asksPermissions = true;
        for (const DbRight &right : rights) {
            if (!isPlainName(right.object, false))
                throw Error(sqlerr::kSyntaxOrObject, "Invalid object name '" + right.object + "'.");
            if (right.permission == "EXECUTE") {
                if (!asksPermissions)
                    continue;
                std::optional<DbValue> granted;
                try {
                    Statement stmt(m_link->get());
                    stmt.bind(std::vector<DbValue>{DbValue(right.object)});
                    stmt.execute("SELECT HAS_PERMS_BY_NAME(?, 'OBJECT', 'EXECUTE')");
                    DbRowSet rows = stmt.fetchAll(0);
                    stmt.drain();
                    if (rows.rows.size() == 1 && rows.rows[0].size() == 1)
                        granted = rows.rows[0][0];
                } catch (const Error &) {
                    asksPermissions = false; // not SQL Server: no procedures, no grants
                    continue;
                }
                const auto *yes = granted ? std::get_if<std::int64_t>(&*granted) : nullptr;
                const auto *text = granted ? std::get_if<std::string>(&*granted) : nullptr;
                if (!granted || std::holds_alternative<std::monostate>(*granted))
                    throw Error(sqlerr::kSyntaxOrObject,
                                "Could not find stored procedure '" + right.object + "'.");
                if (!(yes && *yes == 1) && !(text && *text == "1"))
                    throw Error(sqlerr::kPermission, "The EXECUTE permission was denied on the "
                                                     "object '" +
                                                         right.object + "'.");
                continue;
            }
            // A column to name: the first the table shows.
            std::string column;
            {
                Statement stmt(m_link->get());
                stmt.execute("SELECT * FROM " + quoteName(right.object) + " WHERE 1 = 0");
                const std::vector<std::string> columns = stmt.columnNames();
                stmt.drain();
                if (columns.empty())
                    throw Error(sqlerr::kGeneral, "The table " + right.object + " has no columns.");
                column = quoteName(columns.front());
            }
            const std::string table = quoteName(right.object);
            std::string probe;
            if (right.permission == "UPDATE")
                probe = "UPDATE " + table + " SET " + column + " = " + column + " WHERE 1 = 0";
            else if (right.permission == "INSERT")
                probe = "INSERT INTO " + table + " (" + column + ") SELECT " + column + " FROM " +
                        table + " WHERE 1 = 0";
            else
                throw Error(sqlerr::kGeneral, "No proof of the right " + right.permission + ".");
            Statement stmt(m_link->get());
            stmt.execute(probe);
            stmt.drain();
        }
        return 0;
    });
}

void OdbcConnection::beginTransaction() {
    if (m_grouping)
        throw Error(sqlerr::kGeneral, "A transaction is open already on this connection.");
    m_link->begin();
    m_grouping = true;
}

void OdbcConnection::commitTransaction() {
    if (!m_grouping)
        return;
    m_grouping = false;
    try {
        m_link->end(true);
    } catch (const Error &) {
        // Not committed: whatever is left of the transaction is taken back.
        try {
            m_link->end(false);
        } catch (const Error &) {
            m_reusable = false;
        }
        throw;
    }
}

void OdbcConnection::rollbackTransaction() {
    if (!m_grouping)
        return;
    m_grouping = false;
    try {
        m_link->end(false);
    } catch (const Error &) {
        // A connection whose transaction state is unknown serves no one else.
        m_reusable = false;
    }
}

void OdbcConnection::makeDurable() {
    if (!m_link->flushesLog())
        return;
    Statement stmt(m_link->get());
    std::basic_string<SQLWCHAR> text = toWide("EXEC sys.sp_flush_log");
    const SQLRETURN rc =
        SQLExecDirectW(stmt.get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) {
        stmt.drain();
        return;
    }
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    // 2812: no such procedure (before SQL Server 2014): every commit is lasting there.
    if (SQL_SUCCEEDED(
            SQLGetDiagRecW(SQL_HANDLE_STMT, stmt.get(), 1, state, &native, nullptr, 0, &length)) &&
        native == 2812) {
        m_link->flushesLog() = false;
        return;
    }
    check(rc, SQL_HANDLE_STMT, stmt.get(), "Making the changes lasting");
}

void OdbcConnection::proveWritable() {
    inTransaction(false,
                  [&] { return updatableQuery("CREATE TABLE zeph_WriteProbe (x INT)", {}); });
}

std::optional<DbRowSet> OdbcConnection::callProcedure(const std::string &name,
                                                      const std::vector<DbParam> &args) {
    // Arguments go by name in the text and by position as values: drivers do not all pass the
    // names of bound parameters on to the server.
    if (!isPlainName(name, false))
        throw Error(sqlerr::kSyntaxOrObject, "Could not find stored procedure '" + name + "'.");
    std::string sql = "EXEC " + name;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!isPlainName(args[i].name, true))
            throw Error(sqlerr::kSyntaxOrObject, args[i].name +
                                                     " is not a parameter for "
                                                     "procedure " +
                                                     name + ".");
        sql += (i ? ", " : " ") + args[i].name + " = ?";
    }
    Statement stmt(m_link->get());
    stmt.bind(args);
    stmt.execute(sql);
    // The procedure's rows are its first result that has columns; counts of changed rows come
    // before it as results without columns.
    std::optional<DbRowSet> rows;
    std::string baseTable;
    do {
        if (stmt.columnCount() > 0) {
            baseTable = stmt.baseTable();
            rows = stmt.fetchAll(0);
            break;
        }
    } while (stmt.nextResult());
    if (rows)
        stmt.drain();
    // Rows the server says come from one table are saved back to it by its key, as those of a
    // query are.
    if (rows && !baseTable.empty()) {
        if (std::optional<SaveTarget> target = saveTarget(baseTable)) {
            const bool keySelected = std::all_of(
                target->keyColumns.begin(), target->keyColumns.end(), [&](const std::string &k) {
                    return std::any_of(
                        rows->columns.begin(), rows->columns.end(),
                        [&](const DbColumn &c) { return equalsIgnoreCase(c.name, k); });
                });
            if (keySelected) {
                rows->updateTarget = target->name;
                rows->keyColumns = target->keyColumns;
            }
        }
    }
    return rows;
}

// sp_getapplock's answer when the lock is held by another session and the call may not wait.
constexpr SQLINTEGER kLockNotGranted = -1;
// The one resource that stands for "a run that changes this server".
constexpr const char *kRunLockResource = "Zephrane reset run";

/// The run lock: held while its connection stays open.
class SessionLock : public IRunLock {
public:
    explicit SessionLock(std::unique_ptr<Link> link)
        : m_link(std::move(link)) {}

private:
    std::unique_ptr<Link> m_link;
};

/// Asks for the exclusive application lock of the run, owned by the connection's session,
/// without waiting; returns sp_getapplock's answer (0 or 1 granted, -1 held elsewhere).
SQLINTEGER applicationLock(SQLHDBC connection) {
    Statement stmt(connection);
    SQLINTEGER status = kLockNotGranted - 1;
    SQLLEN statusLength = 0;
    SQLINTEGER timeout = 0;
    SQLLEN timeoutLength = 0;
    const std::basic_string<SQLWCHAR> texts[] = {toWide(kRunLockResource), toWide("Exclusive"),
                                                 toWide("Session")};
    SQLLEN lengths[3];
    check(SQLBindParameter(stmt.get(), 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &status,
                           0, &statusLength),
          SQL_HANDLE_STMT, stmt.get(), "Asking for the run lock");
    for (SQLUSMALLINT i = 0; i < 3; ++i) {
        lengths[i] = static_cast<SQLLEN>(texts[i].size() * sizeof(SQLWCHAR));
        check(SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(i + 2), SQL_PARAM_INPUT,
                               SQL_C_WCHAR, SQL_WVARCHAR, texts[i].size(), 0,
                               const_cast<SQLWCHAR *>(texts[i].c_str()), lengths[i], &lengths[i]),
              SQL_HANDLE_STMT, stmt.get(), "Asking for the run lock");
    }
    check(SQLBindParameter(stmt.get(), 5, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &timeout,
                           0, &timeoutLength),
          SQL_HANDLE_STMT, stmt.get(), "Asking for the run lock");
    stmt.execute("{? = call sp_getapplock(?, ?, ?, ?)}");
    stmt.drain();
    return status;
}

class OdbcDatabase : public IDatabase {
public:
    explicit OdbcDatabase(std::string connectionText)
        : m_text(std::move(connectionText))
        , m_pool(std::make_shared<LinkPool>()) {}

    std::unique_ptr<IDbConnection> connect(const std::string &programText) override {
        const std::string &text = m_text.empty() ? programText : m_text;
        std::unique_ptr<Link> link = m_pool->take(text);
        if (link && !link->alive())
            link.reset();
        if (!link)
            link = std::make_unique<Link>(environment(), text);
        return std::make_unique<OdbcConnection>(std::move(link), text, m_pool);
    }

    // The server's application lock, owned by the session of a connection of its own: it ends
    // with that connection, also when the program is killed and the server drops the session.
    std::unique_ptr<IRunLock> takeRunLock(const std::string &programText, const std::string &,
                                          std::string &heldBy) override {
        const std::string &text = m_text.empty() ? programText : m_text;
        auto link = std::make_unique<Link>(environment(), text);
        const SQLINTEGER status = applicationLock(link->get());
        if (status >= 0)
            return std::make_unique<SessionLock>(std::move(link));
        if (status == kLockNotGranted) {
            // The server does not tell who holds an application lock.
            heldBy = "another session of the server";
            return nullptr;
        }
        throw Error(sqlerr::kGeneral, "The server's run lock could not be taken (sp_getapplock "
                                      "answered " +
                                          std::to_string(status) + ").");
    }

    // Named by the connection text's server (or data source) and database, password left out.
    // The server's own name and database (@@SERVERNAME, DB_NAME()), which stay the same
    // whichever address, port or alias reaches it; a server that does not tell them is named
    // by the connection text's server (or data source) and database, password left out.
    std::string serverName(const std::string &programText) override {
        const std::string &text = m_text.empty() ? programText : m_text;
        if (std::optional<std::string> told = toldServerName(text))
            return *told;
        std::string server;
        std::string database;
        std::string_view rest = text;
        while (!rest.empty()) {
            const std::size_t semi = rest.find(';');
            const std::string_view pair = rest.substr(0, semi);
            rest = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
            const std::size_t eq = pair.find('=');
            if (eq == std::string_view::npos)
                continue;
            const std::string_view key = trimBlanks(pair.substr(0, eq));
            const std::string value(trimBlanks(pair.substr(eq + 1)));
            if (equalsIgnoreCase(key, "server") || equalsIgnoreCase(key, "servername") ||
                (server.empty() && equalsIgnoreCase(key, "dsn")))
                server = value;
            else if (equalsIgnoreCase(key, "database"))
                database = value;
        }
        return "ODBC server " + server + ", database " + database;
    }

private:
    /// The one row of `count` texts a query answers, the first not empty; nothing when the
    /// server refuses it or answers otherwise.
    static std::optional<std::vector<std::string>> readTexts(Link &link, const char *sql,
                                                             std::size_t count) {
        try {
            Statement stmt(link.get());
            stmt.execute(sql);
            DbRowSet rows = stmt.fetchAll(0);
            stmt.drain();
            if (rows.rows.size() != 1 || rows.rows[0].size() != count)
                return std::nullopt;
            std::vector<std::string> texts;
            for (const DbValue &value : rows.rows[0]) {
                const auto *text = std::get_if<std::string>(&value);
                if (!text)
                    return std::nullopt;
                texts.push_back(*text);
            }
            if (texts[0].empty())
                return std::nullopt;
            return texts;
        } catch (const Error &) {
            // A data source that is not SQL Server, or a query it does not take.
            return std::nullopt;
        }
    }

    /// Nothing when the server cannot say; throws when it cannot be reached at all.
    std::optional<std::string> toldServerName(const std::string &text) {
        std::unique_ptr<Link> link = m_pool->take(text);
        if (link && !link->alive())
            link.reset();
        if (!link)
            link = std::make_unique<Link>(environment(), text);
        std::optional<std::string> name;
        // What a restore or a clone of the database does not keep, its creation time and its
        // service broker's GUID, tells two servers restored from one backup apart; a server
        // that does not answer it is named by its name and database alone.
        if (std::optional<std::vector<std::string>> told =
                readTexts(*link,
                          "SELECT @@SERVERNAME, DB_NAME(), CONVERT(varchar(33), create_date, 126), "
                          "CONVERT(varchar(36), service_broker_guid) FROM sys.databases WHERE "
                          "database_id = DB_ID()",
                          4))
            name = "SQL Server " + (*told)[0] + ", database " + (*told)[1] + ", created " +
                   (*told)[2] + ", broker " + (*told)[3];
        else if ((told = readTexts(*link, "SELECT @@SERVERNAME, DB_NAME()", 2)))
            name = "SQL Server " + (*told)[0] + ", database " + (*told)[1];
        m_pool->giveBack(text, std::move(link));
        return name;
    }

    const Environment &environment() {
        std::call_once(m_envOnce, [this] { m_env = std::make_unique<Environment>(); });
        return *m_env;
    }

    std::string m_text;
    std::once_flag m_envOnce;
    std::unique_ptr<Environment> m_env;
    std::shared_ptr<LinkPool> m_pool;
};

} // namespace

std::unique_ptr<IDatabase> makeDatabase(std::string connectionText) {
    return std::make_unique<OdbcDatabase>(std::move(connectionText));
}

std::string hidePassword(const std::string &connectionText) {
    // "key=value" pairs joined by ";"; a value in braces may hold ";" ("}}" is a brace in it).
    std::string shown;
    std::size_t i = 0;
    const std::string &text = connectionText;
    while (i < text.size()) {
        const std::size_t eq = text.find('=', i);
        const std::size_t semi = text.find(';', i);
        if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
            const std::size_t end = semi == std::string::npos ? text.size() : semi + 1;
            shown += text.substr(i, end - i);
            i = end;
            continue;
        }
        const std::string_view key = trimBlanks(std::string_view(text).substr(i, eq - i));
        std::size_t end = eq + 1;
        while (end < text.size() && text[end] == ' ')
            ++end;
        if (end < text.size() && text[end] == '{') {
            for (++end; end < text.size(); ++end) {
                if (text[end] == '}' && !(end + 1 < text.size() && text[end + 1] == '}'))
                    break;
                if (text[end] == '}')
                    ++end;
            }
            end = std::min(text.size(), end + 1);
        }
        end = std::min(text.size(), text.find(';', end));
        const bool secret = equalsIgnoreCase(key, "pwd") || equalsIgnoreCase(key, "password");
        shown += secret ? text.substr(i, eq + 1 - i) + "***" : text.substr(i, end - i);
        if (end < text.size())
            shown += ';';
        i = end + 1;
    }
    return shown;
}

} // namespace zeph::odbc
