// Starting programs and opening documents. Windows reads the command line itself, as the
// system expects: "notepad FILE" opens the file, and an unquoted program path cut at a blank
// is tried shortest first.
#include "WideText.h"
#include "Win32.h"

// windows.h first: the other system headers need its types.
#include <windows.h>

#include <shellapi.h>

namespace zeph::win32 {

namespace {

WORD showCommand(WindowStyle style) {
    switch (style) {
    case WindowStyle::MinimizedFocus:
        return SW_SHOWMINIMIZED;
    case WindowStyle::Hidden:
        return SW_HIDE;
    case WindowStyle::Normal:
        break;
    }
    return SW_SHOWNORMAL;
}

class Win32Shell : public IShell {
public:
    bool startProgram(const std::string &commandLine, WindowStyle style) override {
        std::wstring line = widen(commandLine);
        if (line.empty())
            return false;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = showCommand(style);
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                              CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process))
            return false;
        // Not waited for: the program outlives this one.
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        return true;
    }

    bool openDocument(const std::string &address) override {
        const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
            nullptr, L"open", widen(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        return result > 32;
    }
};

} // namespace

std::unique_ptr<IShell> makeShell() {
    return std::make_unique<Win32Shell>();
}

} // namespace zeph::win32
