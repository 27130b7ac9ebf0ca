// The machine, the user, the environment, the clock and GUIDs on Windows' own calls.
#include "WideText.h"
#include "Win32.h"

#include "platform/SystemClock.h"

// windows.h first: the other system headers need its types.
#include <windows.h>

#include <objbase.h>

#include <ctime>

namespace zeph::win32 {

std::string environment(const char *name) {
    const std::wstring wide = widen(name);
    const DWORD size = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(wide.c_str(), value.data(), size);
    value.resize(n < size ? n : 0);
    return narrow(value);
}

bool isTerminal(StandardStream stream) {
    const DWORD which = stream == StandardStream::Input    ? STD_INPUT_HANDLE
                        : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                           : STD_ERROR_HANDLE;
    HANDLE handle = ::GetStdHandle(which);
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode);
}

std::string currentUserName() {
    wchar_t name[257] = {};
    DWORD size = 257;
    if (::GetUserNameW(name, &size))
        return narrow(name);
    return environment("USERNAME");
}

std::string hostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (::GetComputerNameW(name, &size))
        return narrow(name);
    return "localhost";
}

std::string executableFolder() {
    std::wstring path(32768, L'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size())
        return ".";
    path.resize(n);
    const std::string exe = narrow(path);
    const auto slash = exe.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

LocalTime localTimeOf(TimePoint t) {
    std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    ::localtime_s(&tm, &secs);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

namespace {

class SystemGuidSource : public IGuidSource {
public:
    std::string newGuid() override {
        GUID guid{};
        if (FAILED(::CoCreateGuid(&guid)))
            return {};
        wchar_t text[40] = {};
        if (::StringFromGUID2(guid, text, 40) == 0)
            return {};
        return narrow(text); // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case
    }
};

} // namespace

std::unique_ptr<IClock> makeSystemClock() {
    return std::make_unique<SystemClock>(&localTimeOf, SystemClock::Sleeps::Wait);
}
std::unique_ptr<IGuidSource> makeGuidSource() {
    return std::make_unique<SystemGuidSource>();
}

} // namespace zeph::win32
