#include "ReCreation.h"

#include "CreateNewGuid.h"
#include "DirectorySyncWait.h"
#include "DryRunForesight.h"
#include "RecoveryJournal.h"
#include "ResetRun.h"
#include "ScopedQuery.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace zeph {

namespace {

// Which of the new ids a fix-up query looks for.
enum class NewId { Subscriber, CallHandler };

// How many rows a fix-up expects: exactly one, or any number but none.
enum class Expect { ExactlyOne, EveryRow };

// What the creation copies a fix-up's rows from.
enum class Source { Creation, SubscriberTemplate, CallHandlerTemplate };

// A value a fix-up gives a column of its rows.
enum class Value { OldSubscriber, OldCallHandler, Null, One };

struct Assignment {
    const char *column;
    Value value;
};

// One fix-up: every row of `table` whose `keyColumn` holds a new id takes the old ids, with one
// statement on the server.
struct FixUp {
    const char *table;
    const char *keyColumn;
    NewId key;
    Expect expect;
    std::vector<Assignment> changes;
    /// The line when no row was found; the new id is appended.
    const char *noneLine;
    /// The line when more than one row was found, where that differs from noneLine.
    const char *manyLine = nullptr;
    /// Whether the new id is appended to the lines (the global subscriber line has none).
    bool appendId = true;
    /// Written before the single row is changed.
    const char *beforeChange = nullptr;
    /// Where the created rows come from: always made by the creation, or copied from the
    /// template's own rows (those a dry run counts to foresee "nothing found").
    Source source = Source::Creation;
    /// The new id the lines end with, where it is not the one the query looks for: the
    /// primary call handler is looked up by its id and reported for its subscriber.
    std::optional<NewId> lineId = std::nullopt;
};

const std::vector<Assignment> kToOldSubscriber = {{"ParentObjectID", Value::OldSubscriber}};
const std::vector<Assignment> kToOldCallHandler = {{"ParentObjectID", Value::OldCallHandler}};

// The order is fixed: the call handler's owner and recipient (6) are set while it can still
// be found by its new id, before its id changes (7).
const std::vector<FixUp> &fixUps() {
    static const std::vector<FixUp> table = {
        {"GlobalSubscriber",
         "SubscriberOBjectId",
         NewId::Subscriber,
         Expect::ExactlyOne,
         {{"SubscriberObjectID", Value::OldSubscriber},
          {"CallHandlerOBjectID", Value::OldCallHandler},
          {"StreamPath", Value::Null}},
         "(error) could not find global subscriber table entry for new subscriber",
         nullptr,
         false,
         "    Updating global subscriber table with new ObjectID values"},
        {"NotificationDevice", "ParentObjectID", NewId::Subscriber, Expect::EveryRow,
         kToOldSubscriber, "(error) no notification devices found for SubscriberObjectID=", nullptr,
         true, nullptr, Source::SubscriberTemplate},
        {"NotificationRule", "ParentObjectID", NewId::Subscriber, Expect::EveryRow,
         kToOldSubscriber, "(error) no notification rules found for SubscriberObjectID=", nullptr,
         true, nullptr, Source::SubscriberTemplate},
        {"NotificationMWI", "ParentObjectID", NewId::Subscriber, Expect::EveryRow, kToOldSubscriber,
         "(error) no notification MWI devices found for SubscriberObjectID=", nullptr, true,
         nullptr, Source::SubscriberTemplate},
        {"DTMFAccessID", "ParentObjectID", NewId::Subscriber, Expect::EveryRow, kToOldSubscriber,
         "(error) no DTMFAccessID records found for SubscriberObjectID="},
        {"CallHandler",
         "CallHandlerObjectID",
         NewId::CallHandler,
         Expect::ExactlyOne,
         {{"AdministratorObjectID", Value::OldSubscriber},
          {"RecipientObjectID", Value::OldSubscriber}},
         "(error) no primary call handler found for SubscriberObjectID=",
         "(error) more than one primary call handler found for SubscriberObjectID= ",
         true,
         nullptr,
         Source::Creation,
         NewId::Subscriber},
        {"CallHandler",
         "CallHandlerObjectID",
         NewId::CallHandler,
         Expect::ExactlyOne,
         {{"CallHandlerObjectID", Value::OldCallHandler}, {"IsPrimary", Value::One}},
         "(error) could not find new primary call handler for subscriber by ObjectID="},
        {"ContactRule", "ParentObjectID", NewId::CallHandler, Expect::EveryRow, kToOldCallHandler,
         "(error) no contact rules found for parentObjectID=", nullptr, true, nullptr,
         Source::CallHandlerTemplate},
        {"MessagingRule", "ParentObjectID", NewId::CallHandler, Expect::EveryRow, kToOldCallHandler,
         "(error) no messaging rules found for parentObjectID=", nullptr, true, nullptr,
         Source::CallHandlerTemplate},
        {"MenuEntry", "ParentObjectID", NewId::CallHandler, Expect::EveryRow, kToOldCallHandler,
         "(error) no menu entry rows found for parentObjectID=", nullptr, true, nullptr,
         Source::CallHandlerTemplate},
    };
    return table;
}

// The table a fix-up changes.
std::string tableOf(const FixUp &fixUp) {
    return fixUp.table;
}

DbValue valueOf(ResetRun &run, Value value) {
    switch (value) {
    case Value::OldSubscriber:
        return run.subscriber().snapshot().ObjectID;
    case Value::OldCallHandler:
        return run.subscriber().snapshot().CallHandlerObjectID;
    case Value::One:
        return std::int64_t{1};
    case Value::Null:
        break;
    }
    return db::Null;
}

// The rows of the fix-up's table that hold `newId`, read only when its change found no row to
// change: none, or more than the one it expects.
long rowsHolding(ResetRun &run, const FixUp &fixUp, const std::string &newId) {
    if (newId.empty())
        return 0; // no new subscriber: no row holds an id
    const std::string column = fixUp.keyColumn;
    ScopedQuery query(run,
                      "SELECT " + column + " FROM " + tableOf(fixUp) + " WHERE " + column + "=?",
                      {DbValue(newId)}, db::adLockReadOnly);
    return query.rowCount();
}

// Moves the fix-up's rows to the old ids with one statement, through the run's connection (or,
// without it, one of the statement's own). The rows an expected single row is not found among
// are left as they are. The rows changed; -1 when the change failed (reported).
std::int64_t changeRows(ResetRun &run, const FixUp &fixUp, const std::string &newId) {
    DbRowsChange change;
    change.target = tableOf(fixUp);
    change.whereColumns = {fixUp.keyColumn};
    change.whereValues = {DbValue(newId)};
    for (const Assignment &a : fixUp.changes) {
        change.columns.emplace_back(a.column);
        change.values.push_back(valueOf(run, a.value));
    }
    change.atMost = fixUp.expect == Expect::ExactlyOne ? 1 : 0;
    std::int64_t changed = -1;
    run.attempt([&] {
        try {
            if (run.connection().IsOpen())
                changed = run.connection().UpdateWhere(change);
            else
                changed = run.host.database->connect(run.connectionText())->updateWhere(change);
        } catch (...) {
            // The single row was there to change: its line comes before the failure's.
            if (fixUp.beforeChange)
                run.line(fixUp.beforeChange);
            throw;
        }
    });
    return changed;
}

void runFixUp(ResetRun &run, const FixUp &fixUp) {
    const std::string &newId = fixUp.key == NewId::Subscriber
                                   ? run.subscriber().newIds().newSubscriberId
                                   : run.subscriber().newIds().newCallHandlerId;
    const std::int64_t changed = changeRows(run, fixUp, newId);
    if (changed < 0 || (changed == 1 && fixUp.expect == Expect::ExactlyOne)) {
        if (changed == 1 && fixUp.beforeChange)
            run.line(fixUp.beforeChange);
        return;
    }
    if (changed > 0)
        return; // every row holding the new id now holds the old one
    const long count = fixUp.expect == Expect::ExactlyOne ? rowsHolding(run, fixUp, newId) : 0;
    const NewId named = fixUp.lineId.value_or(fixUp.key);
    const std::string suffix = !fixUp.appendId ? std::string()
                               : named == NewId::Subscriber
                                   ? run.subscriber().newIds().newSubscriberId
                                   : run.subscriber().newIds().newCallHandlerId;
    if (count == 0 && run.recovering())
        // The interrupted run moved these rows already (or the template gave none).
        run.line("    nothing left to move in " + tableOf(fixUp));
    else if (count > 1 && fixUp.manyLine)
        run.line(fixUp.manyLine + suffix);
    else
        run.line(fixUp.noneLine + suffix);
}

// A fresh stored-procedure command on the run's connection.
void prepareCommand(ResetRun &run, db::Command &command) {
    run.attempt([&] {
        if (run.connection().IsOpen())
            command.ActiveConnection(run.connection());
        else
            command.ActiveConnection(run.connectionText());
        command.CommandType(db::adCmdStoredProc);
    });
}

// Gives the re-created subscriber's row (the query's current row) the old ids.
void writeBackIdentity(ResetRun &run, db::Recordset &rs) {
    bool changed = run.attempt([&] {
        rs["SubscriberObjectID"] = run.subscriber().snapshot().ObjectID;
        rs["CallHandlerObjectID"] = run.subscriber().snapshot().CallHandlerObjectID;
    });
    if (changed)
        run.attempt([&] { rs.Update(); });
    else
        run.attempt([&] { rs.CancelUpdate(); });
}

// What a dry run foresees of a fix-up: with no new subscriber every fix-up finds nothing; with
// one, a fix-up whose rows the template does not have finds nothing.
void foreseeFixUp(ResetRun &run, const FixUp &fixUp) {
    const char *newId = "<the new ObjectID>";
    if (run.subscriber().foresight().creationRefused) {
        run.line(run.foreseen(fixUp.noneLine));
        return;
    }
    if (fixUp.source == Source::Creation)
        return;
    const std::string table = tableOf(fixUp);
    if (TemplateRows(run, table, fixUp.source == Source::CallHandlerTemplate) == 0)
        run.line(run.foreseen(fixUp.noneLine + std::string(fixUp.appendId ? newId : "")));
}

// Adds the wanted saved extensions back, as rows of the query (the primary extension's).
template <class Wanted>
void addBackAlternateExtensions(ResetRun &run, db::Recordset &rs, int saved, Wanted &&wanted) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    for (int n = 1; n <= saved; ++n) {
        if (!wanted(n))
            continue;
        const std::string &extension = s.AlternateExtensions[static_cast<std::size_t>(n - 1)];
        try {
            rs.AddNew();
            rs["ParentObjectID"] = s.ObjectID;
            rs["ParentObjectIDType"] = 1;
            rs["DTMFAccessID"] = extension;
            rs["DTMFAccessIDType"] = 1;
            rs["Alias"] = "SYSTEM_DEFINED_ALT_EXT_" + std::to_string(n);
            rs["IsPrimaryID"] = 0;
            rs.Update();
        } catch (const std::exception &e) {
            // Not an error of the run (an extension taken meanwhile is the usual cause), but
            // the administrator asked to keep it, so the log says it is gone.
            try {
                rs.CancelUpdate();
            } catch (const std::exception &) {
            }
            run.line("    (warning) alternate extension " + extension +
                     " could not be added back: " + e.what());
        }
    }
}

