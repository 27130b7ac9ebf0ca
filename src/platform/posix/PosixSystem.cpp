#include "Posix.h"

#include "platform/SystemClock.h"

#include <array>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <pwd.h>
#include <random>
#include <unistd.h>

namespace zeph::posix {

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool isTerminal(StandardStream stream) {
    const int fd = stream == StandardStream::Input    ? STDIN_FILENO
                   : stream == StandardStream::Output ? STDOUT_FILENO
                                                      : STDERR_FILENO;
    return ::isatty(fd) == 1;
}

std::string currentUserName() {
    if (struct passwd *pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return pw->pw_name;
    return environment("USER");
}

std::string hostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0)
        return "localhost";
    std::string host(name.data());
    if (auto dot = host.find('.'); dot != std::string::npos)
        host.resize(dot);
    return host;
}

std::string executableFolder() {
    std::array<char, PATH_MAX> path{};
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0)
        return ".";
    std::string exe(path.data(), static_cast<std::size_t>(n));
    auto slash = exe.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : exe.substr(0, slash);
}

LocalTime localTimeOf(TimePoint t) {
    std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    ::localtime_r(&secs, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

namespace {

class RandomGuidSource : public IGuidSource {
public:
    std::string newGuid() override {
        std::uniform_int_distribution<unsigned> nibble(0, 15);
        static const char *digits = "0123456789ABCDEF";
        std::string text = "{";
        for (int i = 0; i < 32; ++i) {
            if (i == 8 || i == 12 || i == 16 || i == 20)
                text += '-';
            unsigned v = nibble(m_engine);
            if (i == 12)
                v = 4; // version 4: random
            if (i == 16)
                v = 8 | (v & 3); // RFC 4122 variant
            text += digits[v];
        }
        text += '}';
        return text;
    }

private:
    std::mt19937_64 m_engine{std::random_device{}()};
};

} // namespace

std::unique_ptr<IClock> makeSystemClock() {
    return std::make_unique<SystemClock>(&localTimeOf, SystemClock::Sleeps::Wait);
}
std::unique_ptr<IGuidSource> makeGuidSource() {
    return std::make_unique<RandomGuidSource>();
}

} // namespace zeph::posix

namespace zeph::posix {

std::unique_ptr<Host> openServerMachine(std::function<void(const std::string &)>,
                                        const std::string &) {
    return nullptr;
}

} // namespace zeph::posix
