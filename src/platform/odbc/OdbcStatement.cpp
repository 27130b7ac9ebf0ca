#include "OdbcStatement.h"

#include "platform/AsciiText.h"

#include <algorithm>

namespace zeph::odbc {

namespace {

// A NUMERIC or DECIMAL column without a fraction, among the ODBC type numbers.
constexpr SQLSMALLINT kWholeDecimal = -1000;

bool isWholeNumber(SQLSMALLINT type) {
    switch (type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return true;
    default:
        return false;
    }
}

bool isFraction(SQLSMALLINT type) {
    switch (type) {
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        return true;
    default:
        return false;
    }
}

} // namespace

Statement::Statement(SQLHDBC connection, SQLULEN timeoutSeconds)
    : m_stmt(SQL_HANDLE_STMT, connection) {
    // A driver without a time limit says so as a warning; that is no reason to fail.
    SQLSetStmtAttr(m_stmt.get(), SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(timeoutSeconds), 0);
}

void Statement::bind(const std::vector<DbValue> &values) {
    m_texts.reserve(values.size());
    m_integers.reserve(values.size());
    m_doubles.reserve(values.size());
    m_lengths.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        bindOne(static_cast<SQLUSMALLINT>(i + 1), values[i], 0);
}

void Statement::bind(const std::vector<DbParam> &args) {
    m_texts.reserve(args.size());
    m_integers.reserve(args.size());
    m_doubles.reserve(args.size());
    m_lengths.reserve(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        SQLSMALLINT type = args[i].type == DbParamType::Integer ? SQL_INTEGER
                           : args[i].type == DbParamType::Guid  ? SQL_GUID
                                                                : SQL_WVARCHAR;
        bindOne(static_cast<SQLUSMALLINT>(i + 1), args[i].value, type);
    }
}

// sqlType 0: the value's own type. A GUID goes as its text (the server converts it), an
// integer argument given as text as the text.
void Statement::bindOne(SQLUSMALLINT position, const DbValue &value, SQLSMALLINT sqlType) {
    SQLRETURN rc;
    if (std::holds_alternative<std::monostate>(value)) {
        m_lengths.push_back(SQL_NULL_DATA);
        rc = SQLBindParameter(m_stmt.get(), position, SQL_PARAM_INPUT, SQL_C_WCHAR,
                              sqlType && sqlType != SQL_GUID ? sqlType : SQL_WVARCHAR, 1, 0,
                              nullptr, 0, &m_lengths.back());
    } else if (auto i = std::get_if<std::int64_t>(&value)) {
        m_integers.push_back(*i);
        m_lengths.push_back(0);
        const bool small = *i >= INT32_MIN && *i <= INT32_MAX;
        rc = SQLBindParameter(m_stmt.get(), position, SQL_PARAM_INPUT, SQL_C_SBIGINT,
                              small ? SQL_INTEGER : SQL_BIGINT, 0, 0, &m_integers.back(), 0,
                              &m_lengths.back());
    } else if (auto d = std::get_if<double>(&value)) {
        m_doubles.push_back(*d);
        m_lengths.push_back(0);
        rc = SQLBindParameter(m_stmt.get(), position, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15,
                              0, &m_doubles.back(), 0, &m_lengths.back());
    } else {
        m_texts.push_back(toWide(std::get<std::string>(value)));
        const auto &text = m_texts.back();
        m_lengths.push_back(static_cast<SQLLEN>(text.size() * sizeof(SQLWCHAR)));
        // Long texts go as the long type: a fixed size above 4000 characters is refused.
        const SQLULEN size = std::max<SQLULEN>(text.size(), 1);
        const SQLSMALLINT type = size > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        rc = SQLBindParameter(m_stmt.get(), position, SQL_PARAM_INPUT, SQL_C_WCHAR, type, size, 0,
                              const_cast<SQLWCHAR *>(text.c_str()), m_lengths.back(),
                              &m_lengths.back());
    }
    m_stmt.check(rc, "Binding a parameter");
}

void Statement::execute(const std::string &sql) {
    std::basic_string<SQLWCHAR> text = toWide(sql);
    SQLRETURN rc = SQLExecDirectW(m_stmt.get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    if (rc != SQL_NO_DATA)
        m_stmt.check(rc, "Running a statement");
}

SQLLEN Statement::rowCount() {
    SQLLEN n = -1;
    if (!SQL_SUCCEEDED(SQLRowCount(m_stmt.get(), &n)))
        return -1;
    return n;
}

SQLSMALLINT Statement::columnCount() {
    SQLSMALLINT n = 0;
    m_stmt.check(SQLNumResultCols(m_stmt.get(), &n), "Reading a result");
    return n;
}

std::vector<Statement::ColumnInfo> Statement::describe() {
    std::vector<ColumnInfo> columns;
    const SQLSMALLINT n = columnCount();
    for (SQLSMALLINT c = 1; c <= n; ++c) {
        SQLWCHAR name[512] = {};
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        m_stmt.check(SQLDescribeColW(m_stmt.get(), static_cast<SQLUSMALLINT>(c), name,
                                     static_cast<SQLSMALLINT>(std::size(name)), &length, &type,
                                     &size, &digits, &nullable),
                     "Reading a result's columns");
        const auto shown = std::min<std::size_t>(
            static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), std::size(name) - 1);
        // A NUMERIC or DECIMAL without a fraction reads as a whole number.
        const bool whole = (type == SQL_NUMERIC || type == SQL_DECIMAL) && digits == 0;
        columns.push_back({fromWide(name, shown), whole ? kWholeDecimal : type});
    }
    return columns;
}

std::vector<std::string> Statement::columnNames() {
    std::vector<std::string> names;
    for (auto &column : describe())
        names.push_back(std::move(column.name));
    return names;
}

DbRowSet Statement::fetchAll(std::size_t hidden, const DbQueryLimits &limits) {
    DbRowSet rows;
    ReadBudget budget(limits);
    const std::vector<ColumnInfo> columns = describe();
    for (std::size_t c = 0; c < columns.size(); ++c)
        rows.columns.push_back({columns[c].name, c < hidden});
    if (columns.empty())
        return rows; // a statement that changes rows reads none
    for (;;) {
        SQLRETURN rc = SQLFetch(m_stmt.get());
        if (rc == SQL_NO_DATA)
            break;
        m_stmt.check(rc, "Reading a row");
        if (!budget.roomForRow()) {
            // The rest is never read: closing the cursor lets the driver drop it.
            const std::lock_guard<std::mutex> closing(m_closing);
            SQLFreeStmt(m_stmt.get(), SQL_CLOSE);
            rows.cut = true;
            break;
        }
        budget.countRow();
        std::vector<DbValue> row;
        row.reserve(columns.size());
        for (std::size_t c = 0; c < columns.size(); ++c)
            row.push_back(readValue(static_cast<SQLUSMALLINT>(c + 1), columns[c].type, budget));
        rows.rows.push_back(std::move(row));
    }
    return rows;
}

bool Statement::fetchEach(const std::function<bool(const std::vector<DbValue> &)> &row) {
    static const DbQueryLimits kNone;
    ReadBudget budget(kNone);
    const std::vector<ColumnInfo> columns = describe();
    std::vector<DbValue> values(columns.size());
    for (;;) {
        SQLRETURN rc = SQLFetch(m_stmt.get());
        if (rc == SQL_NO_DATA)
            return true;
        m_stmt.check(rc, "Reading a row");
        for (std::size_t c = 0; c < columns.size(); ++c)
            values[c] = readValue(static_cast<SQLUSMALLINT>(c + 1), columns[c].type, budget);
        if (!row(values)) {
            // The rest is never read: closing the cursor lets the driver drop it.
            const std::lock_guard<std::mutex> closing(m_closing);
            SQLFreeStmt(m_stmt.get(), SQL_CLOSE);
            return false;
        }
    }
}

DbValue Statement::readValue(SQLUSMALLINT column, SQLSMALLINT sqlType, ReadBudget &budget) {
    SQLLEN indicator = 0;
    if (sqlType == kWholeDecimal || isWholeNumber(sqlType)) {
        std::int64_t value = 0;
        m_stmt.check(SQLGetData(m_stmt.get(), column, SQL_C_SBIGINT, &value, 0, &indicator),
                     "Reading a value");
        return indicator == SQL_NULL_DATA ? DbValue() : DbValue(value);
    }
    if (isFraction(sqlType)) {
        double value = 0;
        m_stmt.check(SQLGetData(m_stmt.get(), column, SQL_C_DOUBLE, &value, 0, &indicator),
                     "Reading a value");
        return indicator == SQL_NULL_DATA ? DbValue() : DbValue(value);
    }
    bool isNull = false;
    std::string text = readText(column, isNull, budget);
    if (isNull)
        return DbValue();
    // A GUID reads as the system writes it: braced, upper case.
    if (sqlType == SQL_GUID && !text.empty() && text.front() != '{')
        text = "{" + upperAscii(text) + "}";
    return DbValue(std::move(text));
}

std::string Statement::readText(SQLUSMALLINT column, bool &isNull, ReadBudget &budget) {
    std::basic_string<SQLWCHAR> whole;
    std::size_t valueBytes = 0;
    SQLWCHAR chunk[2048];
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc =
            SQLGetData(m_stmt.get(), column, SQL_C_WCHAR, chunk, sizeof(chunk), &indicator);
        if (rc == SQL_NO_DATA)
            break;
        m_stmt.check(rc, "Reading a value");
        if (indicator == SQL_NULL_DATA) {
            isNull = true;
            return {};
        }
        const std::size_t room = std::size(chunk) - 1; // the driver ends each part with a zero
        const std::size_t got =
            indicator == SQL_NO_TOTAL || indicator < 0
                ? room
                : std::min(room, static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR));
        whole.append(chunk, got);
        budget.countPart(valueBytes, got * sizeof(SQLWCHAR));
        if (rc == SQL_SUCCESS)
            break;
    }
    return fromWide(whole.data(), whole.size());
}

bool Statement::nextResult() {
    SQLRETURN rc = SQLMoreResults(m_stmt.get());
    if (rc == SQL_NO_DATA)
        return false;
    m_stmt.check(rc, "Reading the next result");
    return true;
}

std::string Statement::baseTable() {
    std::string table;
    const SQLSMALLINT n = columnCount();
    for (SQLSMALLINT c = 1; c <= n; ++c) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLColAttributeW(m_stmt.get(), static_cast<SQLUSMALLINT>(c),
                                            SQL_DESC_BASE_TABLE_NAME, name, sizeof name, &length,
                                            nullptr)))
            return {};
        const auto units = std::min<std::size_t>(
            static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / sizeof(SQLWCHAR),
            std::size(name) - 1);
        const std::string column = fromWide(name, units);
        if (column.empty() || (!table.empty() && !equalsIgnoreCase(column, table)))
            return {};
        table = column;
    }
    return table;
}

void Statement::cancel() {
    const std::lock_guard<std::mutex> closing(m_closing);
    SQLCancel(m_stmt.get());
}

void Statement::drain() {
    while (nextResult()) {
    }
}

} // namespace zeph::odbc
