#include "SqliteStatement.h"

#include <sqlite3.h>

#include <mutex>

namespace zeph::sqlite {

long errorNumber(int resultCode) {
    switch (resultCode & 0xff) {
    case SQLITE_ERROR:
        return sqlerr::kSyntaxOrObject;
    case SQLITE_CONSTRAINT:
        return sqlerr::kConstraint;
    case SQLITE_AUTH:
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return sqlerr::kPermission;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return sqlerr::kTimeout;
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
        return sqlerr::kConversion;
    case SQLITE_TOOBIG:
        return sqlerr::kTooLong;
    default:
        return sqlerr::kGeneral;
    }
}

ErrorKind errorKind(int resultCode) {
    switch (resultCode & 0xff) {
    case SQLITE_FULL:     // the disk, or the file-size limit, is reached
    case SQLITE_IOERR:    // the storage failed a read, write or sync
    case SQLITE_READONLY: // the file or the file system takes no writes
    case SQLITE_BUSY:     // another writer held the file past the busy time-out
    case SQLITE_LOCKED:
    case SQLITE_CANTOPEN: // the write-ahead log or a temporary file cannot be made
        return ErrorKind::WriteRefused;
    default:
        return ErrorKind::Plain;
    }
}

Error sqliteError(sqlite3 *db, int resultCode, ErrorNumbering numbering) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(resultCode);
    return Error(numbering(resultCode), message, errorKind(resultCode));
}

void throwError(sqlite3 *db, int resultCode, ErrorNumbering numbering) {
    throw sqliteError(db, resultCode, numbering);
}

void exec(sqlite3 *db, std::string_view sql, ErrorNumbering numbering) {
    const std::string text(sql); // sqlite3_exec reads up to the terminating zero
    char *message = nullptr;
    int rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string description = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throw Error(numbering(rc), description, errorKind(rc));
    }
}

// --- Statement -----------------------------------------------------------------------------------

Statement::Statement(sqlite3 *db, std::string_view sql, ErrorNumbering numbering)
    : m_db(db)
    , m_numbering(numbering) {
    const char *tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, &tail);
    if (rc != SQLITE_OK)
        throwError(db, rc, m_numbering);
    if (!m_stmt)
        throw Error(sqlerr::kSyntaxOrObject, "The command text holds no statement.");
    for (const char *p = tail; p && p < sql.data() + sql.size(); ++p) {
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            throw Error(sqlerr::kSyntaxOrObject,
                        "Only one statement is allowed; the text goes on after it: \"" +
                            std::string(p, sql.data() + sql.size()) + "\"");
        }
    }
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

Statement &Statement::bind(int index, const DbValue &value) {
    int rc = SQLITE_OK;
    if (const auto *n = std::get_if<std::int64_t>(&value))
        rc = sqlite3_bind_int64(m_stmt, index, *n);
    else if (const auto *d = std::get_if<double>(&value))
        rc = sqlite3_bind_double(m_stmt, index, *d);
    else if (const auto *s = std::get_if<std::string>(&value))
        rc =
            sqlite3_bind_text64(m_stmt, index, s->data(), s->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    else
        rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK)
        throwError(m_db, rc, m_numbering);
    return *this;
}

Statement &Statement::bindAll(const std::vector<DbValue> &values) {
    int expected = sqlite3_bind_parameter_count(m_stmt);
    if (expected != static_cast<int>(values.size())) {
        throw Error(sqlerr::kMissingValue,
                    "The statement has " + std::to_string(expected) + " placeholders but " +
                        std::to_string(values.size()) + " values were given.");
    }
    for (int i = 0; i < expected; ++i)
        bind(i + 1, values[static_cast<std::size_t>(i)]);
    return *this;
}

bool Statement::step() {
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Error error = sqliteError(m_db, rc, m_numbering);
    sqlite3_reset(m_stmt);
    throw error;
}

