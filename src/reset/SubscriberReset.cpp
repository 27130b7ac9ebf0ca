#include "SubscriberReset.h"
#include "platform/AsciiText.h"

#include "CreateNewGuid.h"
#include "ReCreation.h"
#include "RecordingRemoval.h"
#include "RecoveryJournal.h"
#include "ResetRun.h"
#include "ResetVerification.h"
#include "ScopedQuery.h"
#include "SubscriberCapture.h"

namespace zeph {

namespace {

// Before anything is changed, what re-creating the subscriber needs goes to the journal. A
// subscriber whose entry cannot be made sure of is not touched.
bool openJournalEntry(ResetRun &run) {
    if (run.dryRun() || !run.journal())
        return true;
    // Until the run's end asks for it, the reset subscribers are out of their distribution
    // lists: a run that dies owes that synchronisation, and the journal says so.
    // A journal that cannot be written (its name taken, its disk full) would refuse every
    // further subscriber as well: the run stops before this one's first change.
    auto refused = [&](const Status &why) {
        run.journalFailed(why.error(), " - skipping user");
        return false;
    };
    if (!run.listSyncOwed()) {
        if (const Status owed = run.journal()->listSyncOwed(); !owed)
            return refused(owed);
        run.oweListSync();
    }
    // Both tickets are made now, so that their records share the beginning's sync; the journal
    // hands them to the steps that send them.
    const std::string removalTicket = run.newTicket();
    const std::string creationTicket = run.newTicket();
    const Status begun =
        run.journal()->begin(run.subscriber().snapshot(), run.subscriber().templateAlias(),
                             removalTicket, creationTicket);
    if (!begun)
        return refused(begun);
    run.reached("journal");
    return true;
}

// A subscriber whose removal failed is still there, untouched by the failed creation.
bool stillOnServer(ResetRun &run) {
    ScopedQuery query(run, "SELECT SubscriberObjectID FROM Subscriber WHERE SubscriberObjectID=?",
                      {DbValue(run.subscriber().snapshot().ObjectID)}, db::adLockReadOnly);
    return query.rowCount() == 1;
}

// The entry stays open while the subscriber is not back, or back but not as the reset promises:
// a later recovery can still finish it. True when the entry was closed.
bool closeJournalEntry(ResetRun &run) {
    if (run.dryRun() || !run.journal())
        return true;
    // A server that did not take this subscriber's changes would break the next ones too.
    if (!run.subscriber().createdAgain() && !stillOnServer(run)) {
        run.noteCleanedNotReCreated();
        run.line("    The subscriber was not created again; the recovery journal keeps it for "
                 "\"zephrane-cli --recover\"");
        run.stopSubscriber("the subscriber " + run.subscriber().snapshot().Alias +
                           " was not created again");
        return false;
    }
    // A change of this subscriber the server refused leaves it unfinished, whatever can be
    // read back of it.
    if (run.writesRefused()) {
        run.line("(error) the server refused a write while this subscriber was reset; the "
                 "recovery journal keeps it for \"zephrane-cli --recover\"");
        return false;
    }
    if (const Status verified = verifyReset(run); !verified) {
        run.line("(error) the reset of this subscriber could not be verified (" + verified.error() +
                 "); the recovery journal keeps it for \"zephrane-cli --recover\"");
        run.stopSubscriber("the reset of " + run.subscriber().snapshot().Alias +
                           " could not be verified (" + verified.error() + ")");
        return false;
    }
    // The entry closes only over changes that a power loss can no longer take back. The log's
    // lines reach the disk meanwhile: the subscriber's end is the log's one sync.
    run.startLogSync();
    if (!run.makeChangesDurable()) {
        run.line("    The changes of this subscriber could not be made lasting; the recovery "
                 "journal keeps it for \"zephrane-cli --recover\"");
        run.stop("the changes of " + run.subscriber().snapshot().Alias +
                 " could not be made lasting");
        return false;
    }
    // A reset's next entry, or its end, brings this record to disk; a recovery syncs it now.
    const bool synced = run.recovering();
    if (!run.journalRecord([synced](RecoveryJournal &journal) { return journal.finished(synced); }))
        return false;
    run.reached("finished");
    return true;
}

// Nothing is changed for a subscriber whose checks could not all be made: a check that failed
// is not a check passed.
bool checkedBeforeFirstChange(ResetRun &run, const ChecksMade &checks) {
    if (!checks.all()) {
        run.line("(error) a check of this subscriber could not be made, so nothing of it is "
                 "changed - skipping user");
        return false;
    }
    // A run that has to stop (its log cannot be written) changes nothing more.
    return !run.stopped();
}

} // namespace

void NoteUnfinishedResets(ResetRun &run, const JournalScan &scan) {
    for (const JournalFile &journal : scan.journals) {
        for (const JournalEntry *entry : journal.unfinished()) {
            run.noteUnfinished(entry->snapshot.Alias);
            run.noteUnfinished(entry->snapshot.ObjectID);
        }
    }
}

namespace {

bool resetOne(ResetRun &run, const std::string &alias, const std::string &objectId) {
    run.beginSubscriber(run.request().templateAlias);
    run.line("** Resetting Subscriber **");
    run.line("    Alias=" + alias);
    run.line("    ObjectID=" + objectId);
    if (run.unfinishedEarlier(alias, objectId)) {
        run.line("(error) an earlier reset of this subscriber did not finish; finish it with "
                 "\"zephrane-cli --recover\" first - skipping user");
        return false;
    }
    // The server's database is made sure of once a subscriber, at its first request.
    if (run.connection().IsOpen())
        run.attempt([&] { run.connection().CheckPlaceNext(); });
    // From here to the first change, every failed operation is a check that could not be made.
    const ChecksMade checks(run);
    if (!LookUpAndCapture(run, alias, objectId))
        return false;
    if (!CheckExtensionConflict(run))
        return false;
    SaveAlternateExtensions(run, run.request().preserveAlternateExtensions);
    if (!checkedBeforeFirstChange(run, checks))
        return false;
    // From here on the subscriber goes through every step; each reports its own failures.
    if (!openJournalEntry(run))
        return false;
    RemoveAndReCreate(run);
    return true;
}

} // namespace

bool ResetSubscriber(ResetRun &run, const std::string &alias, const std::string &objectId) {
    const bool reset = resetOne(run, alias, objectId);
    run.syncLog(); // each subscriber's lines are on disk before the next one starts
    return reset;
}

namespace {

// The journal entry tells that the subscriber's recordings and messages are about to go, so
// that a recovery finishes its reset even when it was never removed. Written as the log's lines
// are, without a sync of its own: a program that dies loses none of it, and after a power loss
// without it the entry is closed as one whose subscriber was never touched.
void noteCleaning(ResetRun &run) {
    if (run.dryRun() || !run.journal())
        return;
    if (const Status noted = run.journal()->cleaning(); !noted)
        run.journalFailed(noted.error());
}

// The description's order removes the recordings and the mailbox before the subscriber: when
// the server then takes no more writes, the subscriber is cleaned and not reset. Its entry stays
// open for the recovery, and the log says so in one line.
bool stoppedCleaned(ResetRun &run) {
    if (run.dryRun() || !run.writesRefused() || run.subscriber().createdAgain())
        return false;
    run.noteCleanedNotReCreated();
    run.line("(error) this subscriber's recordings and messages were removed, but it was not "
             "created again (the server refused a write); the recovery journal keeps it for "
             "\"zephrane-cli --recover\"");
    return true;
}

// Writes the server refused while the creation's own transaction was open took the creation
// back with them: the subscriber is cleaned and not created again.
bool creationTakenBack(ResetRun &run) {
    if (!run.subscriber().creationUnrecorded() || !run.writesRefused())
        return false;
    run.dropChanges();
    run.subscriber().clearCreation();
    return stoppedCleaned(run);
}

} // namespace

bool RemoveAndReCreate(ResetRun &run) {
    run.subscriber().clearCreation();
    noteCleaning(run);
    // The recordings' paths are cleared in the removal's transaction.
    run.beginChanges();
    auto stopped = [&run] {
        if (!stoppedCleaned(run))
            return false;
        run.dropChanges();
        return true;
    };
    RemoveVoiceNameFile(run);
    if (stopped())
        return false;
    RemoveGreetingFiles(run);
    run.reached("recordings");
    if (stopped())
        return false;
    CleanMailbox(run);
    run.reached("mailbox");
    RemoveFromDatabase(run);
    if (stopped())
        return false;
    ReCreateSubscriber(run);
    if (stopped())
        return false;
    return FinishReCreation(run);
}

bool FinishReCreation(ResetRun &run, const std::vector<int> *onlyExtensions) {
    // One transaction from the creation (or from here, finishing an interrupted one) to the
    // directory's request, which commits it.
    run.beginChanges();
    RestoreAlternateExtensions(run, onlyExtensions);
    FixUpReferences(run);
    if (!creationTakenBack(run))
        ResynchronizeSubscriber(run);
    if (creationTakenBack(run))
        return false;
    run.commitChanges(); // when the request could not be made
    return closeJournalEntry(run);
}

} // namespace zeph
