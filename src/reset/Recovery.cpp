#include "Recovery.h"

#include "DirectorySyncWait.h"
#include "ReCreation.h"
#include "ResetRun.h"
#include "ScopedQuery.h"
#include "SubscriberCapture.h"
#include "SubscriberReset.h"
#include "log/Logging.h"
#include "platform/AsciiText.h"

#include <memory>
#include <utility>

namespace zeph {

const char *const kRecoveryStartLine = "** Finishing resets that were interrupted **";

namespace {
constexpr const char *kStoppedByRequest = "stopped by request";
} // namespace

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
    ScopedQuery query(run,
                      std::string("SELECT SubscriberObjectID, CallHandlerObjectID FROM Subscriber "
                                  "WHERE ") +
                          column + "=?",
                      {DbValue(value)}, db::adLockReadOnly);
    if (query.rowCount() != 1)
        return std::nullopt;
    db::Recordset &rs = query.rows();
    return IdentityMap{run.read<std::string>([&] { return rs["SubscriberObjectID"].Text(); }),
                       run.read<std::string>([&] { return rs["CallHandlerObjectID"].Text(); })};
}

long countRows(ResetRun &run, const std::string &sql, const std::vector<DbValue> &params) {
    ScopedQuery query(run, sql, params, db::adLockReadOnly);
    return query.rowCount();
}

// A ticket the interrupted run left unanswered or unremoved is waited for, which removes it,
// as the run would have done.
void settleTicket(ResetRun &run, const std::string &ticket) {
    if (ticket.empty() || countRows(run, "SELECT Ticket FROM vw_DirectorySyncTicket WHERE Ticket=?",
                                    {DbValue(ticket)}) == 0)
        return;
    run.line("    Waiting for the directory's answer to the interrupted run's ticket " + ticket);
    if (WaitForSyncToFinished(run.host, run.connectionText(), run.log, ticket, &run.connection()))
        run.line("    Directory sync complete for the interrupted step");
    else
        run.line("(error) the directory did not confirm the interrupted run's step for ticket " +
                 ticket);
}

// The saved extensions still to be added back: none once the new primary extension has moved
// to the old id (the restore came before that move), else those on neither id.
std::vector<int> extensionsToAdd(ResetRun &run) {
    std::vector<int> numbers;
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    if (s.AlternateExtensions.empty() ||
        countRows(run, "SELECT DTMFAccessID FROM DTMFAccessID WHERE ParentObjectID=?",
                  {DbValue(run.subscriber().newIds().newSubscriberId)}) == 0)
        return numbers;
    for (std::size_t i = 0; i < s.AlternateExtensions.size(); ++i) {
        const long present =
            countRows(run,
                      "SELECT DTMFAccessID FROM DTMFAccessID WHERE DTMFAccessID=? AND "
                      "(ParentObjectID=? OR ParentObjectID=?)",
                      {DbValue(s.AlternateExtensions[i]), DbValue(s.ObjectID),
                       DbValue(run.subscriber().newIds().newSubscriberId)});
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
        run.subscriber().createdWith(*created);
        return InterruptedAt::CreatedWithNewIds;
    }
    return InterruptedAt::Removed;
}

// What the server holds of a subscriber, for the comparison with its journal entry.
struct LiveSubscriber {
    std::string objectId, alias, callHandlerId, firstName, lastName, displayName, extension,
        directoryId;
};

std::optional<LiveSubscriber> readLive(ResetRun &run, const char *column,
                                       const std::string &value) {
    ScopedQuery query(run,
                      std::string("SELECT SubscriberObjectID, Alias, CallHandlerObjectID, "
                                  "FirstName, LastName, DisplayName, DTMFAccessID, DirectoryID "
                                  "FROM vw_Subscriber WHERE ") +
                          column + "=?",
                      {DbValue(value)}, db::adLockReadOnly);
    if (query.rowCount() != 1)
        return std::nullopt;
    db::Recordset &rs = query.rows();
    auto text = [&](const char *name) {
        // A value not set yet (the extension while it moves between ids) reads as empty.
        return run.read<std::string>(
            [&] { return rs[name].IsNull() ? std::string() : rs[name].Text(); });
    };
    return LiveSubscriber{
        text("SubscriberObjectID"), text("Alias"),      text("CallHandlerObjectID"),
        text("FirstName"),          text("LastName"),   text("DisplayName"),
        text("DTMFAccessID"),       text("DirectoryID")};
}

