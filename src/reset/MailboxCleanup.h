#pragma once
// Emptying a subscriber's mailbox: inbox, sent items and deleted items, one message at a time.

#include "log/Logging.h"
#include "platform/MailStore.h"

#include <string>

namespace zeph {

/// Logs on to the mailbox HomeServer + LF + SMTPAddress and empties its three folders,
/// writing every step to the run log. False when no usable session could be opened. Each
/// unexpected failure is logged in the "(error):" form of procedure RemoveSubscriberMessages
/// and the clean-up goes on: a folder that cannot be opened or counted is passed over, a
/// message that cannot be deleted ends its folder. `mail` may be null (no mail library).
/// With `dryRun` each folder's messages are counted and not deleted: one line says what the
/// clean-up would delete.
bool RemoveSubscriberMessages(IMailStore *mail, Logging &log, const std::string &homeServer,
                              const std::string &smtpAddress, bool dryRun = false);

} // namespace zeph
