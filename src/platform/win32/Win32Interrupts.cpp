// The console's Ctrl+C, Ctrl+Break and close events watched: the first is counted, the second
// ends the program at once.
#include "Win32.h"
#include "platform/TerminalColumns.h"

// windows.h first: the other system headers need its types.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

namespace zeph::win32 {

namespace {

// The handler runs on a thread of its own: only atomics and a buffer written before it is set.
std::atomic<int> g_received{0};
std::atomic<int> g_firstStatus{0};
char g_lastWords[1024];
DWORD g_lastWordsSize = 0;

// The POSIX signal numbers the statuses follow, so that scripts read both systems alike.
constexpr int kInterruptStatus = 128 + 2;
constexpr int kTerminateStatus = 128 + 15;

BOOL WINAPI onConsoleEvent(DWORD event) {
    int status = kInterruptStatus;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        status = kTerminateStatus;
        break;
    default:
        return FALSE;
    }
    int expected = 0;
    g_firstStatus.compare_exchange_strong(expected, status);
    if (g_received.fetch_add(1) + 1 < 2)
        return TRUE;
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), g_lastWords, g_lastWordsSize, &written, nullptr);
    ::ExitProcess(static_cast<UINT>(g_firstStatus.load()));
}

} // namespace

void watchInterrupts(const std::string &lastWords) {
    g_lastWordsSize = static_cast<DWORD>(std::min(lastWords.size(), sizeof g_lastWords));
    std::memcpy(g_lastWords, lastWords.data(), g_lastWordsSize);
    g_received = 0;
    g_firstStatus = 0;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void unwatchInterrupts() {
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

int interruptsReceived() {
    return g_received.load();
}

int interruptExitStatus() {
    const int status = g_firstStatus.load();
    return status == 0 ? kInterruptStatus : status;
}

int terminalColumns(StandardStream stream) {
    if (const std::optional<int> columns = columnsSetting(environment("COLUMNS")))
        return *columns;
    const DWORD which = stream == StandardStream::Input    ? STD_INPUT_HANDLE
                        : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                           : STD_ERROR_HANDLE;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(which), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 0;
}

} // namespace zeph::win32
