#pragma once
// Letter case and blanks of the system's own names, keywords and settings. Only A-Z and a-z
// change case, whatever the process locale, so UTF-8 text passes through untouched.

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace zeph {

constexpr char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string lowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), asciiLower);
    return out;
}

inline std::string upperAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), asciiUpper);
    return out;
}

inline bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    if (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0)
        return true; // the usual case: the same text in the same letter case
    return std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

/// Where `word` first stands in `text` at or after `from`, in any letter case; npos if nowhere.
inline std::size_t findIgnoreCase(std::string_view text, std::string_view word,
                                  std::size_t from = 0) {
    if (from > text.size())
        return std::string_view::npos;
    const auto it =
        std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), word.begin(),
                    word.end(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
    return it == text.end() && !word.empty() ? std::string_view::npos
                                             : static_cast<std::size_t>(it - text.begin());
}

inline bool containsIgnoreCase(std::string_view text, std::string_view word) {
    return findIgnoreCase(text, word) != std::string_view::npos;
}

/// The text without the blanks (spaces, tabs, line breaks) at either end.
inline std::string_view trimBlanks(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace zeph
