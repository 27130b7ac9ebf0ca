#include "TdsTypes.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace zeph::tds {
namespace {

namespace type {
constexpr std::uint8_t kNull = 0x1F;
constexpr std::uint8_t kInt1 = 0x30;
constexpr std::uint8_t kBit = 0x32;
constexpr std::uint8_t kInt2 = 0x34;
constexpr std::uint8_t kInt4 = 0x38;
constexpr std::uint8_t kInt8 = 0x7F;
constexpr std::uint8_t kDateTim4 = 0x3A;
constexpr std::uint8_t kFlt4 = 0x3B;
constexpr std::uint8_t kMoney = 0x3C;
constexpr std::uint8_t kDateTime = 0x3D;
constexpr std::uint8_t kFlt8 = 0x3E;
constexpr std::uint8_t kMoney4 = 0x7A;
constexpr std::uint8_t kGuid = 0x24;
constexpr std::uint8_t kIntN = 0x26;
constexpr std::uint8_t kDecimalLegacy = 0x37;
constexpr std::uint8_t kNumericLegacy = 0x3F;
constexpr std::uint8_t kBitN = 0x68;
constexpr std::uint8_t kDecimalN = 0x6A;
constexpr std::uint8_t kNumericN = 0x6C;
constexpr std::uint8_t kFltN = 0x6D;
constexpr std::uint8_t kMoneyN = 0x6E;
constexpr std::uint8_t kDateTimeN = 0x6F;
constexpr std::uint8_t kDateN = 0x28;
constexpr std::uint8_t kTimeN = 0x29;
constexpr std::uint8_t kDateTime2N = 0x2A;
constexpr std::uint8_t kDateTimeOffsetN = 0x2B;
constexpr std::uint8_t kCharLegacy = 0x2F;
constexpr std::uint8_t kVarCharLegacy = 0x27;
constexpr std::uint8_t kBinaryLegacy = 0x2D;
constexpr std::uint8_t kVarBinaryLegacy = 0x25;
constexpr std::uint8_t kBigVarBinary = 0xA5;
constexpr std::uint8_t kBigVarChar = 0xA7;
constexpr std::uint8_t kBigBinary = 0xAD;
constexpr std::uint8_t kBigChar = 0xAF;
constexpr std::uint8_t kNVarChar = 0xE7;
constexpr std::uint8_t kNChar = 0xEF;
constexpr std::uint8_t kXml = 0xF1;
constexpr std::uint8_t kUdt = 0xF0;
constexpr std::uint8_t kText = 0x23;
constexpr std::uint8_t kImage = 0x22;
constexpr std::uint8_t kNText = 0x63;
constexpr std::uint8_t kVariant = 0x62;
constexpr std::uint8_t kTvp = 0xF3;
} // namespace type

constexpr std::uint64_t kPlpNull = ~std::uint64_t{0};
constexpr std::uint64_t kPlpUnknownLength = ~std::uint64_t{0} - 1;
constexpr std::uint16_t kVarMax = 0xFFFF;
constexpr std::uint16_t kNullLength = 0xFFFF;
// Days from 0001-01-01 to 1900-01-01, where datetime and smalldatetime count from.
constexpr std::int64_t kDays1900 = 693595;
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kTicksPerDay = 86400 * kTicksPerSecond;
constexpr std::uint64_t kPow10[] = {1,         10,         100,         1000,
                                    10000,     100000,     1000000,     10000000,
                                    100000000, 1000000000, 10000000000, 100000000000};
const std::string kCollation("\x09\x04\xD0\x00\x34", 5);

// Days since 1970-01-01 of a civil date, and back (H. Hinnant's algorithms).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

const std::int64_t kDaysYear1 = daysFromCivil(1, 1, 1); // 0001-01-01 from 1970-01-01

std::uint64_t unsignedLittle(std::string_view bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 8; ++i)
        v |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(bytes[i])) << (8 * i);
    return v;
}

