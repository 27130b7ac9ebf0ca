#include "DryRunForesight.h"

#include "ResetRun.h"
#include "ScopedQuery.h"

#include <algorithm>
#include <utility>

namespace zeph {

namespace {

const char *const kLorrasvcAdvice = " Check the Lorrasvc logs in the \\Pradix\\Logs directory";

bool allDigits(const std::string &text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The ids of the template with the alias; false when there is none.
bool findTemplate(ResetRun &run, const std::string &templateAlias) {
    run.subscriber().foreseeTemplate({}, {});
    ScopedQuery query(run,
                      "SELECT SubscriberTemplateObjectID, CallHandlerTemplateObjectID FROM "
                      "vw_SubscriberTemplate WHERE Alias=?",
                      {DbValue(templateAlias)}, db::adLockReadOnly);
    if (!query.opened())
        return false;
    const bool found = query.rowCount() == 1;
    if (found) {
        db::Recordset &rs = query.rows();
        std::string subscriberTemplateId =
            run.read<std::string>([&] { return rs["SubscriberTemplateObjectID"].Text(); });
        std::string callHandlerTemplateId =
            run.read<std::string>([&] { return rs["CallHandlerTemplateObjectID"].Text(); });
        run.subscriber().foreseeTemplate(std::move(subscriberTemplateId),
                                         std::move(callHandlerTemplateId));
    }
    return found;
}

// True when another subscriber holds the directory account.
bool directoryAccountTaken(ResetRun &run) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    ScopedQuery query(run,
                      "SELECT SubscriberObjectID FROM Subscriber WHERE DirectoryID=? AND "
                      "SubscriberObjectID<>?",
                      {DbValue(s.DirectoryID), DbValue(s.ObjectID)}, db::adLockReadOnly);
    return query.opened() && query.rowCount() > 0;
}

// sp_CreateSubscriber would take the subscriber; or why it would refuse, in the order it
// checks.
Status creationAccepted(ResetRun &run, const std::string &templateAlias) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    if (!allDigits(s.DTMFAccessID))
        return fail("the extension " + s.DTMFAccessID +
                    " is not valid: an extension holds digits only");
    if (!findTemplate(run, templateAlias))
        return fail("there is no subscriber template with the alias " + templateAlias);
    if (run.subscriber().foresight().removalRefused)
        return fail("the subscriber " + s.Alias + " is still there, as its removal is refused");
    if (directoryAccountTaken(run))
        return fail("the directory account " + s.DirectoryID + " belongs to another subscriber");
    return done();
}

} // namespace

void ForeseeRemoval(ResetRun &run) {
    bool undeletable = false;
    {
        ScopedQuery query(run, "SELECT Undeletable FROM vw_Subscriber WHERE SubscriberObjectID=?",
                          {DbValue(run.subscriber().snapshot().ObjectID)}, db::adLockReadOnly);
        if (query.opened() && query.rowCount() == 1)
            undeletable =
                run.read<std::int64_t>([&] { return query.rows()["Undeletable"].Long(); });
    }
    run.subscriber().foreseeRemovalRefused(undeletable);
    if (!undeletable)
        return;
    run.line(run.foreseen("(error) the server would refuse the removal: the subscriber is marked "
                          "undeletable, and the reset does not force its removal"));
    run.line(run.foreseen("(error) Syncronization process failed during subscriber delete." +
                          std::string(kLorrasvcAdvice)));
}

void ForeseeCreation(ResetRun &run, const std::string &templateAlias) {
    const Status accepted = creationAccepted(run, templateAlias);
    run.subscriber().foreseeCreationRefused(!accepted);
    if (accepted) {
        run.line(dryRunLine("create the subscriber again from the template " + templateAlias +
                            " (sp_CreateSubscriber) and give it back its old ObjectID values"));
        return;
    }
    run.line(run.foreseen("(error) the server would refuse the creation: " + accepted.error()));
    run.line(run.foreseen("(error) subscriber creation stored procedure failed to execute "
                          "properly."));
}

void ForeseeResynchronization(ResetRun &run) {
    if (!run.subscriber().foresight().creationRefused ||
        run.subscriber().foresight().removalRefused)
        return;
    run.line(run.foreseen("(error) the server would refuse the directory synchronisation: the "
                          "subscriber would not be there"));
    run.line(run.foreseen("(error) Syncronization process failed during subscriber create." +
                          std::string(kLorrasvcAdvice)));
}

long TemplateRows(ResetRun &run, const std::string &table, bool callHandlerTemplate) {
    const std::string &id = callHandlerTemplate ? run.subscriber().foresight().callHandlerTemplateId
                                                : run.subscriber().foresight().subscriberTemplateId;
    ScopedQuery query(run, "SELECT ParentObjectID FROM " + table + " WHERE ParentObjectID=?",
                      {DbValue(id)}, db::adLockReadOnly);
    if (!query.opened())
        return -1;
    return query.rowCount();
}

} // namespace zeph
