#pragma once
// Finishing resets that were interrupted: for every unfinished entry of the recovery journals,
// find out how far the reset got on the server and take the remaining steps, so that the
// subscriber ends as a complete reset would have left it. Never creates a second subscriber
// for the same alias.

#include "RecoveryJournal.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace zeph {

namespace db {
class modTarvoDB;
}
class Logging;
class IFileSystem;
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

/// What the recovery does with an unfinished entry, decided before anything is changed.
enum class RecoveryAction {
    /// Give back what the interrupted run took away: take the reset's remaining steps.
    Finish,
    /// The subscriber is still on the server with its old ids, as journaled: nothing of it was
    /// taken away, so the entry is closed without a reset (a new run resets it if wanted).
    Close,
    /// The subscriber was changed since the journal was written: the entry is left open until
    /// an administrator names its alias (see planRecovery).
    Hold,
};

/// One unfinished entry: what the server shows of it and what the recovery will do.
struct RecoveryPlanEntry {
    const JournalFile *journal = nullptr;
    const JournalEntry *entry = nullptr;
    InterruptedAt state = InterruptedAt::BeforeRemoval;
    RecoveryAction action = RecoveryAction::Finish;
    /// What differs between the journal and the live server ("LastName: 'Carter' in the
    /// journal, 'Smith' on the server").
    std::vector<std::string> differences;
    /// The aliases named to accept a changed subscriber held this entry no more.
    bool changeAccepted = false;
};

/// Compares each unfinished entry of the journals with the live server (read only) and
/// decides what to do with it. A changed subscriber is held unless its alias is in
/// `acceptChanged` (upper case); accepted, it is treated as if unchanged. The journals must
/// outlive the plan.
std::vector<RecoveryPlanEntry> planRecovery(Host &host, db::modTarvoDB &tarvoDb,
                                            const std::vector<JournalFile> &journals,
                                            const std::set<std::string> &acceptChanged);

/// The plan as the administrator reads it before confirming: per entry the alias, what the
/// server shows, what will be done, and the differences of a changed subscriber.
std::string describeRecoveryPlan(IFileSystem &files, const std::vector<RecoveryPlanEntry> &plan);

struct RecoverySummary {
    int subscribersFinished = 0;
    int entriesClosed = 0;
    int entriesHeld = 0;
    /// Entries whose remaining steps were taken but did not bring the subscriber back; left
    /// open for the next recovery.
    int entriesUnfinished = 0;
    int errorCount = 0;
    std::string logFilePath;
    std::string closingMessage;
    /// Why the recovery stopped before its last entry (whose entries stay open); empty when it
    /// went through them all.
    std::string stopReason;
    /// The recovery stopped because the operator asked for it (stopReason then says so too).
    bool stoppedByRequest = false;
    /// Entries not begun because the recovery stopped: they stay open in their journals.
    int entriesLeft = 0;
};

/// The log line that opens a recovery.
extern const char *const kRecoveryStartLine;

/// Carries out the plan, journal by journal, writing a run log as a reset does (header, each
/// subscriber's lines, the distribution lists' synchronisation unless `skipListSync`, the
/// completion line) and appending to each journal as it goes. A subscriber is created from
/// `templateAlias` when one is given, else from its journaled template. `beforeEntry` is told
/// before each entry is begun, with how many were finished or closed before it: when it
/// answers true (a stop was asked for), the entry under way has been finished and no further
/// one is begun; those left stay open for the next recovery, and the recovery ends as any does
/// (the lists' synchronisation, the log's end).
using BeforeRecoveryEntry = std::function<bool(int done, const RecoveryPlanEntry &next)>;
RecoverySummary recoverInterruptedResets(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                                         Logging &log, const std::vector<JournalFile> &journals,
                                         const std::vector<RecoveryPlanEntry> &plan,
                                         bool skipListSync, const std::string &templateAlias = "",
                                         const BeforeRecoveryEntry &beforeEntry = {});

} // namespace zeph
