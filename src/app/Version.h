#pragma once
// The program's own version: 1.0.5 (file version "1.00.0005").

#include <string>

namespace zeph {

inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 5;

/// Major, minor and revision in plain decimal joined by ".": "1.0.5".
inline std::string ownVersionText() {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}

} // namespace zeph
