#include "RunLock.h"

#include "app/host/WorkStationInfo.h"
#include "log/Logging.h"

namespace zeph {

namespace {

constexpr const char *kOneRunAtATime =
    "Only one run may change a server at a time: nothing was changed.  Start this run again "
    "when the other one has ended.";

// What names a holder that took the lock before it could write who it is.
constexpr const char *kUnnamedHolder = "it has not named itself yet";

} // namespace

std::string runLockHolder(Host &host) {
    std::string user = "(unknown)";
    std::string computer = "(unknown)";
    if (host.workstation) {
        WorkStationInfo info(*host.workstation);
        user = info.Domain() + "\\" + info.UserName();
        computer = info.ComputerName();
    }
    return "user " + user + " on computer " + computer + ", program " + host.exeName + ", since " +
           generalDateTime(host.clock->toLocal(host.clock->now()));
}

Result<std::string> nameServer(Host &host, const std::string &connectionText) {
    try {
        return host.database->serverName(connectionText);
    } catch (const Error &e) {
        return fail("The server's name could not be read (" + e.description() + ")");
    }
}

Result<std::unique_ptr<IRunLock>> takeServerRunLock(Host &host, const std::string &connectionText) {
    std::string heldBy;
    try {
        if (auto lock = host.database->takeRunLock(connectionText, runLockHolder(host), heldBy))
            return lock;
    } catch (const Error &e) {
        return fail("The server's run lock could not be taken (" + e.description() +
                    ").  Nothing was changed.");
    }
    return fail("Another run is changing this server: " +
                (heldBy.empty() ? std::string(kUnnamedHolder) : heldBy) + ".  " + kOneRunAtATime);
}

std::optional<std::string> runLockHeldElsewhere(Host &host, const std::string &connectionText) {
    std::string heldBy;
    try {
        if (host.database->takeRunLock(connectionText, runLockHolder(host), heldBy))
            return std::nullopt; // free: taken and let go at once
    } catch (const Error &) {
        return std::nullopt;
    }
    return heldBy.empty() ? std::string(kUnnamedHolder) : heldBy;
}

std::string resetRunningNow(const std::string &heldBy) {
    return "A reset is running now (" + heldBy + ").  Another reset can start when it has ended.";
}

} // namespace zeph
