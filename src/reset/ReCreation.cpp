#include "ReCreation.h"

#include "CreateNewGuid.h"
#include "DirectorySyncWait.h"
#include "DryRunForesight.h"
#include "QueryScope.h"
#include "RecoveryJournal.h"
#include "ResetRun.h"

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

struct FixUp {
    const char *sql;
    NewId key;
    Expect expect;
    /// Changes the current row (the old ids are at hand in the run).
    void (*change)(ResetRun &run, db::Recordset &rs);
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

void moveToOldSubscriber(ResetRun &run, db::Recordset &rs) {
    rs["ParentObjectID"] = run.subscriber().snapshot().ObjectID;
}

void moveToOldCallHandler(ResetRun &run, db::Recordset &rs) {
    rs["ParentObjectID"] = run.subscriber().snapshot().CallHandlerObjectID;
}

void fixGlobalSubscriber(ResetRun &run, db::Recordset &rs) {
    rs["SubscriberObjectID"] = run.subscriber().snapshot().ObjectID;
    rs["CallHandlerOBjectID"] = run.subscriber().snapshot().CallHandlerObjectID;
    rs["StreamPath"] = db::Null;
}

void fixCallHandlerOwner(ResetRun &run, db::Recordset &rs) {
    rs["AdministratorObjectID"] = run.subscriber().snapshot().ObjectID;
    rs["RecipientObjectID"] = run.subscriber().snapshot().ObjectID;
}

void fixCallHandlerId(ResetRun &run, db::Recordset &rs) {
    rs["CallHandlerObjectID"] = run.subscriber().snapshot().CallHandlerObjectID;
    rs["IsPrimary"] = 1;
}

// The order is fixed: the call handler's owner and recipient (6) are set while it can still
// be found by its new id, before its id changes (7).
const std::vector<FixUp> &fixUps() {
    static const std::vector<FixUp> table = {
        {"SELECT * FROM GlobalSubscriber WHERE SubscriberOBjectId=?", NewId::Subscriber,
         Expect::ExactlyOne, fixGlobalSubscriber,
         "(error) could not find global subscriber table entry for new subscriber", nullptr, false,
         "    Updating global subscriber table with new ObjectID values"},
        {"SELECT Alias, ParentObjectID FROM NotificationDevice WHERE ParentObjectID=?",
         NewId::Subscriber, Expect::EveryRow, moveToOldSubscriber,
         "(error) no notification devices found for SubscriberObjectID=", nullptr, true, nullptr,
         Source::SubscriberTemplate},
        {"SELECT Alias, ParentObjectID FROM NotificationRule WHERE ParentObjectID=?",
         NewId::Subscriber, Expect::EveryRow, moveToOldSubscriber,
         "(error) no notification rules found for SubscriberObjectID=", nullptr, true, nullptr,
         Source::SubscriberTemplate},
        {"SELECT Alias, ParentObjectID FROM NotificationMWI WHERE ParentObjectID=?",
         NewId::Subscriber, Expect::EveryRow, moveToOldSubscriber,
         "(error) no notification MWI devices found for SubscriberObjectID=", nullptr, true,
         nullptr, Source::SubscriberTemplate},
        {"SELECT ParentObjectID FROM DTMFAccessID WHERE ParentObjectID=?", NewId::Subscriber,
         Expect::EveryRow, moveToOldSubscriber,
         "(error) no DTMFAccessID records found for SubscriberObjectID="},
        {"SELECT Alias, AdministratorObjectID, RecipientObjectID FROM CallHandler WHERE "
         "CallHandlerObjectID=?",
         NewId::CallHandler, Expect::ExactlyOne, fixCallHandlerOwner,
         "(error) no primary call handler found for SubscriberObjectID=",
         "(error) more than one primary call handler found for SubscriberObjectID= ", true, nullptr,
         Source::Creation, NewId::Subscriber},
        {"SELECT Alias, IsPrimary, CallHandlerObjectID FROM CallHandler WHERE "
         "CallHandlerObjectID=?",
         NewId::CallHandler, Expect::ExactlyOne, fixCallHandlerId,
         "(error) could not find new primary call handler for subscriber by ObjectID="},
        {"SELECT Alias, ParentObjectID from ContactRule WHERE ParentObjectID=?", NewId::CallHandler,
         Expect::EveryRow, moveToOldCallHandler,
         "(error) no contact rules found for parentObjectID=", nullptr, true, nullptr,
         Source::CallHandlerTemplate},
        {"SELECT Alias, ParentObjectID from MessagingRule WHERE ParentObjectID=?",
         NewId::CallHandler, Expect::EveryRow, moveToOldCallHandler,
         "(error) no messaging rules found for parentObjectID=", nullptr, true, nullptr,
         Source::CallHandlerTemplate},
        {"SELECT Alias, ParentObjectID from MenuEntry WHERE ParentObjectID=?", NewId::CallHandler,
         Expect::EveryRow, moveToOldCallHandler,
         "(error) no menu entry rows found for parentObjectID=", nullptr, true, nullptr,
         Source::CallHandlerTemplate},
    };
    return table;
}

// Changes and saves the query's current row.
void changeRow(ResetRun &run, const FixUp &fixUp, db::Recordset &rs) {
    if (run.attempt([&] { fixUp.change(run, rs); }))
        run.attempt([&] { rs.Update(); });
    else
        run.attempt([&] { rs.CancelUpdate(); });
}

// The table a fix-up's query reads.
std::string tableOf(const FixUp &fixUp) {
    const std::string sql = fixUp.sql;
    std::size_t at = sql.find(" FROM ");
    if (at == std::string::npos)
        at = sql.find(" from ");
    const std::size_t start = at + 6;
    return sql.substr(start, sql.find(' ', start) - start);
}

void runFixUp(ResetRun &run, const FixUp &fixUp, int number) {
    const std::string &newId = fixUp.key == NewId::Subscriber
                                   ? run.subscriber().newIds().newSubscriberId
                                   : run.subscriber().newIds().newCallHandlerId;
    const std::string step = "fixup-" + std::to_string(number);
    QueryScope query(run, fixUp.sql, {DbValue(newId)}, db::adLockOptimistic);
    long count = query.rowCount();
    const NewId named = fixUp.lineId.value_or(fixUp.key);
    std::string suffix = !fixUp.appendId              ? std::string()
                         : named == NewId::Subscriber ? run.subscriber().newIds().newSubscriberId
                                                      : run.subscriber().newIds().newCallHandlerId;
    if (count == 0 && run.recovering) {
        // The interrupted run moved these rows already (or the template gave none).
        run.line("    nothing left to move in " + tableOf(fixUp));
    } else if (fixUp.expect == Expect::ExactlyOne) {
        if (count == 1) {
            if (fixUp.beforeChange)
                run.line(fixUp.beforeChange);
            changeRow(run, fixUp, query.rows());
        } else if (count > 1 && fixUp.manyLine) {
            run.line(fixUp.manyLine + suffix);
        } else {
            run.line(fixUp.noneLine + suffix);
        }
    } else if (count == 0) {
        run.line(fixUp.noneLine + suffix);
    } else {
        int row = 0;
        query.forEachRow([&](db::Recordset &rs) {
            changeRow(run, fixUp, rs);
            run.reached(step + ".row-" + std::to_string(++row));
        });
    }
}

// A fresh stored-procedure command on the run's connection.
void prepareCommand(ResetRun &run, db::Command &command) {
    run.attempt([&] {
        if (run.connection.IsOpen())
            command.ActiveConnection(run.connection);
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
        run.journalRecord([&](RecoveryJournal &journal, std::string &problem) {
            std::string ticket = journal.announcedCreationTicket();
            if (ticket.empty())
                ticket = run.newTicket();
            return journal.created(created, ticket, problem);
        });
    }
    writeBackIdentity(run, rs);
}

} // namespace

void ReCreateSubscriber(ResetRun &run) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    run.subscriber().clearCreation();
    if (run.dryRun) {
        run.line("    Adding subscriber back to SQL with new template settings");
        ForeseeCreation(run, run.request.templateAlias);
        return;
    }
    // The creation opens the transaction that the directory's request commits.
    run.beginChanges();
    db::Command command(*run.host.database);
    prepareCommand(run, command);
    run.line("    Adding subscriber back to SQL with new template settings");

