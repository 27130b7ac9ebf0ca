#pragma once
// The parts a stand-in host is assembled from.

#include "SimSettings.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/MailStore.h"
#include "platform/Services.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace zeph::sim {

std::unique_ptr<IServices> makeServices(const SimSettings &settings);
std::unique_ptr<IWorkstation> makeWorkstation(const SimSettings &settings);
std::unique_ptr<IClock> makeClock(const SimSettings &settings);
/// Mailboxes under mailstore/<HomeServer>/<SMTPAddress>/<folder>/, one file per message.
std::unique_ptr<IMailStore> makeMailStore(const std::string &mailstoreFolder,
                                          const SimSettings &settings);

/// A fault setting's "STEP" or "STEP#N" as a test of each step the program reaches: true once,
/// the N-th time (the first when N is not given) the step of that name (any case) is reached.
std::function<bool(const std::string &)> nthTimeAt(const std::string &setting);

/// The exit status of a program ended by the setting "abort-after".
inline constexpr int kAbortedExitStatus = 86;
/// Ends the program abruptly (no clean-up, as a power cut would) when told the step that the
/// setting "abort-after" names ("STEP" or "STEP#N", the N-th time); empty when it is not set.
std::function<void(const std::string &)> makeAbortHook(const SimSettings &settings);
/// Moves the host folder away (to "<folder>.vanished") when told the step that the setting
/// "vanish-after" names ("STEP" or "STEP#N", the N-th time); empty when it is not set.
std::function<void(const std::string &)> makeVanishHook(const SimSettings &settings,
                                                        const std::string &hostFolder);
/// The file system as the programs see it: with the setting "file-space", the lines all their
/// text files (run logs, journals, failed-records files) may still take, in bytes, before each
/// further line is refused as on a full disk.
std::unique_ptr<IFileSystem> limitFileSpace(std::unique_ptr<IFileSystem> files,
                                            const SimSettings &settings);

} // namespace zeph::sim
