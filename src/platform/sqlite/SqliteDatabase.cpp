// The database backend over an SQLite file (the stand-in host's TarvoDb).
//
// Every connection has a handle of its own on the file (WAL, so that the many connections of a
// run read and write side by side), reads whole result sets, and saves rows back through the
// table or view they came from, found by key. A read-only query is held to reading by three
// locks: an authorizer that allows nothing but reads while it is prepared and run, SQLite's own
// verdict on the statement, and the connection's query-only switch while it runs.
//
// The program makes a new connection for nearly every query. Opening the file anew costs a
// millisecond (the schema is read again) and the first commit of a new handle syncs the folder
// as well as the log, so the handles of closed connections are kept for the next ones, with the
// backend's own statements (transactions, the read-only switch, the look-ups of a save) prepared
// once per handle.
#include "SqliteDatabase.h"
#include "platform/AsciiText.h"

#include "RunLockFile.h"
#include "SqliteStatement.h"
#include "TsqlFunctions.h"
#include "platform/Error.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace zeph::sqlite {
namespace {

using sqltext::insertText;
using sqltext::QueryShape;
using sqltext::singleSourceSelect;
using sqltext::updateSetText;

constexpr int kBusyTimeoutMs = 10000;
constexpr const char *kDatabaseName = "TarvoDb";

// A query that reads a whole large table (the cached tables) visits its rows in key order and
// their pages at random; with SQLite's default cache of 2 MB each page is read many times. The
// cache may grow this far while a query runs; afterwards a handle keeps no more than
// kKeptCacheBytes of it, so that the handles held for the whole program stay small.
constexpr const char *kCacheSizePragma = "PRAGMA cache_size=-65536"; // 64 MB
constexpr int kKeptCacheBytes = 4 << 20;
constexpr const char *kStreamingCachePragma = "PRAGMA cache_size=-2048"; // 2 MB
// Handles kept for reuse. A reset run holds one query and one command at a time beside the
// cached tables' own connections.
constexpr std::size_t kIdleHandles = 4;

// The connection text: "key=value" pairs joined by ";", keys without letter case. The host's
// server is the local default instance and holds one database, TarvoDb.
void checkConnectionText(const std::string &text) {
    std::optional<std::string> database;
    std::string server;
    std::string_view rest = text;
    while (!rest.empty()) {
        auto semi = rest.find(';');
        std::string_view pair = rest.substr(0, semi);
        rest = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
        if (trimBlanks(pair).empty())
            continue;
        auto eq = pair.find('=');
        if (eq == std::string_view::npos)
            throw Error(sqlerr::kGeneral,
                        "The connection text is malformed near \"" + std::string(pair) + "\".");
        std::string_view key = trimBlanks(pair.substr(0, eq));
        std::string_view value = trimBlanks(pair.substr(eq + 1));
        if (equalsIgnoreCase(key, "database") || equalsIgnoreCase(key, "initial catalog"))
            database = std::string(value);
        else if (equalsIgnoreCase(key, "server") || equalsIgnoreCase(key, "data source"))
            server = std::string(value);
    }
    if (!server.empty() && server != "." && !equalsIgnoreCase(server, "(local)") &&
        !equalsIgnoreCase(server, "localhost")) {
        throw Error(sqlerr::kGeneral, "SQL server \"" + server +
                                          "\" cannot be reached: this host has only its local "
                                          "server (leave the server name empty).");
    }
    if (!database)
        throw Error(sqlerr::kGeneral, "The connection text names no database.");
    if (!equalsIgnoreCase(*database, kDatabaseName)) {
        throw Error(sqlerr::kGeneral, "Cannot open database \"" + *database +
                                          "\": the server holds no such database (only " +
                                          kDatabaseName + ").");
    }
}

/// Lets go of the pages a large read left in the handle's cache.
void trimCache(sqlite3 *db) {
    int used = 0;
    int highwater = 0;
    if (sqlite3_db_status(db, SQLITE_DBSTATUS_CACHE_USED, &used, &highwater, 0) == SQLITE_OK &&
        used > kKeptCacheBytes)
        sqlite3_db_release_memory(db);
}

/// Where rows of a query are saved: a table or view of the main database and its key.
struct SaveTarget {
    std::string name; // as the schema spells it
    bool isView = false;
    bool hasRowid = false;
    std::vector<std::string> keyColumns; // "rowid" for a table without a declared key
};

/// An open database file and the statements kept prepared on it: the backend's own and the
/// stand-in server's procedures'. Their texts vary only with the tables rows are saved to, so
/// the cache's bound is not reached in practice (beyond it, they are prepared for each use).
class Handle {
public:
    explicit Handle(sqlite3 *db)
        : m_db(db)
        , m_statements(std::make_unique<StatementCache>(db))
        , m_readOnlyStatements(std::make_unique<StatementCache>(
              db, StatementCache::kDefaultCapacity, StatementCache::Listing::Unlisted))
        , m_durable(std::make_unique<DurablePoints>(db)) {
        // Installed once: setting an authorizer expires every prepared statement of the handle.
        sqlite3_set_authorizer(m_db, &Handle::authorize, this);
    }
    ~Handle() {
        m_statements.reset(); // every statement goes before the file can close
        m_readOnlyStatements.reset();
        m_durable.reset();
        sqlite3_close_v2(m_db);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    sqlite3 *db() const { return m_db; }
    DurablePoints &durable() { return *m_durable; }

    /// A text of the backend's own, kept prepared on the handle.
    StatementUse use(const std::string &sql) { return m_statements->use(sql); }

    /// A query text kept prepared for read-only queries alone. Such statements are prepared
    /// (and prepared again after a change of the schema) only while the handle is read-only, so
    /// the authorizer has seen them; a text the backend uses for writing is never among them.
    StatementUse useReadOnly(const std::string &sql) { return m_readOnlyStatements->use(sql); }

    /// While set, the authorizer lets statements being prepared only read.
    void setReadOnly(bool on) { m_readOnly = on; }

    /// Where rows read from `name` are saved, as found the first time it was asked for; the
    /// server's tables and views do not change under a running program.
    const std::optional<SaveTarget> *knownTarget(const std::string &name) const {
        auto it = m_targets.find(upperAscii(name));
        return it == m_targets.end() ? nullptr : &it->second;
    }
    void rememberTarget(const std::string &name, std::optional<SaveTarget> target) {
        m_targets[upperAscii(name)] = std::move(target);
    }

    /// The columns' types for translating T-SQL, read once: the server's schema does not
    /// change under a running program.
    const sqltext::TsqlCatalogue &catalogue(const std::vector<std::string> &dateTimeColumns) {
        if (!m_catalogue)
            m_catalogue = tsqlCatalogue(m_db, dateTimeColumns);
        return *m_catalogue;
    }

    /// True when the handle holds anything of its last user: a transaction, a statement under
    /// way, a temporary table. Such a handle is closed instead of being used again.
    bool holdsState() {
        if (!sqlite3_get_autocommit(m_db))
            return true;
        for (sqlite3_stmt *s = sqlite3_next_stmt(m_db, nullptr); s;
             s = sqlite3_next_stmt(m_db, s)) {
            if (sqlite3_stmt_busy(s))
                return true;
        }
        try {
            return use("SELECT 1 FROM temp.sqlite_schema LIMIT 1")->step();
        } catch (const Error &) {
            return true;
        }
    }

    /// True when the file is no longer at its path (removed or replaced). Windows' file layer
    /// cannot tell (SQLITE_NOTFOUND), and needs not: there an open database file can be neither
    /// removed nor renamed.
    bool fileMoved() const {
        int moved = 0;
        const int rc = sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved);
        return rc == SQLITE_NOTFOUND ? false : rc != SQLITE_OK || moved != 0;
    }

private:
    static int authorize(void *self, int action, const char *, const char *, const char *,
                         const char *) {
        if (!static_cast<Handle *>(self)->m_readOnly)
            return SQLITE_OK;
        switch (action) {
        case SQLITE_SELECT:
        case SQLITE_READ:
        case SQLITE_FUNCTION:
        case SQLITE_RECURSIVE:
            return SQLITE_OK;
        default:
            return SQLITE_DENY;
        }
    }