void Statement::run() {
    while (step()) {
    }
    reset();
}

void Statement::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int Statement::columnCount() const {
    return sqlite3_column_count(m_stmt);
}

std::string Statement::columnName(int index) const {
    const char *name = sqlite3_column_name(m_stmt, index);
    return name ? name : "";
}

DbValue Statement::value(int index) const {
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_INTEGER:
        return DbValue(static_cast<std::int64_t>(sqlite3_column_int64(m_stmt, index)));
    case SQLITE_FLOAT:
        return DbValue(sqlite3_column_double(m_stmt, index));
    case SQLITE_NULL:
        return DbValue{};
    default: // text, or a blob read as its bytes
        return DbValue(text(index));
    }
}

bool Statement::isNull(int index) const {
    return sqlite3_column_type(m_stmt, index) == SQLITE_NULL;
}

std::string Statement::text(int index) const {
    // The data before its length: the order SQLite asks for.
    const auto *data = sqlite3_column_text(m_stmt, index);
    int size = sqlite3_column_bytes(m_stmt, index);
    return data ? std::string(reinterpret_cast<const char *>(data), static_cast<std::size_t>(size))
                : std::string();
}

std::int64_t Statement::integer(int index) const {
    return sqlite3_column_int64(m_stmt, index);
}

// --- StatementUse --------------------------------------------------------------------------------

StatementUse::StatementUse(Statement &kept, bool &busy)
    : m_stmt(&kept)
    , m_busy(&busy) {
    busy = true;
}

StatementUse::StatementUse(std::unique_ptr<Statement> owned)
    : m_owned(std::move(owned))
    , m_stmt(m_owned.get()) {}

StatementUse::~StatementUse() {
    if (!m_busy)
        return;
    m_stmt->reset();
    *m_busy = false;
}

// --- StatementCache ------------------------------------------------------------------------------

namespace {

// The caches by handle. A handle serves one user at a time, but handles of one process are
// used by several threads at once.
std::mutex g_cachesMutex;
std::unordered_map<sqlite3 *, StatementCache *> &caches() {
    static std::unordered_map<sqlite3 *, StatementCache *> all;
    return all;
}

} // namespace

StatementCache::StatementCache(sqlite3 *db, std::size_t capacity, Listing listing)
    : m_db(db)
    , m_capacity(capacity)
    , m_listing(listing) {
    if (listing == Listing::Unlisted)
        return;
    std::lock_guard lock(g_cachesMutex);
    caches()[db] = this;
}

StatementCache::~StatementCache() {
    if (m_listing == Listing::Unlisted)
        return;
    std::lock_guard lock(g_cachesMutex);
    auto it = caches().find(m_db);
    if (it != caches().end() && it->second == this)
        caches().erase(it);
}

StatementUse StatementCache::use(std::string_view sql, ErrorNumbering numbering) {
    auto it = m_kept.find(std::string(sql));
    if (it == m_kept.end() && m_kept.size() < m_capacity) {
        auto stmt = std::make_unique<Statement>(m_db, sql, numbering);
        it = m_kept.emplace(std::string(sql), Kept{std::move(stmt), false}).first;
    }
    if (it == m_kept.end() || it->second.busy || it->second.stmt->numbering() != numbering)
        return StatementUse(std::make_unique<Statement>(m_db, sql, numbering));
    return StatementUse(*it->second.stmt, it->second.busy);
}

StatementCache *StatementCache::forHandle(sqlite3 *db) {
    std::lock_guard lock(g_cachesMutex);
    auto it = caches().find(db);
    return it == caches().end() ? nullptr : it->second;
}

StatementUse StatementCache::useOn(sqlite3 *db, std::string_view sql, ErrorNumbering numbering) {
    if (StatementCache *cache = forHandle(db))
        return cache->use(sql, numbering);
    return StatementUse(std::make_unique<Statement>(db, sql, numbering));
}

} // namespace zeph::sqlite