std::int64_t signedLittle(std::string_view bytes) {
    if (bytes.size() > 8)
        throw ProtocolError("a number is longer than eight bytes");
    std::uint64_t v = unsignedLittle(bytes);
    const unsigned bits = static_cast<unsigned>(bytes.size() * 8);
    if (bits < 64 && bits > 0 && (v >> (bits - 1)) & 1)
        v |= ~std::uint64_t{0} << bits; // sign extension
    return static_cast<std::int64_t>(v);
}

DbValue floatValue(std::string_view bytes) {
    if (bytes.size() == 4)
        return DbValue(static_cast<double>(
            std::bit_cast<float>(static_cast<std::uint32_t>(unsignedLittle(bytes)))));
    return DbValue(std::bit_cast<double>(unsignedLittle(bytes)));
}

// A GUID's first three groups are stored little-endian.
constexpr int kGuidOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

DbValue guidValue(std::string_view b) {
    std::string text = "{";
    for (int i = 0; i < 16; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<std::uint8_t>(b[kGuidOrder[i]]));
        text += hex;
        if (i == 3 || i == 5 || i == 7 || i == 9)
            text += '-';
    }
    return DbValue(text + "}");
}

std::optional<std::string> guidBytes(const std::string &text) {
    std::string hex;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            hex += c;
        else if (c != '{' && c != '}' && c != '-')
            return std::nullopt;
    }
    if (hex.size() != 32)
        return std::nullopt;
    std::string plain(16, '\0');
    for (int i = 0; i < 16; ++i)
        plain[static_cast<std::size_t>(i)] = static_cast<char>(
            std::stoi(hex.substr(static_cast<std::size_t>(i) * 2, 2), nullptr, 16));
    std::string out(16, '\0');
    for (int i = 0; i < 16; ++i)
        out[static_cast<std::size_t>(kGuidOrder[i])] = plain[static_cast<std::size_t>(i)];
    return out;
}

// A decimal's magnitude is up to 16 bytes: kept whole when it fits a whole number, as a
// floating-point number otherwise.
DbValue decimalValue(std::string_view bytes, std::uint8_t scale) {
    if (bytes.empty())
        throw ProtocolError("a decimal value has no sign");
    if (scale > 38)
        throw ProtocolError("a decimal has a scale over 38");
    const bool positive = bytes[0] != 0;
    const std::string_view magnitudeBytes = bytes.substr(1);
    bool small = true;
    for (std::size_t i = 8; i < magnitudeBytes.size(); ++i)
        small &= magnitudeBytes[i] == 0;
    const std::uint64_t low = unsignedLittle(magnitudeBytes.substr(0, 8));
    if (small && scale == 0 && low <= static_cast<std::uint64_t>(INT64_MAX))
        return DbValue(positive ? static_cast<std::int64_t>(low) : -static_cast<std::int64_t>(low));
    double magnitude = 0;
    for (std::size_t i = magnitudeBytes.size(); i-- > 0;)
        magnitude = magnitude * 256 + static_cast<std::uint8_t>(magnitudeBytes[i]);
    magnitude /= std::pow(10.0, scale);
    return DbValue(positive ? magnitude : -magnitude);
}

// Partly length-prefixed chunks of a value of unlimited length, up to the chunk of length 0.
std::optional<std::string> readPlp(ByteReader &in) {
    const std::uint64_t total = in.u64();
    if (total == kPlpNull)
        return std::nullopt;
    if (total != kPlpUnknownLength && total > in.remaining())
        throw ProtocolError("a long value is longer than its message");
    std::string value;
    for (std::uint32_t chunk = in.u32(); chunk != 0; chunk = in.u32())
        value.append(in.bytes(chunk));
    return value;
}

// The last day a date may be: 9999-12-31.
constexpr std::uint64_t kLastDay = 3652058;

std::int64_t checkedDate(std::uint64_t days) {
    if (days > kLastDay)
        throw ProtocolError("a date lies after 9999-12-31");
    return static_cast<std::int64_t>(days);
}

