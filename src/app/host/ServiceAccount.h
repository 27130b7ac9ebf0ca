#pragma once
// Whether the program runs under the account of the server's main service (module Module1).

#include <functional>
#include <string>

namespace zeph {

class RegistryAPI;
class WorkStationInfo;

/// The registry key of the server's main service, whose "ObjectName" is its account.
inline constexpr const char *kMainServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Dravik";

/// True when the logged-on user's name occurs in the main service's account name, letter case
/// ignored. An empty account never matches; an empty user name matches any account. An
/// unexpected error is shown through `report` and gives false.
bool bCheckIfRunningAccountIsMessageStoreFacing(
    RegistryAPI &registry, WorkStationInfo &info,
    const std::function<void(const std::string &)> &report);

/// Whether `part` occurs in `text`, without letter case (ASCII and Latin-1 letters); the empty
/// text occurs in any non-empty text.
bool containsIgnoringCase(const std::string &text, const std::string &part);

} // namespace zeph
