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

const char *kServeUsage = "serve needs HOST [--port N] [--verbose]";

} // namespace

int serveCommand(const std::vector<std::string> &args) {
    if (args.empty()) {
        std::cerr << "zephrane-sim: " << kServeUsage << "\n";
        return 2;
    }
    const std::string &folder = args[0];
    int port = 1433;
    bool verbose = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--verbose") {
            verbose = true;
        } else if (args[i] == "--port" && i + 1 < args.size() && !args[i + 1].empty() &&
                   args[i + 1].size() <= 5 &&
                   args[i + 1].find_first_not_of("0123456789") == std::string::npos &&
                   std::stoi(args[i + 1]) <= 65535) {
            port = std::stoi(args[++i]);
        } else {
            std::cerr << "zephrane-sim: " << kServeUsage << " (--port takes 0 to 65535)\n";
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
    std::string error;
    serveTds(
        serve, port,
        [&](int listeningPort) {
            std::lock_guard lock(outputMutex);
            std::cout << "zephrane-sim: serving " << folder << " over TDS on 127.0.0.1 port "
                      << listeningPort << " (SQL login " << serve.login << ")" << std::endl;
        },
        error);
    std::cerr << "zephrane-sim: " << error << "\n";
    return 1;
}

} // namespace zeph::sim
