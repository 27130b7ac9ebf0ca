// T-SQL's values: conversions, dates and arithmetic as SQL Server does them.
#include "Tsql.h"

#include "platform/AsciiText.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <mutex>

namespace zeph::sqltext {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kTicksPerDay = 86'400 * kTicksPerSecond;

// Days from 1970-01-01 of a civil date (proleptic Gregorian), and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month, day;
};

Civil civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

const std::int64_t kDay1 = daysFromCivil(1, 1, 1);

std::int64_t dayNumber(std::int64_t y, unsigned m, unsigned d) {
    return daysFromCivil(y, m, d) - kDay1;
}

Civil civilOf(std::int64_t days) {
    return civilFromDays(days + kDay1);
}

bool leap(std::int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(std::int64_t y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

const char *typeName(TsqlType t) {
    switch (t) {
    case TsqlType::DateTime:
        return "datetime";
    case TsqlType::DateTime2:
        return "datetime2";
    case TsqlType::SmallDateTime:
        return "smalldatetime";
    case TsqlType::Date:
        return "date";
    case TsqlType::Int:
        return "int";
    case TsqlType::Decimal:
        return "numeric";
    case TsqlType::Float:
        return "float";
    case TsqlType::Binary:
        return "varbinary";
    default:
        return "varchar";
    }
}

[[noreturn]] void dateFormatError() {
    throw TsqlError(tsqlerr::kDateFormat,
                    "Conversion failed when converting date and/or time from character string.");
}

[[noreturn]] void dateRangeError(TsqlType type) {
    throw TsqlError(tsqlerr::kDateRange,
                    std::string("The conversion of a varchar data type to a ") + typeName(type) +
                        " data type resulted in an out-of-range value.");
}

[[noreturn]] void overflow(const char *type) {
    throw TsqlError(tsqlerr::kOverflow,
                    std::string("Arithmetic overflow error converting expression to data type ") +
                        type + ".");
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A run of digits at `at`; its value and how many there were.
int digitsAt(std::string_view s, std::size_t &at, std::int64_t &value, int most = 9) {
    int n = 0;
    value = 0;
    while (at < s.size() && isDigit(s[at]) && n < most) {
        value = value * 10 + (s[at] - '0');
        ++at;
        ++n;
    }
    return n;
}

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Rounds a time of day to what the type keeps: datetime to 1/300 s, smalldatetime to the
// minute. May give a whole day (the next midnight).
std::int64_t roundTicks(std::int64_t ticks, TsqlType type) {
    if (type == TsqlType::DateTime) {
        // Three-hundredths of a second, rounded half up on the milliseconds SQL Server reads.
        const std::int64_t ms = (ticks + 5000) / 10000;
        const std::int64_t units = (ms * 3 + 5) / 10;
        return units * kTicksPerSecond / 300;
    }
    if (type == TsqlType::SmallDateTime) {
        const std::int64_t minute = 60 * kTicksPerSecond;
        return (ticks + minute / 2 - 1) / minute * minute;
    }
    return ticks;
}

TsqlDateTime normalised(std::int64_t days, std::int64_t ticks, TsqlType type) {
    ticks = roundTicks(ticks, type);
    days += ticks / kTicksPerDay;
    ticks %= kTicksPerDay;
    if (type == TsqlType::Date)
        ticks = 0;
    return {days, ticks};
}

void checkRange(const TsqlDateTime &dt, TsqlType type) {
    const Civil c = civilOf(dt.days);
    if (c.year < 1 || c.year > 9999)
        dateRangeError(type);
    if (type == TsqlType::DateTime && c.year < 1753)
        dateRangeError(type);
    if (type == TsqlType::SmallDateTime &&
        (c.year < 1900 || dt.days > dayNumber(2079, 6, 6) ||
         (dt.days == dayNumber(2079, 6, 6) && dt.ticks > (23 * 60 + 59) * 60 * kTicksPerSecond)))
        dateRangeError(type);
}

const std::int64_t kDay1900 = dayNumber(1900, 1, 1);

std::string digits(std::int64_t v, int width) {
    std::string s = std::to_string(v);
    return std::string(static_cast<std::size_t>(std::max(0, width - int(s.size()))), '0') + s;
}

// Characters of UTF-8 text (continuation bytes are not counted).
std::size_t characters(std::string_view s) {
    std::size_t n = 0;
    for (char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// The first `count` characters of UTF-8 text.
std::string firstCharacters(std::string_view s, std::size_t count) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (n == count)
                return std::string(s.substr(0, i));
            ++n;
        }
    }
    return std::string(s);
}

std::string numberText(double f) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", f);
    return text;
}

std::int64_t bytesAsInteger(std::string_view bytes, std::size_t width) {
    if (bytes.size() > width)
        bytes = bytes.substr(bytes.size() - width);
    std::uint64_t v = 0;
    for (char c : bytes)
        v = (v << 8) | static_cast<unsigned char>(c);
    if (width < 8 && !bytes.empty() && bytes.size() == width &&
        (static_cast<unsigned char>(bytes.front()) & 0x80))
        v |= ~std::uint64_t{0} << (8 * width); // sign of a full-width negative value
    return static_cast<std::int64_t>(v);
}

std::string integerBytes(std::int64_t v, std::size_t width) {
    std::string bytes(width, '\0');
    for (std::size_t i = 0; i < width; ++i)
        bytes[width - 1 - i] = static_cast<char>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xFF);
    return bytes;
}

