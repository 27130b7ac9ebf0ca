#pragma once
// The address of this tool's page on the maker's tools web site.

#include "app/registry/RegistryAPI.h"

#include <string>

namespace zeph {

/// Registry key and value of the program's own that name the tools web site's host.
inline constexpr const char *kToolSettingsKey =
    "SOFTWARE\\Ambrel\\Brennor\\Administration Tools\\Wystan";
inline constexpr const char *kToolPageHostValue = "ToolPageHost";
inline constexpr const char *kDefaultToolPageHost = "tools.ambrel.example";
inline constexpr const char *kToolPagePath = "/App_Zephrane.htm";

/// "http://" + the configured host (or the default one) + "/App_Zephrane.htm".
std::string ToolPageAddress(RegistryAPI &registry);
/// The tools web site's name as the messages show it: the configured host.
std::string ToolSiteName(RegistryAPI &registry);

} // namespace zeph
