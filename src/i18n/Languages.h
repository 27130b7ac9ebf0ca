#pragma once
// Windows language ids, their three-letter codes and display names, answered from our own
// tables so that every OS gives the same answers as a Windows server would.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zeph::i18n {

/// The language id of English (United States), the answer for every unknown code.
inline constexpr std::int32_t kEnglishUs = 1033;
/// The program's own pseudo-language "English (TDD/TTY)"; no Windows language.
inline constexpr std::int32_t kEnglishTddTty = 33801;

/// One row of the code table that maps language-library codes to language ids.
struct LanguageCode {
    std::string_view code;
    std::int32_t id;
};

/// The code table, in its own order.
std::span<const LanguageCode> languageCodeTable();

/// The language id of a library code, compared with exact case; 1033 for every other code.
std::int32_t CodeToLangId(std::string_view code);

/// The three-letter abbreviation of a language ("ENU", "DEU", "JPN"); "ENX" for 33801, "ERR"
/// for an id that is no known language.
std::string LangIdToCode(std::int32_t langId);

/// The display name of a language ("German (Germany)"); "English (TDD/TTY)" for 33801,
/// "(error)" for an id that is no known language.
std::string LangIdToName(std::int32_t langId);

/// The display name of the language that CodeToLangId gives for a code.
std::string CodeToLanguageName(std::string_view code);

/// The language id of a POSIX locale name such as "de_DE.UTF-8", "fr_CA" or "ja"; a language
/// known without its territory gives the language's main id. "C", "POSIX", "" and unknown
/// languages give 1033.
std::int32_t langIdFromLocale(std::string_view locale);

} // namespace zeph::i18n
