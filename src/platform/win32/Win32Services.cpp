// Service states from the service control manager, and the workstation's own information.
#include "WideText.h"
#include "Win32Machine.h"

// windows.h first: the other system headers need its types.
#include <windows.h>

#include <lm.h>

#include "OwnedHandle.h"
namespace zeph::win32 {

namespace {

using ServiceHandle = OwnedHandle<SC_HANDLE, &::CloseServiceHandle>;

// The system opens the manager and the service with full access: an account that may not
// control services gets no state at all.
class Win32Services : public IServices {
public:
    std::optional<std::uint32_t> serviceState(const std::string &computer,
                                              const std::string &service) override {
        const std::wstring machine = widen(computer);
        ServiceHandle manager(::OpenSCManagerW(machine.empty() ? nullptr : machine.c_str(), nullptr,
                                               SC_MANAGER_ALL_ACCESS));
        if (!manager.get())
            return std::nullopt;
        ServiceHandle handle(
            ::OpenServiceW(manager.get(), widen(service).c_str(), SERVICE_ALL_ACCESS));
        if (!handle.get())
            return std::nullopt;
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(handle.get(), &status))
            return std::nullopt;
        return static_cast<std::uint32_t>(status.dwCurrentState);
    }
};

class Win32Workstation : public IWorkstation {
public:
    std::int32_t osPlatformId() override { return VER_PLATFORM_WIN32_NT; }

    std::optional<WkstaInfo102> info102() override {
        LPBYTE buffer = nullptr;
        if (::NetWkstaGetInfo(nullptr, 102, &buffer) != NERR_Success || !buffer)
            return std::nullopt;
        const auto *raw = reinterpret_cast<const WKSTA_INFO_102 *>(buffer);
        WkstaInfo102 info;
        info.platformId = static_cast<std::int32_t>(raw->wki102_platform_id);
        info.computerName = narrow(raw->wki102_computername);
        info.langroup = narrow(raw->wki102_langroup);
        info.verMajor = static_cast<std::int32_t>(raw->wki102_ver_major);
        info.verMinor = static_cast<std::int32_t>(raw->wki102_ver_minor);
        info.lanRoot = narrow(raw->wki102_lanroot);
        info.loggedOnUsers = static_cast<std::int32_t>(raw->wki102_logged_on_users);
        ::NetApiBufferFree(buffer);
        return info;
    }

    std::optional<WkstaUserInfo1> userInfo1() override {
        LPBYTE buffer = nullptr;
        if (::NetWkstaUserGetInfo(nullptr, 1, &buffer) != NERR_Success || !buffer)
            return std::nullopt;
        const auto *raw = reinterpret_cast<const WKSTA_USER_INFO_1 *>(buffer);
        WkstaUserInfo1 info;
        info.userName = narrow(raw->wkui1_username);
        info.logonDomain = narrow(raw->wkui1_logon_domain);
        info.otherDomains = narrow(raw->wkui1_oth_domains);
        info.logonServer = narrow(raw->wkui1_logon_server);
        ::NetApiBufferFree(buffer);
        return info;
    }

    // "de-DE" as the POSIX form "de_DE", which the language choice reads.
    std::string userLocale() override {
        wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
        if (::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) == 0)
            return {};
        std::string locale = narrow(name);
        for (char &c : locale) {
            if (c == '-')
                c = '_';
        }
        return locale;
    }
};

} // namespace

std::unique_ptr<IServices> makeServices() {
    return std::make_unique<Win32Services>();
}
std::unique_ptr<IWorkstation> makeWorkstation() {
    return std::make_unique<Win32Workstation>();
}

} // namespace zeph::win32
