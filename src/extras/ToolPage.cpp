#include "ToolPage.h"

namespace zeph {

namespace {

// A host name is letters, digits, dots, hyphens and an optional port; anything else (a path,
// a blank, a scheme) would make an address other than the tool page, so the default serves.
bool plausibleHost(const std::string &host) {
    if (host.empty() || host.size() > 253)
        return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

std::string ToolSiteName(RegistryAPI &registry) {
    std::string host;
    try {
        host = regText(registry.QueryValue(HKEY_LOCAL_MACHINE, kToolSettingsKey, kToolPageHostValue,
                                           REG_SZ, std::string()));
    } catch (...) {
        host.clear();
    }
    return plausibleHost(host) ? host : std::string(kDefaultToolPageHost);
}

std::string ToolPageAddress(RegistryAPI &registry) {
    return "http://" + ToolSiteName(registry) + kToolPagePath;
}

} // namespace zeph