    sqlite3 *m_db;
    std::unique_ptr<StatementCache> m_statements;
    std::unique_ptr<StatementCache> m_readOnlyStatements;
    std::unique_ptr<DurablePoints> m_durable;
    bool m_readOnly = false;
    std::unordered_map<std::string, std::optional<SaveTarget>> m_targets;
    std::optional<sqltext::TsqlCatalogue> m_catalogue;
};

/// Runs a kept statement that returns no rows.
void run(Handle &handle, const std::string &sql) {
    handle.use(sql)->step();
}

/// The handles of closed connections, ready for the next connection to the same file.
class HandlePool {
public:
    HandlePool() = default;
    HandlePool(const HandlePool &) = delete;
    HandlePool &operator=(const HandlePool &) = delete;

    /// A kept handle whose file is still in place, or null.
    std::unique_ptr<Handle> take() {
        std::lock_guard lock(m_mutex);
        while (!m_idle.empty()) {
            std::unique_ptr<Handle> handle = std::move(m_idle.back());
            m_idle.pop_back();
            if (!handle->fileMoved())
                return handle;
        }
        return nullptr;
    }

    /// Takes back a handle whose connection has ended; keeps it when it is clean.
    void giveBack(std::unique_ptr<Handle> handle, bool reusable) {
        handle->setReadOnly(false);
        if (!reusable || handle->holdsState())
            return;
        trimCache(handle->db());
        std::lock_guard lock(m_mutex);
        if (m_idle.size() < kIdleHandles)
            m_idle.push_back(std::move(handle));
    }

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Handle>> m_idle;
};

class SqliteConnection : public IDbConnection {
public:
    SqliteConnection(std::unique_ptr<Handle> handle,
                     std::shared_ptr<const ProcedureHandler> procedures,
                     std::shared_ptr<HandlePool> pool,
                     std::shared_ptr<const OperatorDialect> dialect, const ServerNamer *namer)
        : m_handle(std::move(handle))
        , m_db(m_handle->db())
        , m_procedures(std::move(procedures))
        , m_pool(std::move(pool))
        , m_dialect(std::move(dialect))
        , m_namer(namer) {}
    ~SqliteConnection() override { m_pool->giveBack(std::move(m_handle), m_reusable); }

    DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                   bool readOnly) override {
        checkInPlace();
        return readOnly ? readOnlyQuery(sql, params) : updatableQuery(sql, params);
    }

    void readRows(const std::string &sql, const std::vector<DbValue> &params,
                  const std::function<bool(const std::vector<DbValue> &)> &row) override;

    DbRowSet queryWithin(const std::string &sql, const std::vector<DbValue> &params,
                         const DbQueryLimits &limits) override;

    void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                   const std::vector<DbValue> &keyValues, const std::vector<std::string> &columns,
                   const std::vector<DbValue> &values) override;

    std::int64_t updateWhere(const DbRowsChange &change) override;

    std::optional<std::vector<DbValue>>
    insertRow(const std::string &target, const std::vector<std::string> &columns,
              const std::vector<DbValue> &values,
              const std::vector<std::string> &readBack) override;

    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override {
        checkInPlace();
        if (!*m_procedures)
            throw Error(sqlerr::kGeneral, "Could not find stored procedure '" + name + "'.");
        return (*m_procedures)(m_db, name, args);
    }

    void beginTransaction() override {
        checkInPlace();
        run(*m_handle, "BEGIN IMMEDIATE");
    }

    void commitTransaction() override {
        // A failure such as a full disk ends the transaction on its own: its changes are gone.
        if (sqlite3_get_autocommit(m_db))
            throw Error(sqlerr::kGeneral, "The changes of this step were taken back by the "
                                          "server after an earlier failure.");
        try {
            run(*m_handle, "COMMIT");
        } catch (...) {
            rollbackTransaction();
            throw;
        }
    }

    void rollbackTransaction() override {
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    void makeDurable() override {
        checkInPlace();
        m_handle->durable().makeDurable();
    }

    void checkPlaceWhenAsked() override {
        m_checkEachRequest = false;
        m_placeCheckDue = true;
    }
    void checkPlaceNext() override { m_placeCheckDue = true; }

    void proveWritable() override {
        checkInPlace();
        // A table made and taken back in one transaction: the file must take a write lock and
        // a change, and nothing of either stays.
        run(*m_handle, "BEGIN IMMEDIATE");
        try {
            exec(m_db, "CREATE TABLE main.zeph_WriteProbe (x)");
        } catch (...) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }

private:
    /// A server whose database file was moved or removed does not answer any more, also
    /// through a connection opened before: nothing is read from or written to a file that is
    /// no longer the server's.
    void checkInPlace() {
        // Looking costs a stat of the file's path; a run asks once a subscriber.
        if (!m_checkEachRequest && !std::exchange(m_placeCheckDue, false))
            return;
        if (m_handle->fileMoved()) {
            m_reusable = false;
            throw Error(sqlerr::kGeneral,
                        "The server database is no longer there: its file was moved or removed.");
        }
    }

    /// While set, the authorizer allows reading only. The flag is the handle's own: a pragma
    /// (query_only) would expire every statement kept prepared on the handle, twice a query.
    struct ReadOnlyGuard {
        explicit ReadOnlyGuard(SqliteConnection &c)
            : conn(c) {
            conn.m_handle->setReadOnly(true);
        }
        ~ReadOnlyGuard() { conn.m_handle->setReadOnly(false); }
        SqliteConnection &conn;
    };

    // Within limits: rows beyond limits.maxRows are never read (DbRowSet::cut).
    DbRowSet readOnlyQuery(const std::string &sql, const std::vector<DbValue> &params,
                           const DbQueryLimits &limits = {});
    DbRowSet updatableQuery(const std::string &sql, const std::vector<DbValue> &params);
    static DbRowSet fetch(Statement &stmt, std::size_t hiddenColumns,
                          const DbQueryLimits &limits = {});
    std::optional<SaveTarget> saveTarget(const std::string &name);
    std::optional<SaveTarget> findSaveTarget(const std::string &name);
    std::int64_t saveOne(const std::string &sql, const std::vector<DbValue> &bound, bool isView);
    std::string whereKey(const std::vector<std::string> &keyColumns);

    std::unique_ptr<Handle> m_handle;
    sqlite3 *m_db;
    std::shared_ptr<const ProcedureHandler> m_procedures;
    std::shared_ptr<HandlePool> m_pool;
    std::shared_ptr<const OperatorDialect> m_dialect;
    const ServerNamer *m_namer; // the database's, which outlives its connections
    bool m_reusable = true;
    // Whether the file's place is looked at before each request, or before the next only.
    bool m_checkEachRequest = true;
    bool m_placeCheckDue = false;
};

