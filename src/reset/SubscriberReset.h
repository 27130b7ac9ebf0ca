#pragma once
// One subscriber's reset from its checks to its directory synchronisation, in the fixed order
// of its steps, with the recovery journal kept along the way.

#include <string>
#include <vector>

namespace zeph {

class ResetRun;
struct JournalScan;

/// Subscribers of unfinished journal entries are skipped by the run (they must be recovered).
void NoteUnfinishedResets(ResetRun &run, const JournalScan &scan);

/// Resets the subscriber of a grid row. False when it was skipped (an earlier reset of it is
/// unfinished, its checks failed, or its journal entry could not be made sure of); true when
/// it went through every step.
bool ResetSubscriber(ResetRun &run, const std::string &alias, const std::string &objectId);

/// The changing steps, once the subscriber is captured, checked and journaled: recordings,
/// mailbox, removal, re-creation, then FinishReCreation, whose answer it gives.
bool RemoveAndReCreate(ResetRun &run);

/// The steps after the re-creation: alternate extensions (with `onlyExtensions`, just those
/// numbers), reference fix-ups, directory re-synchronisation; then the subscriber is read back
/// and, when it is as the reset promises, its journal entry is closed. True when the entry was
/// closed (or the run keeps none).
bool FinishReCreation(ResetRun &run, const std::vector<int> *onlyExtensions = nullptr);

} // namespace zeph