std::uint64_t checkedTime(std::uint64_t fraction, std::uint8_t scale) {
    if (fraction >= 86400 * kPow10[scale])
        throw ProtocolError("a time of day lies past midnight");
    return fraction;
}

int timeBytes(std::uint8_t scale) {
    return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

std::uint8_t checkedScale(std::uint8_t scale) {
    if (scale > 7)
        throw ProtocolError("a time has a scale over 7");
    return scale;
}

std::string twoDigits(int v) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", v);
    return text;
}

std::string offsetText(int minutes) {
    const char sign = minutes < 0 ? '-' : '+';
    minutes = std::abs(minutes);
    return std::string(1, sign) + twoDigits(minutes / 60) + ":" + twoDigits(minutes % 60);
}

// Time of day and date as one text; `fraction` counts 10^-digits of a second since midnight.
std::string dateTimeText(std::int64_t days, std::uint64_t fraction, int digits) {
    return dateText(days) + " " + timeText(fraction, digits);
}

DbValue dateTime2Value(std::string_view bytes, std::uint8_t scale, bool offset) {
    const auto tb = static_cast<std::size_t>(timeBytes(scale));
    if (bytes.size() != tb + 3 + (offset ? 2 : 0))
        throw ProtocolError("a date and time has a wrong length");
    const std::uint64_t fraction = checkedTime(unsignedLittle(bytes.substr(0, tb)), scale);
    const auto days = checkedDate(unsignedLittle(bytes.substr(tb, 3)));
    if (!offset)
        return dateTimeText(days, fraction, scale);
    // A datetimeoffset's date and time are UTC; it is shown at its own offset.
    const auto minutes = static_cast<int>(signedLittle(bytes.substr(tb + 3, 2)));
    const std::uint64_t ticks = fraction * (kTicksPerSecond / kPow10[scale]);
    std::int64_t total =
        days * static_cast<std::int64_t>(kTicksPerDay) + static_cast<std::int64_t>(ticks) +
        static_cast<std::int64_t>(minutes) * 60 * static_cast<std::int64_t>(kTicksPerSecond);
    if (total < 0)
        total = 0;
    const auto localTicks = static_cast<std::uint64_t>(total) % kTicksPerDay;
    const auto localDays = total / static_cast<std::int64_t>(kTicksPerDay);
    return dateTimeText(localDays, localTicks / (kTicksPerSecond / kPow10[scale]), scale) + " " +
           offsetText(minutes);
}

DbValue legacyDateTime(std::string_view bytes) {
    if (bytes.size() == 4) { // smalldatetime: days and minutes
        const auto days = static_cast<std::int64_t>(unsignedLittle(bytes.substr(0, 2)));
        const std::uint64_t minutes = unsignedLittle(bytes.substr(2, 2));
        if (minutes >= 24 * 60)
            throw ProtocolError("a smalldatetime lies past midnight");
        return dateTimeText(kDays1900 + days, minutes * 60, 0);
    }
    if (bytes.size() != 8)
        throw ProtocolError("a datetime has a wrong length");
    // datetime: days since 1900 and three-hundredths of a second, shown to the millisecond.
    const std::int64_t days = signedLittle(bytes.substr(0, 4));
    const std::uint64_t ticks300 = unsignedLittle(bytes.substr(4, 4));
    if (ticks300 >= 86400 * 300)
        throw ProtocolError("a datetime lies past midnight");
    const std::uint64_t millis = (ticks300 * 10 + 1) / 3;
    return dateTimeText(kDays1900 + days, millis, 3);
}

DbValue moneyValue(std::string_view bytes) {
    std::int64_t units = 0;
    if (bytes.size() == 4) {
        units = signedLittle(bytes);
    } else if (bytes.size() == 8) {
        // The high half first.
        units = static_cast<std::int64_t>(unsignedLittle(bytes.substr(0, 4)) << 32 |
                                          unsignedLittle(bytes.substr(4, 4)));
    } else {
        throw ProtocolError("a money value has a wrong length");
    }
    return DbValue(static_cast<double>(units) / 10000.0);
}

