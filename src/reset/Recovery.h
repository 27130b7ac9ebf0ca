#pragma once
// Finishing resets that were interrupted: for every unfinished entry of the recovery journals,
// find out how far the reset got on the server and take the remaining steps, so that the
// subscriber ends as a complete reset would have left it. Never creates a second subscriber
// for the same alias.

#include "RecoveryJournal.h"

#include <string>
#include <vector>

namespace zeph {

namespace db {
class modTarvoDB;
}
class Logging;
class RegistryAPI;
struct Host;

/// How far an interrupted reset got, as the server shows it.
enum class InterruptedAt {
    /// The subscriber is still there with its old ids: nothing of the server was changed yet.
    BeforeRemoval,
    /// Removed, not created again.
    Removed,
    /// Created again, still with the new ids.
    CreatedWithNewIds,
    /// Created again and given its old ids; references may not all be moved yet.
    IdsWrittenBack,
};

/// The line the recovery writes for each state.
const char *interruptedAtLine(InterruptedAt state);

struct RecoverySummary {
    int subscribersFinished = 0;
    int errorCount = 0;
    std::string logFilePath;
    std::string closingMessage;
};

/// The log line that opens a recovery.
extern const char *const kRecoveryStartLine;

/// Finishes every unfinished entry of the journals, in their order, writing a run log as a
/// reset does (header, each subscriber's lines, the distribution lists' synchronisation unless
/// `skipListSync`, the completion line) and appending to each journal as it goes. A subscriber
/// is created from `templateAlias` when one is given, else from its journaled template.
RecoverySummary recoverInterruptedResets(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                                         Logging &log, const std::vector<JournalFile> &journals,
                                         bool skipListSync, const std::string &templateAlias = "");

} // namespace zeph