std::optional<std::int64_t> parseInteger(std::string_view s) {
    s = trimSpaces(s);
    if (s.empty())
        return 0; // SQL Server reads an empty string as 0
    std::size_t at = 0;
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        ++at;
    }
    if (at == s.size())
        return std::nullopt;
    std::uint64_t v = 0;
    for (; at < s.size(); ++at) {
        if (!isDigit(s[at]) || v > (std::numeric_limits<std::uint64_t>::max() - 9) / 10)
            return std::nullopt;
        v = v * 10 + static_cast<unsigned>(s[at] - '0');
    }
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + negative)
        return std::nullopt;
    return negative ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
}

std::optional<double> parseReal(std::string_view s) {
    s = trimSpaces(s);
    if (s.empty())
        return std::nullopt;
    std::size_t at = 0;
    if (s[0] == '+' || s[0] == '-')
        ++at;
    bool any = false;
    while (at < s.size() && isDigit(s[at])) {
        ++at;
        any = true;
    }
    if (at < s.size() && s[at] == '.') {
        ++at;
        while (at < s.size() && isDigit(s[at])) {
            ++at;
            any = true;
        }
    }
    if (!any)
        return std::nullopt;
    if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
        ++at;
        if (at < s.size() && (s[at] == '+' || s[at] == '-'))
            ++at;
        if (at == s.size())
            return std::nullopt;
        while (at < s.size() && isDigit(s[at]))
            ++at;
    }
    if (at != s.size())
        return std::nullopt;
    return std::strtod(std::string(s).c_str(), nullptr);
}

std::int64_t checkedWidth(std::int64_t v, const std::string &name) {
    std::int64_t low = std::numeric_limits<std::int64_t>::min();
    std::int64_t high = std::numeric_limits<std::int64_t>::max();
    if (name == "int") {
        low = std::numeric_limits<std::int32_t>::min();
        high = std::numeric_limits<std::int32_t>::max();
    } else if (name == "smallint") {
        low = -32768;
        high = 32767;
    } else if (name == "tinyint") {
        low = 0;
        high = 255;
    }
    if (v < low || v > high)
        overflow(name.c_str());
    return v;
}

std::string styled(const TsqlDateTime &dt, TsqlType type, int style) {
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const Civil c = civilOf(dt.days);
    const std::int64_t seconds = dt.ticks / kTicksPerSecond;
    const std::int64_t h = seconds / 3600, mi = seconds / 60 % 60, s = seconds % 60;
    const std::string Y = digits(c.year, 4), M = digits(c.month, 2), D = digits(c.day, 2),
                      YY = digits(c.year % 100, 2);
    const std::string time = digits(h, 2) + ":" + digits(mi, 2) + ":" + digits(s, 2);
    const bool dateOnly = type == TsqlType::Date;
    const std::string full = formatDateTime(dt, type);
    if (style < 0)
        style = (type == TsqlType::DateTime || type == TsqlType::SmallDateTime) ? 0 : 121;
    switch (style) {
    case 0:
    case 100: {
        std::string text = std::string(months[c.month - 1]) + " " + (c.day < 10 ? " " : "") +
                           std::to_string(c.day) + " " + Y;
        if (dateOnly)
            return text;
        const std::int64_t h12 = h % 12 == 0 ? 12 : h % 12;
        return text + " " + (h12 < 10 ? " " : "") + std::to_string(h12) + ":" + digits(mi, 2) +
               (h < 12 ? "AM" : "PM");
    }
    case 1:
        return M + "/" + D + "/" + YY;
    case 101:
        return M + "/" + D + "/" + Y;
    case 102:
        return Y + "." + M + "." + D;
    case 3:
        return D + "/" + M + "/" + YY;
    case 103:
        return D + "/" + M + "/" + Y;
    case 11:
        return YY + "/" + M + "/" + D;
    case 111:
        return Y + "/" + M + "/" + D;
    case 12:
        return YY + M + D;
    case 112:
        return Y + M + D;
    case 23:
        return Y + "-" + M + "-" + D;
    case 20:
    case 120:
        return dateOnly ? Y + "-" + M + "-" + D : Y + "-" + M + "-" + D + " " + time;
    case 21:
    case 121:
        return full;
    case 126: {
        if (dateOnly)
            return full;
        std::string text = full;
        text[10] = 'T';
        if (type == TsqlType::DateTime && text.size() > 19 && text.substr(19) == ".000")
            text.resize(19);
        return text;
    }
    default:
        throw TsqlError(tsqlerr::kStyle, std::to_string(style) +
                                             " is not a valid style number when converting "
                                             "from " +
                                             typeName(type) + " to a character string.");
    }
}

} // namespace

bool isDateType(TsqlType t) {
    return t == TsqlType::DateTime || t == TsqlType::DateTime2 || t == TsqlType::SmallDateTime ||
           t == TsqlType::Date;
}

bool isNumericType(TsqlType t) {
    return t == TsqlType::Int || t == TsqlType::Decimal || t == TsqlType::Float;
}

