#pragma once
// Service control manager and workstation information.

#include <cstdint>
#include <optional>
#include <string>

namespace zeph {

class IServices {
public:
    virtual ~IServices() = default;
    /// The current state of a service (1 stopped ... 4 running ... 7 paused), or nothing when
    /// the service manager or the service cannot be opened with full access, the service does
    /// not exist, or its status cannot be queried. An empty computer name means this computer.
    virtual std::optional<std::uint32_t> serviceState(const std::string &computer,
                                                      const std::string &service) = 0;
};

/// Workstation information level 102.
struct WkstaInfo102 {
    std::int32_t platformId = 0;
    std::string computerName;
    std::string langroup; // domain or workgroup
    std::int32_t verMajor = 0;
    std::int32_t verMinor = 0;
    std::string lanRoot;
    std::int32_t loggedOnUsers = 0;
};

/// Workstation user information level 1.
struct WkstaUserInfo1 {
    std::string userName;
    std::string logonDomain;
    std::string otherDomains;
    std::string logonServer;
};

class IWorkstation {
public:
    virtual ~IWorkstation() = default;
    /// The operating system's platform id; 2 for the NT family.
    virtual std::int32_t osPlatformId() = 0;
    virtual std::optional<WkstaInfo102> info102() = 0;
    virtual std::optional<WkstaUserInfo1> userInfo1() = 0;
    /// The logged-on user's locale as a POSIX locale name ("de_DE.UTF-8", "ja_JP"), from which
    /// the user's default language is taken; "" when unknown (English, United States).
    virtual std::string userLocale() { return {}; }
};

} // namespace zeph