std::string typeName(std::uint8_t t) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", t);
    return hex;
}

SqlType intType(std::size_t length) {
    switch (length) {
    case 1:
        return {SqlKind::TinyInt};
    case 2:
        return {SqlKind::SmallInt};
    case 4:
        return {SqlKind::Int};
    case 8:
        return {SqlKind::BigInt};
    default:
        throw ProtocolError("a whole number has a wrong length");
    }
}

} // namespace

std::string dateText(std::int64_t daysSinceYear1) {
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(daysSinceYear1 + kDaysYear1, y, m, d);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(y), m, d);
    return text;
}

std::string timeText(std::uint64_t fraction, int digits) {
    const std::uint64_t perSecond = kPow10[digits];
    std::uint64_t seconds = fraction / perSecond;
    std::uint64_t part = fraction % perSecond;
    seconds %= 86400;
    std::string text = twoDigits(static_cast<int>(seconds / 3600)) + ":" +
                       twoDigits(static_cast<int>(seconds / 60 % 60)) + ":" +
                       twoDigits(static_cast<int>(seconds % 60));
    if (part != 0) {
        std::string frac = std::to_string(part);
        frac.insert(0, static_cast<std::size_t>(digits) - frac.size(), '0');
        while (!frac.empty() && frac.back() == '0')
            frac.pop_back();
        text += "." + frac;
    }
    return text;
}

std::optional<DateParts> parseDateText(std::string_view text) {
    DateParts parts;
    std::size_t at = 0;
    auto number = [&](std::size_t digits, std::int64_t &v) {
        if (at + digits > text.size())
            return false;
        v = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            const char c = text[at + i];
            if (c < '0' || c > '9')
                return false;
            v = v * 10 + (c - '0');
        }
        at += digits;
        return true;
    };
    auto literal = [&](char c) {
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    };
    std::int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (text.size() >= 10 && text[4] == '-') {
        if (!number(4, y) || !literal('-') || !number(2, mo) || !literal('-') || !number(2, d) ||
            mo < 1 || mo > 12 || d < 1 || d > 31 || y < 1)
            return std::nullopt;
        parts.hasDate = true;
        parts.days =
            daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - kDaysYear1;
        if (at == text.size())
            return parts;
        if (!literal(' ') && !literal('T'))
            return std::nullopt;
    }
    if (!number(2, h) || !literal(':') || !number(2, mi) || !literal(':') || !number(2, s) ||
        h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    parts.hasTime = true;
    std::uint64_t ticks = static_cast<std::uint64_t>(h * 3600 + mi * 60 + s) * kTicksPerSecond;
    if (literal('.')) {
        std::uint64_t scale = kTicksPerSecond;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (digits++ < 7) {
                scale /= 10;
                ticks += static_cast<std::uint64_t>(text[at] - '0') * scale;
            }
            ++at;
        }
        if (digits == 0)
            return std::nullopt;
    }
    parts.ticks = ticks;
    if (at == text.size())
        return parts;
    std::int64_t oh = 0, om = 0;
    if (!literal(' '))
        return std::nullopt;
    const bool negative = at < text.size() && text[at] == '-';
    if (!literal('+') && !literal('-'))
        return std::nullopt;
    if (!number(2, oh) || !literal(':') || !number(2, om) || at != text.size() || oh > 14 ||
        om > 59)
        return std::nullopt;
    parts.offsetMinutes = static_cast<int>((oh * 60 + om) * (negative ? -1 : 1));
    return parts;
}