// The values of the live subscriber that differ from the journal's. Ids are compared where
// the interrupted run leaves them known: the old ones while the subscriber was not removed,
// the journaled new ones once it was created again. A primary extension that is being moved
// between the new and the old id may be missing for a moment; another one is a change.
std::vector<std::string> differencesOf(const JournalEntry &entry, const LiveSubscriber &live,
                                       InterruptedAt state) {
    const SubscriberSnapshot &s = entry.snapshot;
    std::vector<std::string> found;
    auto compare = [&](const char *what, const std::string &journaled, const std::string &now) {
        if (!equalsIgnoreCase(journaled, now))
            found.push_back(std::string(what) + ": '" + journaled + "' in the journal, '" + now +
                            "' on the server");
    };
    compare("Alias", s.Alias, live.alias);
    compare("FirstName", s.FirstName, live.firstName);
    compare("LastName", s.LastName, live.lastName);
    compare("DisplayName", s.DisplayName, live.displayName);
    compare("DirectoryID", s.DirectoryID, live.directoryId);
    if (!live.extension.empty() || state == InterruptedAt::BeforeRemoval)
        compare("DTMFAccessID", s.DTMFAccessID, live.extension);
    // The old call handler id is the subscriber's own again once its ids were written back.
    if (state == InterruptedAt::BeforeRemoval || state == InterruptedAt::IdsWrittenBack)
        compare("CallHandlerObjectID", s.CallHandlerObjectID, live.callHandlerId);
    if (state == InterruptedAt::CreatedWithNewIds && !entry.created.newSubscriberId.empty()) {
        compare("ObjectID of the re-created subscriber", entry.created.newSubscriberId,
                live.objectId);
        compare("CallHandlerObjectID of the re-created subscriber", entry.created.newCallHandlerId,
                live.callHandlerId);
    }
    return found;
}

// What of the entry names another subscriber on the server: one of its ids (old or new), its
// directory id or its extension held by a subscriber of another alias. Finishing such an entry
// would change that other subscriber, so each is a difference that holds it.
std::vector<std::string> foreignIds(ResetRun &run, const JournalEntry &entry) {
    const SubscriberSnapshot &s = entry.snapshot;
    std::vector<std::string> found;
    struct Named {
        const char *what;
        const char *column;
        const std::string &value;
    };
    const Named ids[] = {
        {"ObjectID", "SubscriberObjectID", s.ObjectID},
        {"CallHandlerObjectID", "CallHandlerObjectID", s.CallHandlerObjectID},
        {"ObjectID of the re-created subscriber", "SubscriberObjectID",
         entry.created.newSubscriberId},
        {"CallHandlerObjectID of the re-created subscriber", "CallHandlerObjectID",
         entry.created.newCallHandlerId},
        {"DirectoryID", "DirectoryID", s.DirectoryID},
    };
    for (const Named &id : ids) {
        if (id.value.empty())
            continue;
        ScopedQuery query(run,
                          std::string("SELECT Alias FROM Subscriber WHERE ") + id.column + "=?",
                          {DbValue(id.value)}, db::adLockReadOnly);
        query.forEachRow([&](db::Recordset &rs) {
            const std::string alias = run.read<std::string>([&] { return rs["Alias"].Text(); });
            if (!equalsIgnoreCase(alias, s.Alias))
                found.push_back(std::string(id.what) + ": '" + id.value +
                                "' in the journal names the subscriber '" + alias +
                                "' on the server");
        });
    }
    if (!s.DTMFAccessID.empty()) {
        // Another subscriber's extension of the same number (a call handler's, or one of
        // another location, may share it).
        ScopedQuery query(run,
                          "SELECT s.Alias FROM DTMFAccessID d JOIN Subscriber s ON "
                          "s.SubscriberObjectID = d.ParentObjectID WHERE d.DTMFAccessID=?",
                          {DbValue(s.DTMFAccessID)}, db::adLockReadOnly);
        query.forEachRow([&](db::Recordset &rs) {
            const std::string alias = run.read<std::string>([&] { return rs["Alias"].Text(); });
            if (!equalsIgnoreCase(alias, s.Alias))
                found.push_back("DTMFAccessID: '" + s.DTMFAccessID +
                                "' in the journal is an extension of the subscriber '" + alias +
                                "' on the server");
        });
    }
    return found;
}

