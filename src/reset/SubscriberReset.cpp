#include "SubscriberReset.h"
#include "platform/AsciiText.h"

#include "ReCreation.h"
#include "RecordingRemoval.h"
#include "RecoveryJournal.h"
#include "ResetRun.h"
#include "SubscriberCapture.h"

namespace zeph {

namespace {

// Before anything is changed, what re-creating the subscriber needs goes to the journal. A
// subscriber whose entry cannot be made sure of is not touched.
bool openJournalEntry(ResetRun &run) {
    if (run.dryRun || !run.journal)
        return true;
    std::string templateAlias = run.read<std::string>([&] { return run.inputs.templateAlias(); });
    std::string problem;
    // Until the run's end asks for it, the reset subscribers are out of their distribution
    // lists: a run that dies owes that synchronisation, and the journal says so.
    if (!run.listSyncOwed) {
        if (!run.journal->listSyncOwed(problem)) {
            run.line("(error) the recovery journal could not be written (" + problem +
                     ") - skipping user");
            return false;
        }
        run.listSyncOwed = true;
    }
    if (run.journal->begin(run.snapshot, templateAlias, problem)) {
        run.reached("journal");
        return true;
    }
    run.line("(error) the recovery journal could not be written (" + problem + ") - skipping user");
    return false;
}

// A subscriber whose removal failed is still there, untouched by the failed creation.
bool stillOnServer(ResetRun &run) {
    run.openQuery("SELECT SubscriberObjectID FROM Subscriber WHERE SubscriberObjectID=?",
                  {DbValue(run.snapshot.ObjectID)}, db::adLockReadOnly);
    const bool found = run.queryRowCount() == 1;
    run.closeQuery();
    return found;
}

// The entry stays open while the subscriber is not back: a later recovery can still create it.
void closeJournalEntry(ResetRun &run) {
    if (run.dryRun || !run.journal)
        return;
    if (run.ids.newSubscriberId.empty() && !stillOnServer(run)) {
        run.line("    The subscriber was not created again; the recovery journal keeps it for "
                 "\"zephrane-cli --recover\"");
        return;
    }
    run.journalRecord(
        [](RecoveryJournal &journal, std::string &problem) { return journal.finished(problem); });
}

} // namespace

void NoteUnfinishedResets(ResetRun &run, const JournalScan &scan) {
    for (const JournalFile &journal : scan.journals) {
        for (const JournalEntry *entry : journal.unfinished()) {
            run.unfinished.insert(upperAscii(entry->snapshot.Alias));
            run.unfinished.insert(upperAscii(entry->snapshot.ObjectID));
        }
    }
}

bool ResetSubscriber(ResetRun &run, const std::string &alias, const std::string &objectId) {
    run.line("** Resetting Subscriber **");
    run.line("    Alias=" + alias);
    run.line("    ObjectID=" + objectId);
    if (run.unfinished.count(upperAscii(alias)) || run.unfinished.count(upperAscii(objectId))) {
        run.line("(error) an earlier reset of this subscriber did not finish; finish it with "
                 "\"zephrane-cli --recover\" first - skipping user");
        return false;
    }
    if (!LookUpAndCapture(run, alias, objectId))
        return false;
    if (!CheckExtensionConflict(run))
        return false;
    // From here on the subscriber goes through every step; each reports its own failures.
    bool preserve = run.read<bool>([&] { return run.inputs.preserveAlternateExtensions(); });
    SaveAlternateExtensions(run, preserve);
    if (!openJournalEntry(run))
        return false;
    RemoveAndReCreate(run);
    return true;
}

void RemoveAndReCreate(ResetRun &run) {
    RemoveVoiceNameFile(run);
    RemoveGreetingFiles(run);
    run.reached("recordings");
    CleanMailbox(run);
    run.reached("mailbox");
    RemoveFromDatabase(run);
    ReCreateSubscriber(run);
    FinishReCreation(run);
}

void FinishReCreation(ResetRun &run, const std::vector<int> *onlyExtensions) {
    RestoreAlternateExtensions(run, onlyExtensions);
    FixUpReferences(run);
    ResynchronizeSubscriber(run);
    closeJournalEntry(run);
}

} // namespace zeph