DbRowSet SqliteConnection::fetch(Statement &stmt, std::size_t hiddenColumns,
                                 const DbQueryLimits &limits) {
    DbRowSet rows;
    ReadBudget budget(limits);
    const int n = stmt.columnCount();
    for (int c = 0; c < n; ++c)
        rows.columns.push_back({stmt.columnName(c), static_cast<std::size_t>(c) < hiddenColumns});
    while (stmt.step()) {
        if (!budget.roomForRow()) {
            rows.cut = true;
            break;
        }
        budget.countRow();
        std::vector<DbValue> row;
        row.reserve(static_cast<std::size_t>(n));
        for (int c = 0; c < n; ++c) {
            row.push_back(stmt.value(c));
            std::size_t valueBytes = 0;
            if (const auto *text = std::get_if<std::string>(&row.back()))
                budget.countPart(valueBytes, text->size());
        }
        rows.rows.push_back(std::move(row));
    }
    trimCache(sqlite3_db_handle(stmt.get()));
    return rows;
}

DbRowSet SqliteConnection::readOnlyQuery(const std::string &sql, const std::vector<DbValue> &params,
                                         const DbQueryLimits &limits) {
    ReadOnlyGuard guard(*this);
    try {
        StatementUse stmt = m_handle->useReadOnly(sql);
        if (!sqlite3_stmt_readonly(stmt->get()))
            throw Error(sqlerr::kPermission, "not authorized");
        stmt->bindAll(params);
        return fetch(*stmt, 0, limits);
    } catch (const Error &e) {
        if (e.number() != sqlerr::kPermission)
            throw;
        throw Error(sqlerr::kPermission,
                    "The statement was refused: a read-only query may only read data (" +
                        e.description() + ").");
    }
}

void SqliteConnection::readRows(const std::string &sql, const std::vector<DbValue> &params,
                                const std::function<bool(const std::vector<DbValue> &)> &row) {
    checkInPlace();
    // Rows read once and let go need no more than a small cache: a listing of a whole large
    // server then holds a few pages, not the tables it passes through.
    struct SmallCache {
        explicit SmallCache(Handle &h)
            : handle(h) {
            run(handle, kStreamingCachePragma);
        }
        ~SmallCache() {
            try {
                run(handle, kCacheSizePragma);
            } catch (const Error &) {
                // The handle keeps the small cache; it still works.
            }
        }
        Handle &handle;
    } smallCache(*m_handle);
    ReadOnlyGuard guard(*this);
    StatementUse stmt = m_handle->useReadOnly(sql);
    if (!sqlite3_stmt_readonly(stmt->get()))
        throw Error(sqlerr::kPermission,
                    "The statement was refused: a read-only query may only read data.");
    stmt->bindAll(params);
    const int n = stmt->columnCount();
    std::vector<DbValue> values(static_cast<std::size_t>(n));
    while (stmt->step()) {
        for (int c = 0; c < n; ++c)
            values[static_cast<std::size_t>(c)] = stmt->value(c);
        if (!row(values))
            break;
    }
    trimCache(m_db);
}

