#pragma once
// Waiting for the server's directory synchronisation of one sync ticket.

#include "db/Recordset.h"
#include "log/Logging.h"
#include "platform/Host.h"

#include <string>
#include <vector>

namespace zeph {

/// At most this many looks at the ticket, each after a pause.
inline constexpr int kSyncPolls = 20;
inline constexpr int kSyncPauseMs = 2000;
/// The pause is slept in slices of this length, with one pass of the user interface between
/// two slices, so that the window repaints while the run waits.
inline constexpr int kSyncPauseSliceMs = 100;

/// Waits until the ticket's row in vw_DirectorySyncTicket carries a result: true only when the
/// result read is 0. A ticket with a result is removed through sp_DeleteDirectorySyncTicket;
/// after kSyncPolls looks without one, the time-out line goes to the run log and the row stays.
/// Each unexpected failure is shown in a message box (the wait stands still until it is
/// closed) and the wait goes on. Goes through `connection` when it is given and open, else
/// through connections of its own made from `connectionText`. With `answered`, a ticket with a
/// result is added to it instead, for the caller to delete with its next change.
bool WaitForSyncToFinished(Host &host, const std::string &connectionText, Logging &log,
                           const std::string &ticket, const db::Connection *connection = nullptr,
                           std::vector<std::string> *answered = nullptr);

/// Removes an answered ticket through sp_DeleteDirectorySyncTicket, on `connection` when it is
/// given and open; a failure is shown as the wait shows its own.
void DeleteDirectorySyncTicket(Host &host, const std::string &connectionText,
                               const std::string &ticket, const db::Connection *connection);

/// The line written when no result came in time (it is not counted as an error).
extern const char *const kSyncTimeoutLine;

} // namespace zeph
