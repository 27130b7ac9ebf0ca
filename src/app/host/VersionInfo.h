#pragma once
// The server's version as its registry states it.

#include <cstdint>

namespace zeph {

struct VersionInfo {
    std::int16_t Major = 0;
    std::int16_t Minor = 0;
    std::int16_t BuildHigh = 0;
    std::int16_t BuildLow = 0;

    bool operator==(const VersionInfo &) const = default;
};

} // namespace zeph
