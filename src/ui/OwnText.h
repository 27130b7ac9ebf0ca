#pragma once
// Texts the windows add to the program's string table: looked up in the language library in
// use, falling back to the program's own English table like every other text.

#include <QString>
#include <cstdint>

namespace zeph::i18n {
class modLocalize;
}

namespace zeph::ui {

/// The text with this string-table id; `localize` may be null (English).
QString ownText(i18n::modLocalize *localize, std::uint32_t id);

} // namespace zeph::ui
