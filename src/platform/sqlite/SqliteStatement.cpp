#include "SqliteStatement.h"

#include <sqlite3.h>

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

void throwError(sqlite3 *db, int resultCode) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(resultCode);
    throw Error(errorNumber(resultCode), message);
}

std::string quoteName(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    quoted += '"';
    return quoted;
}

Statement::Statement(sqlite3 *db, std::string_view sql)
    : m_db(db) {
    const char *tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, &tail);
    if (rc != SQLITE_OK)
        throwError(db, rc);
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

void Statement::bind(const std::vector<DbValue> &values) {
    int expected = sqlite3_bind_parameter_count(m_stmt);
    if (expected != static_cast<int>(values.size())) {
        throw Error(sqlerr::kMissingValue,
                    "The statement has " + std::to_string(expected) + " placeholders but " +
                        std::to_string(values.size()) + " values were given.");
    }
    for (int i = 0; i < expected; ++i) {
        const DbValue &v = values[static_cast<std::size_t>(i)];
        int rc = SQLITE_OK;
        if (auto n = std::get_if<std::int64_t>(&v))
            rc = sqlite3_bind_int64(m_stmt, i + 1, *n);
        else if (auto d = std::get_if<double>(&v))
            rc = sqlite3_bind_double(m_stmt, i + 1, *d);
        else if (auto s = std::get_if<std::string>(&v))
            rc = sqlite3_bind_text64(m_stmt, i + 1, s->data(), s->size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
        else
            rc = sqlite3_bind_null(m_stmt, i + 1);
        if (rc != SQLITE_OK)
            throwError(m_db, rc);
    }
}

bool Statement::step() {
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throwError(m_db, rc);
}

int Statement::columnCount() const {
    return sqlite3_column_count(m_stmt);
}

std::string Statement::columnName(int column) const {
    const char *name = sqlite3_column_name(m_stmt, column);
    return name ? name : "";
}

DbValue Statement::column(int column) const {
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
        return DbValue(static_cast<std::int64_t>(sqlite3_column_int64(m_stmt, column)));
    case SQLITE_FLOAT:
        return DbValue(sqlite3_column_double(m_stmt, column));
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        // The data before its length: the order SQLite asks for.
        const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        int size = sqlite3_column_bytes(m_stmt, column);
        return DbValue(std::string(data ? data : "", static_cast<std::size_t>(size)));
    }
    default:
        return DbValue{};
    }
}

} // namespace zeph::sqlite
