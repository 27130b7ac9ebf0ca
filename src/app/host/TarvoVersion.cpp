#include "TarvoVersion.h"

#include "app/registry/RegistryAPI.h"

#include <cstdio>
#include <string>
#include <tuple>

namespace zeph {

namespace {

const char *const kVersionKey = "Software\\Ambrel\\";

std::string eightHexDigits(std::int32_t number) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<std::uint32_t>(number));
    return text;
}

// The leading decimal digits of four hexadecimal ones; reading stops at the first letter.
std::int16_t leadingDecimal(const std::string &digits) {
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
    }
    return static_cast<std::int16_t>(value);
}

std::int16_t signedHex16(const std::string &digits) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(std::stoul(digits, nullptr, 16)));
}

} // namespace

VersionInfo decodeVersion(std::int32_t versionNumber, std::int32_t buildNumber) {
    const std::string version = eightHexDigits(versionNumber);
    const std::string build = eightHexDigits(buildNumber);
    VersionInfo info;
    info.Major = leadingDecimal(version.substr(0, 4));
    info.Minor = leadingDecimal(version.substr(4, 4));
    info.BuildHigh = leadingDecimal(build.substr(0, 4));
    info.BuildLow = signedHex16(build.substr(4, 4));
    return info;
}

VersionInfo TarvoVersion::ReadInstalledVersion() {
    const std::int32_t version = regNumber(
        m_registry.QueryValue(HKEY_LOCAL_MACHINE, kVersionKey, "Version Number", REG_DWORD));
    const std::int32_t build = regNumber(
        m_registry.QueryValue(HKEY_LOCAL_MACHINE, kVersionKey, "Build Number", REG_DWORD));
    return decodeVersion(version, build);
}

bool TarvoVersion::IsVersionAtLeast(std::int16_t major, std::int16_t minor, std::int16_t buildHigh,
                                    std::int16_t buildLow) const {
    const VersionInfo &v = InstalledVersion;
    return std::tie(v.Major, v.Minor, v.BuildHigh, v.BuildLow) >=
           std::tie(major, minor, buildHigh, buildLow);
}

} // namespace zeph