// The created subscriber's row (the query's current row): its new ids are noted, and it is
// given back its old ones.
void takeCreatedIds(ResetRun &run, db::Recordset &rs) {
    IdentityMap created;
    created.newCallHandlerId =
        run.read<std::string>([&] { return rs["CallHandlerObjectID"].Text(); });
    created.newSubscriberId =
        run.read<std::string>([&] { return rs["SubscriberObjectID"].Text(); });
    run.subscriber().createdWith(created);
    run.line("    User created in SQL");
    if (run.changesOpen()) {
        // The old ids go back in the creation's own transaction: no subscriber is ever
        // found with the new ids, and the journal is told of them once they are committed.
        run.subscriber().recordCreationOnCommit();
    } else {
        // Each change its own: recorded before the old ids go back, since a recovery must
        // know which ids to move. The re-synchronisation's ticket, unless the entry's
        // beginning announced it, is made now, so that its record shares this one's sync.
        run.journalRecord([&](RecoveryJournal &journal) {
            std::string ticket = journal.announcedCreationTicket();
            if (ticket.empty())
                ticket = run.newTicket();
            return journal.created(created, ticket);
        });
    }
    writeBackIdentity(run, rs);
}

} // namespace

void ReCreateSubscriber(ResetRun &run) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    run.subscriber().clearCreation();
    if (run.dryRun()) {
        run.line("    Adding subscriber back to SQL with new template settings");
        ForeseeCreation(run, run.subscriber().templateAlias());
        return;
    }
    // The creation opens the transaction that the directory's request commits.
    run.beginChanges();
    db::Command command(*run.host.database);
    prepareCommand(run, command);
    run.line("    Adding subscriber back to SQL with new template settings");

    std::string templateAlias = run.subscriber().templateAlias();
    run.attempt([&] { command.CommandText("sp_CreateSubscriber"); });
    auto argument = [&](const char *name, db::DataTypeEnum type, DbValue value) {
        run.attempt([&] { command.AppendParameter(name, type, value); });
    };
    argument("@Alias", db::adVarChar, s.Alias);
    argument("@DtmfAccessId", db::adVarChar, s.DTMFAccessID);
    argument("@templateAlias", db::adVarChar, templateAlias);
    argument("@SubscriberType", db::adInteger, std::int64_t{1});
    argument("@Undeletable", db::adInteger, std::int64_t{0});
    argument("@DisplayName", db::adVarChar, s.DisplayName);
    argument("@DirectoryID", db::adGUID, s.DirectoryID);
    argument("@Uid", db::adVarChar, s.Alias);
    argument("@FirstName", db::adVarChar, s.FirstName);
    argument("@LastName", db::adVarChar, s.LastName);
    argument("@DirectorySync", db::adInteger, std::int64_t{0});

    {
        ScopedQuery query(run, command, db::adLockOptimistic);
        if (query.rowCount() == 1)
            takeCreatedIds(run, query.rows());
        else
            run.line("(error) subscriber creation stored procedure failed to execute properly.");
    }
    run.reached("write-back");
}

