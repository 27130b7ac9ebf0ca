#pragma once
// The program's own English string table: every text the program looks up by id. A language
// library holds the same ids; whatever it lacks comes from here.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zeph::i18n {

struct OwnString {
    std::uint32_t id;
    std::string_view text;
};

/// Every entry of the table, in ascending id order.
std::span<const OwnString> ownStrings();

/// The English text with this id, or nothing when the table has no such id.
std::optional<std::string_view> ownString(std::uint32_t id);

} // namespace zeph::i18n
