#pragma once
// One run that changes a server at a time: a reset (from the wizard or the terminal) and a
// recovery take the server's run lock before their first change and hold it to their end. A
// dry run and a listing change nothing and take none.

#include "platform/Host.h"

#include <memory>
#include <string>

namespace zeph {

/// Who asks for the lock, as another run's refusal names it: "user DOMAIN\name on computer
/// NAME, program zephrane-cli, since <date and time>".
std::string runLockHolder(Host &host);

/// The name of the server the connection text reaches (IDatabase::serverName). False, with
/// the reason in `problem`, when it cannot be read.
bool nameServer(Host &host, const std::string &connectionText, std::string &server,
                std::string &problem);

/// Takes the run lock of the server the connection text reaches. Nothing, with the message
/// that refuses the run in `refusal`, when another run holds it or it cannot be asked for.
std::unique_ptr<IRunLock> takeServerRunLock(Host &host, const std::string &connectionText,
                                            std::string &refusal);

/// True, with the holder's text in `heldBy`, when another run holds the server's run lock now
/// (a reset or a recovery under way). Asked by taking the lock and letting it go at once; false
/// when it is free or cannot be asked for.
bool runLockHeldElsewhere(Host &host, const std::string &connectionText, std::string &heldBy);
/// What a start tells while another run holds the server's run lock: "A reset is running now
/// (program, user, process, since ...)", and that another may start once it has ended.
std::string resetRunningNow(const std::string &heldBy);

} // namespace zeph
