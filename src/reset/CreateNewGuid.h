#pragma once
// Fresh GUIDs for directory sync tickets.

#include "platform/Clock.h"

#include <string>

namespace zeph {

/// The length of a GUID in braced text form: "{" 8-4-4-4-12 hexadecimal digits "}".
inline constexpr std::size_t kBracedGuidLength = 38;

/// A freshly generated GUID in braced text form, 38 characters with nothing after the brace.
/// Throws Error when the generator gives no GUID of that form.
std::string CreateNewGuid(IGuidSource &guids);

/// True for a braced GUID text of exactly 38 characters.
bool isBracedGuid(const std::string &text);

} // namespace zeph
