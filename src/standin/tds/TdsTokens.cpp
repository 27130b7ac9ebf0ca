#include "TdsTokens.h"

#include "platform/AsciiText.h"
#include "platform/sqltext/Tsql.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>

namespace zeph::tds {
namespace {

constexpr std::uint8_t kLoginAck = 0xAD;
constexpr std::uint8_t kEnvChange = 0xE3;
constexpr std::uint8_t kError = 0xAA;
constexpr std::uint8_t kInfo = 0xAB;
constexpr std::uint8_t kColMetadata = 0x81;
constexpr std::uint8_t kRow = 0xD1;
constexpr std::uint8_t kReturnStatus = 0x79;
constexpr std::uint8_t kReturnValue = 0xAC;
constexpr std::uint8_t kTabName = 0xA4;
constexpr std::uint8_t kColInfo = 0xA5;
constexpr std::uint8_t kKeyColumn = 0x08;

constexpr std::uint8_t kIntN = 0x26;
constexpr std::uint8_t kVarBinary = 0xA5;
constexpr std::uint8_t kNText = 0x63;
constexpr std::uint8_t kImage = 0x22;
// Byte strings of up to this many bytes travel as varbinary(8000); longer ones as
// varbinary(max).
constexpr std::size_t kShortBinary = 8000;
constexpr std::uint8_t kFltN = 0x6D;
constexpr std::uint8_t kNVarChar = 0xE7;
constexpr std::uint16_t kNullableFlag = 0x0001;
constexpr std::uint16_t kMaxLength = 0xFFFF;
// Texts of up to this many UTF-16 units travel as nvarchar(4000); longer ones as nvarchar(max).
constexpr std::size_t kShortTextUnits = 4000;
constexpr std::uint64_t kPlpNull = ~std::uint64_t{0};

// Latin1_General_CI_AS: locale 1033, case-insensitive, accent-sensitive, sort order 52.
const std::string kCollation("\x09\x04\xD0\x00\x34", 5);

std::string textOf(const DbValue &value) {
    if (auto s = std::get_if<std::string>(&value))
        return *s;
    if (auto i = std::get_if<std::int64_t>(&value))
        return std::to_string(*i);
    if (auto d = std::get_if<double>(&value)) {
        char buffer[32];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d);
        return ec == std::errc() ? std::string(buffer, end) : std::string();
    }
    return {};
}

const char *sqlTypeName(ColumnType type) {
    switch (type) {
    case ColumnType::Int:
        return "int";
    case ColumnType::BigInt:
        return "bigint";
    default:
        return "float";
    }
}

// A value in its column's type: whole numbers and numbers written as text go into a number
// column, any value into a text or byte column; what SQL Server could not convert is refused
// with its error, as when a column's values change type in the middle of its result.
DbValue fitted(ColumnType type, const DbValue &value) {
    const bool whole = type == ColumnType::Int || type == ColumnType::BigInt;
    if (!whole && type != ColumnType::Float)
        return value;
    if (std::holds_alternative<std::monostate>(value))
        return value;
    std::int64_t number = 0;
    if (auto i = std::get_if<std::int64_t>(&value)) {
        number = *i;
    } else if (auto d = std::get_if<double>(&value)) {
        if (!whole)
            return value;
        if (!(*d > -9.3e18 && *d < 9.3e18))
            throw sqltext::TsqlError(sqltext::tsqlerr::kOverflow,
                                     std::string("Arithmetic overflow error converting float to "
                                                 "data type ") +
                                         sqlTypeName(type) + ".");
        number = static_cast<std::int64_t>(*d); // as CAST does: the fraction is dropped
    } else {
        const std::string text(trimBlanks(std::get<std::string>(value)));
        if (whole) {
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
            if (text.empty() || ec != std::errc() || end != text.data() + text.size())
                throw sqltext::TsqlError(sqltext::tsqlerr::kConversion,
                                         "Conversion failed when converting the nvarchar value '" +
                                             std::get<std::string>(value) + "' to data type " +
                                             sqlTypeName(type) + ".");
        } else {
            double real = 0;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), real);
            if (text.empty() || ec != std::errc() || end != text.data() + text.size())
                throw sqltext::TsqlError(sqltext::tsqlerr::kNumeric,
                                         "Error converting data type nvarchar to float.");
            return real;
        }
    }
    if (type == ColumnType::Float)
        return static_cast<double>(number);
    if (type == ColumnType::Int && (number < INT32_MIN || number > INT32_MAX))
        throw sqltext::TsqlError(
            sqltext::tsqlerr::kOverflow,
            "Arithmetic overflow error converting expression to data type int.");
    return number;
}

} // namespace