TypedValue readTypedValue(ByteReader &in) {
    const std::uint8_t t = in.u8();
    auto fixed = [&](std::size_t n) { return in.bytes(n); };
    switch (t) {
    case type::kNull:
        return {{SqlKind::Null}, DbValue()};
    case type::kInt1: // tinyint: unsigned
        return {{SqlKind::TinyInt}, DbValue(static_cast<std::int64_t>(in.u8()))};
    case type::kBit:
        return {{SqlKind::Bit}, DbValue(static_cast<std::int64_t>(in.u8() != 0))};
    case type::kInt2:
        return {{SqlKind::SmallInt}, DbValue(signedLittle(fixed(2)))};
    case type::kInt4:
        return {{SqlKind::Int}, DbValue(signedLittle(fixed(4)))};
    case type::kInt8:
        return {{SqlKind::BigInt}, DbValue(signedLittle(fixed(8)))};
    case type::kFlt4:
        return {{SqlKind::Real}, floatValue(fixed(4))};
    case type::kFlt8:
        return {{SqlKind::Float}, floatValue(fixed(8))};
    case type::kMoney4:
        return {{SqlKind::SmallMoney}, moneyValue(fixed(4))};
    case type::kMoney:
        return {{SqlKind::Money}, moneyValue(fixed(8))};
    case type::kDateTim4:
        return {{SqlKind::SmallDateTime}, legacyDateTime(fixed(4))};
    case type::kDateTime:
        return {{SqlKind::DateTime}, legacyDateTime(fixed(8))};
    case type::kIntN:
    case type::kBitN:
    case type::kFltN:
    case type::kMoneyN:
    case type::kDateTimeN:
    case type::kGuid: {
        const std::uint8_t max = in.u8();
        const std::uint8_t length = in.u8();
        if (length > max)
            throw ProtocolError("a value is longer than its type allows");
        SqlType declared;
        switch (t) {
        case type::kIntN:
            declared = intType(max);
            break;
        case type::kBitN:
            declared = {SqlKind::Bit};
            break;
        case type::kFltN:
            declared = {max == 4 ? SqlKind::Real : SqlKind::Float};
            break;
        case type::kMoneyN:
            declared = {max == 4 ? SqlKind::SmallMoney : SqlKind::Money};
            break;
        case type::kDateTimeN:
            declared = {max == 4 ? SqlKind::SmallDateTime : SqlKind::DateTime};
            break;
        default:
            declared = {SqlKind::Guid};
            break;
        }
        if (length == 0)
            return {declared, DbValue()};
        std::string_view bytes = in.bytes(length);
        switch (t) {
        case type::kGuid:
            if (length != 16)
                throw ProtocolError("a uniqueidentifier is not 16 bytes");
            return {declared, guidValue(bytes)};
        case type::kFltN:
            if (length != 4 && length != 8)
                throw ProtocolError("a float has a wrong length");
            return {declared, floatValue(bytes)};
        case type::kBitN:
            return {declared, DbValue(static_cast<std::int64_t>(bytes[0] != 0))};
        case type::kMoneyN:
            return {declared, moneyValue(bytes)};
        case type::kDateTimeN:
            return {declared, legacyDateTime(bytes)};
        default:
            intType(length);
            return {declared,
                    length == 1
                        ? DbValue(static_cast<std::int64_t>(static_cast<std::uint8_t>(bytes[0])))
                        : DbValue(signedLittle(bytes))};
        }
    }
    case type::kDecimalN:
    case type::kNumericN:
    case type::kDecimalLegacy:
    case type::kNumericLegacy: {
        in.u8(); // max length
        SqlType declared{SqlKind::Decimal};
        declared.precision = in.u8();
        declared.scale = in.u8();
        const std::uint8_t length = in.u8();
        if (length > 17)
            throw ProtocolError("a decimal is longer than 17 bytes");
        return {declared, length == 0 ? DbValue() : decimalValue(in.bytes(length), declared.scale)};
    }
    case type::kDateN: {
        const std::uint8_t length = in.u8();
        if (length == 0)
            return {{SqlKind::Date}, DbValue()};
        if (length != 3)
            throw ProtocolError("a date is not three bytes");
        return {{SqlKind::Date}, DbValue(dateText(checkedDate(unsignedLittle(in.bytes(3)))))};
    }
    case type::kTimeN:
    case type::kDateTime2N:
    case type::kDateTimeOffsetN: {
        SqlType declared{t == type::kTimeN        ? SqlKind::Time
                         : t == type::kDateTime2N ? SqlKind::DateTime2
                                                  : SqlKind::DateTimeOffset};
        declared.scale = checkedScale(in.u8());
        const std::uint8_t length = in.u8();
        if (length == 0)
            return {declared, DbValue()};
        std::string_view bytes = in.bytes(length);
        if (t == type::kTimeN) {
            if (length != timeBytes(declared.scale))
                throw ProtocolError("a time has a wrong length");
            return {declared, DbValue(timeText(checkedTime(unsignedLittle(bytes), declared.scale),
                                               declared.scale))};
        }
        return {declared, dateTime2Value(bytes, declared.scale, t == type::kDateTimeOffsetN)};
    }
    case type::kNVarChar:
    case type::kNChar:
    case type::kBigVarChar:
    case type::kBigChar:
    case type::kBigVarBinary:
    case type::kBigBinary: {
        const std::uint16_t max = in.u16();
        const bool binary = t == type::kBigVarBinary || t == type::kBigBinary;
        const bool wide = t == type::kNVarChar || t == type::kNChar;
        if (!binary)
            in.skip(5); // collation
        const SqlType declared{binary ? SqlKind::Binary : wide ? SqlKind::NText : SqlKind::Text};
        std::optional<std::string> bytes;
        if (max == kVarMax && t != type::kBigChar && t != type::kNChar && t != type::kBigBinary) {
            bytes = readPlp(in);
        } else {
            const std::uint16_t length = in.u16();
            if (length != kNullLength)
                bytes = std::string(in.bytes(length));
        }
        if (!bytes)
            return {declared, DbValue()};
        if (wide && bytes->size() % 2)
            throw ProtocolError("a text of UTF-16 has an odd number of bytes");
        return {declared, DbValue(wide ? fromUtf16(*bytes) : *bytes)};
    }
    case type::kCharLegacy:
    case type::kVarCharLegacy:
    case type::kBinaryLegacy:
    case type::kVarBinaryLegacy: {
        in.u8(); // max length
        const std::uint8_t length = in.u8();
        const bool binary = t == type::kBinaryLegacy || t == type::kVarBinaryLegacy;
        const SqlType declared{binary ? SqlKind::Binary : SqlKind::Text};
        // A legacy type's null is a length of 0xFF.
        if (length == 0xFF)
            return {declared, DbValue()};
        return {declared, DbValue(std::string(in.bytes(length)))};
    }
    case type::kText:
    case type::kNText:
    case type::kImage: {
        in.u32(); // max length
        if (t != type::kImage)
            in.skip(5); // collation
        const SqlType declared{t == type::kImage  ? SqlKind::Binary
                               : t == type::kText ? SqlKind::Text
                                                  : SqlKind::NText};
        const std::uint32_t length = in.u32();
        if (length == 0xFFFFFFFF)
            return {declared, DbValue()};
        std::string_view bytes = in.bytes(length);
        return {declared, DbValue(t == type::kNText ? fromUtf16(bytes) : std::string(bytes))};
    }
    case type::kXml: {
        const std::uint8_t schemaPresent = in.u8();
        if (schemaPresent) {
            in.bVarchar();  // database
            in.bVarchar();  // owning schema
            in.usVarchar(); // schema collection
        }
        std::optional<std::string> bytes = readPlp(in);
        if (!bytes)
            return {{SqlKind::NText}, DbValue()};
        return {{SqlKind::NText}, DbValue(fromUtf16(*bytes))};
    }
    case type::kUdt:
        throw UnsupportedRequest("a parameter of a user-defined type is not taken by this server");
    case type::kTvp:
        throw UnsupportedRequest("a table-valued parameter is not taken by this server");
    case type::kVariant:
        throw UnsupportedRequest("a parameter of type sql_variant is not taken by this server");
    default:
        throw UnsupportedRequest("a parameter of type " + typeName(t) +
                                 " is not taken by this server");
    }
}

