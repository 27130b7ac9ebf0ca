// SIGINT and SIGTERM watched: the first is counted, the second ends the program at once.
#include "Posix.h"
#include "platform/TerminalColumns.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zeph::posix {

namespace {

// Read by the signal handler: only lock-free atomics and a fixed buffer written before the
// handler is installed.
std::atomic<int> g_received{0};
std::atomic<int> g_firstSignal{0};
char g_lastWords[1024];
std::size_t g_lastWordsSize = 0;
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onInterrupt(int signal) {
    int expected = 0;
    g_firstSignal.compare_exchange_strong(expected, signal);
    if (g_received.fetch_add(1) + 1 < 2)
        return;
    // write and _exit are safe in a signal handler; nothing else is done here.
    std::size_t written = 0;
    while (written < g_lastWordsSize) {
        const ssize_t n = ::write(STDERR_FILENO, g_lastWords + written, g_lastWordsSize - written);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    ::_exit(128 + g_firstSignal.load());
}

void handleWith(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Reads and writes go on after the first interrupt: the program notices it between its
    // steps, not by a failed call.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

void watchInterrupts(const std::string &lastWords) {
    g_lastWordsSize = std::min(lastWords.size(), sizeof g_lastWords);
    std::memcpy(g_lastWords, lastWords.data(), g_lastWordsSize);
    g_received = 0;
    g_firstSignal = 0;
    handleWith(onInterrupt);
}

void unwatchInterrupts() {
    handleWith(SIG_DFL);
}

int interruptsReceived() {
    return g_received.load();
}

int interruptExitStatus() {
    const int signal = g_firstSignal.load();
    return 128 + (signal == 0 ? SIGINT : signal);
}

int terminalColumns(StandardStream stream) {
    if (const std::optional<int> columns = columnsSetting(environment("COLUMNS")))
        return *columns;
    const int fd = stream == StandardStream::Input    ? STDIN_FILENO
                   : stream == StandardStream::Output ? STDOUT_FILENO
                                                      : STDERR_FILENO;
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 0;
}

} // namespace zeph::posix
