#pragma once
// Lengths in UTF-16 code units of UTF-8 text: the unit in which the system's string buffers
// are measured.

#include <cstddef>
#include <string>
#include <string_view>

namespace zeph::i18n {

/// The number of UTF-16 code units the text takes (a character beyond U+FFFF takes two).
std::size_t utf16Length(std::string_view utf8);

/// The longest start of the text that takes at most `maxUnits` UTF-16 code units, never
/// ending inside a character.
std::string cutToUtf16Units(std::string_view utf8, std::size_t maxUnits);

} // namespace zeph::i18n