void writeTypedValue(ByteWriter &out, const SqlType &type, const DbValue &value) {
    const bool null = std::holds_alternative<std::monostate>(value);
    auto integer = [&]() -> std::optional<std::int64_t> {
        if (auto i = std::get_if<std::int64_t>(&value))
            return *i;
        if (auto d = std::get_if<double>(&value))
            return static_cast<std::int64_t>(std::llround(*d));
        if (auto s = std::get_if<std::string>(&value)) {
            try {
                return std::stoll(*s);
            } catch (const std::exception &) {
            }
        }
        return std::nullopt;
    };
    auto real = [&]() -> std::optional<double> {
        if (auto i = std::get_if<std::int64_t>(&value))
            return static_cast<double>(*i);
        if (auto d = std::get_if<double>(&value))
            return *d;
        if (auto s = std::get_if<std::string>(&value)) {
            try {
                return std::stod(*s);
            } catch (const std::exception &) {
            }
        }
        return std::nullopt;
    };
    auto text = [&]() -> std::string {
        if (auto s = std::get_if<std::string>(&value))
            return *s;
        if (auto i = std::get_if<std::int64_t>(&value))
            return std::to_string(*i);
        if (auto d = std::get_if<double>(&value)) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.17g", *d);
            return buffer;
        }
        return {};
    };
    switch (type.kind) {
    case SqlKind::Null:
    case SqlKind::NText:
    case SqlKind::Text: {
        // Every text goes back as nvarchar, whatever its character set was.
        out.u8(type::kNVarChar).u16(kVarMax).bytes(kCollation);
        if (null) {
            out.u64(kPlpNull);
            return;
        }
        const std::string bytes = toUtf16(text());
        out.u64(bytes.size());
        if (!bytes.empty())
            out.u32(static_cast<std::uint32_t>(bytes.size())).bytes(bytes);
        out.u32(0);
        return;
    }
    case SqlKind::Binary: {
        out.u8(type::kBigVarBinary).u16(kVarMax);
        if (null) {
            out.u64(kPlpNull);
            return;
        }
        const std::string bytes = text();
        out.u64(bytes.size());
        if (!bytes.empty())
            out.u32(static_cast<std::uint32_t>(bytes.size())).bytes(bytes);
        out.u32(0);
        return;
    }
    case SqlKind::Bit:
    case SqlKind::TinyInt:
    case SqlKind::SmallInt:
    case SqlKind::Int:
    case SqlKind::BigInt: {
        const std::uint8_t width = type.kind == SqlKind::Bit        ? 1
                                   : type.kind == SqlKind::TinyInt  ? 1
                                   : type.kind == SqlKind::SmallInt ? 2
                                   : type.kind == SqlKind::Int      ? 4
                                                                    : 8;
        out.u8(type.kind == SqlKind::Bit ? type::kBitN : type::kIntN).u8(width);
        const auto v = null ? std::nullopt : integer();
        if (!v) {
            out.u8(0);
            return;
        }
        out.u8(width);
        const auto bits = static_cast<std::uint64_t>(type.kind == SqlKind::Bit ? (*v != 0) : *v);
        for (std::uint8_t i = 0; i < width; ++i)
            out.u8(static_cast<std::uint8_t>(bits >> (8 * i)));
        return;
    }
    case SqlKind::Real:
    case SqlKind::Float: {
        const bool four = type.kind == SqlKind::Real;
        out.u8(type::kFltN).u8(four ? 4 : 8);
        const auto v = null ? std::nullopt : real();
        if (!v) {
            out.u8(0);
            return;
        }
        if (four) {
            // A number beyond a real's range is its infinity, as a conversion to real gives.
            const float f = std::fabs(*v) > std::numeric_limits<float>::max()
                                ? std::copysign(std::numeric_limits<float>::infinity(),
                                                static_cast<float>(*v > 0 ? 1 : -1))
                                : static_cast<float>(*v);
            out.u8(4).u32(std::bit_cast<std::uint32_t>(f));
        } else
            out.u8(8).u64(std::bit_cast<std::uint64_t>(*v));
        return;
    }
    case SqlKind::SmallMoney:
    case SqlKind::Money: {
        const bool four = type.kind == SqlKind::SmallMoney;
        out.u8(type::kMoneyN).u8(four ? 4 : 8);
        const auto v = null ? std::nullopt : real();
        if (!v) {
            out.u8(0);
            return;
        }
        const auto units = static_cast<std::int64_t>(std::llround(*v * 10000.0));
        if (four)
            out.u8(4).u32(static_cast<std::uint32_t>(units));
        else
            out.u8(8)
                .u32(static_cast<std::uint32_t>(static_cast<std::uint64_t>(units) >> 32))
                .u32(static_cast<std::uint32_t>(units));
        return;
    }
    case SqlKind::Decimal: {
        const std::uint8_t precision = type.precision ? type.precision : 38;
        out.u8(type::kNumericN).u8(17).u8(precision).u8(type.scale);
        const auto v = null ? std::nullopt : real();
        if (!v || !std::isfinite(*v)) {
            out.u8(0);
            return;
        }
        const double scaled = std::round(std::fabs(*v) * std::pow(10.0, type.scale));
        if (scaled >= 1.8e19) {
            out.u8(0);
            return;
        }
        out.u8(17).u8(*v < 0 ? 0 : 1).u64(static_cast<std::uint64_t>(scaled)).u64(0);
        return;
    }
    case SqlKind::Guid: {
        out.u8(type::kGuid).u8(16);
        const auto bytes = null ? std::nullopt : guidBytes(text());
        if (!bytes) {
            out.u8(0);
            return;
        }
        out.u8(16).bytes(*bytes);
        return;
    }
    case SqlKind::Date:
    case SqlKind::Time:
    case SqlKind::SmallDateTime:
    case SqlKind::DateTime:
    case SqlKind::DateTime2:
    case SqlKind::DateTimeOffset: {
        // Every date and time goes back as the newer types, which hold any of them exactly.
        const auto parts = null ? std::nullopt : parseDateText(text());
        if (type.kind == SqlKind::Date) {
            out.u8(type::kDateN);
            if (!parts || !parts->hasDate) {
                out.u8(0);
                return;
            }
            out.u8(3);
            for (int i = 0; i < 3; ++i)
                out.u8(
                    static_cast<std::uint8_t>(static_cast<std::uint64_t>(parts->days) >> (8 * i)));
            return;
        }
        const std::uint8_t scale = 7;
        const std::uint8_t t = type.kind == SqlKind::Time             ? type::kTimeN
                               : type.kind == SqlKind::DateTimeOffset ? type::kDateTimeOffsetN
                                                                      : type::kDateTime2N;
        out.u8(t).u8(scale);
        if (!parts || !parts->hasTime || (t != type::kTimeN && !parts->hasDate)) {
            out.u8(0);
            return;
        }
        std::int64_t days = parts->days;
        std::int64_t ticks = static_cast<std::int64_t>(parts->ticks);
        if (t == type::kDateTimeOffsetN) {
            // Sent as UTC with the offset beside it.
            ticks -= static_cast<std::int64_t>(parts->offsetMinutes) * 60 *
                     static_cast<std::int64_t>(kTicksPerSecond);
            const auto perDay = static_cast<std::int64_t>(kTicksPerDay);
            days += ticks >= 0 ? ticks / perDay : (ticks - perDay + 1) / perDay;
            ticks = ((ticks % perDay) + perDay) % perDay;
        }
        const std::uint8_t length = t == type::kTimeN ? 5 : t == type::kDateTime2N ? 8 : 10;
        out.u8(length);
        for (int i = 0; i < 5; ++i)
            out.u8(static_cast<std::uint8_t>(static_cast<std::uint64_t>(ticks) >> (8 * i)));
        if (t == type::kTimeN)
            return;
        for (int i = 0; i < 3; ++i)
            out.u8(static_cast<std::uint8_t>(static_cast<std::uint64_t>(days) >> (8 * i)));
        if (t == type::kDateTimeOffsetN)
            out.u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(parts->offsetMinutes)));
        return;
    }
    }
}

} // namespace zeph::tds
