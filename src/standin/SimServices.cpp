// Service states, workstation facts and the clock of a stand-in host, from its settings.
#include "SimParts.h"
#include "platform/AsciiText.h"

#include "platform/Native.h"
#include "platform/SystemClock.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace zeph::sim {

namespace {

class SimServices : public IServices {
public:
    explicit SimServices(SimSettings settings)
        : m_settings(std::move(settings)) {}

    std::optional<std::uint32_t> serviceState(const std::string &computer,
                                              const std::string &service) override {
        // Only this computer's service manager is reachable.
        if (!computer.empty() && lowerAscii(computer) != lowerAscii(m_settings.get("computer")))
            return std::nullopt;
        if (m_settings.get("scm-access") != "full")
            return std::nullopt;
        for (const auto &info : SimSettings::known()) {
            if (info.name.rfind("service.", 0) == 0 &&
                lowerAscii(info.name.substr(8)) == lowerAscii(service))
                return static_cast<std::uint32_t>(std::stoul(m_settings.get(info.name)));
        }
        return std::nullopt; // no such service
    }

private:
    SimSettings m_settings;
};

class SimWorkstation : public IWorkstation {
public:
    explicit SimWorkstation(SimSettings settings)
        : m_settings(std::move(settings)) {}

    std::int32_t osPlatformId() override { return 2; }

    std::optional<WkstaInfo102> info102() override {
        WkstaInfo102 info;
        info.platformId = 500;
        info.computerName = m_settings.get("computer");
        info.langroup = m_settings.get("domain");
        info.verMajor = 5;
        info.verMinor = 2;
        info.loggedOnUsers = 1;
        return info;
    }

    std::optional<WkstaUserInfo1> userInfo1() override {
        WkstaUserInfo1 info;
        info.userName = m_settings.get("user");
        info.logonDomain = m_settings.get("domain");
        info.logonServer = "\\\\" + m_settings.get("computer");
        return info;
    }

    std::string userLocale() override { return m_settings.get("locale"); }

private:
    SimSettings m_settings;
};

} // namespace

std::unique_ptr<IServices> makeServices(const SimSettings &settings) {
    return std::make_unique<SimServices>(settings);
}

std::unique_ptr<IWorkstation> makeWorkstation(const SimSettings &settings) {
    return std::make_unique<SimWorkstation>(settings);
}

std::unique_ptr<IClock> makeClock(const SimSettings &settings) {
    if (settings.get("virtual-time") == "on")
        return std::make_unique<SystemClock>(&native::localTimeOf, SystemClock::Sleeps::MoveTime);
    return native::makeSystemClock();
}

std::function<void(const std::string &)> makeAbortHook(const SimSettings &settings) {
    const std::string setting = settings.get("abort-after");
    if (setting.empty())
        return {};
    return [reached = nthTimeAt(setting)](const std::string &step) {
        if (!reached(step))
            return;
        // Whatever the program has not yet made sure of is lost, as in a real crash: no
        // destructors, no buffered output, no closing of files or connections.
        std::fprintf(stderr, "stand-in: ending the program abruptly after %s (abort-after)\n",
                     step.c_str());
        std::_Exit(kAbortedExitStatus);
    };
}

} // namespace zeph::sim
