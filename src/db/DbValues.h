#pragma once
// Reading column values the way the system reads them, and comparing them the way a search does.

#include "platform/AsciiText.h"
#include "platform/Database.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zeph::db {

/// NULL, for assigning to a field or passing as a value.
inline const DbValue Null{};

inline bool isNull(const DbValue &v) {
    return std::holds_alternative<std::monostate>(v);
}

/// A value as text: numbers in plain decimal. NULL throws (94, "Invalid use of Null").
std::string valueText(const DbValue &v);
/// A value as a whole number (text is converted; a fraction is rounded half to even).
/// NULL throws 94; text that is no number throws (13, "Type mismatch").
std::int64_t valueLong(const DbValue &v);
/// A value as a number. NULL throws 94; text that is no number throws 13.
double valueDouble(const DbValue &v);

/// The text a search compares: numbers in plain decimal (a whole double as an integer), text as
/// it is. Comparison ignores letter case (ASCII), as the server's collation does. NULL has no key.
std::string searchKey(const DbValue &v);
/// True when the value's search key equals `key` without regard to letter case; never for NULL.
/// Same answer as comparing searchKey(v), without building it.
bool matchesKey(const DbValue &v, std::string_view key);

/// Hash and equality for search keys (letter case ignored); usable with string_view look-ups.
struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
};
struct KeyEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept {
        return equalsIgnoreCase(a, b);
    }
};

} // namespace zeph::db
