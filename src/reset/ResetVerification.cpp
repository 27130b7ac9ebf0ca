#include "ResetVerification.h"

#include "QueryScope.h"
#include "ResetRun.h"
#include "platform/AsciiText.h"

#include <string_view>
#include <vector>

namespace zeph {

namespace {

// A column of the query that must hold the old id.
struct Expected {
    const char *column;
    const std::string &value;
};

// One row of `sql` must be found, and its columns must hold the expected values.
std::string checkRow(ResetRun &run, const char *what, const std::string &sql, const std::string &id,
                     const std::vector<Expected> &expected) {
    QueryScope query(run, sql, {DbValue(id)}, db::adLockReadOnly);
    if (!query.opened())
        return what + std::string(" could not be read");
    const long rows = query.rowCount();
    if (rows != 1)
        return what + std::string(rows == 0 ? " is missing" : " is there more than once");
    for (const Expected &e : expected) {
        const std::string value =
            run.read<std::string>([&] { return query.rows()[e.column].Text(); });
        if (!equalsIgnoreCase(value, e.value))
            return what + std::string(" has ") + e.column + "=" + value;
    }
    return {};
}

// The rows of `table` whose `column` still holds `id`.
long rowsNaming(ResetRun &run, const std::string &table, const std::string &column,
                const std::string &id, bool &readable) {
    QueryScope query(run, "SELECT " + column + " FROM " + table + " WHERE " + column + "=?",
                     {DbValue(id)}, db::adLockReadOnly);
    if (!query.opened()) {
        readable = false;
        return 0;
    }
    return query.rowCount();
}

// The tables the re-creation fills under the new ids, which the fix-ups move to the old ones.
struct Reference {
    const char *table;
    const char *column;
    bool callHandler; // names the new call handler id (else the new subscriber id)
};

constexpr Reference kReferences[] = {
    {"Subscriber", "SubscriberObjectID", false},
    {"GlobalSubscriber", "SubscriberObjectID", false},
    {"NotificationDevice", "ParentObjectID", false},
    {"NotificationRule", "ParentObjectID", false},
    {"NotificationMWI", "ParentObjectID", false},
    {"DTMFAccessID", "ParentObjectID", false},
    {"CallHandler", "AdministratorObjectID", false},
    {"CallHandler", "RecipientObjectID", false},
    {"CallHandler", "CallHandlerObjectID", true},
    {"ContactRule", "ParentObjectID", true},
    {"MessagingRule", "ParentObjectID", true},
    {"MenuEntry", "ParentObjectID", true},
};

// The subscriber's row keeps the alias and names the reset promises to keep, exactly: blanks
// and letter case included. A NULL name reads as the empty text it was captured as. An empty
// display name is the server's to fill in.
std::string namesChanged(ResetRun &run) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    QueryScope query(run,
                     "SELECT Alias, FirstName, LastName, DisplayName, DirectoryID FROM "
                     "Subscriber WHERE SubscriberObjectID=?",
                     {DbValue(s.ObjectID)}, db::adLockReadOnly);
    if (!query.opened())
        return "the subscriber could not be read";
    if (query.rowCount() != 1)
        return "the subscriber is missing";
    db::Recordset &rs = query.rows();
    auto text = [&](const char *column) {
        return run.read<std::string>(
            [&] { return rs[column].IsNull() ? std::string() : rs[column].Text(); });
    };
    struct Kept {
        const char *column;
        const std::string &value;
        bool exact;
    };
    const bool displayNameGiven = s.DisplayName.find_first_not_of(' ') != std::string::npos;
    for (const Kept &k :
         {Kept{"Alias", s.Alias, true}, Kept{"FirstName", s.FirstName, true},
          Kept{"LastName", s.LastName, true}, Kept{"DisplayName", s.DisplayName, true},
          Kept{"DirectoryID", s.DirectoryID, false}}) {
        if (std::string_view(k.column) == "DisplayName" && !displayNameGiven)
            continue;
        const std::string value = text(k.column);
        if (k.exact ? value != k.value : !equalsIgnoreCase(value, k.value))
            return "the subscriber has " + std::string(k.column) + "='" + value + "' instead of '" +
                   k.value + "'";
    }
    return {};
}

std::string referencesLeft(ResetRun &run) {
    for (const Reference &r : kReferences) {
        const std::string &id = r.callHandler ? run.subscriber().newIds().newCallHandlerId
                                              : run.subscriber().newIds().newSubscriberId;
        if (id.empty())
            continue;
        bool readable = true;
        const long rows = rowsNaming(run, r.table, r.column, id, readable);
        if (!readable)
            return std::string(r.table) + " could not be read";
        if (rows > 0)
            return std::to_string(rows) + " row(s) of " + r.table + " still name the new id " + id +
                   " in " + r.column;
    }
    return {};
}

} // namespace

std::string UnverifiedReset(ResetRun &run) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    // A read that fails is a check that could not be made.
    const ChecksMade readBack(run);
    std::string problem = checkRow(
        run, "the subscriber",
        "SELECT SubscriberObjectID, CallHandlerObjectID FROM Subscriber WHERE SubscriberObjectID=?",
        s.ObjectID, {{"CallHandlerObjectID", s.CallHandlerObjectID}});
    if (problem.empty())
        problem = checkRow(run, "its global subscriber row",
                           "SELECT SubscriberObjectID, CallHandlerObjectID FROM GlobalSubscriber "
                           "WHERE SubscriberObjectID=?",
                           s.ObjectID, {{"CallHandlerObjectID", s.CallHandlerObjectID}});
    const std::string primary = "1";
    if (problem.empty())
        problem = checkRow(run, "its primary call handler",
                           "SELECT CallHandlerObjectID, IsPrimary, AdministratorObjectID FROM "
                           "CallHandler WHERE CallHandlerObjectID=?",
                           s.CallHandlerObjectID,
                           {{"IsPrimary", primary}, {"AdministratorObjectID", s.ObjectID}});
    if (problem.empty())
        problem = checkRow(run, "its primary extension",
                           "SELECT DTMFAccessID FROM DTMFAccessID WHERE ParentObjectID=? AND "
                           "IsPrimaryID=1",
                           s.ObjectID, {{"DTMFAccessID", s.DTMFAccessID}});
    if (problem.empty())
        problem = namesChanged(run);
    if (problem.empty())
        problem = referencesLeft(run);
    if (problem.empty() && !readBack.all())
        problem = "the subscriber could not be read back";
    return problem;
}

} // namespace zeph
