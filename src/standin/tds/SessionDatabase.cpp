#include "SessionDatabase.h"

#include "CatalogProcedures.h"

#include "platform/AsciiText.h"
#include "platform/DbErrors.h"
#include "platform/Error.h"
#include "platform/sqlite/RunLockFile.h"
#include "platform/sqlite/SqliteDatabase.h"
#include "platform/sqlite/TsqlFunctions.h"
#include "standin/server/ServerIdentity.h"
#include "standin/server/ServerProcedures.h"
#include "standin/server/ServerSchema.h"
#include "standin/server/ServerSql.h"

#include <sqlite3.h>

#include <algorithm>
#include <iterator>

namespace zeph::tds {
namespace {

constexpr int kBusyTimeoutMs = 10000;
// Steps of SQLite's machine between two looks at whether the client wants a statement stopped:
// well under a millisecond of work.
constexpr int kStepsBetweenLooks = 20000;
// sp_getapplock's answers.
constexpr int kLockGranted = 0;
constexpr int kLockTimedOut = -1;
constexpr int kLockError = -999;

std::string textOrEmpty(const DbValue &v) {
    return sqlite::server::isNull(v) ? std::string() : sqlite::server::asText(v);
}

// A result of up to about this many bytes is read whole before any of it goes out, so that a
// short result's columns are typed by all of its values; a longer one goes out in parts of
// about kPartBytes, and the server never holds more of it than that.
constexpr std::size_t kWholeResultBytes = 1u << 20;
constexpr std::size_t kPartBytes = 64u << 10;

std::size_t bytesOf(const DbValue &value) {
    const auto *text = std::get_if<std::string>(&value);
    return sizeof(DbValue) + (text ? text->size() : 0);
}

// The rows of a statement; `binary` tells the columns that held a byte string. With `parts`,
// a result over kWholeResultBytes is given to it in parts and not kept.
struct Fetched {
    std::int64_t count = 0;
    bool inParts = false;
};
Fetched fetch(sqlite::Statement &stmt, DbRowSet &rows, std::vector<bool> &binary,
              const SessionDatabase::RowParts &parts) {
    const int n = stmt.columnCount();
    binary.assign(static_cast<std::size_t>(n), false);
    for (int c = 0; c < n; ++c)
        rows.columns.push_back({stmt.columnName(c), false});
    std::int64_t count = 0;
    std::size_t held = 0;
    bool streaming = false;
    while (stmt.step()) {
        std::vector<DbValue> row;
        row.reserve(static_cast<std::size_t>(n));
        for (int c = 0; c < n; ++c) {
            if (sqlite3_column_type(stmt.get(), c) == SQLITE_BLOB) {
                binary[static_cast<std::size_t>(c)] = true;
                const auto *data = static_cast<const char *>(sqlite3_column_blob(stmt.get(), c));
                row.emplace_back(
                    std::string(data ? data : "",
                                static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), c))));
            } else {
                row.push_back(stmt.value(c));
            }
            held += bytesOf(row.back());
        }
        rows.rows.push_back(std::move(row));
        ++count;
        if (parts && held >= (streaming ? kPartBytes : kWholeResultBytes)) {
            parts(rows, binary, !streaming);
            streaming = true;
            rows.rows.clear();
            held = 0;
        }
    }
    if (streaming && !rows.rows.empty())
        parts(rows, binary, false);
    if (streaming)
        rows.rows.clear();
    return {count, streaming};
}

} // namespace

int serverErrorNumber(long clientNumber) {
    switch (clientNumber) {
    case sqlerr::kSyntaxOrObject:
        return 102; // a bad statement or a missing object (class 42000)
    case sqlerr::kConstraint:
        return 2627; // a key or constraint (class 23000)
    case sqlerr::kConversion:
        return 245; // a conversion (class 22018)
    case sqlerr::kTooLong:
        return 8152; // string or binary data would be truncated (class 22001)
    case sqlerr::kPermission:
        return 229; // permission denied
    case sqlerr::kTimeout:
        return 1222; // lock request time out
    default:
        return 50000; // any other failure, as a procedure raises it
    }
}