void WriteBackIdentity(ResetRun &run) {
    run.beginChanges(); // with the rest of the creation's steps
    run.line("    Giving the re-created subscriber its old ObjectID values");
    {
        ScopedQuery query(run, "SELECT * FROM Subscriber WHERE SubscriberObjectID=?",
                          {DbValue(run.subscriber().newIds().newSubscriberId)},
                          db::adLockOptimistic);
        if (query.rowCount() == 1)
            writeBackIdentity(run, query.rows());
        else
            run.line("(error) could not find the re-created subscriber by ObjectID=" +
                     run.subscriber().newIds().newSubscriberId);
    }
    run.reached("write-back");
}

void RestoreAlternateExtensions(ResetRun &run, const std::vector<int> *only) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    if (s.AlternateExtensionCount <= 0 || (only && only->empty()))
        return;
    run.line("    Adding alternate extensions back to user as requested");
    int saved =
        std::min<int>(s.AlternateExtensionCount, static_cast<int>(s.AlternateExtensions.size()));
    auto wanted = [only](int n) {
        return !only || std::find(only->begin(), only->end(), n) != only->end();
    };
    if (run.dryRun() && run.subscriber().foresight().creationRefused) {
        run.line(run.foreseen("(error) primary extension for newly added subscriber was not "
                              "found!"));
        return;
    }
    if (run.dryRun()) {
        for (int n = 1; n <= saved; ++n)
            run.line(dryRunLine("add back the alternate extension " +
                                s.AlternateExtensions[static_cast<std::size_t>(n - 1)]));
        return;
    }
    {
        ScopedQuery query(run, "SELECT * FROM DTMFAccessID WHERE ParentObjectID=?",
                          {DbValue(run.subscriber().newIds().newSubscriberId)},
                          db::adLockOptimistic);
        if (query.rowCount() != 1) {
            run.line("(error) primary extension for newly added subscriber was not found!");
            return;
        }
        run.inOneTransaction([&] { addBackAlternateExtensions(run, query.rows(), saved, wanted); });
    }
    run.reached("alternate-extensions");
}

