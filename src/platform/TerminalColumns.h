#pragma once
// The terminal width the environment's COLUMNS gives, read alike by every backend: it goes
// before what the terminal itself says, so that a script or a test can set the width.

#include <charconv>
#include <optional>
#include <string_view>

namespace zeph {

/// The width COLUMNS sets: a whole number from 1 to 99999 and nothing else (no sign, blanks or
/// unit); nothing when it is unset or holds anything else, so the terminal is asked instead.
inline std::optional<int> columnsSetting(std::string_view text) {
    int columns = 0;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, columns);
    if (text.empty() || text.front() == '-' || error != std::errc() || stop != end ||
        columns <= 0 || columns >= 100000)
        return std::nullopt;
    return columns;
}

} // namespace zeph