// HAS_PERMS_BY_NAME(securable, class, permission): the one SQL login of the stand-in owns
// the database, so it holds every permission on each of its objects: 1 for an object that
// exists (a table, a view, a procedure of the server's) and a permission an object can have;
// NULL, as on SQL Server, for a securable that is not found or a class or permission it does
// not know.
void hasPermsByName(sqlite3_context *call, int argc, sqlite3_value **argv) {
    auto text = [&](int i) {
        const unsigned char *t = argc > i ? sqlite3_value_text(argv[i]) : nullptr;
        return t ? std::string(reinterpret_cast<const char *>(t)) : std::string();
    };
    std::string object = text(0);
    const std::string kind = upperAscii(text(1));
    const std::string permission = upperAscii(text(2));
    static const char *const kObjectPermissions[] = {
        "SELECT",     "INSERT", "UPDATE",  "DELETE",         "EXECUTE",
        "REFERENCES", "ALTER",  "CONTROL", "TAKE OWNERSHIP", "VIEW DEFINITION"};
    if (kind != "OBJECT" ||
        std::none_of(std::begin(kObjectPermissions), std::end(kObjectPermissions),
                     [&](const char *p) { return permission == p; })) {
        sqlite3_result_null(call);
        return;
    }
    const std::string lower = lowerAscii(object);
    if (lower.rfind("dbo.", 0) == 0)
        object = object.substr(4);
    bool found = sqlite::server::isProcedure(object);
    if (!found) {
        try {
            found = sqlite::server::queryCount(
                        sqlite3_context_db_handle(call),
                        "SELECT count(*) FROM sqlite_schema WHERE type IN ('table', 'view') "
                        "AND name = ?1 COLLATE NOCASE AND name NOT LIKE 'sqlite%' "
                        "AND name NOT LIKE 'zeph%'",
                        {DbValue(object)}) > 0;
        } catch (const Error &) {
            found = false;
        }
    }
    if (found)
        sqlite3_result_int(call, 1);
    else
        sqlite3_result_null(call);
}

int serverErrorNumber(const Error &error) {
    if (!error.writeRefused())
        return serverErrorNumber(error.number());
    switch (error.number()) {
    case sqlerr::kTimeout:
        return 1222; // lock request time out
    case sqlerr::kPermission:
        return 3906; // the database is read-only
    default:
        return 823; // the operating system failed a write (a full disk or file included)
    }
}

struct SessionDatabase::Handle {
    explicit Handle(const std::string &path)
        : connection(path, false) {
        sqlite3 *db = connection.get();
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        // "x" is a name, never a string, as on SQL Server.
        sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
        sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
        if (sqlite::server::queryCount(db, "SELECT count(*) FROM sqlite_schema") == 0)
            throw Error(sqlerr::kGeneral, "The server database " + path + " holds no tables.");
        sqlite3_create_function(db, "HAS_PERMS_BY_NAME", 3, SQLITE_UTF8, nullptr, &hasPermsByName,
                                nullptr, nullptr);
        // A commit is in the log file when it returns; the log reaches the disk when a client
        // asks (sys.sp_flush_log), at a checkpoint, or at the session's end.
        sqlite::exec(db, "PRAGMA synchronous=NORMAL");
        sqlite::registerTsqlFunctions(db);
    }
    sqlite::server::Connection connection;
    // A checkpoint the log is due is made where a client asks for its commits to be lasting,
    // not inside one of its commits: there it is that flush's sync as well.
    sqlite::DurablePoints durable{connection.get()};
};

SessionDatabase::SessionDatabase(std::string path, sqlite::ServerContext context,
                                 std::string lockHolder)
    : m_path(std::move(path))
    , m_context(std::move(context))
    , m_lockHolder(std::move(lockHolder))
    , m_handle(std::make_unique<Handle>(m_path)) {}

