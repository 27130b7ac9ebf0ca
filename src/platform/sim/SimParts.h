#pragma once
// The parts a stand-in host is assembled from.

#include "SimSettings.h"
#include "platform/Clock.h"
#include "platform/MailStore.h"
#include "platform/Services.h"

#include <memory>
#include <string>

namespace zeph::sim {

std::unique_ptr<IServices> makeServices(const SimSettings &settings);
std::unique_ptr<IWorkstation> makeWorkstation(const SimSettings &settings);
std::unique_ptr<IClock> makeClock(const SimSettings &settings);
/// Mailboxes under mailstore/<HomeServer>/<SMTPAddress>/<folder>/, one file per message.
std::unique_ptr<IMailStore> makeMailStore(const std::string &mailstoreFolder,
                                          const SimSettings &settings);

} // namespace zeph::sim