std::vector<ColumnType> columnTypes(const DbRowSet &rows, const std::vector<bool> &binary) {
    std::vector<ColumnType> types;
    for (std::size_t c = 0; c < rows.columns.size(); ++c) {
        bool anyInt = false, anyFloat = false, anyText = false, longText = false, wideInt = false;
        for (const auto &row : rows.rows) {
            if (c >= row.size())
                continue;
            const DbValue &v = row[c];
            if (auto i = std::get_if<std::int64_t>(&v)) {
                anyInt = true;
                wideInt |= *i < INT32_MIN || *i > INT32_MAX;
            }
            anyFloat |= std::holds_alternative<double>(v);
            if (auto s = std::get_if<std::string>(&v)) {
                anyText = true;
                longText |= s->size() > kShortTextUnits; // a cheap bound on the UTF-16 length
            }
        }
        if (c < binary.size() && binary[c]) {
            bool longBinary = false;
            for (const auto &row : rows.rows) {
                if (c < row.size())
                    if (auto s = std::get_if<std::string>(&row[c]))
                        longBinary |= s->size() > kShortBinary;
            }
            types.push_back(longBinary ? ColumnType::VarBinaryMax : ColumnType::VarBinary);
            continue;
        }
        ColumnType type = anyText || (!anyInt && !anyFloat) ? ColumnType::NVarChar
                          : anyFloat                        ? ColumnType::Float
                          : wideInt                         ? ColumnType::BigInt
                                                            : ColumnType::Int;
        if (type == ColumnType::NVarChar && longText)
            type = ColumnType::NVarCharMax;
        types.push_back(type);
    }
    return types;
}

void TokenWriter::loginAck(std::string_view program) {
    m_out.u8(kLoginAck);
    const std::size_t at = m_out.size();
    m_out.u16(0).u8(1); // SQL_TSQL
    m_out.u8(static_cast<std::uint8_t>(m_version >> 24))
        .u8(static_cast<std::uint8_t>(m_version >> 16))
        .u8(static_cast<std::uint8_t>(m_version >> 8))
        .u8(static_cast<std::uint8_t>(m_version));
    m_out.bVarchar(program).u8(15).u8(0).u8(0x07).u8(0xD0);
    m_out.patchLength16(at);
}

void TokenWriter::envChange(std::uint8_t type, std::string_view newValue,
                            std::string_view oldValue) {
    m_out.u8(kEnvChange);
    const std::size_t at = m_out.size();
    m_out.u16(0).u8(type).bVarchar(newValue).bVarchar(oldValue);
    m_out.patchLength16(at);
}

void TokenWriter::envCollation() {
    m_out.u8(kEnvChange);
    const std::size_t at = m_out.size();
    m_out.u16(0).u8(7).u8(static_cast<std::uint8_t>(kCollation.size())).bytes(kCollation).u8(0);
    m_out.patchLength16(at);
}

void TokenWriter::envTransaction(std::uint8_t type, std::uint64_t descriptor) {
    m_out.u8(kEnvChange);
    const std::size_t at = m_out.size();
    m_out.u16(0).u8(type);
    if (type == 8)
        m_out.u8(8).u64(descriptor).u8(0);
    else
        m_out.u8(0).u8(8).u64(descriptor);
    m_out.patchLength16(at);
}

void TokenWriter::message(const ServerMessage &m, bool isError) {
    m_out.u8(isError ? kError : kInfo);
    const std::size_t at = m_out.size();
    m_out.u16(0).u32(static_cast<std::uint32_t>(m.number)).u8(m.state).u8(m.severity);
    m_out.usVarchar(m.text).bVarchar(m_server).bVarchar(m.procedure);
    if (wide())
        m_out.u32(1);
    else
        m_out.u16(1);
    m_out.patchLength16(at);
}

std::vector<ColumnType> streamedColumnTypes(const DbRowSet &firstRows,
                                            const std::vector<bool> &binary) {
    std::vector<ColumnType> types = columnTypes(firstRows, binary);
    for (auto &t : types) {
        if (t == ColumnType::Int)
            t = ColumnType::BigInt;
        else if (t == ColumnType::NVarChar)
            t = ColumnType::NVarCharMax;
        else if (t == ColumnType::VarBinary)
            t = ColumnType::VarBinaryMax;
    }
    return types;
}

