#include "DbValues.h"
#include "platform/AsciiText.h"

#include "AdoErrors.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace zeph::db {
namespace {

// Writes the search key of a number into buf; returns its length.
std::size_t numberKey(std::int64_t n, char (&buf)[32]) {
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    return static_cast<std::size_t>(r.ptr - buf);
}

std::size_t numberKey(double d, char (&buf)[32]) {
    // A whole number reads the same whichever type the column stored it as.
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15)
        return numberKey(static_cast<std::int64_t>(d), buf);
    // Fifteen significant digits, as the system writes a double as text: 0.1 + 0.2 is "0.3".
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    for (char *p = buf; p < r.ptr; ++p) {
        if (*p == 'e')
            *p = 'E';
    }
    return static_cast<std::size_t>(r.ptr - buf);
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

double parseNumber(const std::string &text) {
    std::string_view s = trimmed(text);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    double d = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), d);
    if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size())
        throwAdo(adoerr::kTypeMismatch);
    return d;
}

} // namespace

// Eight bytes at a time. Setting bit 0x20 of every byte folds letter case (and makes a few
// other characters hash alike, which the comparison then tells apart).
std::size_t KeyHash::operator()(std::string_view s) const noexcept {
    constexpr std::uint64_t kFold = 0x2020202020202020ull;
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = s.size() * kMul;
    const char *p = s.data();
    std::size_t n = s.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ (w | kFold)) * kMul;
        h ^= h >> 29;
    }
    for (; n > 0; ++p, --n)
        h = (h ^ (static_cast<unsigned char>(*p) | 0x20u)) * kMul;
    h ^= h >> 29;
    return static_cast<std::size_t>(h);
}

std::string valueText(const DbValue &v) {
    if (auto s = std::get_if<std::string>(&v))
        return *s;
    char buf[32];
    if (auto n = std::get_if<std::int64_t>(&v))
        return std::string(buf, numberKey(*n, buf));
    if (auto d = std::get_if<double>(&v))
        return std::string(buf, numberKey(*d, buf));
    throwAdo(adoerr::kInvalidUseOfNull);
}

double valueDouble(const DbValue &v) {
    if (auto n = std::get_if<std::int64_t>(&v))
        return static_cast<double>(*n);
    if (auto d = std::get_if<double>(&v))
        return *d;
    if (auto s = std::get_if<std::string>(&v))
        return parseNumber(*s);
    throwAdo(adoerr::kInvalidUseOfNull);
}

std::int64_t valueLong(const DbValue &v) {
    if (auto n = std::get_if<std::int64_t>(&v))
        return *n;
    if (auto s = std::get_if<std::string>(&v)) {
        // Whole-number text converts exactly, beyond a double's precision.
        std::string_view t = trimmed(*s);
        std::int64_t n = 0;
        auto r = std::from_chars(t.data(), t.data() + t.size(), n);
        if (!t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size())
            return n;
    }
    double d = std::nearbyint(valueDouble(v)); // rounds half to even
    if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18))
        throw Error(6, "Overflow");
    return static_cast<std::int64_t>(d);
}

std::string searchKey(const DbValue &v) {
    if (isNull(v))
        return {};
    return valueText(v);
}

bool matchesKey(const DbValue &v, std::string_view key) {
    if (auto s = std::get_if<std::string>(&v))
        return equalsIgnoreCase(*s, key);
    char buf[32];
    if (auto n = std::get_if<std::int64_t>(&v))
        return std::string_view(buf, numberKey(*n, buf)) == key;
    if (auto d = std::get_if<double>(&v))
        return equalsIgnoreCase(std::string_view(buf, numberKey(*d, buf)), key);
    return false;
}

} // namespace zeph::db