std::vector<std::string> fixUpTables() {
    std::vector<std::string> tables;
    for (const FixUp &fixUp : fixUps()) {
        const std::string table = tableOf(fixUp);
        if (std::find(tables.begin(), tables.end(), table) == tables.end())
            tables.push_back(table);
    }
    return tables;
}

void FixUpReferences(ResetRun &run) {
    if (run.dryRun()) {
        std::string tables;
        for (const FixUp &fixUp : fixUps()) {
            const std::string table = tableOf(fixUp);
            if (tables.find(table) == std::string::npos)
                tables += (tables.empty() ? "" : ", ") + table;
        }
        run.line(dryRunLine("move the rows that refer to the new ObjectID values back to the old "
                            "ones in " +
                            tables));
        for (const FixUp &fixUp : fixUps())
            foreseeFixUp(run, fixUp);
        return;
    }
    int number = 0;
    for (const FixUp &fixUp : fixUps()) {
        // A refused write took the creation's transaction back: nothing is left to move.
        if (run.subscriber().creationUnrecorded() && run.writesRefused())
            return;
        ++number;
        run.inOneTransaction([&] { runFixUp(run, fixUp); });
        // Told once the step's rows are committed: the step is done.
        run.reached("fixup-" + std::to_string(number));
    }
}