TsqlTarget targetOf(std::string_view typeName, int length, int scale) {
    const std::string name = lowerAscii(typeName);
    TsqlTarget t;
    t.name = name;
    t.length = length;
    if (name == "int" || name == "bigint" || name == "smallint" || name == "tinyint" ||
        name == "bit") {
        t.type = TsqlType::Int;
    } else if (name == "decimal" || name == "numeric" || name == "money" || name == "smallmoney") {
        t.type = TsqlType::Decimal;
        t.scale = name == "money" || name == "smallmoney" ? 4 : std::max(0, scale);
    } else if (name == "float" || name == "real") {
        t.type = TsqlType::Float;
    } else if (name == "varchar" || name == "nvarchar" || name == "char" || name == "nchar" ||
               name == "text" || name == "ntext" || name == "sysname" ||
               name == "uniqueidentifier") {
        t.type = TsqlType::Text;
        t.fixed = name == "char" || name == "nchar";
        if (name == "text" || name == "ntext")
            t.length = 0;
        if (name == "sysname")
            t.length = 128;
        if (name == "uniqueidentifier")
            t.length = 36;
    } else if (name == "varbinary" || name == "binary" || name == "image") {
        t.type = TsqlType::Binary;
        t.fixed = name == "binary";
        if (name == "image")
            t.length = 0;
    } else if (name == "datetime") {
        t.type = TsqlType::DateTime;
    } else if (name == "datetime2") {
        t.type = TsqlType::DateTime2;
    } else if (name == "smalldatetime") {
        t.type = TsqlType::SmallDateTime;
    } else if (name == "date") {
        t.type = TsqlType::Date;
    } else {
        throw TsqlError(tsqlerr::kNotType,
                        "Type " + std::string(typeName) + " is not a defined system type.");
    }
    return t;
}

TsqlDateTime parseDateTime(std::string_view text, TsqlType type, bool dayFirst) {
    const std::string_view s = trimSpaces(text);
    std::size_t at = 0;
    std::int64_t year = 1900, month = 1, day = 1;
    bool haveDate = false;
    // The date: yyyy-mm-dd, yyyy/mm/dd, yyyy.mm.dd, yyyymmdd, or m/d/yyyy (d/m/yyyy).
    {
        std::size_t probe = 0;
        std::int64_t first = 0;
        const int n = digitsAt(s, probe, first, 8);
        const char sep = probe < s.size() ? s[probe] : '\0';
        if (n == 8 && (probe == s.size() || s[probe] == ' ' || s[probe] == 'T')) {
            year = first / 10000;
            month = first / 100 % 100;
            day = first % 100;
            at = probe;
            haveDate = true;
        } else if (n == 4 && (sep == '-' || sep == '/' || sep == '.')) {
            year = first;
            at = probe + 1;
            if (digitsAt(s, at, month, 2) == 0 || at >= s.size() || s[at] != sep)
                dateFormatError();
            ++at;
            if (digitsAt(s, at, day, 2) == 0)
                dateFormatError();
            haveDate = true;
        } else if ((n == 1 || n == 2) && (sep == '/' || sep == '-' || sep == '.')) {
            at = probe + 1;
            std::int64_t second = 0;
            if (digitsAt(s, at, second, 2) == 0 || at >= s.size() || s[at] != sep)
                dateFormatError();
            ++at;
            const int yearDigits = digitsAt(s, at, year, 4);
            if (yearDigits == 2)
                year += year < 50 ? 2000 : 1900;
            else if (yearDigits != 4)
                dateFormatError();
            month = dayFirst ? second : first;
            day = dayFirst ? first : second;
            haveDate = true;
        }
    }
    std::int64_t ticks = 0;
    if (haveDate && at < s.size()) {
        if (s[at] == 'T') {
            ++at;
        } else if (s[at] == ' ') {
            while (at < s.size() && s[at] == ' ')
                ++at;
        } else {
            dateFormatError();
        }
        if (at == s.size())
            dateFormatError();
    }
    if (at < s.size()) {
        // The time: hh:mm[:ss[.fffffff]] [AM|PM]
        std::int64_t h = 0, mi = 0, sec = 0, fraction = 0;
        if (digitsAt(s, at, h, 2) == 0 || at >= s.size() || s[at] != ':')
            dateFormatError();
        ++at;
        if (digitsAt(s, at, mi, 2) != 2)
            dateFormatError();
        if (at < s.size() && s[at] == ':') {
            ++at;
            if (digitsAt(s, at, sec, 2) != 2)
                dateFormatError();
            if (at < s.size() && (s[at] == '.' || s[at] == ':')) {
                ++at;
                std::int64_t f = 0;
                const int n = digitsAt(s, at, f, 9);
                const int allowed = type == TsqlType::DateTime2 || type == TsqlType::Date ? 7 : 3;
                if (n == 0 || n > allowed)
                    dateFormatError();
                fraction = f;
                for (int i = n; i < 7; ++i)
                    fraction *= 10;
            }
        }
        while (at < s.size() && s[at] == ' ')
            ++at;
        if (at < s.size()) {
            const std::string_view rest = s.substr(at);
            if (!equalsIgnoreCase(rest, "AM") && !equalsIgnoreCase(rest, "PM"))
                dateFormatError();
            if (h < 1 || h > 12)
                dateFormatError();
            h = h % 12 + (equalsIgnoreCase(rest, "PM") ? 12 : 0);
        }
        if (h > 23 || mi > 59 || sec > 59)
            dateFormatError();
        ticks = ((h * 60 + mi) * 60 + sec) * kTicksPerSecond + fraction;
    } else if (!haveDate) {
        dateFormatError();
    }
    // A date that does not exist is out of range for datetime, a format error for the others.
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, unsigned(month))) {
        if (type == TsqlType::DateTime || type == TsqlType::SmallDateTime)
            dateRangeError(type);
        dateFormatError();
    }
    if (year < 1)
        dateFormatError();
    TsqlDateTime dt = normalised(dayNumber(year, unsigned(month), unsigned(day)), ticks, type);
    checkRange(dt, type);
    return dt;
}