// `failures` holds the first read that failed while the entry was looked at.
RecoveryPlanEntry planEntry(ResetRun &run, const JournalFile &journal, const JournalEntry &entry,
                            const std::set<std::string> &acceptChanged,
                            const std::string &failures) {
    const int failuresBefore = run.failureCount();
    RecoveryPlanEntry planned;
    planned.journal = &journal;
    planned.entry = &entry;
    std::optional<LiveSubscriber> live =
        readLive(run, "SubscriberObjectID", entry.snapshot.ObjectID);
    if (live) {
        planned.state = entry.created.newSubscriberId.empty() ? InterruptedAt::BeforeRemoval
                                                              : InterruptedAt::IdsWrittenBack;
    } else if ((live = readLive(run, "Alias", entry.snapshot.Alias))) {
        planned.state = InterruptedAt::CreatedWithNewIds;
    } else {
        planned.state = InterruptedAt::Removed;
    }
    if (live)
        planned.differences = differencesOf(entry, *live, planned.state);
    for (std::string &foreign : foreignIds(run, entry))
        planned.differences.push_back(std::move(foreign));
    if (!failures.empty())
        planned.differences.push_back("the server could not be read for it: " + failures);
    else if (run.failureCount() != failuresBefore)
        planned.differences.push_back("the server could not be read for it");
    // A subscriber never removed is closed without a reset, unless its recordings and messages
    // were already being removed: its reset is then finished.
    planned.action = planned.state == InterruptedAt::BeforeRemoval && !entry.cleaned
                         ? RecoveryAction::Close
                         : RecoveryAction::Finish;
    if (!planned.differences.empty()) {
        planned.changeAccepted = acceptChanged.count(upperAscii(entry.snapshot.Alias)) > 0;
        if (!planned.changeAccepted)
            planned.action = RecoveryAction::Hold;
    }
    return planned;
}

const char *interruptedAtText(InterruptedAt state) {
    switch (state) {
    case InterruptedAt::BeforeRemoval:
        return "still on the server with its old ids (never removed)";
    case InterruptedAt::Removed:
        return "removed and not created again";
    case InterruptedAt::CreatedWithNewIds:
        return "created again with new ids";
    case InterruptedAt::IdsWrittenBack:
        break;
    }
    return "created again with its old ids; its extensions and references may be unfinished";
}

const char *actionText(const RecoveryPlanEntry &planned) {
    switch (planned.action) {
    case RecoveryAction::Finish:
        return "its reset is finished: it gets back its ids, extensions, references and lists";
    case RecoveryAction::Close:
        return "nothing of it was taken away: its entry is closed without a reset (select it "
               "again to reset it)";
    case RecoveryAction::Hold:
        break;
    }
    return "it was changed since the journal was written: left as it is until it is accepted "
           "(Accept Changed on the wizard's recovery page, or \"zephrane-cli --recover "
           "--accept-changed ALIAS\")";
}

// The entry as the server shows it now, just before the recovery acts on it: the plan was read
// before the administrator confirmed it. An entry whose action would now be another than the
// plan's is held.
RecoveryPlanEntry checkedAgain(ResetRun &run, const RecoveryPlanEntry &planned) {
    std::set<std::string> accepted;
    if (planned.changeAccepted)
        accepted.insert(upperAscii(planned.entry->snapshot.Alias));
    RecoveryPlanEntry now = planEntry(run, *planned.journal, *planned.entry, accepted, "");
    if (now.action != planned.action) {
        now.differences.push_back("the server shows it otherwise than when the recovery was "
                                  "planned");
        now.action = RecoveryAction::Hold;
        now.changeAccepted = false;
    }
    return now;
}

// An entry that is closed or held takes none of the reset's steps.
void closeOrHold(ResetRun &run, const RecoveryPlanEntry &planned, RecoverySummary &summary) {
    const SubscriberSnapshot &s = planned.entry->snapshot;
    run.line("** Resetting Subscriber **");
    run.line("    Alias=" + s.Alias);
    run.line("    ObjectID=" + s.ObjectID);
    run.line("    Recorded in " + run.host.files->nativePath(planned.journal->path));
    for (const std::string &difference : planned.differences)
        run.line("    Changed since the journal was written: " + difference);
    if (planned.action == RecoveryAction::Hold) {
        run.line("(error) the subscriber was changed since its reset was interrupted; its "
                 "journal entry is left open");
        ++summary.entriesHeld;
        return;
    }
    run.line("(warning) the subscriber was never removed, so nothing of it is missing; its "
             "journal entry is closed without a reset");
    if (run.journalRecord([](RecoveryJournal &j) { return j.finished(); }))
        ++summary.entriesClosed;
}

