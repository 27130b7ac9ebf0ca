#include "ServeCommand.h"

#include "HostFolder.h"
#include "TdsListener.h"
#include "platform/Native.h"
#include "standin/SimHost.h"
#include "standin/SimParts.h"

#include <iostream>
#include <mutex>

namespace zeph::sim {
namespace {

// The sessions' threads share the host's clock and GUID source; these take turns on them.
class SharedClock : public IClock {
public:
    explicit SharedClock(std::unique_ptr<IClock> clock)
        : m_clock(std::move(clock)) {}
    TimePoint now() override {
        std::lock_guard lock(m_mutex);
        return m_clock->now();
    }
    LocalTime toLocal(TimePoint t) override {
        std::lock_guard lock(m_mutex);
        return m_clock->toLocal(t);
    }
    void sleepMs(int milliseconds) override {
        std::lock_guard lock(m_mutex);
        m_clock->sleepMs(milliseconds);
    }

private:
    std::mutex m_mutex;
    std::unique_ptr<IClock> m_clock;
};

class SharedGuids : public IGuidSource {
public:
    explicit SharedGuids(std::unique_ptr<IGuidSource> guids)
        : m_guids(std::move(guids)) {}
    std::string newGuid() override {
        std::lock_guard lock(m_mutex);
        return m_guids->newGuid();
    }

private:
    std::mutex m_mutex;
    std::unique_ptr<IGuidSource> m_guids;
};

const char *kServeUsage =
    "serve needs HOST [--port N] [--max-connections N] [--login-timeout SECONDS] [--verbose]";

} // namespace

int serveCommand(const std::vector<std::string> &args) {
    if (args.empty()) {
        std::cerr << "zephrane-sim: " << kServeUsage << "\n";
        return 2;
    }
    const std::string &folder = args[0];
    int port = 1433;
    bool verbose = false;
    int maxConnections = 64;
    int loginTimeout = 30;
    // A whole number from `low` to `high` after an option; false when there is none.
    auto number = [&](std::size_t i, int low, int high, int &value) {
        if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1].size() > 5 ||
            args[i + 1].find_first_not_of("0123456789") != std::string::npos)
            return false;
        const int v = std::stoi(args[i + 1]);
        if (v < low || v > high)
            return false;
        value = v;
        return true;
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--verbose") {
            verbose = true;
        } else if ((args[i] == "--port" && number(i, 0, 65535, port)) ||
                   (args[i] == "--max-connections" && number(i, 1, 10000, maxConnections)) ||
                   (args[i] == "--login-timeout" && number(i, 1, 3600, loginTimeout))) {
            ++i; // the option's value
        } else {
            std::cerr << "zephrane-sim: " << kServeUsage
                      << " (--port takes 0 to 65535, --max-connections 1 to 10000, "
                         "--login-timeout 1 to 3600 seconds)\n";
            return 2;
        }
    }
    if (!requireHost(folder))
        return 1;
    const SimSettings settings = loadSettings(folder);

    // Lives as long as the process: the sessions' threads hold on to it.
    static SharedClock clock(makeClock(settings));
    static SharedGuids guids(native::makeGuidSource());
    static tds::ServeSettings serve;
    static std::mutex outputMutex;
    serve.databasePath = databasePath(folder);
    serve.login = settings.get("sql-login");
    serve.password = settings.get("sql-password");
    serve.context.setting = [settings](const std::string &name) { return settings.get(name); };
    serve.context.clock = &clock;
    serve.context.guids = &guids;
    serve.maxConnections = maxConnections;
    serve.loginTimeout = std::chrono::seconds(loginTimeout);
    serve.context.notice = [](const std::string &text) {
        std::lock_guard lock(outputMutex);
        std::cerr << "zephrane-sim: " << text << std::endl;
    };
    if (verbose) {
        serve.log = [](const std::string &line) {
            std::lock_guard lock(outputMutex);
            std::cout << line << std::endl;
        };
    }
    if (serve.password.empty()) {
        std::cerr << "zephrane-sim: " << folder
                  << " has no SQL password, so no login could be accepted; set one with: "
                     "zephrane-sim set "
                  << folder << " sql-password PASSWORD\n";
        return 1;
    }
    const Status served = serveTds(serve, port, [&](int listeningPort) {
        std::lock_guard lock(outputMutex);
        std::cout << "zephrane-sim: serving " << folder << " over TDS on 127.0.0.1 port "
                  << listeningPort << " (SQL login " << serve.login << ")" << std::endl;
    });
    std::cerr << "zephrane-sim: " << (served ? "the server stopped listening" : served.error())
              << "\n";
    return 1;
}

} // namespace zeph::sim