std::string formatDateTime(const TsqlDateTime &dt, TsqlType type) {
    const Civil c = civilOf(dt.days);
    std::string text = digits(c.year, 4) + "-" + digits(c.month, 2) + "-" + digits(c.day, 2);
    if (type == TsqlType::Date)
        return text;
    const std::int64_t seconds = dt.ticks / kTicksPerSecond;
    text += " " + digits(seconds / 3600, 2) + ":" + digits(seconds / 60 % 60, 2) + ":" +
            digits(seconds % 60, 2);
    const std::int64_t fraction = dt.ticks % kTicksPerSecond;
    if (type == TsqlType::DateTime)
        text += "." + digits((fraction + 5000) / 10000, 3);
    else if (type == TsqlType::DateTime2)
        text += "." + digits(fraction, 7);
    return text;
}

TsqlDateTime dateTimeOf(const TsqlValue &v, TsqlType staticType, TsqlType target) {
    switch (v.kind) {
    case TsqlValue::Text: {
        // A date value is held as its canonical text, read back with every digit it has.
        const TsqlDateTime dt =
            parseDateTime(v.s, isDateType(staticType) ? TsqlType::DateTime2 : target);
        TsqlDateTime result = normalised(dt.days, dt.ticks, target);
        checkRange(result, target);
        return result;
    }
    case TsqlValue::Int:
    case TsqlValue::Float: {
        if (target != TsqlType::DateTime && target != TsqlType::SmallDateTime)
            throw TsqlError(tsqlerr::kExplicitConversion,
                            std::string("Explicit conversion from data type ") +
                                (v.kind == TsqlValue::Int ? "int" : "float") + " to " +
                                typeName(target) + " is not allowed.");
        // Days since 1900-01-01, the fraction the time of day.
        const double days = v.kind == TsqlValue::Int ? double(v.i) : v.f;
        const double whole = std::floor(days);
        if (!std::isfinite(days) || std::fabs(days) > 3e6)
            dateRangeError(target);
        TsqlDateTime dt = normalised(kDay1900 + static_cast<std::int64_t>(whole),
                                     std::llround((days - whole) * double(kTicksPerDay)), target);
        checkRange(dt, target);
        return dt;
    }
    default:
        throw TsqlError(tsqlerr::kExplicitConversion,
                        std::string("Explicit conversion from data type varbinary to ") +
                            typeName(target) + " is not allowed.");
    }
}