void ResynchronizeSubscriber(ResetRun &run) {
    if (run.dryRun()) {
        run.line(dryRunLine("ask the directory to synchronise the subscriber (sp_ModifySubscriber) "
                            "and wait for it"));
        ForeseeResynchronization(run);
        return;
    }
    db::Command command(*run.host.database);
    prepareCommand(run, command);
    const std::string ticket = run.takeCreationTicket();
    run.attempt([&] {
        command.CommandText("sp_ModifySubscriber");
        command.AppendParameter("@SubscriberObjectID", db::adGUID,
                                run.subscriber().snapshot().ObjectID);
        command.AppendParameter("@DirectorySyncTicket", db::adGUID, ticket);
        command.AppendParameter("@DirectorySync", db::adInteger, 1);
    });
    run.attempt([&] { command.Execute(); });
    // The directory sees the subscriber once it is committed; the request commits everything
    // since the creation.
    const bool committed = run.commitChanges();
    if (committed && run.subscriber().creationUnrecorded()) {
        run.journalRecord([&](RecoveryJournal &journal) {
            return journal.created(run.subscriber().newIds(), std::string(), false);
        });
        run.subscriber().creationRecorded();
    }
    // A request the server refused to keep has no synchronisation to wait for.
    if (!committed && run.writesRefused())
        return;
    run.line("    Subscriber synch with directory started.");
    // The answered ticket is deleted with the run's next change.
    if (WaitForSyncToFinished(run.host, run.connectionText(), run.log, ticket, &run.connection(),
                              run.ticketsToDeleteLater()))
        run.line("    Directory sync complete for creation");
    else
        run.line("(error) Syncronization process failed during subscriber create. Check the "
                 "Lorrasvc logs in the \\Pradix\\Logs directory");
}

} // namespace zeph
