#pragma once
// The word the run log uses for the type number of a directory object.

#include <cstdint>
#include <string>

namespace zeph {

/// 1 "Subscriber", 2 "Distribution List", 3 "Call Handler", 5 "Inteview Handler",
/// 6 "Directory Handler", 9 "Location Object", any other number "Unknown".
std::string GetObjectTypeName(std::int64_t objectType);

} // namespace zeph
