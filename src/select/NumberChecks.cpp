#include "NumberChecks.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace zeph {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Checks the shape by hand: from_chars alone would also take "inf", "nan" and hex forms.
bool hasNumberShape(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        std::size_t exponentDigits = 0;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return false;
    }
    return i == s.size();
}

} // namespace

std::optional<double> numericValue(std::string_view text) {
    std::string_view s = trimBlanks(text);
    if (!hasNumberShape(s))
        return std::nullopt;
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    double value = 0;
    auto result = std::from_chars(s.data(), s.data() + s.size(), value);
    if (result.ec != std::errc() || result.ptr != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

bool isNumericText(std::string_view text) {
    return numericValue(text).has_value();
}

std::string numberText(double value) {
    // Whole values within the exact range of a double are written as plain digits.
    constexpr double kExact = 9007199254740992.0; // 2^53
    if (value == std::trunc(value) && std::fabs(value) <= kExact)
        return std::to_string(static_cast<std::int64_t>(value));
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

bool MyIsNumber(std::string_view text, std::optional<std::int32_t> lowest,
                std::optional<std::int32_t> highest) {
    if (text.empty())
        return true;
    auto value = numericValue(text);
    if (!value)
        return false;
    if (*value != std::fabs(std::trunc(*value)))
        return false; // a fraction, or below 0
    if (text.find('.') != std::string_view::npos)
        return false;
    const bool given = lowest.has_value() || highest.has_value();
    const bool bothZero = lowest.value_or(0) == 0 && highest.value_or(0) == 0;
    if (given && !bothZero) {
        if (lowest && *value < *lowest)
            return false;
        if (highest && *value > *highest)
            return false;
    }
    return true;
}

} // namespace zeph