SessionDatabase::~SessionDatabase() {
    // A session that ends with its transaction open (a client that went away) leaves nothing.
    if (m_begun)
        sqlite3_exec(m_handle->connection.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    // What it committed is made lasting before it goes.
    if (m_unflushed) {
        try {
            flushLog();
        } catch (const Error &) {
            // Nothing to tell it to: the next checkpoint writes it.
        }
    }
}

const sqltext::TsqlCatalogue &SessionDatabase::catalogue() {
    if (!m_catalogue)
        m_catalogue =
            sqlite::tsqlCatalogue(m_handle->connection.get(), sqlite::server::dateTimeColumns());
    return *m_catalogue;
}

StatementResult SessionDatabase::query(const std::string &sql, const std::vector<DbValue> &values,
                                       const std::vector<bool> &binary, const RowParts &parts) {
    sqlite3 *db = m_handle->connection.get();
    try {
        sqlite::Statement stmt(db, sql);
        const bool reading = sqlite3_stmt_readonly(stmt.get()) != 0;
        beginPending(reading);
        // A change outside a transaction is committed by itself; it is lasting once flushed.
        m_unflushed = m_unflushed || (!reading && !m_inTransaction);
        stmt.bindAll(values);
        // A byte string is bound as one, so that it is stored and compared as bytes.
        for (std::size_t i = 0; i < values.size() && i < binary.size(); ++i) {
            const auto *bytes = std::get_if<std::string>(&values[i]);
            if (!binary[i] || !bytes)
                continue;
            const int rc = sqlite3_bind_blob64(stmt.get(), static_cast<int>(i + 1), bytes->data(),
                                               bytes->size(), SQLITE_TRANSIENT);
            if (rc != SQLITE_OK)
                sqlite::throwError(db, rc);
        }
        StatementResult result;
        if (stmt.columnCount() > 0) {
            DbRowSet rows;
            const Fetched read = fetch(stmt, rows, result.binaryColumns, parts);
            // A result given out in parts is not kept.
            if (!read.inParts)
                result.rows = std::move(rows);
            result.count = read.count;
        } else {
            stmt.step();
            result.count = sqlite3_changes(db);
        }
        return result;
    } catch (const Error &e) {
        // SQL Server's number and words for what the database said in its own.
        const std::string_view text = trimBlanks(sql);
        const std::string verb(text.substr(0, text.find_first_of(" \t\r\n(")));
        auto isPrimaryKey = [db](const std::string &table, const std::string &column) {
            try {
                sqlite::Statement pk(db, "SELECT pk FROM pragma_table_info(?) WHERE name = ? "
                                         "COLLATE NOCASE");
                pk.bindAll({DbValue(table), DbValue(column)});
                return pk.step() && pk.value(0) != DbValue(std::int64_t{0});
            } catch (const Error &) {
                return false;
            }
        };
        if (auto server = sqltext::serverErrorOf(e.description(), verb, isPrimaryKey))
            throw *server;
        throw;
    }
}

void SessionDatabase::watch(std::function<bool()> stopWanted) {
    m_stopWanted = std::move(stopWanted);
    sqlite3 *db = m_handle->connection.get();
    if (!m_stopWanted) {
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
        return;
    }
    sqlite3_progress_handler(
        db, kStepsBetweenLooks,
        [](void *self) -> int {
            return static_cast<SessionDatabase *>(self)->m_stopWanted() ? 1 : 0;
        },
        this);
}

std::string SessionDatabase::serverName() {
    if (m_serverName.empty() && m_context.guids)
        m_serverName =
            sqlite::standInServerId(m_handle->connection.get(), *m_context.guids, m_context.notice);
    return m_serverName;
}

void SessionDatabase::begin() {
    // The database's transaction begins with the first statement: a transaction a client
    // opens and leaves idle (as drivers do between two of theirs) holds no lock meanwhile.
    m_inTransaction = true;
}

void SessionDatabase::beginPending(bool reading) {
    if (!m_inTransaction)
        return;
    sqlite3 *db = m_handle->connection.get();
    if (m_begun && (reading || m_writing))
        return;
    if (m_begun) {
        // The first write of a transaction that has only read: as under SQL Server's read
        // committed, each statement sees what is committed when it starts, so the reading
        // ends (it changed nothing) and the write lock is taken. Reading on in the old
        // snapshot would fail the write when another session wrote in between.
        sqlite::exec(db, "COMMIT");
        m_begun = false;
    }
    // A transaction that reads takes no lock that stops a writer; one that writes takes the
    // write lock before its first change, waiting for another writer's end as SQL Server does.
    sqlite::exec(db, reading ? "BEGIN DEFERRED" : "BEGIN IMMEDIATE");
    m_begun = true;
    m_writing = !reading;
}

void SessionDatabase::end(bool commit) {
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    if (!m_begun)
        return;
    m_begun = false;
    const bool wrote = m_writing;
    m_writing = false;
    sqlite::exec(m_handle->connection.get(), commit ? "COMMIT" : "ROLLBACK");
    m_unflushed = m_unflushed || (commit && wrote);
}

// The session's commits are in the database's log when they return, so a killed server loses
// none; they reach the disk here, at a checkpoint, or when the session ends (SQL Server's
// delayed durability, whose sys.sp_flush_log a client calls at its own durable points).
void SessionDatabase::flushLog() {
    try {
        m_handle->durable.makeDurable();
    } catch (const Error &e) {
        throw Error(sqlerr::kGeneral, "The log could not be written to disk: " + e.description());
    }
    m_unflushed = false;
}

StatementResult SessionDatabase::call(const std::string &name, const std::vector<DbParam> &args) {
    auto arg = [&](std::string_view wanted) {
        for (const auto &a : args) {
            if (equalsIgnoreCase(a.name, wanted))
                return a.value;
        }
        return DbValue();
    };
    std::string plain = lowerAscii(name);
    if (plain.rfind("dbo.", 0) == 0 || plain.rfind("sys.", 0) == 0)
        plain = plain.substr(4);
    if (plain == "sp_getapplock")
        return appLock(arg("@Resource"), arg("@LockMode"), arg("@LockOwner"));
    if (plain == "sp_releaseapplock")
        return appUnlock();
    if (auto catalog = catalogProcedure(m_handle->connection.get(), plain, arg))
        return std::move(*catalog);
    if (plain == "sp_flush_log") {
        flushLog();
        return {};
    }
    beginPending(false);
    m_unflushed = m_unflushed || !m_inTransaction;
    StatementResult result;
    result.rows = sqlite::callServerProcedure(m_handle->connection.get(), name, args, m_context);
    if (result.rows)
        result.count = static_cast<std::int64_t>(result.rows->rows.size());
    return result;
}

std::optional<StatementResult> SessionDatabase::callByPosition(const std::string &name,
                                                               const std::vector<DbValue> &values) {
    auto at = [&](std::size_t i) { return i < values.size() ? values[i] : DbValue(); };
    std::string plain = lowerAscii(name);
    if (plain.rfind("dbo.", 0) == 0 || plain.rfind("sys.", 0) == 0)
        plain = plain.substr(4);
    if (plain == "sp_getapplock")
        return appLock(at(0), at(1), at(2));
    if (plain == "sp_releaseapplock")
        return appUnlock();
    if (plain == "sp_flush_log" && values.empty()) {
        flushLog();
        return StatementResult{};
    }
    const std::vector<std::string_view> names = catalogArgumentOrder(plain);
    if (!names.empty()) {
        return catalogProcedure(m_handle->connection.get(), plain, [&](std::string_view wanted) {
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (equalsIgnoreCase(names[i], wanted))
                    return at(i);
            }
            return DbValue();
        });
    }
    // A procedure of the server's takes its arguments in its declared order.
    const auto declared = sqlite::server::procedureParameterNames(name);
    if (!declared)
        return std::nullopt;
    if (values.size() > declared->size())
        throw Error(sqlerr::kSyntaxOrObject,
                    "Procedure or function " + name + " has too many arguments specified.");
    std::vector<DbParam> args;
    for (std::size_t i = 0; i < values.size(); ++i)
        args.push_back({(*declared)[i],
                        std::holds_alternative<std::int64_t>(values[i]) ? DbParamType::Integer
                                                                        : DbParamType::Text,
                        values[i]});
    return call(name, args);
}