TsqlValue convert(const TsqlValue &v, TsqlType from, const TsqlTarget &to) {
    if (v.kind == TsqlValue::Null)
        return v;
    const bool fromDate = isDateType(from) && v.kind == TsqlValue::Text;
    switch (to.type) {
    case TsqlType::Int: {
        std::int64_t n = 0;
        if (v.kind == TsqlValue::Int) {
            n = v.i;
        } else if (v.kind == TsqlValue::Float) {
            if (!std::isfinite(v.f) || std::fabs(v.f) >= 9.2e18)
                overflow(to.name.c_str());
            n = static_cast<std::int64_t>(v.f);
        } else if (v.kind == TsqlValue::Blob) {
            const std::size_t width = to.name == "bigint"                        ? 8
                                      : to.name == "smallint"                    ? 2
                                      : to.name == "tinyint" || to.name == "bit" ? 1
                                                                                 : 4;
            n = bytesAsInteger(v.s, width);
        } else if (fromDate) {
            if (from != TsqlType::DateTime && from != TsqlType::SmallDateTime)
                throw TsqlError(tsqlerr::kExplicitConversion,
                                std::string("Explicit conversion from data type ") +
                                    typeName(from) + " to " + to.name + " is not allowed.");
            const TsqlDateTime dt = dateTimeOf(v, from, from);
            n = dt.days - kDay1900 + (dt.ticks >= kTicksPerDay / 2 ? 1 : 0);
        } else if (to.name == "bit" && (equalsIgnoreCase(trimSpaces(v.s), "true") ||
                                        equalsIgnoreCase(trimSpaces(v.s), "false"))) {
            n = equalsIgnoreCase(trimSpaces(v.s), "true") ? 1 : 0;
        } else {
            const auto parsed = parseInteger(v.s);
            if (!parsed)
                throw TsqlError(tsqlerr::kConversion,
                                "Conversion failed when converting the varchar value '" + v.s +
                                    "' to data type " + to.name + ".");
            n = *parsed;
        }
        if (to.name == "bit")
            return TsqlValue::integer(n != 0 ? 1 : 0);
        return TsqlValue::integer(checkedWidth(n, to.name));
    }
    case TsqlType::Decimal:
    case TsqlType::Float: {
        double f = 0;
        if (v.kind == TsqlValue::Int) {
            f = double(v.i);
        } else if (v.kind == TsqlValue::Float) {
            f = v.f;
        } else if (v.kind == TsqlValue::Text && !fromDate) {
            const auto parsed = parseReal(v.s);
            if (!parsed)
                throw TsqlError(tsqlerr::kNumeric,
                                std::string("Error converting data type varchar to ") +
                                    (to.type == TsqlType::Float ? "float." : "numeric."));
            f = *parsed;
        } else {
            throw TsqlError(tsqlerr::kExplicitConversion,
                            std::string("Explicit conversion from data type ") +
                                typeName(fromDate ? from : TsqlType::Binary) + " to " + to.name +
                                " is not allowed.");
        }
        if (to.type == TsqlType::Float)
            return TsqlValue::real(f);
        const int precision = to.length > 0 ? to.length : 18;
        const double scaled = std::round(f * std::pow(10.0, to.scale));
        if (std::fabs(scaled) >= std::pow(10.0, precision))
            throw TsqlError(tsqlerr::kOverflow,
                            "Arithmetic overflow error converting varchar to data type numeric.");
        if (to.scale == 0)
            return TsqlValue::integer(static_cast<std::int64_t>(scaled));
        return TsqlValue::real(scaled / std::pow(10.0, to.scale));
    }
    case TsqlType::Text: {
        const std::size_t length = to.length < 0 ? 30 : static_cast<std::size_t>(to.length);
        std::string text;
        bool number = false;
        if (fromDate) {
            text = styled(dateTimeOf(v, from, from), from, to.style);
        } else if (v.kind == TsqlValue::Int) {
            text = std::to_string(v.i);
            number = true;
        } else if (v.kind == TsqlValue::Float) {
            text = numberText(v.f);
            number = true;
        } else {
            text = v.s;
        }
        if (length > 0 && characters(text) > length) {
            if (number)
                return TsqlValue::text("*"); // SQL Server's mark for a number that does not fit
            text = firstCharacters(text, length);
        }
        if (to.fixed && length > 0 && characters(text) < length)
            text.append(length - characters(text), ' ');
        return TsqlValue::text(text);
    }
    case TsqlType::Binary: {
        const std::size_t length = to.length < 0 ? 30 : static_cast<std::size_t>(to.length);
        std::string bytes;
        if (v.kind == TsqlValue::Int) {
            bytes = integerBytes(v.i, v.i >= std::numeric_limits<std::int32_t>::min() &&
                                              v.i <= std::numeric_limits<std::int32_t>::max()
                                          ? 4
                                          : 8);
            if (length > 0 && bytes.size() > length)
                bytes = bytes.substr(bytes.size() - length);
        } else if (v.kind == TsqlValue::Float) {
            throw TsqlError(tsqlerr::kExplicitConversion,
                            "Explicit conversion from data type float to " + to.name +
                                " is not allowed.");
        } else {
            bytes = v.s;
        }
        if (length > 0 && bytes.size() > length)
            bytes.resize(length);
        if (to.fixed && length > 0 && bytes.size() < length)
            bytes.append(length - bytes.size(), '\0');
        return TsqlValue::blob(bytes);
    }
    case TsqlType::DateTime:
    case TsqlType::DateTime2:
    case TsqlType::SmallDateTime:
    case TsqlType::Date: {
        TsqlDateTime dt;
        if (v.kind == TsqlValue::Text && !fromDate)
            dt = parseDateTime(v.s, to.type, to.style == 103 || to.style == 3);
        else
            dt = dateTimeOf(v, from, to.type);
        return TsqlValue::text(formatDateTime(dt, to.type));
    }
    default:
        return v;
    }
}

TsqlValue toNumber(const TsqlValue &v, bool asDecimal) {
    if (v.kind != TsqlValue::Text && v.kind != TsqlValue::Blob)
        return v;
    if (v.kind == TsqlValue::Blob)
        return TsqlValue::integer(bytesAsInteger(v.s, 8));
    if (asDecimal) {
        const auto parsed = parseReal(v.s);
        if (!parsed)
            throw TsqlError(tsqlerr::kNumeric, "Error converting data type varchar to numeric.");
        return TsqlValue::real(*parsed);
    }
    const auto parsed = parseInteger(v.s);
    if (!parsed || *parsed < std::numeric_limits<std::int32_t>::min() ||
        *parsed > std::numeric_limits<std::int32_t>::max())
        throw TsqlError(tsqlerr::kConversion, "Conversion failed when converting the varchar "
                                              "value '" +
                                                  v.s + "' to data type int.");
    return TsqlValue::integer(*parsed);
}

TsqlValue dateKey(const TsqlValue &v, TsqlType staticType) {
    if (v.kind == TsqlValue::Null)
        return v;
    if (v.kind == TsqlValue::Blob)
        throw TsqlError(tsqlerr::kOperandClash,
                        "Operand type clash: varbinary is incompatible with datetime");
    // A string beside a date is read as a datetime, as SQL Server converts it.
    const TsqlType as = isDateType(staticType) ? staticType : TsqlType::DateTime;
    return TsqlValue::text(formatDateTime(dateTimeOf(v, staticType, as), TsqlType::DateTime2));
}

