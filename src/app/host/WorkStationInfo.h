#pragma once
// The computer and the logged-on user, as the workstation service reports them.

#include <cstdint>
#include <string>

namespace zeph {

class IWorkstation;

class WorkStationInfo {
public:
    /// Asks for the system's platform; on the NT family it fills the properties at once.
    explicit WorkStationInfo(IWorkstation &workstation);

    const std::string &ComputerName() const { return m_computerName; }
    const std::string &Domain() const { return m_domain; }
    const std::string &LanRoot() const { return m_lanRoot; }
    std::int32_t LoggedOnUsers() const { return m_loggedOnUsers; }
    std::int32_t PlatformId() const { return m_platformId; }
    std::int32_t VerMajor() const { return m_verMajor; }
    std::int32_t VerMinor() const { return m_verMinor; }
    const std::string &LogonDomain() const { return m_logonDomain; }
    const std::string &LogonServer() const { return m_logonServer; }
    const std::string &OtherDomains() const { return m_otherDomains; }
    const std::string &UserName() const { return m_userName; }

    /// Reads the workstation and user information again (NT family only). Information the
    /// system does not give keeps its previous value; nothing is ever reported.
    void Refresh();

    bool isNT() const { return m_isNT; }

private:
    IWorkstation &m_workstation;
    bool m_isNT = false;
    std::string m_computerName;
    std::string m_domain;
    std::string m_lanRoot;
    std::int32_t m_loggedOnUsers = 0;
    std::int32_t m_platformId = 0;
    std::int32_t m_verMajor = 0;
    std::int32_t m_verMinor = 0;
    std::string m_logonDomain;
    std::string m_logonServer;
    std::string m_otherDomains;
    std::string m_userName;
};

} // namespace zeph