    std::string templateAlias = run.request.templateAlias;
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
        QueryScope query(run, command, db::adLockOptimistic);
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
        QueryScope query(run, "SELECT * FROM Subscriber WHERE SubscriberObjectID=?",
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
    if (run.dryRun && run.subscriber().foresight().creationRefused) {
        run.line(run.foreseen("(error) primary extension for newly added subscriber was not "
                              "found!"));
        return;
    }
    if (run.dryRun) {
        for (int n = 1; n <= saved; ++n)
            run.line(dryRunLine("add back the alternate extension " +
                                s.AlternateExtensions[static_cast<std::size_t>(n - 1)]));
        return;
    }
    {
        QueryScope query(run, "SELECT * FROM DTMFAccessID WHERE ParentObjectID=?",
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
    if (run.dryRun) {
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
        run.inOneTransaction([&] { runFixUp(run, fixUp, number); });
        // Told once the step's rows are committed: the step is done.
        run.reached("fixup-" + std::to_string(number));
    }
}

void ResynchronizeSubscriber(ResetRun &run) {
    if (run.dryRun) {
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
        run.journalRecord([&](RecoveryJournal &journal, std::string &problem) {
            return journal.created(run.subscriber().newIds(), std::string(), problem, false);
        });
        run.subscriber().creationRecorded();
    }
    // A request the server refused to keep has no synchronisation to wait for.
    if (!committed && run.writesRefused())
        return;
    run.line("    Subscriber synch with directory started.");
    // The answered ticket is deleted with the run's next change.
    if (WaitForSyncToFinished(run.host, run.connectionText(), run.log, ticket, &run.connection,
                              run.ticketsToDeleteLater()))
        run.line("    Directory sync complete for creation");
    else
        run.line("(error) Syncronization process failed during subscriber create. Check the "
                 "Lorrasvc logs in the \\Pradix\\Logs directory");
}

} // namespace zeph