TsqlValue add(const TsqlValue &a, const TsqlValue &b) {
    if (a.kind == TsqlValue::Null || b.kind == TsqlValue::Null)
        return TsqlValue::null();
    if (a.kind == TsqlValue::Text && b.kind == TsqlValue::Text)
        return TsqlValue::text(a.s + b.s);
    if (a.kind == TsqlValue::Blob && b.kind == TsqlValue::Blob)
        return TsqlValue::blob(a.s + b.s);
    if (a.kind == TsqlValue::Blob || b.kind == TsqlValue::Blob)
        throw TsqlError(402, std::string("The data types ") +
                                 (a.kind == TsqlValue::Blob ? "varbinary" : "varchar") + " and " +
                                 (b.kind == TsqlValue::Blob ? "varbinary" : "varchar") +
                                 " are incompatible in the add operator.");
    return arithmetic('+', a, b);
}

TsqlValue arithmetic(char op, const TsqlValue &a0, const TsqlValue &b0) {
    if (a0.kind == TsqlValue::Null || b0.kind == TsqlValue::Null)
        return TsqlValue::null();
    const char *opName = op == '+'   ? "add"
                         : op == '-' ? "subtract"
                         : op == '*' ? "multiply"
                         : op == '/' ? "divide"
                                     : "modulo";
    if (a0.kind == TsqlValue::Blob || b0.kind == TsqlValue::Blob)
        throw TsqlError(tsqlerr::kBadOperand,
                        std::string("Operand data type varbinary is invalid for ") + opName +
                            " operator.");
    // A string beside a number is read as the number's type.
    const bool decimal = a0.kind == TsqlValue::Float || b0.kind == TsqlValue::Float;
    const TsqlValue a = toNumber(a0, decimal);
    const TsqlValue b = toNumber(b0, decimal);
    if (a.kind == TsqlValue::Int && b.kind == TsqlValue::Int) {
        std::int64_t r = 0;
        bool overflowed = false;
        switch (op) {
        case '+':
            overflowed = __builtin_add_overflow(a.i, b.i, &r);
            break;
        case '-':
            overflowed = __builtin_sub_overflow(a.i, b.i, &r);
            break;
        case '*':
            overflowed = __builtin_mul_overflow(a.i, b.i, &r);
            break;
        case '/':
        case '%':
            if (b.i == 0)
                throw TsqlError(tsqlerr::kDivideByZero, "Divide by zero error encountered.");
            if (a.i == std::numeric_limits<std::int64_t>::min() && b.i == -1)
                overflowed = true;
            else
                r = op == '/' ? a.i / b.i : a.i % b.i;
            break;
        default:
            break;
        }
        if (overflowed)
            overflow("bigint");
        return TsqlValue::integer(r);
    }
    const double x = a.kind == TsqlValue::Int ? double(a.i) : a.f;
    const double y = b.kind == TsqlValue::Int ? double(b.i) : b.f;
    switch (op) {
    case '+':
        return TsqlValue::real(x + y);
    case '-':
        return TsqlValue::real(x - y);
    case '*':
        return TsqlValue::real(x * y);
    default:
        if (y == 0)
            throw TsqlError(tsqlerr::kDivideByZero, "Divide by zero error encountered.");
        return TsqlValue::real(op == '/' ? x / y : std::fmod(x, y));
    }
}

TsqlValue length(const TsqlValue &v) {
    switch (v.kind) {
    case TsqlValue::Null:
        return v;
    case TsqlValue::Int:
        return TsqlValue::integer(static_cast<std::int64_t>(std::to_string(v.i).size()));
    case TsqlValue::Float:
        return TsqlValue::integer(static_cast<std::int64_t>(numberText(v.f).size()));
    case TsqlValue::Blob:
        return TsqlValue::integer(static_cast<std::int64_t>(v.s.size()));
    default: {
        std::string_view s = v.s;
        while (!s.empty() && s.back() == ' ')
            s.remove_suffix(1);
        return TsqlValue::integer(static_cast<std::int64_t>(characters(s)));
    }
    }
}

namespace {

enum class Part { Year, Quarter, Month, DayOfYear, Day, Week, Weekday, Hour, Minute, Second, Ms };

Part partOf(std::string_view name) {
    const std::string p = lowerAscii(name);
    if (p == "year" || p == "yy" || p == "yyyy")
        return Part::Year;
    if (p == "quarter" || p == "qq" || p == "q")
        return Part::Quarter;
    if (p == "month" || p == "mm" || p == "m")
        return Part::Month;
    if (p == "dayofyear" || p == "dy" || p == "y")
        return Part::DayOfYear;
    if (p == "day" || p == "dd" || p == "d")
        return Part::Day;
    if (p == "week" || p == "wk" || p == "ww")
        return Part::Week;
    if (p == "weekday" || p == "dw" || p == "w")
        return Part::Weekday;
    if (p == "hour" || p == "hh")
        return Part::Hour;
    if (p == "minute" || p == "mi" || p == "n")
        return Part::Minute;
    if (p == "second" || p == "ss" || p == "s")
        return Part::Second;
    if (p == "millisecond" || p == "ms")
        return Part::Ms;
    throw TsqlError(155, "'" + std::string(name) + "' is not a recognized datepart option.");
}

TsqlType dateTypeOf(TsqlType t) {
    return isDateType(t) ? t : TsqlType::DateTime;
}

} // namespace

