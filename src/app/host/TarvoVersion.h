#pragma once
// The installed server version: read from the registry once at start-up and compared with the
// minimum the program needs.

#include "VersionInfo.h"

#include <cstdint>

namespace zeph {

class RegistryAPI;

/// The registry's "Version Number" and "Build Number" as the server reads them: each written
/// as 8 capital hexadecimal digits; Major, Minor and BuildHigh are 4 of those digits read as a
/// decimal number up to the first letter ("000A" is 0), BuildLow the build's last 4 digits read
/// as a signed 16-bit hexadecimal number ("FFFF" is -1).
VersionInfo decodeVersion(std::int32_t versionNumber, std::int32_t buildNumber);

class TarvoVersion {
public:
    explicit TarvoVersion(RegistryAPI &registry)
        : m_registry(registry) {}

    /// Filled by the start-up checks with ReadInstalledVersion; read by IsVersionAtLeast.
    VersionInfo InstalledVersion;

    /// The version under "Software\Ambrel\"; missing values read as 0.
    VersionInfo ReadInstalledVersion();
    /// True when InstalledVersion is the given version or a later one, field by field from
    /// Major to BuildLow as signed numbers.
    bool IsVersionAtLeast(std::int16_t major, std::int16_t minor, std::int16_t buildHigh,
                          std::int16_t buildLow) const;

private:
    RegistryAPI &m_registry;
};

} // namespace zeph