namespace {

// A statement's limits on its connection while it runs: SQLite asks the progress handler every
// few thousand steps of its program, and the longest value is the connection's length limit.
class LimitGuard {
public:
    LimitGuard(sqlite3 *db, const DbQueryLimits &limits)
        : m_db(db)
        , m_limits(limits)
        , m_start(std::chrono::steady_clock::now())
        , m_lastAsked(m_start) {
        sqlite3_progress_handler(m_db, kStepsBetweenLooks, &LimitGuard::look, this);
        if (m_limits.maxValueBytes > 0)
            m_oldLength = sqlite3_limit(
                m_db, SQLITE_LIMIT_LENGTH,
                static_cast<int>(std::min<std::size_t>(m_limits.maxValueBytes, 1'000'000'000)));
    }
    ~LimitGuard() {
        sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
        if (m_oldLength >= 0)
            sqlite3_limit(m_db, SQLITE_LIMIT_LENGTH, m_oldLength);
    }
    LimitGuard(const LimitGuard &) = delete;
    LimitGuard &operator=(const LimitGuard &) = delete;

    // The statement's failure as the operator should read it.
    Error explain(const Error &failure) const {
        if (m_timedOut)
            return queryTimedOut(m_limits.timeoutSeconds);
        if (m_cancelled)
            return queryCancelled();
        if (m_limits.maxValueBytes > 0 &&
            failure.description().find("too big") != std::string::npos)
            return queryValueTooLong(m_limits.maxValueBytes);
        return failure;
    }

private:
    static constexpr int kStepsBetweenLooks = 10000;
    static constexpr auto kAskEvery = std::chrono::milliseconds(100);

    static int look(void *self) { return static_cast<LimitGuard *>(self)->stop() ? 1 : 0; }
    bool stop() {
        const auto now = std::chrono::steady_clock::now();
        if (m_limits.timeoutSeconds > 0 &&
            now - m_start >= std::chrono::seconds(m_limits.timeoutSeconds))
            m_timedOut = true;
        else if (m_limits.keepGoing && now - m_lastAsked >= kAskEvery) {
            m_lastAsked = now;
            m_cancelled = !m_limits.keepGoing();
        }
        return m_timedOut || m_cancelled;
    }

    sqlite3 *m_db;
    const DbQueryLimits &m_limits;
    std::chrono::steady_clock::time_point m_start, m_lastAsked;
    int m_oldLength = -1;
    bool m_timedOut = false;
    bool m_cancelled = false;
};

} // namespace

namespace {

// The client's number for a failure SQL Server numbers as `number`.
long clientNumber(int number) {
    switch (number) {
    case sqltext::tsqlerr::kDivideByZero:
    case sqltext::tsqlerr::kConversion:
    case sqltext::tsqlerr::kDateFormat:
    case sqltext::tsqlerr::kDateRange:
    case sqltext::tsqlerr::kNumeric:
    case sqltext::tsqlerr::kOverflow:
    case sqltext::tsqlerr::kOperandClash:
    case sqltext::tsqlerr::kExplicitConversion:
        return sqlerr::kConversion;
    default:
        return sqlerr::kSyntaxOrObject;
    }
}

} // namespace

DbRowSet SqliteConnection::queryWithin(const std::string &sql, const std::vector<DbValue> &params,
                                       const DbQueryLimits &limits) {
    checkInPlace();
    std::string text = sql;
    std::vector<DbValue> values = params;
    if (m_dialect->tsql) {
        // The operator's T-SQL, with SQL Server's meaning; its "@..." values are the server's.
        try {
            const sqltext::TsqlQuery q =
                sqltext::translateSelect(sql, m_handle->catalogue(m_dialect->dateTimeColumns));
            text = q.sql;
            values.clear();
            for (const std::string &variable : q.variables) {
                if (variable == "DB_NAME()")
                    values.emplace_back(std::string(kDatabaseName));
                else if (variable == "@@SERVERNAME" && m_namer && *m_namer)
                    values.emplace_back((*m_namer)(m_db));
                else
                    throw sqltext::TsqlError(sqltext::tsqlerr::kUndeclared,
                                             "Must declare the scalar variable \"" + variable +
                                                 "\".");
            }
        } catch (const sqltext::TsqlError &e) {
            throw Error(clientNumber(e.number()), e.what());
        }
    }
    LimitGuard limit(m_db, limits);
    try {
        return readOnlyQuery(text, values, limits);
    } catch (const Error &e) {
        Error explained = limit.explain(e);
        if (m_dialect->tsql && !stoppedByLimits(explained)) {
            if (auto server = sqltext::serverErrorOf(explained.description()))
                throw Error(clientNumber(server->number()), server->what());
        }
        throw explained;
    }
}

DbRowSet SqliteConnection::updatableQuery(const std::string &sql,
                                          const std::vector<DbValue> &params) {
    std::optional<QueryShape> shape = singleSourceSelect(sql);
    std::optional<SaveTarget> target = shape ? saveTarget(shape->source) : std::nullopt;
    std::string text = sql;
    std::size_t hidden = 0;
    if (target) {
        // Key columns the query does not select are fetched as hidden columns, so that each row
        // can still be found again when it is saved.
        std::string keys;
        {
            StatementUse stmt = m_handle->use(sql);
            for (const auto &key : target->keyColumns) {
                bool selected = false;
                for (int c = 0; c < stmt->columnCount() && !selected; ++c)
                    selected = equalsIgnoreCase(stmt->columnName(c), key);
                if (!selected) {
                    keys += " " + (key == "rowid" ? key : quoteName(key)) + ",";
                    ++hidden;
                }
            }
        }
        text.insert(shape->selectListOffset, keys);
    }
    // Kept prepared: a run opens the same few queries for every subscriber.
    StatementUse stmt = m_handle->use(text);
    stmt->bindAll(params);
    DbRowSet rows = fetch(*stmt, hidden);
    if (target) {
        rows.updateTarget = target->name;
        rows.keyColumns = target->keyColumns;
    }
    return rows;
}

std::optional<SaveTarget> SqliteConnection::saveTarget(const std::string &name) {
    if (const std::optional<SaveTarget> *known = m_handle->knownTarget(name))
        return *known;
    std::optional<SaveTarget> target = findSaveTarget(name);
    m_handle->rememberTarget(name, target);
    return target;
}

std::optional<SaveTarget> SqliteConnection::findSaveTarget(const std::string &name) {
    SaveTarget target;
    {
        StatementUse stmt = m_handle->use("SELECT name, type, wr FROM pragma_table_list "
                                          "WHERE schema = 'main' AND name = ? COLLATE NOCASE");
        stmt->bindAll({DbValue(name)});
        if (!stmt->step())
            return std::nullopt;
        target.name = std::get<std::string>(stmt->value(0));
        DbValue type = stmt->value(1);
        if (type == DbValue(std::string("view")))
            target.isView = true;
        else if (type != DbValue(std::string("table")))
            return std::nullopt;
        target.hasRowid = !target.isView && stmt->value(2) == DbValue(std::int64_t{0});
    }
    if (target.isView) {
        // The server lists the key of each view it lets programs update.
        try {
            StatementUse stmt =
                m_handle->use("SELECT KeyColumn FROM zeph_ViewKey WHERE ViewName = ? "
                              "COLLATE NOCASE ORDER BY rowid");
            stmt->bindAll({DbValue(target.name)});
            while (stmt->step()) {
                DbValue key = stmt->value(0);
                if (auto text = std::get_if<std::string>(&key))
                    target.keyColumns.push_back(*text);
            }
        } catch (const Error &) {
            return std::nullopt; // no key list: the view is read-only
        }
    } else {
        StatementUse stmt =
            m_handle->use("SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk");
        stmt->bindAll({DbValue(target.name)});
        while (stmt->step())
            target.keyColumns.push_back(std::get<std::string>(stmt->value(0)));
        if (target.keyColumns.empty() && target.hasRowid)
            target.keyColumns.push_back("rowid");
    }
    if (target.keyColumns.empty())
        return std::nullopt;
    return target;
}

std::string SqliteConnection::whereKey(const std::vector<std::string> &keyColumns) {
    std::string where;
    for (const auto &key : keyColumns) {
        where += where.empty() ? " WHERE " : " AND ";
        where += (key == "rowid" ? key : quoteName(key)) + " = ?";
    }
    return where;
}

namespace {

bool sameColumns(const std::vector<std::string> &a, const std::vector<std::string> &b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](const std::string &x, const std::string &y) {
                                                  return equalsIgnoreCase(x, y);
                                              });
}

} // namespace

std::int64_t SqliteConnection::saveOne(const std::string &sql, const std::vector<DbValue> &bound,
                                       bool isView) {
    const sqlite3_int64 before = sqlite3_total_changes64(m_db);
    {
        StatementUse stmt = m_handle->use(sql);
        stmt->bindAll(bound);
        stmt->step();
    }
    // A view's INSTEAD OF trigger reports no changed rows of its own: what it changed counts.
    return isView ? sqlite3_total_changes64(m_db) - before : sqlite3_changes64(m_db);
}

void SqliteConnection::updateRow(const std::string &targetName,
                                 const std::vector<std::string> &keyColumns,
                                 const std::vector<DbValue> &keyValues,
                                 const std::vector<std::string> &columns,
                                 const std::vector<DbValue> &values) {
    if (keyColumns.empty() || keyColumns.size() != keyValues.size() ||
        columns.size() != values.size() || columns.empty())
        throw Error(sqlerr::kGeneral, "A row cannot be saved without its key and its changes.");
    checkInPlace();
    const std::optional<SaveTarget> target = saveTarget(targetName);
    const std::string sql = updateSetText(targetName, columns) + whereKey(keyColumns);
    std::vector<DbValue> bound = values;
    bound.insert(bound.end(), keyValues.begin(), keyValues.end());

    // By the key the schema declares, one statement finds at most one row. Any other key may
    // find several, so the change is made where it can be taken back.
    const bool declaredKey = target && sameColumns(keyColumns, target->keyColumns);
    const char *begin = sqlite3_get_autocommit(m_db) ? "BEGIN IMMEDIATE" : "SAVEPOINT zeph_save";
    const char *end = sqlite3_get_autocommit(m_db) ? "COMMIT" : "RELEASE zeph_save";
    const char *undo =
        sqlite3_get_autocommit(m_db) ? "ROLLBACK" : "ROLLBACK TO zeph_save; RELEASE zeph_save";
    if (!declaredKey)
        run(*m_handle, begin);
    try {
        const std::int64_t changed = saveOne(sql, bound, target && target->isView);
        if (changed == 0)
            throw Error(sqlerr::kRowChanged,
                        "Row cannot be located for updating. Some values may have "
                        "been changed since it was last read.");
        if (changed > 1 && !declaredKey)
            throw Error(sqlerr::kGeneral, "Key column information is insufficient or incorrect. "
                                          "Too many rows were affected by update.");
        if (!declaredKey)
            run(*m_handle, end);
    } catch (...) {
        if (!declaredKey)
            sqlite3_exec(m_db, undo, nullptr, nullptr, nullptr);
        throw;
    }
}

std::int64_t SqliteConnection::updateWhere(const DbRowsChange &change) {
    if (change.whereColumns.empty() || change.whereColumns.size() != change.whereValues.size() ||
        change.columns.size() != change.values.size() || change.columns.empty())
        throw Error(sqlerr::kGeneral, "Rows cannot be changed without a condition and changes.");
    checkInPlace();
    const std::optional<SaveTarget> target = saveTarget(change.target);
    const bool guarded = change.atMost > 0;
    const std::string sql = sqltext::updateWhereText(target ? target->name : change.target,
                                                     change.columns, change.whereColumns, guarded);
    std::vector<DbValue> bound = change.values;
    bound.insert(bound.end(), change.whereValues.begin(), change.whereValues.end());
    if (guarded) {
        bound.insert(bound.end(), change.whereValues.begin(), change.whereValues.end());
        bound.emplace_back(change.atMost);
    }
    // One statement: SQLite changes all of its rows or, when it fails, none.
    return saveOne(sql, bound, target && target->isView);
}

std::optional<std::vector<DbValue>>
SqliteConnection::insertRow(const std::string &targetName, const std::vector<std::string> &columns,
                            const std::vector<DbValue> &values,
                            const std::vector<std::string> &readBack) {
    if (columns.size() != values.size())
        throw Error(sqlerr::kGeneral, "A new row needs one value per column.");
    checkInPlace();
    {
        StatementUse stmt = m_handle->use(insertText(targetName, columns));
        stmt->bindAll(values);
        stmt->step();
    }
    const sqlite3_int64 rowid = sqlite3_last_insert_rowid(m_db);

    // Read the row back, so that defaults and generated keys show as the server made them.
    try {
        std::optional<SaveTarget> target = saveTarget(targetName);
        if (!target || readBack.empty())
            return std::nullopt;
        std::vector<std::string> keyColumns;
        std::vector<DbValue> keyValues;
        if (target->hasRowid) {
            keyColumns = {"rowid"};
            keyValues = {DbValue(static_cast<std::int64_t>(rowid))};
        } else {
            for (const auto &key : target->keyColumns) {
                auto it = std::find_if(columns.begin(), columns.end(), [&](const std::string &c) {
                    return equalsIgnoreCase(c, key);
                });
                if (it == columns.end())
                    return std::nullopt; // a key the server made itself cannot be found here
                keyColumns.push_back(key);
                keyValues.push_back(values[static_cast<std::size_t>(it - columns.begin())]);
            }
        }
        std::string select = "SELECT ";
        for (std::size_t i = 0; i < readBack.size(); ++i)
            select +=
                (i ? ", " : "") + (readBack[i] == "rowid" ? readBack[i] : quoteName(readBack[i]));
        select += " FROM " + quoteName(target->name) + whereKey(keyColumns);
        StatementUse stmt = m_handle->use(select);
        stmt->bindAll(keyValues);
        if (!stmt->step())
            return std::nullopt;
        std::vector<DbValue> row;
        for (int c = 0; c < stmt->columnCount(); ++c)
            row.push_back(stmt->value(c));
        if (stmt->step())
            return std::nullopt; // not one row: do not guess
        return row;
    } catch (const Error &) {
        return std::nullopt; // the row is stored; only its read-back failed
    }
}

/// Checked before anything is written: an empty file stays empty.
void checkHoldsTables(Handle &handle) {
    StatementUse stmt = handle.use("SELECT 1 FROM sqlite_schema LIMIT 1");
    if (!stmt->step())
        throw Error(sqlerr::kGeneral, "it holds no tables");
}

class SqliteDatabase : public IDatabase {
public:
    SqliteDatabase(std::string path, ProcedureHandler procedures, ServerNamer namer,
                   OperatorDialect dialect)
        : m_path(std::move(path))
        , m_procedures(std::make_shared<const ProcedureHandler>(std::move(procedures)))
        , m_namer(std::move(namer))
        , m_pool(std::make_shared<HandlePool>())
        , m_dialect(std::make_shared<const OperatorDialect>(std::move(dialect))) {}