TsqlValue dateAdd(std::string_view partName, const TsqlValue &n0, const TsqlValue &d,
                  TsqlType type) {
    const Part part = partOf(partName);
    if (n0.kind == TsqlValue::Null || d.kind == TsqlValue::Null)
        return TsqlValue::null();
    const TsqlValue n = toNumber(n0, false);
    const std::int64_t count = n.kind == TsqlValue::Int ? n.i : static_cast<std::int64_t>(n.f);
    const TsqlType as = dateTypeOf(type);
    TsqlDateTime dt = dateTimeOf(d, type, as);
    if (as == TsqlType::Date && part >= Part::Hour)
        throw TsqlError(9810, "The datepart " + lowerAscii(partName) +
                                  " is not supported by date function dateadd for data type "
                                  "date.");
    std::int64_t days = dt.days, ticks = dt.ticks;
    auto addMonths = [&](std::int64_t months) {
        const Civil c = civilOf(days);
        std::int64_t total = c.year * 12 + (c.month - 1) + months;
        const std::int64_t y = total / 12;
        const unsigned m = static_cast<unsigned>(total % 12 + 1);
        if (y < 1 || y > 9999)
            throw TsqlError(517, "Adding a value to a '" + std::string(typeName(as)) +
                                     "' column caused an overflow.");
        days = dayNumber(y, m, std::min(c.day, daysInMonth(y, m)));
    };
    switch (part) {
    case Part::Year:
        addMonths(count * 12);
        break;
    case Part::Quarter:
        addMonths(count * 3);
        break;
    case Part::Month:
        addMonths(count);
        break;
    case Part::DayOfYear:
    case Part::Day:
    case Part::Weekday:
        days += count;
        break;
    case Part::Week:
        days += count * 7;
        break;
    case Part::Hour:
        ticks += count * 3600 * kTicksPerSecond;
        break;
    case Part::Minute:
        ticks += count * 60 * kTicksPerSecond;
        break;
    case Part::Second:
        ticks += count * kTicksPerSecond;
        break;
    case Part::Ms:
        ticks += count * 10000;
        break;
    }
    days += ticks >= 0 ? ticks / kTicksPerDay : -((-ticks + kTicksPerDay - 1) / kTicksPerDay);
    ticks = ((ticks % kTicksPerDay) + kTicksPerDay) % kTicksPerDay;
    TsqlDateTime result = normalised(days, ticks, as);
    const Civil c = civilOf(result.days);
    if (c.year < 1 || c.year > 9999 || (as == TsqlType::DateTime && c.year < 1753))
        throw TsqlError(517, "Adding a value to a '" + std::string(typeName(as)) +
                                 "' column caused an overflow.");
    return TsqlValue::text(formatDateTime(result, as));
}

TsqlValue dateDiff(std::string_view partName, const TsqlValue &a, TsqlType aType,
                   const TsqlValue &b, TsqlType bType) {
    const Part part = partOf(partName);
    if (a.kind == TsqlValue::Null || b.kind == TsqlValue::Null)
        return TsqlValue::null();
    const TsqlDateTime x = dateTimeOf(a, aType, dateTypeOf(aType));
    const TsqlDateTime y = dateTimeOf(b, bType, dateTypeOf(bType));
    const Civil cx = civilOf(x.days), cy = civilOf(y.days);
    // The number of the part's boundaries crossed from x to y.
    auto floorDiv = [](std::int64_t v, std::int64_t d) {
        return v >= 0 ? v / d : -((-v + d - 1) / d);
    };
    auto at = [&](const TsqlDateTime &t, std::int64_t unit) {
        return t.days * (kTicksPerDay / unit) + t.ticks / unit;
    };
    switch (part) {
    case Part::Year:
        return TsqlValue::integer(cy.year - cx.year);
    case Part::Quarter:
        return TsqlValue::integer((cy.year * 4 + (cy.month - 1) / 3) -
                                  (cx.year * 4 + (cx.month - 1) / 3));
    case Part::Month:
        return TsqlValue::integer((cy.year * 12 + cy.month) - (cx.year * 12 + cx.month));
    case Part::Week: {
        // Weeks begin on Sunday; 0001-01-01 was a Monday.
        return TsqlValue::integer(floorDiv(y.days + 1, 7) - floorDiv(x.days + 1, 7));
    }
    case Part::DayOfYear:
    case Part::Day:
    case Part::Weekday:
        return TsqlValue::integer(y.days - x.days);
    case Part::Hour:
        return TsqlValue::integer(at(y, 3600 * kTicksPerSecond) - at(x, 3600 * kTicksPerSecond));
    case Part::Minute:
        return TsqlValue::integer(at(y, 60 * kTicksPerSecond) - at(x, 60 * kTicksPerSecond));
    case Part::Second:
        return TsqlValue::integer(at(y, kTicksPerSecond) - at(x, kTicksPerSecond));
    case Part::Ms:
        return TsqlValue::integer(at(y, 10000) - at(x, 10000));
    }
    return TsqlValue::null();
}

