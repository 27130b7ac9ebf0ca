#pragma once
// T-SQL's meaning on the stand-in's database. An operator's query (the advanced search,
// zephrane-cli --where, a SELECT a client sends over TDS) is T-SQL; the stand-in's database is
// SQLite, whose meaning differs in many places (a date is text, '+' adds strings as numbers,
// 1/0 is NULL, 0x41 is a number). A query is therefore read whole, every expression typed as
// SQL Server types it, and written out again as SQLite text that calls the tsql_* functions
// (installed on every handle of the database) wherever the two differ. What is not understood is
// refused with SQL Server's error number and words, never run with SQLite's meaning.
//
// The values' side (conversions, dates, arithmetic) is here too, in standard C++, so that the
// functions the database calls and the tests share one implementation.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zeph::sqltext {

/// A statement or value refused as SQL Server refuses it: its error number and message.
class TsqlError : public std::runtime_error {
public:
    TsqlError(int number, const std::string &text)
        : std::runtime_error(text)
        , m_number(number) {}
    int number() const { return m_number; }

private:
    int m_number;
};

/// SQL Server's numbers for the refusals and failures of T-SQL.
namespace tsqlerr {
inline constexpr int kSyntax = 102;        // Incorrect syntax near '...'.
inline constexpr int kUndeclared = 137;    // Must declare the scalar variable "@...".
inline constexpr int kNotFunction = 195;   // '...' is not a recognized built-in function name.
inline constexpr int kInvalidObject = 208; // Invalid object name '...'.
inline constexpr int kInvalidColumn = 207; // Invalid column name '...'.
inline constexpr int kDateFormat = 241;    // Conversion failed when converting date and/or ...
inline constexpr int kDateRange = 242;     // ... resulted in an out-of-range value.
inline constexpr int kNotType = 243;       // Type ... is not a defined system type.
inline constexpr int kConversion = 245;    // Conversion failed when converting the varchar ...
inline constexpr int kOperandClash = 206;  // Operand type clash: ... is incompatible with ...
inline constexpr int kBadOperand = 8117;   // Operand data type ... is invalid for ... operator.
inline constexpr int kStyle = 281;         // ... is not a valid style number when converting ...
inline constexpr int kExplicitConversion = 529; // Explicit conversion from ... is not allowed.
inline constexpr int kNotCondition = 4145;      // An expression of non-boolean type specified ...
inline constexpr int kNumeric = 8114;           // Error converting data type varchar to numeric.
inline constexpr int kOverflow = 8115;          // Arithmetic overflow error converting ...
inline constexpr int kDivideByZero = 8134;      // Divide by zero error encountered.
inline constexpr int kUnsupported = 40517;      // Keyword or statement option is not supported.
} // namespace tsqlerr

/// The types an expression has, as far as the stand-in tells them apart.
enum class TsqlType {
    Unknown, // a column of no declared type, a parameter: decided by the value
    Null,    // the literal NULL
    Int,     // int, bigint, smallint, tinyint, bit
    Decimal, // decimal, numeric, money
    Float,   // float, real
    Text,    // char, varchar, nchar, nvarchar, text
    Binary,  // binary, varbinary
    DateTime,
    DateTime2,
    SmallDateTime,
    Date,
};

bool isDateType(TsqlType t);
bool isNumericType(TsqlType t);

/// A value as the database holds it while a query runs.
struct TsqlValue {
    enum Kind { Null, Int, Float, Text, Blob } kind = Null;
    std::int64_t i = 0;
    double f = 0;
    std::string s; // text, or a blob's bytes

    static TsqlValue null() { return {}; }
    static TsqlValue integer(std::int64_t v) { return {Int, v, 0, {}}; }
    static TsqlValue real(double v) { return {Float, 0, v, {}}; }
    static TsqlValue text(std::string v) { return {Text, 0, 0, std::move(v)}; }
    static TsqlValue blob(std::string v) { return {Blob, 0, 0, std::move(v)}; }
    bool operator==(const TsqlValue &o) const {
        return kind == o.kind && i == o.i && f == o.f && s == o.s;
    }
};

/// A date and time as SQL Server counts it.
struct TsqlDateTime {
    std::int64_t days = 0;  // since 0001-01-01
    std::int64_t ticks = 0; // 100 ns since midnight
};

/// A CAST or CONVERT's target: the type, its length (-1: the type's default; 0: max) and the
/// style of CONVERT (-1: none).
struct TsqlTarget {
    TsqlType type = TsqlType::Text;
    std::string name; // lower case, as SQL Server names it in messages ("int", "varchar")
    int length = -1;
    int scale = 0;      // decimal, numeric: digits after the point
    bool fixed = false; // char, nchar, binary: padded to the length
    int style = -1;
};

