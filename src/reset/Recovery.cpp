#include "Recovery.h"

#include "DirectorySyncWait.h"
#include "ReCreation.h"
#include "ResetRun.h"
#include "SubscriberCapture.h"
#include "SubscriberReset.h"

namespace zeph {

const char *const kRecoveryStartLine = "** Finishing resets that were interrupted **";

const char *interruptedAtLine(InterruptedAt state) {
    switch (state) {
    case InterruptedAt::BeforeRemoval:
        return "    The subscriber was not removed yet: resetting it from its recordings on";
    case InterruptedAt::Removed:
        return "    The subscriber was removed and not created again: creating it from the "
               "template";
    case InterruptedAt::CreatedWithNewIds:
        return "    The subscriber was created again with new ObjectID values: giving it back "
               "its old ones";
    case InterruptedAt::IdsWrittenBack:
        return "    The subscriber was created again with its old ObjectID values: finishing its "
               "extensions and references";
    }
    return "";
}

namespace {

// The subscriber row found by one column, if any: its ids.
std::optional<IdentityMap> findSubscriber(ResetRun &run, const char *column,
                                          const std::string &value) {
    run.openQuery(std::string("SELECT SubscriberObjectID, CallHandlerObjectID FROM Subscriber "
                              "WHERE ") +
                      column + "=?",
                  {DbValue(value)}, db::adLockReadOnly);
    std::optional<IdentityMap> found;
    if (run.queryRowCount() == 1) {
        db::Recordset &rs = run.querySet;
        found =
            IdentityMap{run.read<std::string>([&] { return rs["SubscriberObjectID"].Text(); }),
                        run.read<std::string>([&] { return rs["CallHandlerObjectID"].Text(); })};
    }
    run.closeQuery();
    return found;
}

long countRows(ResetRun &run, const std::string &sql, const std::vector<DbValue> &params) {
    run.openQuery(sql, params, db::adLockReadOnly);
    long count = run.queryRowCount();
    run.closeQuery();
    return count;
}

// A ticket the interrupted run left unanswered or unremoved is waited for, which removes it,
// as the run would have done.
void settleTicket(ResetRun &run, const std::string &ticket) {
    if (ticket.empty() || countRows(run, "SELECT Ticket FROM vw_DirectorySyncTicket WHERE Ticket=?",
                                    {DbValue(ticket)}) == 0)
        return;
    run.line("    Waiting for the directory's answer to the interrupted run's ticket " + ticket);
    if (WaitForSyncToFinished(run.host, run.connectionText(), run.log, ticket))
        run.line("    Directory sync complete for the interrupted step");
    else
        run.line("(error) the directory did not confirm the interrupted run's step for ticket " +
                 ticket);
}

// The saved extensions still to be added back: none once the new primary extension has moved
// to the old id (the restore came before that move), else those on neither id.
std::vector<int> extensionsToAdd(ResetRun &run) {
    std::vector<int> numbers;
    const SubscriberSnapshot &s = run.snapshot;
    if (s.AlternateExtensions.empty() ||
        countRows(run, "SELECT DTMFAccessID FROM DTMFAccessID WHERE ParentObjectID=?",
                  {DbValue(run.ids.newSubscriberId)}) == 0)
        return numbers;
    for (std::size_t i = 0; i < s.AlternateExtensions.size(); ++i) {
        const long present =
            countRows(run,
                      "SELECT DTMFAccessID FROM DTMFAccessID WHERE DTMFAccessID=? AND "
                      "(ParentObjectID=? OR ParentObjectID=?)",
                      {DbValue(s.AlternateExtensions[i]), DbValue(s.ObjectID),
                       DbValue(run.ids.newSubscriberId)});
        if (present == 0)
            numbers.push_back(static_cast<int>(i) + 1);
    }
    return numbers;
}

InterruptedAt findState(ResetRun &run, const JournalEntry &entry) {
    if (findSubscriber(run, "SubscriberObjectID", entry.snapshot.ObjectID))
        return entry.created.newSubscriberId.empty() ? InterruptedAt::BeforeRemoval
                                                     : InterruptedAt::IdsWrittenBack;
    if (std::optional<IdentityMap> created = findSubscriber(run, "Alias", entry.snapshot.Alias)) {
        run.ids = *created;
        return InterruptedAt::CreatedWithNewIds;
    }
    return InterruptedAt::Removed;
}

// Takes the remaining steps of one entry. True when the subscriber is back (its entry closed).
bool finishEntry(ResetRun &run, const JournalFile &journal, const JournalEntry &entry) {
    const SubscriberSnapshot &s = entry.snapshot;
    run.line("** Resetting Subscriber **");
    run.line("    Alias=" + s.Alias);
    run.line("    ObjectID=" + s.ObjectID);
    run.line("    Finishing the interrupted reset recorded in " +
             run.host.files->nativePath(journal.path));
    run.snapshot = s;
    run.ids = entry.created;
    InterruptedAt state = findState(run, entry);
    run.line(interruptedAtLine(state));
    switch (state) {
    case InterruptedAt::BeforeRemoval:
        // The recordings and the mailbox steps read the subscriber's cached row.
        if (!LookUpAndCapture(run, s.Alias, s.ObjectID))
            return false;
        run.snapshot = s;
        RemoveAndReCreate(run);
        break;
    case InterruptedAt::Removed:
        settleTicket(run, entry.removalTicket);
        ReCreateSubscriber(run);
        FinishReCreation(run);
        break;
    case InterruptedAt::CreatedWithNewIds: {
        if (entry.created.newSubscriberId != run.ids.newSubscriberId)
            run.journalRecord([&](RecoveryJournal &j, std::string &problem) {
                return j.created(run.ids, problem);
            });
        settleTicket(run, entry.removalTicket);
        WriteBackIdentity(run);
        const std::vector<int> missing = extensionsToAdd(run);
        FinishReCreation(run, &missing);
        break;
    }
    case InterruptedAt::IdsWrittenBack: {
        settleTicket(run, entry.removalTicket);
        settleTicket(run, entry.creationTicket);
        const std::vector<int> missing = extensionsToAdd(run);
        FinishReCreation(run, &missing);
        break;
    }
    }
    return !run.ids.newSubscriberId.empty();
}

} // namespace

RecoverySummary recoverInterruptedResets(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                                         Logging &log, const std::vector<JournalFile> &journals,
                                         bool skipListSync, const std::string &templateOverride) {
    log.WriteLogHeader(log.GenerateNewLogFileName(), false);
    RecoverySummary summary;
    {
        ResetInputs inputs;
        std::string templateAlias;
        inputs.templateAlias = [&templateAlias] { return templateAlias; };
        inputs.preserveAlternateExtensions = [] { return false; };
        inputs.grid = []() -> const SubscriberGrid & {
            throw Error(errnum::kInternal, "a recovery has no selection grid");
        };
        ResetRun run(host, tarvoDb, log, inputs);
        run.recovering = true;
        run.line(kRecoveryStartLine);
        run.prepare(registry);
        for (const JournalFile &journal : journals) {
            RecoveryJournal writer(*host.files, journal);
            run.journal = &writer;
            for (const JournalEntry *entry : journal.unfinished()) {
                templateAlias = templateOverride.empty() ? entry->templateAlias : templateOverride;
                writer.resume(entry->number);
                if (finishEntry(run, journal, *entry))
                    ++summary.subscribersFinished;
            }
            run.journal = nullptr;
        }
        run.writeEnd(skipListSync);
    }
    log.CloseLogFile();
    summary.errorCount = log.LogErrorCount();
    summary.logFilePath = log.LogFilePath();
    summary.closingMessage = "Recovery complete: " + std::to_string(summary.subscribersFinished) +
                             " interrupted reset(s) finished.  " +
                             std::to_string(summary.errorCount) + " error(s) encountered.";
    return summary;
}

} // namespace zeph