TsqlValue datePart(std::string_view partName, const TsqlValue &d, TsqlType type) {
    const Part part = partOf(partName);
    if (d.kind == TsqlValue::Null)
        return d;
    const TsqlDateTime dt = dateTimeOf(d, type, dateTypeOf(type));
    const Civil c = civilOf(dt.days);
    const std::int64_t seconds = dt.ticks / kTicksPerSecond;
    switch (part) {
    case Part::Year:
        return TsqlValue::integer(c.year);
    case Part::Quarter:
        return TsqlValue::integer((c.month - 1) / 3 + 1);
    case Part::Month:
        return TsqlValue::integer(c.month);
    case Part::DayOfYear:
        return TsqlValue::integer(dt.days - dayNumber(c.year, 1, 1) + 1);
    case Part::Day:
        return TsqlValue::integer(c.day);
    case Part::Week:
        return TsqlValue::integer(
            (dt.days - dayNumber(c.year, 1, 1) + ((dayNumber(c.year, 1, 1) + 1) % 7)) / 7 + 1);
    case Part::Weekday:
        return TsqlValue::integer((dt.days + 1) % 7 + 1); // Sunday is 1
    case Part::Hour:
        return TsqlValue::integer(seconds / 3600);
    case Part::Minute:
        return TsqlValue::integer(seconds / 60 % 60);
    case Part::Second:
        return TsqlValue::integer(seconds % 60);
    case Part::Ms:
        return TsqlValue::integer(dt.ticks % kTicksPerSecond / 10000);
    }
    return TsqlValue::null();
}

bool likeMatches(std::string_view text, std::string_view pattern, char escape) {
    // Backtracking over '%': the text and pattern positions of the last one.
    std::size_t t = 0, p = 0;
    std::size_t starP = std::string_view::npos, starT = 0;
    auto classEnd = [&](std::size_t at) {
        std::size_t end = at + 1;
        if (end < pattern.size() && pattern[end] == '^')
            ++end;
        if (end < pattern.size() && pattern[end] == ']')
            ++end;
        while (end < pattern.size() && pattern[end] != ']')
            ++end;
        return end; // on the ']' or at the end
    };
    auto matchOne = [&](std::size_t &pp, char c) -> bool {
        const char pc = pattern[pp];
        if (escape && pc == escape && pp + 1 < pattern.size()) {
            const bool same = asciiLower(pattern[pp + 1]) == asciiLower(c);
            pp += 2;
            return same;
        }
        if (pc == '_') {
            ++pp;
            return true;
        }
        if (pc == '[') {
            const std::size_t end = classEnd(pp);
            if (end >= pattern.size()) { // no closing bracket: the '[' stands for itself
                ++pp;
                return c == '[';
            }
            std::size_t at = pp + 1;
            bool negate = false;
            if (pattern[at] == '^') {
                negate = true;
                ++at;
            }
            bool found = false;
            const char lc = asciiLower(c);
            for (; at < end; ++at) {
                if (at + 2 < end && pattern[at + 1] == '-') {
                    found = found ||
                            (lc >= asciiLower(pattern[at]) && lc <= asciiLower(pattern[at + 2]));
                    at += 2;
                } else {
                    found = found || asciiLower(pattern[at]) == lc;
                }
            }
            pp = end + 1;
            return found != negate;
        }
        ++pp;
        return asciiLower(pc) == asciiLower(c);
    };
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '%') {
            starP = ++p;
            starT = t;
            continue;
        }
        std::size_t next = p;
        if (p < pattern.size() && matchOne(next, text[t])) {
            p = next;
            ++t;
            continue;
        }
        if (starP == std::string_view::npos)
            return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '%')
        ++p;
    return p == pattern.size();
}

std::string now(TsqlType type) {
    static std::mutex mutex;
    const auto t = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    const auto fraction = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              t - std::chrono::system_clock::from_time_t(seconds))
                              .count() /
                          100;
    std::tm local{};
    {
        std::lock_guard lock(mutex);
        local = *std::localtime(&seconds);
    }
    const std::int64_t ticks =
        ((local.tm_hour * 60 + local.tm_min) * 60 + std::min(local.tm_sec, 59)) * kTicksPerSecond +
        std::max<std::int64_t>(0, fraction);
    return formatDateTime(normalised(dayNumber(local.tm_year + 1900, unsigned(local.tm_mon + 1),
                                               unsigned(local.tm_mday)),
                                     ticks, type),
                          type);
}

namespace {
constexpr std::string_view kCarried = "\x1ftsql:";
}

std::string carriedError(const TsqlError &e) {
    return std::string(kCarried) + std::to_string(e.number()) + ":" + e.what();
}

std::optional<TsqlError> carriedErrorOf(std::string_view message) {
    const std::size_t at = message.find(kCarried);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = message.substr(at + kCarried.size());
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto number = parseInteger(rest.substr(0, colon));
    if (!number)
        return std::nullopt;
    return TsqlError(static_cast<int>(*number), std::string(rest.substr(colon + 1)));
}

} // namespace zeph::sqltext