/// The target a type name stands for ("varchar" with length 20 for varchar(20); decimal's
/// precision and scale as length and scale). Throws TsqlError 243 for a name that is no type.
TsqlTarget targetOf(std::string_view typeName, int length = -1, int scale = -1);

/// Reads a date and time from text as SQL Server reads it with us_english (mdy) settings, for a
/// value of `type` (datetime takes 3 digits of a second, datetime2 7). Throws TsqlError 241 for a
/// text that is not one, 242 for a datetime out of its range (`type` says which).
TsqlDateTime parseDateTime(std::string_view text, TsqlType type, bool dayFirst = false);
/// The text SQL Server shows for a value of the date type (its ODBC canonical form).
std::string formatDateTime(const TsqlDateTime &dt, TsqlType type);
/// A date and time from a value of the given static type (a date value is canonical text).
TsqlDateTime dateTimeOf(const TsqlValue &v, TsqlType staticType, TsqlType target);

/// A value converted as CAST/CONVERT converts it; `from` is the value's type as the query
/// states it (a date column, a date literal's cast ...). Throws TsqlError.
TsqlValue convert(const TsqlValue &v, TsqlType from, const TsqlTarget &to);
/// A value made a number for arithmetic or a comparison with a number (text is read as int,
/// or as the other side's type). Throws TsqlError 245 / 8114.
TsqlValue toNumber(const TsqlValue &v, bool asDecimal);
/// The text of a date value that orders as the date does, for comparisons.
TsqlValue dateKey(const TsqlValue &v, TsqlType staticType);

/// '+' of two values whose types were not known when the query was read: strings are joined,
/// numbers added, a string beside a number is made a number first.
TsqlValue add(const TsqlValue &a, const TsqlValue &b);
/// '-', '*', '/', '%' on values ('/' of integers truncates; by zero: error 8134).
TsqlValue arithmetic(char op, const TsqlValue &a, const TsqlValue &b);
/// LEN: characters without the trailing blanks.
TsqlValue length(const TsqlValue &v);
/// DATEADD, DATEDIFF, DATEPART with a part's name (year, month, day, hour, minute, second...).
TsqlValue dateAdd(std::string_view part, const TsqlValue &n, const TsqlValue &d, TsqlType type);
TsqlValue dateDiff(std::string_view part, const TsqlValue &a, TsqlType aType, const TsqlValue &b,
                   TsqlType bType);
TsqlValue datePart(std::string_view part, const TsqlValue &d, TsqlType type);
/// LIKE as SQL Server matches it: % and _, [abc], [a-z] and [^abc], letter case ignored
/// (A-Z), `escape` (0: none) before a character that stands for itself.
bool likeMatches(std::string_view text, std::string_view pattern, char escape);
/// The machine's local time now, as GETDATE() (datetime) or SYSDATETIME() (datetime2) shows it.
std::string now(TsqlType type);

/// A function's failure as the database carries it in its message, and the failure back.
std::string carriedError(const TsqlError &e);
std::optional<TsqlError> carriedErrorOf(std::string_view message);

// --- queries ---------------------------------------------------------------------------------

/// What the translation knows of the database: the declared type of each column by its name
/// (upper case). A name that different tables declare differently is Unknown.
struct TsqlCatalogue {
    std::unordered_map<std::string, TsqlType> columns;
    TsqlType columnType(std::string_view name) const;
};

/// A query in the database's own dialect. Each "?" of `sql` stands for one entry of
/// `variables`, in order: a variable ("@P1"), "@@SERVERNAME" or "DB_NAME()".
struct TsqlQuery {
    std::string sql;
    std::vector<std::string> variables;
};

/// Translates one SELECT statement (WITH ... SELECT, UNION ..., ORDER BY ...). Throws TsqlError
/// for what SQL Server refuses or the stand-in does not run.
TsqlQuery translateSelect(std::string_view text, const TsqlCatalogue &catalogue);

/// SQL Server's number and words for a failure the stand-in's database reported in its own
/// words ("no such table: X" is 208 "Invalid object name 'X'."); nothing when it has none.
/// `statement` is the failed statement's first word (INSERT, UPDATE ...); `isPrimaryKey` tells
/// whether a table's column is its primary key.
std::optional<TsqlError> serverErrorOf(
    std::string_view databaseMessage, std::string_view statement = {},
    const std::function<bool(const std::string &, const std::string &)> &isPrimaryKey = {});

} // namespace zeph::sqltext
