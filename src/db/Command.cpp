#include "Command.h"

#include "AdoErrors.h"

#include <cctype>
#include <cstdint>

namespace zeph::db {
namespace {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" or the same without braces.
bool isGuidText(std::string_view s) {
    if (s.size() == 38) {
        if (s.front() != '{' || s.back() != '}')
            return false;
        s = s.substr(1, 36);
    }
    if (s.size() != 36)
        return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? s[i] != '-' : !std::isxdigit(static_cast<unsigned char>(s[i])))
            return false;
    }
    return true;
}

DbValue convert(DataTypeEnum type, const DbValue &value) {
    if (isNull(value))
        return value;
    try {
        switch (type) {
        case adInteger: {
            std::int64_t n = valueLong(value);
            if (n < INT32_MIN || n > INT32_MAX) // adInteger is a 4-byte integer
                throwAdo(adoerr::kDataConversion);
            return DbValue(n);
        }
        case adVarChar:
            return DbValue(valueText(value));
        case adGUID: {
            const auto *text = std::get_if<std::string>(&value);
            if (!text || !isGuidText(*text))
                throwAdo(adoerr::kDataConversion);
            return value;
        }
        }
    } catch (const Error &) {
        throwAdo(adoerr::kDataConversion);
    }
    throwAdo(adoerr::kDataConversion);
}

DbParamType paramType(DataTypeEnum type) {
    switch (type) {
    case adInteger:
        return DbParamType::Integer;
    case adGUID:
        return DbParamType::Guid;
    case adVarChar:
        break;
    }
    return DbParamType::Text;
}

} // namespace

Command::Command(IDatabase &database)
    : m_database(&database) {}

void Command::ActiveConnection(const std::string &connectionText) {
    m_connection = m_database->connect(connectionText);
}

void Command::ActiveConnection(const Connection &connection) {
    m_connection = connection.handle();
}

void Command::CommandText(std::string text) {
    m_text = std::move(text);
    m_params.clear();
}

void Command::AppendParameter(const std::string &name, DataTypeEnum type, const DbValue &value) {
    m_params.push_back(DbParam{name, paramType(type), convert(type, value)});
}

const std::shared_ptr<IDbConnection> &Command::connection() const {
    if (!m_connection)
        throwAdo(adoerr::kObjectClosed);
    return m_connection;
}

std::optional<DbRowSet> Command::run(bool readOnly) {
    const auto &conn = connection();
    if (m_text.empty())
        throwAdo(adoerr::kIllegalOperation);
    if (m_type == adCmdStoredProc)
        return conn->callProcedure(m_text, m_params);
    std::vector<DbValue> values;
    values.reserve(m_params.size());
    for (const auto &p : m_params)
        values.push_back(p.value);
    const bool limited = m_limits.timeoutSeconds > 0 || m_limits.maxRows > 0 ||
                         m_limits.maxValueBytes > 0 || m_limits.maxTotalBytes > 0 ||
                         m_limits.keepGoing;
    if (limited && readOnly)
        return conn->queryWithin(m_text, values, m_limits);
    return conn->query(m_text, values, readOnly);
}

Recordset Command::Execute(long *recordsAffected) {
    if (recordsAffected)
        *recordsAffected = -1;
    Recordset rs;
    rs.m_database = m_database;
    rs.Open(*this, adOpenForwardOnly, adLockReadOnly);
    return rs;
}

} // namespace zeph::db
