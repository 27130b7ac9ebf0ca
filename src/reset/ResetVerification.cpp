#include "ResetVerification.h"

#include "ResetRun.h"
#include "ScopedQuery.h"
#include "platform/AsciiText.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zeph {

namespace {

// A column of the query that must hold the old id.
struct Expected {
    const char *column;
    const std::string &value;
};

// The query has one row, whose columns hold the expected values.
Status rowHolds(ResetRun &run, ScopedQuery &query, const char *what,
                const std::vector<Expected> &expected) {
    const long rows = query.rowCount();
    if (rows != 1)
        return fail(what + std::string(rows == 0 ? " is missing" : " is there more than once"));
    for (const Expected &e : expected) {
        const std::string value =
            run.read<std::string>([&] { return query.rows()[e.column].Text(); });
        if (!equalsIgnoreCase(value, e.value))
            return fail(what + std::string(" has ") + e.column + "=" + value);
    }
    return done();
}

// One row of `sql` must be found, and its columns must hold the expected values.
Status checkRow(ResetRun &run, const char *what, const std::string &sql, const std::string &id,
                const std::vector<Expected> &expected) {
    ScopedQuery query(run, sql, {DbValue(id)}, db::adLockReadOnly);
    if (!query.opened())
        return fail(what + std::string(" could not be read"));
    return rowHolds(run, query, what, expected);
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
// display name is the server's to fill in. Read from the query's one row.
Status namesKept(ResetRun &run, ScopedQuery &query) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
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
            return fail("the subscriber has " + std::string(k.column) + "='" + value +
                        "' instead of '" + k.value + "'");
    }
    return done();
}

// No row still names a new id: counted for every reference with one read.
Status noReferenceLeft(ResetRun &run) {
    std::string sql;
    std::vector<DbValue> ids;
    std::vector<const Reference *> asked;
    for (const Reference &r : kReferences) {
        const std::string &id = r.callHandler ? run.subscriber().newIds().newCallHandlerId
                                              : run.subscriber().newIds().newSubscriberId;
        if (id.empty())
            continue;
        sql += (sql.empty() ? "SELECT " : " UNION ALL SELECT ") + std::to_string(asked.size()) +
               " AS Place, COUNT(*) AS Found FROM " + r.table + " WHERE " + r.column + "=?";
        ids.emplace_back(id);
        asked.push_back(&r);
    }
    if (asked.empty())
        return done();
    std::vector<long> found(asked.size(), -1);
    {
        ScopedQuery query(run, sql, ids, db::adLockReadOnly);
        if (!query.opened())
            return fail("the rows naming the new ids could not be read");
        query.forEachRow([&](db::Recordset &rs) {
            const auto place = run.read<std::int64_t>([&] { return rs["Place"].Long(); }, -1);
            const auto rows = run.read<std::int64_t>([&] { return rs["Found"].Long(); }, -1);
            if (place >= 0 && static_cast<std::size_t>(place) < found.size())
                found[static_cast<std::size_t>(place)] = static_cast<long>(rows);
        });
    }
    for (std::size_t i = 0; i < asked.size(); ++i) {
        const Reference &r = *asked[i];
        if (found[i] < 0)
            return fail(std::string(r.table) + " could not be read");
        if (found[i] > 0) {
            const std::string &id = r.callHandler ? run.subscriber().newIds().newCallHandlerId
                                                  : run.subscriber().newIds().newSubscriberId;
            return fail(std::to_string(found[i]) + " row(s) of " + r.table +
                        " still name the new id " + id + " in " + r.column);
        }
    }
    return done();
}

// The checks of the read-back in their order; the first that fails says why.
Status readBackHolds(ResetRun &run) {
    const SubscriberSnapshot &s = run.subscriber().snapshot();
    // The subscriber's row is read once, for its ids and for its names; its names are compared
    // after the rows that hold its ids.
    Status names = done();
    {
        ScopedQuery query(run,
                          "SELECT SubscriberObjectID, CallHandlerObjectID, Alias, FirstName, "
                          "LastName, DisplayName, DirectoryID FROM Subscriber WHERE "
                          "SubscriberObjectID=?",
                          {DbValue(s.ObjectID)}, db::adLockReadOnly);
        if (!query.opened())
            return fail("the subscriber could not be read");
        if (Status row = rowHolds(run, query, "the subscriber",
                                  {{"CallHandlerObjectID", s.CallHandlerObjectID}});
            !row)
            return row;
        names = namesKept(run, query);
    }
    if (Status row = checkRow(run, "its global subscriber row",
                              "SELECT SubscriberObjectID, CallHandlerObjectID FROM "
                              "GlobalSubscriber WHERE SubscriberObjectID=?",
                              s.ObjectID, {{"CallHandlerObjectID", s.CallHandlerObjectID}});
        !row)
        return row;
    const std::string primary = "1";
    if (Status row = checkRow(run, "its primary call handler",
                              "SELECT CallHandlerObjectID, IsPrimary, AdministratorObjectID FROM "
                              "CallHandler WHERE CallHandlerObjectID=?",
                              s.CallHandlerObjectID,
                              {{"IsPrimary", primary}, {"AdministratorObjectID", s.ObjectID}});
        !row)
        return row;
    if (Status row = checkRow(run, "its primary extension",
                              "SELECT DTMFAccessID FROM DTMFAccessID WHERE ParentObjectID=? AND "
                              "IsPrimaryID=1",
                              s.ObjectID, {{"DTMFAccessID", s.DTMFAccessID}});
        !row)
        return row;
    if (!names)
        return names;
    return noReferenceLeft(run);
}

} // namespace

Status verifyReset(ResetRun &run) {
    // A read that fails is a check that could not be made.
    const ChecksMade readBack(run);
    Status verified = readBackHolds(run);
    if (verified && !readBack.all())
        return fail("the subscriber could not be read back");
    return verified;
}

} // namespace zeph