std::vector<ColumnType> TokenWriter::sentTypes(std::vector<ColumnType> types) const {
    if (!wide()) {
        // TDS 7.1 has no (max) types: long values travel as ntext and image.
        for (auto &t : types) {
            if (t == ColumnType::NVarCharMax)
                t = ColumnType::NText;
            if (t == ColumnType::VarBinaryMax)
                t = ColumnType::Image;
        }
    }
    return types;
}

void TokenWriter::rowSet(const DbRowSet &rows, const std::vector<bool> &binary) {
    const std::vector<ColumnType> types = columnTypes(rows, binary);
    columnMetadata(rows, types);
    rowTokens(rows, types);
}

void TokenWriter::columnMetadata(const DbRowSet &rows, const std::vector<ColumnType> &declared) {
    const std::vector<ColumnType> types = sentTypes(declared);
    m_out.u8(kColMetadata).u16(static_cast<std::uint16_t>(rows.columns.size()));
    for (std::size_t c = 0; c < rows.columns.size(); ++c) {
        if (wide())
            m_out.u32(0);
        else
            m_out.u16(0);
        m_out.u16(kNullableFlag);
        switch (types[c]) {
        case ColumnType::Int:
            m_out.u8(kIntN).u8(4);
            break;
        case ColumnType::VarBinary:
            m_out.u8(kVarBinary).u16(kShortBinary);
            break;
        case ColumnType::VarBinaryMax:
            m_out.u8(kVarBinary).u16(kMaxLength);
            break;
        case ColumnType::BigInt:
            m_out.u8(kIntN).u8(8);
            break;
        case ColumnType::NText:
        case ColumnType::Image:
            // The long types name their table; these values have none.
            m_out.u8(types[c] == ColumnType::NText ? kNText : kImage).u32(0x7FFFFFFF);
            if (types[c] == ColumnType::NText)
                m_out.bytes(kCollation);
            m_out.u16(0);
            break;
        case ColumnType::Float:
            m_out.u8(kFltN).u8(8);
            break;
        case ColumnType::NVarChar:
            m_out.u8(kNVarChar).u16(kShortTextUnits * 2).bytes(kCollation);
            break;
        case ColumnType::NVarCharMax:
            m_out.u8(kNVarChar).u16(kMaxLength).bytes(kCollation);
            break;
        }
        m_out.bVarchar(rows.columns[c].name);
    }
    if (!rows.updateTarget.empty() && wide())
        baseTable(rows);
}

void TokenWriter::rowTokens(const DbRowSet &rows, const std::vector<ColumnType> &declared) {
    const std::vector<ColumnType> types = sentTypes(declared);
    for (const auto &row : rows.rows) {
        m_out.u8(kRow);
        for (std::size_t c = 0; c < types.size(); ++c)
            columnValue(types[c], c < row.size() ? fitted(types[c], row[c]) : DbValue());
    }
}

// The table the rows are read from and which columns are its key, as SQL Server tells a client
// of a result it may update: the client learns each column's base table from these.
void TokenWriter::baseTable(const DbRowSet &rows) {
    m_out.u8(kTabName);
    std::size_t at = m_out.size();
    m_out.u16(0).u8(1).usVarchar(rows.updateTarget);
    m_out.patchLength16(at);
    m_out.u8(kColInfo);
    at = m_out.size();
    m_out.u16(0);
    for (std::size_t c = 0; c < rows.columns.size() && c < 255; ++c) {
        const bool key =
            std::any_of(rows.keyColumns.begin(), rows.keyColumns.end(), [&](const std::string &k) {
                return equalsIgnoreCase(k, rows.columns[c].name);
            });
        m_out.u8(static_cast<std::uint8_t>(c + 1)).u8(1).u8(key ? kKeyColumn : 0);
    }
    m_out.patchLength16(at);
}

