#include "WorkStationInfo.h"

#include "platform/Services.h"

#include <exception>

namespace zeph {

namespace {

constexpr std::int32_t kPlatformNT = 2;

// Workstation information is a courtesy: whatever the system cannot tell stays empty.
template <class Call> auto orNothing(Call &&call) -> decltype(call()) {
    try {
        return call();
    } catch (const std::exception &) {
        return {};
    }
}

} // namespace

WorkStationInfo::WorkStationInfo(IWorkstation &workstation)
    : m_workstation(workstation) {
    if (orNothing([&] { return m_workstation.osPlatformId(); }) == kPlatformNT) {
        m_isNT = true;
        Refresh();
    }
}

void WorkStationInfo::Refresh() {
    if (!m_isNT)
        return;
    if (const auto info = orNothing([&] { return m_workstation.info102(); })) {
        m_platformId = info->platformId;
        m_computerName = info->computerName;
        m_domain = info->langroup;
        m_verMajor = info->verMajor;
        m_verMinor = info->verMinor;
        m_lanRoot = info->lanRoot;
        m_loggedOnUsers = info->loggedOnUsers;
    }
    if (const auto user = orNothing([&] { return m_workstation.userInfo1(); })) {
        m_userName = user->userName;
        m_logonDomain = user->logonDomain;
        m_otherDomains = user->otherDomains;
        m_logonServer = user->logonServer;
    }
}

} // namespace zeph
