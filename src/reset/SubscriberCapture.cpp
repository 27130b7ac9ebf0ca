#include "SubscriberCapture.h"

#include "CreateNewGuid.h"
#include "DirectorySyncWait.h"
#include "DryRunForesight.h"
#include "GetObjectTypeName.h"
#include "MailboxCleanup.h"
#include "RecoveryJournal.h"
#include "ResetRun.h"
#include "ScopedQuery.h"

#include <utility>

namespace zeph {

namespace {

// A text column that reads as empty text when NULL.
std::string textOrEmpty(const db::Field &field) {
    return field.IsNull() ? std::string() : field.Text();
}

} // namespace

bool LookUpAndCapture(ResetRun &run, const std::string &alias, const std::string &objectId) {
    SubscriberSnapshot s;
    s.Alias = alias;
    s.ObjectID = objectId;

    db::Recordset &rs = run.tarvoDb.rsSubscribers();
    run.attempt([&] {
        rs.MoveFirst();
        rs.Find("SubscriberObjectID", DbValue(objectId));
    });
    // A table that cannot be read has no row for the subscriber either.
    if (!run.read<bool>([&] { return !rs.Eof(); })) {
        run.subscriber().capture(std::move(s));
        run.line("(error) could not find subscriber in database using objectID - skipping user");
        return false;
    }

    // From here on the row is the subscriber's own: every read finds it again by its key, so
    // that nothing that moves the shared table meanwhile makes it read another subscriber.
    run.subscriber().foundRow(objectId);
    auto row = [&run](const char *column) { return run.subscriberRow()[column]; };

    s.CallHandlerObjectID =
        run.read<std::string>([&] { return row("CallHandlerObjectID").Text(); });
    s.FirstName = run.read<std::string>([&] { return textOrEmpty(row("FirstName")); });
    s.LastName = run.read<std::string>([&] { return textOrEmpty(row("LastName")); });
    // A NULL display name cannot be read as text: the run's rule reports it, and the
    // subscriber is reset with an empty one, as it had none. Any other failed read is a check
    // that could not be made.
    if (run.read<bool>([&] { return row("DisplayName").IsNull(); }))
        s.DisplayName = run.readNotCounted<std::string>([&] { return row("DisplayName").Text(); });
    else
        s.DisplayName = run.read<std::string>([&] { return row("DisplayName").Text(); });
    s.DTMFAccessID = run.read<std::string>([&] { return row("DTMFAccessID").Text(); });

    // Nothing has changed yet: a directory id that cannot be read skips the subscriber too.
    bool haveDirectoryId = run.read<bool>([&] { return !row("DirectoryID").IsNull(); });
    if (!haveDirectoryId) {
        run.subscriber().capture(std::move(s));
        run.line("(error) the directory ID value for this subscriber is NULL which usually means "
                 "they are not represented in the directory.  Skipping resetting this subscriber");
        return false;
    }
    s.DirectoryID = run.read<std::string>([&] { return row("DirectoryID").Text(); });
    run.subscriber().capture(std::move(s));
    return true;
}

bool CheckExtensionConflict(ResetRun &run) {
    run.line("    Checking for DTMFAccessID uniqueness in dialing domain for this user");
    // The subscriber's first query: one the server does not answer is no conflict found.
    ScopedQuery query(run, "SELECT * FROM vw_DTMFAccessID_DialingDomain WHERE DTMFAccessID=?",
                      {DbValue(run.subscriber().snapshot().DTMFAccessID)}, db::adLockReadOnly);
    const bool answered = query.opened();
    run.serverAnswered(answered);
    if (!answered) {
        run.line("(error) the check for a conflicting ID could not be made, so this subscriber "
                 "is skipped.");
        return false;
    }
    if (query.rowCount() < 2)
        return true;
    run.line("(error) This subscriber has a conflicting ID with another object in the database.  "
             "This will cause the reset for this user to fail so they are being skipped.");
    run.line("All objects found using this DTMFAccessID:");
    query.forEachRow([&](db::Recordset &rs) {
        std::int64_t type = run.read<std::int64_t>([&] { return rs["ObjectType"].Long(); });
        std::string name = run.read<std::string>([&] { return rs["DisplayName"].Text(); });
        run.line("    " + GetObjectTypeName(type) + " with a Display Name= " + name + ".  ");
    });
    return false;
}

void SaveAlternateExtensions(ResetRun &run, bool preserve) {
    SubscriberWork &subscriber = run.subscriber();
    subscriber.saveAlternateExtensions({});
    if (!preserve)
        return;
    run.line("    User has opted to preserve alternate extensions - saving them off");
    ScopedQuery query(run, "SELECT * FROM vw_DTMFAccessID WHERE ParentObjectID=? and IsPrimaryID=0",
                      {DbValue(subscriber.snapshot().ObjectID)}, db::adLockReadOnly);
    long count = query.rowCount();
    if (count == 0) {
        run.line("    No alternate extensions found for this user");
        return;
    }
    run.line("    " + std::to_string(count) + " alternate extensiosn found for user - saving");
    std::vector<std::string> saved;
    query.forEachRow([&](db::Recordset &rs) {
        // An extension that cannot be read is reported and not saved: the restore adds back
        // only what was read.
        std::string extension;
        if (!run.attempt([&] { extension = rs["DTMFAccessID"].Text(); }))
            return;
        saved.push_back(extension);
        run.line("        " + extension);
    });
    subscriber.saveAlternateExtensions(std::move(saved));
}

void CleanMailbox(ResetRun &run) {
    auto row = [&run](const char *column) { return run.subscriberRow()[column]; };
    bool haveAddress = run.read<bool>([&] { return !row("SMTPAddress").IsNull(); });
    if (!haveAddress) {
        run.line("(error) subscriber has no SMTP address in SQL - this usually means they did "
                 "not get a mailbox created in the mailstore propertly.  Skipping message removal");
        return;
    }
    std::string homeServer = run.read<std::string>([&] { return row("HomeServer").Text(); });
    std::string smtpAddress = run.read<std::string>([&] { return row("SMTPAddress").Text(); });
    if (!RemoveSubscriberMessages(run.host.mail.get(), run.log, homeServer, smtpAddress,
                                  run.dryRun()))
        run.line("(error) mailbox messages for subscriber could not be removed.");
}

void RemoveFromDatabase(ResetRun &run) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    if (run.dryRun()) {
        run.line(dryRunLine("remove the subscriber from SQL (sp_DeleteSubscriber) and wait for "
                            "the directory"));
        ForeseeRemoval(run);
        return;
    }
    // Recorded first, so that a recovery can clear the ticket the directory answers: with the
    // journal entry's beginning, or now.
    const std::string ticket = run.takeRemovalTicket();
    run.attempt([&] { run.command().CommandText("sp_DeleteSubscriber"); });
    run.attempt(
        [&] { run.command().AppendParameter("@SubscriberObjectID", db::adGUID, s.ObjectID); });
    run.attempt([&] { run.command().AppendParameter("@DirectorySync", db::adInteger, 1); });
    run.attempt([&] { run.command().AppendParameter("@ForceRemove", db::adInteger, 0); });
    run.attempt([&] { run.command().AppendParameter("@DirectorySyncTicket", db::adGUID, ticket); });
    run.line("    Removing subscriber from SQL");
    run.attempt([&] { run.command().Execute(); });
    // The directory sees the removal once it is committed, with the recordings' paths.
    run.commitChanges();
    run.reached("removed");
    // A removal the server refused has no synchronisation to wait for.
    if (run.writesRefused())
        return;
    // The answered ticket is deleted with the creation.
    if (WaitForSyncToFinished(run.host, run.connectionText(), run.log, ticket, &run.connection(),
                              run.ticketsToDeleteLater()))
        run.line("    Directory sync complete for removal");
    else
        run.line("(error) Syncronization process failed during subscriber delete. Check the "
                 "Lorrasvc logs in the \\Pradix\\Logs directory");
}

} // namespace zeph