    std::unique_ptr<IDbConnection> connect(const std::string &connectionText) override {
        checkConnectionText(connectionText);
        std::unique_ptr<Handle> handle = reuse();
        if (!handle)
            handle = open();
        return std::make_unique<SqliteConnection>(std::move(handle), m_procedures, m_pool,
                                                  m_dialect, &m_namer);
    }

    std::unique_ptr<IRunLock> takeRunLock(const std::string &connectionText,
                                          const std::string &holder, std::string &heldBy) override {
        checkConnectionText(connectionText);
        return takeRunLockFile(m_path, holder, heldBy);
    }

    std::string serverName(const std::string &connectionText) override {
        checkConnectionText(connectionText);
        if (!m_namer)
            return "SQLite database " + m_path;
        std::unique_ptr<Handle> handle = reuse();
        if (!handle)
            handle = open();
        std::string name = m_namer(handle->db());
        m_pool->giveBack(std::move(handle), true);
        return name;
    }

private:
    // A kept handle, checked as a new one is: the file may have changed since.
    std::unique_ptr<Handle> reuse() {
        std::unique_ptr<Handle> handle = m_pool->take();
        if (!handle)
            return nullptr;
        try {
            checkHoldsTables(*handle);
            return handle;
        } catch (const Error &) {
            return nullptr; // a new handle finds out what is wrong and says so
        }
    }

