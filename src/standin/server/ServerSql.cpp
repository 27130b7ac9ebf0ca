#include "ServerSql.h"

#include <sqlite3.h>

namespace zeph::sqlite::server {

long errorNumber(int resultCode) {
    return (resultCode & 0xff) == SQLITE_CONSTRAINT ? dberr::kIntegrity : dberr::kFailed;
}

DbRowSet queryRows(sqlite3 *db, std::string_view sql, const std::vector<DbValue> &params) {
    StatementUse st = statement(db, sql);
    st->bindAll(params);
    DbRowSet rows;
    const int columns = st->columnCount();
    for (int i = 0; i < columns; ++i)
        rows.columns.push_back(DbColumn{st->columnName(i)});
    while (st->step()) {
        std::vector<DbValue> row;
        row.reserve(rows.columns.size());
        for (int i = 0; i < columns; ++i)
            row.push_back(st->value(i));
        rows.rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<DbValue> queryValue(sqlite3 *db, std::string_view sql,
                                  const std::vector<DbValue> &params) {
    StatementUse st = statement(db, sql);
    st->bindAll(params);
    if (!st->step())
        return std::nullopt;
    return st->value(0);
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
    statement(db, "SAVEPOINT zeph_server")->run();
}

Savepoint::~Savepoint() {
    if (m_open) {
        // Undo and close; errors here cannot be reported and leave nothing to clean up.
        sqlite3_exec(m_db, "ROLLBACK TO zeph_server; RELEASE zeph_server", nullptr, nullptr,
                     nullptr);
    }
}

void Savepoint::release() {
    statement(m_db, "RELEASE zeph_server")->run();
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
    m_statements = std::make_unique<StatementCache>(m_db);
}

Connection::~Connection() {
    m_statements.reset(); // its statements go before the file can close
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
