#include "RunLock.h"

#include "app/host/WorkStationInfo.h"
#include "log/Logging.h"

namespace zeph {

namespace {

constexpr const char *kOneRunAtATime =
    "Only one run may change a server at a time: nothing was changed.  Start this run again "
    "when the other one has ended.";

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

bool nameServer(Host &host, const std::string &connectionText, std::string &server,
                std::string &problem) {
    try {
        server = host.database->serverName(connectionText);
        return true;
    } catch (const Error &e) {
        problem = "The server's name could not be read (" + e.description() + ")";
        return false;
    }
}

std::unique_ptr<IRunLock> takeServerRunLock(Host &host, const std::string &connectionText,
                                            std::string &refusal) {
    std::string heldBy;
    try {
        if (auto lock = host.database->takeRunLock(connectionText, runLockHolder(host), heldBy))
            return lock;
    } catch (const Error &e) {
        refusal = "The server's run lock could not be taken (" + e.description() +
                  ").  Nothing was changed.";
        return nullptr;
    }
    refusal = "Another run is changing this server: " +
              (heldBy.empty() ? std::string("it has not named itself yet") : heldBy) + ".  " +
              kOneRunAtATime;
    return nullptr;
}

bool runLockHeldElsewhere(Host &host, const std::string &connectionText, std::string &heldBy) {
    heldBy.clear();
    try {
        if (host.database->takeRunLock(connectionText, runLockHolder(host), heldBy))
            return false; // free: taken and let go at once
    } catch (const Error &) {
        return false;
    }
    if (heldBy.empty())
        heldBy = "it has not named itself yet";
    return true;
}

std::string resetRunningNow(const std::string &heldBy) {
    return "A reset is running now (" + heldBy + ").  Another reset can start when it has ended.";
}

} // namespace zeph