    std::unique_ptr<Handle> open() {
        sqlite3 *db = nullptr;
        // Never created here: a missing file is a missing server database. A handle serves one
        // connection at a time, so SQLite's own locking around every call is not needed.
        int rc = sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc != SQLITE_OK) {
            std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            sqlite3_close_v2(db);
            throw Error(sqlerr::kGeneral,
                        "The server database \"" + m_path + "\" cannot be opened: " + message);
        }
        auto handle = std::make_unique<Handle>(db);
        try {
            sqlite3_extended_result_codes(db, 1);
            sqlite3_busy_timeout(db, kBusyTimeoutMs);
            sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
            // "x" is a name, never a string, as on the SQL server: a misspelt column is an
            // error instead of a constant text.
            sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
            sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
            checkHoldsTables(*handle);
            useProgramSettings(db);
            registerTsqlFunctions(db);
        } catch (const Error &e) {
            throw Error(sqlerr::kGeneral, "The server database \"" + m_path +
                                              "\" cannot be used: " + e.description());
        }
        return handle;
    }

    std::string m_path;
    std::shared_ptr<const ProcedureHandler> m_procedures;
    ServerNamer m_namer;
    std::shared_ptr<HandlePool> m_pool;
    std::shared_ptr<const OperatorDialect> m_dialect;
};

} // namespace

