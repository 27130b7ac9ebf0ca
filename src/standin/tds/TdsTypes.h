#pragma once
// The SQL Server data types of values a client sends (remote procedure call parameters) and the
// server sends back (output parameters): their TYPE_INFO and value bytes, read into the
// stand-in database's values with their meaning kept, and written back in the type the client
// declared.
//
// The stand-in database has whole numbers, floating-point numbers, texts and byte strings.
// Money and decimals become numbers; dates and times become texts in the form the stand-in
// stores them ("2024-01-02 03:04:05.123", the fraction without trailing zeros, a time zone
// offset as " +01:00"), so that they compare as the server's own dates do; a GUID becomes its
// braced text; binary values stay bytes.

#include "TdsBytes.h"
#include "platform/Database.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zeph::tds {

/// A value's type as TDS tells it.
enum class SqlKind {
    Null,
    Bit,
    TinyInt,
    SmallInt,
    Int,
    BigInt,
    Real,
    Float,
    Decimal,
    SmallMoney,
    Money,
    Text,   // char, varchar, text
    NText,  // nchar, nvarchar, ntext, xml
    Binary, // binary, varbinary, image
    Guid,
    Date,
    Time,
    SmallDateTime,
    DateTime,
    DateTime2,
    DateTimeOffset,
};

struct SqlType {
    SqlKind kind = SqlKind::Null;
    std::uint8_t precision = 0; // decimal
    std::uint8_t scale = 0;     // decimal, time, datetime2, datetimeoffset
};

struct TypedValue {
    SqlType type;
    DbValue value;
};

/// A request that is well framed but that this server cannot take (an unknown or unsupported
/// type): the request is refused with an error, and the session goes on.
class UnsupportedRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Reads a parameter's TYPE_INFO and value. Throws ProtocolError for malformed bytes and
/// UnsupportedRequest for a type this server does not take (user-defined types, table-valued
/// parameters, sql_variant).
TypedValue readTypedValue(ByteReader &in);

/// Writes TYPE_INFO and the value of `value` as `type` (an output parameter's value). A value
/// that does not convert to the type travels as NULL.
void writeTypedValue(ByteWriter &out, const SqlType &type, const DbValue &value);

/// The texts dates and times are kept as (see above), from their parts; `fraction` counts
/// 10^-digits of a second.
std::string dateText(std::int64_t daysSinceYear1);
std::string timeText(std::uint64_t fraction, int digits);

/// The parts of a date and time text in the stand-in's form: days since 0001-01-01, 100-ns
/// units since midnight, and an offset in minutes. Nothing when the text is not such a date.
struct DateParts {
    std::int64_t days = 0;
    std::uint64_t ticks = 0; // 100 ns
    int offsetMinutes = 0;
    bool hasDate = false;
    bool hasTime = false;
};
std::optional<DateParts> parseDateText(std::string_view text);

} // namespace zeph::tds
