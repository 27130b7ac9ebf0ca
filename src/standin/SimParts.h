#pragma once
// The parts a stand-in host is assembled from.

#include "SimSettings.h"
#include "platform/Clock.h"
#include "platform/MailStore.h"
#include "platform/Services.h"

#include <functional>
#include <memory>
#include <string>

namespace zeph::sim {

std::unique_ptr<IServices> makeServices(const SimSettings &settings);
std::unique_ptr<IWorkstation> makeWorkstation(const SimSettings &settings);
std::unique_ptr<IClock> makeClock(const SimSettings &settings);
/// Mailboxes under mailstore/<HomeServer>/<SMTPAddress>/<folder>/, one file per message.
std::unique_ptr<IMailStore> makeMailStore(const std::string &mailstoreFolder,
                                          const SimSettings &settings);

/// The exit status of a program ended by the setting "abort-after".
inline constexpr int kAbortedExitStatus = 86;
/// Ends the program abruptly (no clean-up, as a power cut would) when told the step that the
/// setting "abort-after" names; empty when the setting is not set.
std::function<void(const std::string &)> makeAbortHook(const SimSettings &settings);

} // namespace zeph::sim