// The stand-in has one application lock: its run lock, which embedded runs take too. A
// session holds it until it lets it go or ends; a request that finds it held never waits.
StatementResult SessionDatabase::appLock(const DbValue &resource, const DbValue &mode,
                                         const DbValue &owner) {
    StatementResult result;
    if (textOrEmpty(resource).empty() || !equalsIgnoreCase(textOrEmpty(mode), "Exclusive") ||
        !equalsIgnoreCase(textOrEmpty(owner), "Session"))
        throw Error(sqlerr::kSyntaxOrObject,
                    "sp_getapplock: this server grants only an Exclusive lock owned by the "
                    "Session, on a named resource.");
    if (m_runLock) {
        ++m_runLockCount;
        result.returnStatus = kLockGranted;
        return result;
    }
    std::string heldBy;
    try {
        m_runLock = sqlite::takeRunLockFile(m_path, m_lockHolder, heldBy);
    } catch (const Error &) {
        result.returnStatus = kLockError;
        return result;
    }
    result.returnStatus = m_runLock ? kLockGranted : kLockTimedOut;
    if (m_runLock)
        m_runLockCount = 1;
    return result;
}

StatementResult SessionDatabase::appUnlock() {
    StatementResult result;
    if (!m_runLock) {
        result.returnStatus = kLockError;
        return result;
    }
    if (--m_runLockCount == 0)
        m_runLock.reset();
    return result;
}

} // namespace zeph::tds