// Takes the remaining steps of one entry, creating the subscriber again from the template
// `templateAlias`. True when the subscriber is back as a reset leaves it (its entry closed).
bool finishEntry(ResetRun &run, const JournalFile &journal, const JournalEntry &entry,
                 const std::string &templateAlias) {
    const SubscriberSnapshot &s = entry.snapshot;
    run.line("** Resetting Subscriber **");
    run.line("    Alias=" + s.Alias);
    run.line("    ObjectID=" + s.ObjectID);
    run.line("    Finishing the interrupted reset recorded in " +
             run.host.files->nativePath(journal.path));
    SubscriberWork &subscriber = run.beginSubscriber(templateAlias);
    subscriber.capture(s);
    subscriber.createdWith(entry.created);
    InterruptedAt state = findState(run, entry);
    run.line(interruptedAtLine(state));
    switch (state) {
    case InterruptedAt::BeforeRemoval:
        // The recordings and the mailbox steps read the subscriber's cached row.
        if (!LookUpAndCapture(run, s.Alias, s.ObjectID))
            return false;
        subscriber.capture(s);
        return RemoveAndReCreate(run);
    case InterruptedAt::Removed:
        settleTicket(run, entry.removalTicket);
        ReCreateSubscriber(run);
        return FinishReCreation(run);
    case InterruptedAt::CreatedWithNewIds: {
        if (entry.created.newSubscriberId != subscriber.newIds().newSubscriberId)
            run.journalRecord(
                [&](RecoveryJournal &j) { return j.created(subscriber.newIds(), std::string()); });
        settleTicket(run, entry.removalTicket);
        WriteBackIdentity(run);
        const std::vector<int> missing = extensionsToAdd(run);
        return FinishReCreation(run, &missing);
    }
    case InterruptedAt::IdsWrittenBack: {
        settleTicket(run, entry.removalTicket);
        settleTicket(run, entry.creationTicket);
        const std::vector<int> missing = extensionsToAdd(run);
        return FinishReCreation(run, &missing);
    }
    }
    return false;
}

} // namespace

std::vector<RecoveryPlanEntry> planRecovery(Host &host, db::modTarvoDB &tarvoDb,
                                            const std::vector<JournalFile> &journals,
                                            const std::set<std::string> &acceptChanged) {
    // Nothing is written: a log of its own, never opened, keeps the first read that failed
    // (the only lines it is given).
    Logging scratch(host);
    std::string failures;
    scratch.setLineObserver([&failures](const std::string &line) {
        if (failures.empty())
            failures = line;
    });
    ResetRun run(host, tarvoDb, scratch, RunSettings{});
    run.prepareQueries();
    std::vector<RecoveryPlanEntry> plan;
    for (const JournalFile &journal : journals) {
        for (const JournalEntry *entry : journal.unfinished()) {
            failures.clear();
            plan.push_back(planEntry(run, journal, *entry, acceptChanged, failures));
        }
    }
    return plan;
}

std::string describeRecoveryPlan(IFileSystem &files, const std::vector<RecoveryPlanEntry> &plan) {
    std::string text;
    for (const RecoveryPlanEntry &planned : plan) {
        const SubscriberSnapshot &s = planned.entry->snapshot;
        text += s.Alias + " (extension " + s.DTMFAccessID + ", journal " +
                files.nativePath(planned.journal->path) +
                "):\n  found: " + interruptedAtText(planned.state) +
                "\n  will do: " + actionText(planned) + "\n";
        for (const std::string &difference : planned.differences)
            text += std::string("  ") +
                    (planned.changeAccepted ? "accepted change: " : "changed: ") + difference +
                    "\n";
    }
    return text;
}

