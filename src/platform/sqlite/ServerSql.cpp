#include "ServerSql.h"

#include <sqlite3.h>

namespace zeph::sqlite::server {

Error sqliteError(sqlite3 *db, int rc) {
    std::string text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    long number = (rc & 0xff) == SQLITE_CONSTRAINT ? dberr::kIntegrity : dberr::kFailed;
    return Error(number, text);
}

Statement::Statement(sqlite3 *db, std::string_view sql)
    : m_db(db) {
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK)
        throw sqliteError(db, rc);
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

Statement &Statement::bind(int index, const DbValue &value) {
    int rc = SQLITE_OK;
    if (const auto *i = std::get_if<std::int64_t>(&value))
        rc = sqlite3_bind_int64(m_stmt, index, *i);
    else if (const auto *d = std::get_if<double>(&value))
        rc = sqlite3_bind_double(m_stmt, index, *d);
    else if (const auto *s = std::get_if<std::string>(&value))
        rc = sqlite3_bind_text(m_stmt, index, s->data(), static_cast<int>(s->size()),
                               SQLITE_TRANSIENT);
    else
        rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK)
        throw sqliteError(m_db, rc);
    return *this;
}

Statement &Statement::bindAll(const std::vector<DbValue> &values) {
    for (std::size_t i = 0; i < values.size(); ++i)
        bind(static_cast<int>(i + 1), values[i]);
    return *this;
}

bool Statement::step() {
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Error error = sqliteError(m_db, rc);
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
        return static_cast<std::int64_t>(sqlite3_column_int64(m_stmt, index));
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_stmt, index);
    case SQLITE_NULL:
        return std::monostate{};
    default:
        return text(index);
    }
}

bool Statement::isNull(int index) const {
    return sqlite3_column_type(m_stmt, index) == SQLITE_NULL;
}

std::string Statement::text(int index) const {
    const auto *p = sqlite3_column_text(m_stmt, index);
    int n = sqlite3_column_bytes(m_stmt, index);
    return p ? std::string(reinterpret_cast<const char *>(p), static_cast<std::size_t>(n))
             : std::string();
}

std::int64_t Statement::integer(int index) const {
    return sqlite3_column_int64(m_stmt, index);
}

void exec(sqlite3 *db, std::string_view sql) {
    std::string text(sql);
    char *message = nullptr;
    int rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string description = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        long number = (rc & 0xff) == SQLITE_CONSTRAINT ? dberr::kIntegrity : dberr::kFailed;
        throw Error(number, description);
    }
}

DbRowSet queryRows(sqlite3 *db, std::string_view sql, const std::vector<DbValue> &params) {
    Statement st(db, sql);
    st.bindAll(params);
    DbRowSet rows;
    for (int i = 0; i < st.columnCount(); ++i)
        rows.columns.push_back(DbColumn{st.columnName(i)});
    while (st.step()) {
        std::vector<DbValue> row;
        row.reserve(rows.columns.size());
        for (int i = 0; i < st.columnCount(); ++i)
            row.push_back(st.value(i));
        rows.rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<DbValue> queryValue(sqlite3 *db, std::string_view sql,
                                  const std::vector<DbValue> &params) {
    Statement st(db, sql);
    st.bindAll(params);
    if (!st.step())
        return std::nullopt;
    return st.value(0);
}

std::int64_t queryCount(sqlite3 *db, std::string_view sql, const std::vector<DbValue> &params) {
    auto v = queryValue(db, sql, params);
    if (!v)
        return 0;
    if (const auto *i = std::get_if<std::int64_t>(&*v))
        return *i;
    return 0;
}

Savepoint::Savepoint(sqlite3 *db)
    : m_db(db) {
    exec(db, "SAVEPOINT zeph_server");
}

Savepoint::~Savepoint() {
    if (m_open) {
        // Undo and close; errors here cannot be reported and leave nothing to clean up.
        sqlite3_exec(m_db, "ROLLBACK TO zeph_server; RELEASE zeph_server", nullptr, nullptr,
                     nullptr);
    }
}

void Savepoint::release() {
    exec(m_db, "RELEASE zeph_server");
    m_open = false;
}

Connection::Connection(const std::string &path, bool create) {
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        Error error(dberr::kFailed,
                    (m_db ? std::string(sqlite3_errmsg(m_db)) : std::string(sqlite3_errstr(rc))) +
                        ": " + path);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw error;
    }
    sqlite3_busy_timeout(m_db, 5000);
}

Connection::~Connection() {
    sqlite3_close(m_db);
}

std::string asText(const DbValue &v) {
    if (const auto *s = std::get_if<std::string>(&v))
        return *s;
    if (const auto *i = std::get_if<std::int64_t>(&v))
        return std::to_string(*i);
    if (const auto *d = std::get_if<double>(&v))
        return std::to_string(*d);
    return {};
}

} // namespace zeph::sqlite::server