void TokenWriter::columnValue(ColumnType type, const DbValue &value) {
    const bool null = std::holds_alternative<std::monostate>(value);
    switch (type) {
    case ColumnType::Int:
        if (null)
            m_out.u8(0);
        else
            m_out.u8(4).u32(static_cast<std::uint32_t>(std::get<std::int64_t>(value)));
        return;
    case ColumnType::VarBinary: {
        if (null) {
            m_out.u16(kMaxLength);
            return;
        }
        const std::string bytes = textOf(value);
        const std::size_t size = std::min(bytes.size(), kShortBinary);
        m_out.u16(static_cast<std::uint16_t>(size)).bytes(std::string_view(bytes).substr(0, size));
        return;
    }
    case ColumnType::VarBinaryMax: {
        if (null) {
            m_out.u64(kPlpNull);
            return;
        }
        const std::string bytes = textOf(value);
        m_out.u64(bytes.size());
        if (!bytes.empty())
            m_out.u32(static_cast<std::uint32_t>(bytes.size())).bytes(bytes);
        m_out.u32(0);
        return;
    }
    case ColumnType::NText:
    case ColumnType::Image: {
        if (null) {
            m_out.u8(0); // no text pointer
            return;
        }
        const std::string bytes =
            type == ColumnType::NText ? toUtf16(textOf(value)) : textOf(value);
        m_out.u8(16).bytes(std::string(16, '\0')).bytes(std::string(8, '\0'));
        m_out.u32(static_cast<std::uint32_t>(bytes.size())).bytes(bytes);
        return;
    }
    case ColumnType::BigInt:
        if (null)
            m_out.u8(0);
        else
            m_out.u8(8).u64(static_cast<std::uint64_t>(std::get<std::int64_t>(value)));
        return;
    case ColumnType::Float: {
        if (null) {
            m_out.u8(0);
            return;
        }
        const double d = std::holds_alternative<double>(value)
                             ? std::get<double>(value)
                             : static_cast<double>(std::get<std::int64_t>(value));
        m_out.u8(8).u64(std::bit_cast<std::uint64_t>(d));
        return;
    }
    case ColumnType::NVarChar: {
        if (null) {
            m_out.u16(kMaxLength);
            return;
        }
        const std::string bytes = toUtf16(textOf(value));
        // A text longer than the column's 4000 units is cut rather than breaking the stream.
        const std::size_t size = std::min<std::size_t>(bytes.size(), kShortTextUnits * 2);
        m_out.u16(static_cast<std::uint16_t>(size)).bytes(std::string_view(bytes).substr(0, size));
        return;
    }
    case ColumnType::NVarCharMax: {
        if (null) {
            m_out.u64(kPlpNull);
            return;
        }
        const std::string bytes = toUtf16(textOf(value));
        m_out.u64(bytes.size());
        if (!bytes.empty())
            m_out.u32(static_cast<std::uint32_t>(bytes.size())).bytes(bytes);
        m_out.u32(0);
        return;
    }
    }
}

void TokenWriter::doneToken(std::uint8_t kind, std::uint16_t status, std::uint16_t command,
                            std::uint64_t rows) {
    m_out.u8(kind).u16(status).u16(command);
    if (wide())
        m_out.u64(rows);
    else
        m_out.u32(static_cast<std::uint32_t>(rows));
}

void TokenWriter::returnStatus(std::int32_t status) {
    m_out.u8(kReturnStatus).u32(static_cast<std::uint32_t>(status));
}

void TokenWriter::returnInt(std::uint16_t ordinal, std::string_view name,
                            std::optional<std::int32_t> value) {
    returnValue(ordinal, name, SqlType{SqlKind::Int},
                value ? DbValue(static_cast<std::int64_t>(*value)) : DbValue());
}

void TokenWriter::returnValue(std::uint16_t ordinal, std::string_view name, const SqlType &type,
                              const DbValue &value) {
    m_out.u8(kReturnValue).u16(ordinal).bVarchar(name).u8(0x01);
    if (wide())
        m_out.u32(0);
    else
        m_out.u16(0);
    m_out.u16(kNullableFlag);
    SqlType sent = type;
    if (!wide()) {
        // TDS 7.1 has neither the (max) types nor the newer dates: a value goes as text.
        const bool newer = type.kind == SqlKind::Null || type.kind == SqlKind::Text ||
                           type.kind == SqlKind::NText || type.kind == SqlKind::Binary ||
                           type.kind == SqlKind::Date || type.kind == SqlKind::Time ||
                           type.kind == SqlKind::DateTime2 ||
                           type.kind == SqlKind::DateTimeOffset ||
                           type.kind == SqlKind::SmallDateTime || type.kind == SqlKind::DateTime;
        if (newer) {
            m_out.u8(kNVarChar).u16(kShortTextUnits * 2).bytes(kCollation);
            if (std::holds_alternative<std::monostate>(value)) {
                m_out.u16(kMaxLength);
                return;
            }
            const std::string bytes = toUtf16(textOf(value));
            const std::size_t size = std::min<std::size_t>(bytes.size(), kShortTextUnits * 2);
            m_out.u16(static_cast<std::uint16_t>(size))
                .bytes(std::string_view(bytes).substr(0, size));
            return;
        }
    }
    ByteWriter typed;
    writeTypedValue(typed, sent, value);
    m_out.bytes(typed.data());
}

} // namespace zeph::tds