void useProgramSettings(sqlite3 *db) {
    exec(db, "PRAGMA journal_mode=WAL");
    // A commit is in the log file when it returns, so a killed program loses none; the log
    // reaches the disk at the program's durable points (syncCommits), at each checkpoint, or
    // when the file closes, instead of at every commit.
    exec(db, "PRAGMA synchronous=NORMAL");
    exec(db, kCacheSizePragma);
    // A subscriber's steps are one transaction, in which each procedure and each save keeps a
    // statement journal: in memory, not in files of the system's temporary folder.
    exec(db, "PRAGMA temp_store=MEMORY");
}

void syncCommits(sqlite3 *db) {
    // Every commit of every handle is appended to the one write-ahead log; syncing it makes them
    // all lasting. Without a log file open there is nothing unsynced: a checkpoint synced what
    // it copied.
    sqlite3_file *log = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) != SQLITE_OK || !log ||
        !log->pMethods)
        return;
    const int rc = log->pMethods->xSync(log, SQLITE_SYNC_NORMAL);
    if (rc != SQLITE_OK)
        throw sqliteError(db, rc);
}

DurablePoints::DurablePoints(sqlite3 *db)
    : m_db(db) {
    // Replaces SQLite's automatic checkpoints, which use the same hook.
    sqlite3_wal_hook(m_db, &DurablePoints::onCommit, this);
}

DurablePoints::~DurablePoints() {
    sqlite3_wal_hook(m_db, nullptr, nullptr);
}

int DurablePoints::onCommit(void *self, sqlite3 *db, const char *schema, int frames) {
    auto &points = *static_cast<DurablePoints *>(self);
    // A log that began again (after a checkpoint of any handle) counts from its start.
    if (frames < points.m_checkpointed)
        points.m_checkpointed = 0;
    points.m_frames = frames;
    if (points.framesSinceCheckpoint() >= kBackstopFrames) {
        int log = 0;
        int copied = 0;
        // As SQLite's own automatic checkpoint: a log that cannot be copied now is left for later.
        if (sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, &log, &copied) ==
                SQLITE_OK &&
            copied == log)
            points.m_checkpointed = frames;
    }
    return SQLITE_OK;
}

bool DurablePoints::checkpointWhole() {
    int log = 0;
    int copied = 0;
    const int rc =
        sqlite3_wal_checkpoint_v2(m_db, "main", SQLITE_CHECKPOINT_PASSIVE, &log, &copied);
    if (rc != SQLITE_OK && rc != SQLITE_BUSY)
        throw sqliteError(m_db, rc);
    // Only a log copied whole is lasting through the checkpoint alone (it synced the log, then
    // the database): frames a reader still needs were not copied, and the log's own sync makes
    // the commits after them lasting.
    if (rc != SQLITE_OK || copied != log)
        return false;
    m_checkpointed = m_frames;
    return true;
}

void DurablePoints::makeDurable() {
    if (framesSinceCheckpoint() >= kCheckpointFrames && checkpointWhole())
        return;
    syncCommits(m_db);
}

std::unique_ptr<IDatabase> makeDatabase(const std::string &path, ProcedureHandler procedures,
                                        ServerNamer namer, OperatorDialect dialect) {
    return std::make_unique<SqliteDatabase>(path, std::move(procedures), std::move(namer),
                                            std::move(dialect));
}

} // namespace zeph::sqlite
