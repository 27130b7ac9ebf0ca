#pragma once
// One run that changes a server at a time: a reset (from the wizard or the terminal) and a
// recovery take the server's run lock before their first change and hold it to their end. A
// dry run and a listing change nothing and take none.

#include "platform/Host.h"
#include "platform/Result.h"

#include <memory>
#include <optional>
#include <string>

namespace zeph {

/// Who asks for the lock, as another run's refusal names it: "user DOMAIN\name on computer
/// NAME, program zephrane-cli, since <date and time>".
std::string runLockHolder(Host &host);

/// The name of the server the connection text reaches (IDatabase::serverName), or why it cannot
/// be read.
Result<std::string> nameServer(Host &host, const std::string &connectionText);

/// Takes the run lock of the server the connection text reaches; when another run holds it or
/// it cannot be asked for, the message that refuses the run.
Result<std::unique_ptr<IRunLock>> takeServerRunLock(Host &host, const std::string &connectionText);

/// Who holds the server's run lock, when another run holds it now (a reset or a recovery under
/// way). Asked by taking the lock and letting it go at once; nothing when it is free or cannot
/// be asked for.
std::optional<std::string> runLockHeldElsewhere(Host &host, const std::string &connectionText);
/// What a start tells while another run holds the server's run lock: "A reset is running now
/// (program, user, process, since ...)", and that another may start once it has ended.
std::string resetRunningNow(const std::string &heldBy);

} // namespace zeph