RecoverySummary recoverInterruptedResets(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                                         Logging &log, const std::vector<JournalFile> &journals,
                                         const std::vector<RecoveryPlanEntry> &plan,
                                         bool skipListSync, const std::string &templateOverride,
                                         const BeforeRecoveryEntry &beforeEntry) {
    log.WriteLogHeader(log.GenerateNewLogFileName(), false);
    RecoverySummary summary;
    {
        // No subscriber is chosen and no alternate extension kept: the journal's entries are
        // the work, each with its own template.
        RunSettings settings;
        settings.recovering = true;
        ResetRun run(host, tarvoDb, log, std::move(settings));
        run.line(kRecoveryStartLine);
        run.prepare(registry);
        // Each journal's writer lives to the end: the lists' synchronisation is settled in
        // every journal that owes it once the recovery has asked for it.
        std::vector<std::unique_ptr<RecoveryJournal>> writers;
        // Every journal taken up owes the lists' synchronisation (the interrupted run's, or
        // recorded below before its first entry): the end asks for it however the recovery
        // stops, and only a synchronisation asked for settles it.
        if (!journals.empty())
            run.oweListSync();
        int begun = 0;
        run.proveRights();
        for (const JournalFile &journal : journals) {
            writers.push_back(std::make_unique<RecoveryJournal>(*host.files, journal));
            run.takeUpJournal(writers.back().get());
            // The subscribers this recovery brings back are out of their lists until then.
            if (!journal.listSyncOwed)
                run.journalRecord([](RecoveryJournal &j) { return j.listSyncOwed(); });
            // A run deletes the ticket of a subscriber's re-synchronisation with its next
            // change: one that died before leaves the answered ticket of an entry it finished.
            for (const JournalEntry &entry : journal.entries) {
                if (entry.finished && !run.stopped())
                    settleTicket(run, entry.creationTicket);
            }
            for (const RecoveryPlanEntry &planned : plan) {
                if (planned.journal != &journal)
                    continue;
                // Asked between two entries only: the one under way has always been finished.
                if (!run.stopped() && beforeEntry && beforeEntry(begun, planned))
                    run.stop(kStoppedByRequest, ResetRun::StopKind::Requested);
                if (run.stopped()) {
                    ++summary.entriesLeft; // stays open for the next recovery
                    continue;
                }
                ++begun;
                const JournalEntry &entry = *planned.entry;
                run.journal()->resume(entry.number);
                if (run.connection().IsOpen())
                    run.attempt([&] { run.connection().CheckPlaceNext(); });
                const RecoveryPlanEntry now = checkedAgain(run, planned);
                if (now.action != RecoveryAction::Finish) {
                    closeOrHold(run, now, summary);
                    continue;
                }
                if (finishEntry(run, journal, entry,
                                templateOverride.empty() ? entry.templateAlias
                                                         : templateOverride)) {
                    ++summary.subscribersFinished;
                } else if (!run.stopped()) {
                    // One subscriber that cannot be finished keeps none of the others waiting.
                    run.line("(error) the interrupted reset of this subscriber could not be "
                             "finished; its journal entry is left open and the recovery goes on "
                             "with the next one");
                    ++summary.entriesUnfinished;
                }
            }
        }
        run.takeUpJournal(nullptr);
        if (run.stoppedByRequest()) {
            // Not an error: the operator's choice.
            run.line("** The recovery was stopped by request after the subscriber under way; " +
                     std::to_string(summary.entriesLeft) +
                     " entr(ies) left open for the next recovery **");
            summary.stopReason = run.stopReason();
            summary.stoppedByRequest = true;
        } else if (run.stopped()) {
            run.line("(error) The recovery stopped before finishing every interrupted reset: " +
                     run.stopReason());
            summary.stopReason = run.stopReason();
        }
        if (run.writeEnd(skipListSync)) {
            for (const std::unique_ptr<RecoveryJournal> &writer : writers) {
                run.takeUpJournal(writer.get());
                run.journalRecord([](RecoveryJournal &j) { return j.listSyncDone(); });
            }
            run.takeUpJournal(nullptr);
        }
    }
    log.CloseLogFile();
    summary.errorCount = log.LogErrorCount();
    summary.logFilePath = log.LogFilePath();
    summary.closingMessage = "Recovery complete: " + std::to_string(summary.subscribersFinished) +
                             " interrupted reset(s) finished, " +
                             std::to_string(summary.entriesClosed) + " closed without a reset, " +
                             std::to_string(summary.entriesHeld) + " left open (changed since), " +
                             std::to_string(summary.entriesUnfinished) +
                             " left open (could not be finished).  " +
                             std::to_string(summary.errorCount) + " error(s) encountered.";
    if (summary.stoppedByRequest)
        summary.closingMessage =
            "Recovery stopped by request: " + std::to_string(summary.subscribersFinished) +
            " interrupted reset(s) finished, " + std::to_string(summary.entriesClosed) +
            " closed without a reset, " + std::to_string(summary.entriesHeld) +
            " left open (changed since), " + std::to_string(summary.entriesUnfinished) +
            " left open (could not be finished), " + std::to_string(summary.entriesLeft) +
            " not begun (left for the next recovery).  " + std::to_string(summary.errorCount) +
            " error(s) encountered.";
    else if (!summary.stopReason.empty())
        summary.closingMessage += "  The recovery stopped early: " + summary.stopReason;
    return summary;
}

} // namespace zeph
