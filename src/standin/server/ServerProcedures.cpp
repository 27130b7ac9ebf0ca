// The stored procedures of the server. Each runs in a savepoint: a failure undoes everything
// the call did. Errors read as the server's own ("Could not find stored procedure 'x'.").
//
// The directory synchroniser answers a ticket as soon as the procedure that asked for it ends;
// the caller's first poll (after its pause) finds the result. The host setting "directory-sync"
// decides the answer: ok -> 0 and the directory is updated, fail -> 1, never -> no answer.
//
// Deleting a subscriber removes its own rows only. References that other objects hold to the
// subscriber or its primary call handler (menu entries of other handlers, a handler's owner or
// recipient, an interview handler's recipient, a list's owner) are left as they are: the server
// does not search the database for them, so they point at nothing until an object with that id
// exists again. This is what lets a re-created subscriber that gets its old ids back keep its
// place in the auto attendant. Distribution-list membership is the exception: the member rows
// go with the subscriber and come back from the directory's groups with the next
// distribution-list synchronisation.
#include "ServerProcedures.h"
#include "platform/AsciiText.h"

#include "ServerSeed.h"
#include "ServerSql.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>

namespace zeph::sqlite::server {

namespace {

std::string trim(std::string_view s) {
    return std::string(trimBlanks(s));
}

Error serverError(const std::string &text) {
    return Error(dberr::kCommand, text);
}

// --- arguments ----------------------------------------------------------------------------------

struct DeclaredParam {
    const char *name; // with "@"
    DbParamType type;
    bool required;
    DbValue fallback;
};

DbValue convert(const DbValue &value, DbParamType type) {
    if (isNull(value))
        return value;
    switch (type) {
    case DbParamType::Guid: {
        auto g = normalGuid(asText(value));
        if (!std::holds_alternative<std::string>(value) || !g) {
            throw Error(dberr::kConvert, "Conversion failed when converting from a character "
                                         "string to uniqueidentifier.");
        }
        return *g;
    }
    case DbParamType::Integer: {
        if (const auto *i = std::get_if<std::int64_t>(&value))
            return *i;
        if (const auto *d = std::get_if<double>(&value))
            return static_cast<std::int64_t>(*d);
        std::string t = trim(asText(value));
        std::size_t start = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
        if (t.size() <= start || t.size() > 18 ||
            t.find_first_not_of("0123456789", start) != std::string::npos) {
            throw Error(dberr::kConvert, "Conversion failed when converting the varchar value '" +
                                             asText(value) + "' to data type int.");
        }
        return static_cast<std::int64_t>(std::stoll(t));
    }
    case DbParamType::Text:
        return asText(value);
    }
    return value;
}

class Args {
public:
    Args(const std::string &procedure, const std::vector<DeclaredParam> &declared,
         const std::vector<DbParam> &given) {
        for (const auto &param : declared)
            m_values[lowerAscii(param.name)] = param.fallback;
        std::map<std::string, bool> seen;
        for (const auto &arg : given) {
            std::string key = lowerAscii(arg.name);
            auto param =
                std::find_if(declared.begin(), declared.end(),
                             [&](const DeclaredParam &s) { return lowerAscii(s.name) == key; });
            if (param == declared.end())
                throw serverError(arg.name + " is not a parameter for procedure " + procedure +
                                  ".");
            if (seen[key])
                throw serverError("Parameter '" + arg.name + "' was supplied multiple times.");
            seen[key] = true;
            m_values[key] = convert(arg.value, param->type);
        }
        for (const auto &param : declared) {
            if (param.required && !seen[lowerAscii(param.name)]) {
                throw serverError("Procedure or function '" + procedure + "' expects parameter '" +
                                  param.name + "', which was not supplied.");
            }
            // What a procedure cannot do without is refused when it is given as NULL too, as
            // the procedure's own check raises it, before anything is changed.
            if (param.required && isNull(m_values[lowerAscii(param.name)])) {
                throw serverError("Procedure or function '" + procedure + "': parameter '" +
                                  param.name + "' may not be NULL.");
            }
        }
    }

    const DbValue &value(const char *name) const { return m_values.at(lowerAscii(name)); }
    std::optional<std::string> text(const char *name) const {
        const DbValue &v = value(name);
        return isNull(v) ? std::nullopt : std::optional<std::string>(asText(v));
    }
    /// The text of a parameter that may not be NULL (refused as NULL when the call was read).
    std::string requiredText(const char *name) const {
        std::optional<std::string> v = text(name);
        if (!v)
            throw serverError(std::string("Parameter '") + name + "' may not be NULL.");
        return *v;
    }
    std::int64_t integer(const char *name) const {
        const auto *i = std::get_if<std::int64_t>(&value(name));
        return i ? *i : 0;
    }

private:
    std::map<std::string, DbValue> m_values;
};

// --- the server's surroundings ------------------------------------------------------------------

std::string nowText(ServerContext &context) {
    char text[32];
    if (context.clock) {
        LocalTime t = context.clock->toLocal(context.clock->now());
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
        return text;
    }
    auto now = std::chrono::system_clock::now();
    auto days = std::chrono::floor<std::chrono::days>(now);
    std::chrono::year_month_day date(days);
    std::chrono::hh_mm_ss time(std::chrono::floor<std::chrono::seconds>(now - days));
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

std::string newGuid(ServerContext &context) {
    if (context.guids) {
        std::string g = context.guids->newGuid();
        if (auto normal = normalGuid(g))
            return *normal;
        throw Error(dberr::kFailed, "The GUID source gave an invalid GUID: " + g);
    }
    static Rng fallback(std::random_device{}() * 0x9E3779B97F4A7C15ULL);
    return fallback.guid();
}

DbValue ticketResult(SyncOutcome outcome) {
    switch (outcome) {
    case SyncOutcome::Ok:
        return std::int64_t{0};
    case SyncOutcome::Fail:
        return std::int64_t{1};
    case SyncOutcome::Never:
        break;
    }
    return {};
}

// The synchroniser's answer under the caller's ticket; no ticket, no row.
void answerTicket(sqlite3 *db, ServerContext &context, const std::optional<std::string> &ticket,
                  const std::string &objectId, const char *operation, SyncOutcome outcome) {
    if (!ticket)
        return;
    std::string now = nowText(context);
    StatementUse st = statement(db, "INSERT INTO DirectorySyncTicket (Ticket, ObjectID, "
                                    "Operation, result, Created, Completed) "
                                    "VALUES (?, ?, ?, ?, ?, ?)");
    st->bindAll({*ticket, objectId, std::string(operation), ticketResult(outcome), now,
                 outcome == SyncOutcome::Never ? DbValue() : DbValue(now)});
    st->run();
}

struct SubscriberRow {
    std::string id, alias, callHandler;
    std::optional<std::string> directoryId;
    bool undeletable = false;
};

std::optional<SubscriberRow> findSubscriber(sqlite3 *db, const std::string &id) {
    StatementUse st = statement(db, "SELECT SubscriberObjectID, Alias, CallHandlerObjectID, "
                                    "DirectoryID, Undeletable FROM Subscriber "
                                    "WHERE SubscriberObjectID = ?");
    st->bind(1, id);
    if (!st->step())
        return std::nullopt;
    SubscriberRow row;
    row.id = st->text(0);
    row.alias = st->text(1);
    row.callHandler = st->text(2);
    if (!st->isNull(3))
        row.directoryId = st->text(3);
    row.undeletable = st->integer(4) != 0;
    return row;
}

void run(sqlite3 *db, const char *sql, const std::vector<DbValue> &params) {
    statement(db, sql)->bindAll(params).run();
}

// Pushes a subscriber to its directory account and takes the mailbox attributes, which the
// directory owns, back from it. Returns false when there is no account to push to.
bool pushToDirectory(sqlite3 *db, ServerContext &context, const std::string &subscriberId) {
    auto account = queryValue(db,
                              "SELECT d.DirectoryID FROM Subscriber s JOIN DirectoryObject d "
                              "ON d.DirectoryID = s.DirectoryID WHERE s.SubscriberObjectID = ?",
                              {subscriberId});
    if (!account)
        return false;
    run(db,
        "UPDATE DirectoryObject SET DisplayName = s.DisplayName, FirstName = s.FirstName, "
        "LastName = s.LastName, Extension = (SELECT DTMFAccessID FROM DTMFAccessID "
        "WHERE ParentObjectID = s.SubscriberObjectID AND IsPrimaryID = 1 "
        "AND ParentObjectIDType = 1), TarvoObjectID = s.SubscriberObjectID, VoiceEnabled = 1, "
        "LastSyncTime = ? FROM (SELECT * FROM Subscriber WHERE SubscriberObjectID = ?) AS s "
        "WHERE DirectoryObject.DirectoryID = s.DirectoryID",
        {nowText(context), subscriberId});
    run(db,
        "UPDATE Subscriber SET SMTPAddress = d.Mail, HomeServer = d.HomeServer, "
        "LegacyMailbox = d.LegacyMailbox FROM DirectoryObject AS d "
        "WHERE d.DirectoryID = Subscriber.DirectoryID AND Subscriber.SubscriberObjectID = ?",
        {subscriberId});
    run(db,
        "UPDATE GlobalSubscriber SET SMTPAddress = (SELECT SMTPAddress FROM Subscriber "
        "WHERE SubscriberObjectID = ?) WHERE SubscriberObjectID = ?",
        {subscriberId, subscriberId});
    return true;
}

// --- sp_DeleteSubscriber ------------------------------------------------------------------------

std::optional<DbRowSet> deleteSubscriber(sqlite3 *db, const Args &args, ServerContext &context) {
    const std::string id = args.requiredText("@SubscriberObjectID");
    auto subscriber = findSubscriber(db, id);
    if (!subscriber)
        throw serverError("The subscriber " + id + " does not exist.");
    if (subscriber->undeletable && args.integer("@ForceRemove") == 0) {
        throw serverError("The subscriber '" + subscriber->alias +
                          "' is marked undeletable and can only be removed with @ForceRemove=1.");
    }
    const std::string &ch = subscriber->callHandler;
    for (const char *sql : {"DELETE FROM MessagingRule WHERE ParentObjectID = ?",
                            "DELETE FROM ContactRule WHERE ParentObjectID = ?",
                            "DELETE FROM MenuEntry WHERE ParentObjectID = ?",
                            "DELETE FROM DTMFAccessID WHERE ParentObjectID = ?"}) {
        run(db, sql, {ch});
    }
    run(db, "DELETE FROM CallHandler WHERE CallHandlerObjectID = ? AND IsPrimary = 1", {ch});
    for (const char *sql : {"DELETE FROM NotificationRule WHERE ParentObjectID = ?",
                            "DELETE FROM NotificationDevice WHERE ParentObjectID = ?",
                            "DELETE FROM NotificationMWI WHERE ParentObjectID = ?",
                            "DELETE FROM DTMFAccessID WHERE ParentObjectID = ?",
                            "DELETE FROM DistributionListMember WHERE MemberObjectID = ?",
                            "DELETE FROM GlobalSubscriber WHERE SubscriberObjectID = ?",
                            "DELETE FROM Subscriber WHERE SubscriberObjectID = ?"}) {
        run(db, sql, {id});
    }
    if (args.integer("@DirectorySync") == 1) {
        SyncOutcome outcome = syncOutcome(context);
        if (outcome == SyncOutcome::Ok && subscriber->directoryId) {
            // The account stays in the directory; it only stops being a voice-mail user.
            run(db,
                "UPDATE DirectoryObject SET VoiceEnabled = 0, TarvoObjectID = NULL, "
                "Extension = NULL, LastSyncTime = ? WHERE DirectoryID = ? "
                "AND (TarvoObjectID IS NULL OR TarvoObjectID = ?)",
                {nowText(context), *subscriber->directoryId, id});
        }
        answerTicket(db, context, args.text("@DirectorySyncTicket"), id, "delete", outcome);
    }
    return std::nullopt;
}

// --- sp_CreateSubscriber ------------------------------------------------------------------------

struct TemplateRow {
    std::string id, handlerTemplate, location;
    DbRowSet settings; // the template's row
};

DbValue field(const DbRowSet &rows, const char *column) {
    for (std::size_t i = 0; i < rows.columns.size(); ++i) {
        if (lowerAscii(rows.columns[i].name) == lowerAscii(column))
            return rows.rows.front()[i];
    }
    return {};
}

// Copies the rows of `table` that belong to `from` to `to`, each with a new id. `adjust` may
// change a copied row (by column name). Returns the old ids mapped to the new.
template <class Adjust>
std::map<std::string, std::string>
copyRows(sqlite3 *db, ServerContext &context, const std::string &table, const std::string &idColumn,
         const std::string &from, const std::string &to, Adjust &&adjust) {
    DbRowSet rows = queryRows(
        db, "SELECT * FROM " + table + " WHERE ParentObjectID = ? ORDER BY rowid", {from});
    std::map<std::string, std::string> ids;
    if (rows.rows.empty())
        return ids;
    std::string sql = "INSERT INTO " + table + " (";
    std::string marks;
    for (std::size_t i = 0; i < rows.columns.size(); ++i) {
        sql += (i ? ", " : "") + rows.columns[i].name;
        marks += i ? ", ?" : "?";
    }
    StatementUse insert = statement(db, sql + ") VALUES (" + marks + ")");
    for (auto &row : rows.rows) {
        std::map<std::string, DbValue *> byName;
        for (std::size_t i = 0; i < rows.columns.size(); ++i)
            byName[lowerAscii(rows.columns[i].name)] = &row[i];
        std::string fresh = newGuid(context);
        ids[asText(*byName.at(lowerAscii(idColumn)))] = fresh;
        *byName.at(lowerAscii(idColumn)) = fresh;
        *byName.at("parentobjectid") = to;
        adjust(byName);
        insert->bindAll(row).run();
    }
    return ids;
}

void noAdjustment(std::map<std::string, DbValue *> &) {}

bool allDigits(const std::string &s) {
    return !s.empty() && s.size() <= 30 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TemplateRow findTemplate(sqlite3 *db, const std::optional<std::string> &alias) {
    TemplateRow t;
    t.settings = alias ? queryRows(db, "SELECT * FROM SubscriberTemplate WHERE Alias = ?", {*alias})
                       : queryRows(db, "SELECT * FROM SubscriberTemplate WHERE IsDefault = 1 "
                                       "ORDER BY rowid LIMIT 1");
    if (t.settings.rows.empty()) {
        throw serverError(alias ? "The subscriber template '" + *alias + "' does not exist."
                                : std::string("There is no default subscriber template."));
    }
    t.id = asText(field(t.settings, "SubscriberTemplateObjectID"));
    t.handlerTemplate = asText(field(t.settings, "CallHandlerTemplateObjectID"));
    t.location = asText(field(t.settings, "LocationObjectID"));
    if (t.location.empty()) {
        auto local = queryValue(db, "SELECT LocationObjectID FROM Location WHERE IsLocal = 1 "
                                    "ORDER BY rowid LIMIT 1");
        t.location = local ? asText(*local) : std::string();
    }
    return t;
}

// What sp_CreateSubscriber builds from its arguments.
struct NewSubscriber {
    std::string alias, ext, display, id, ch, now;
    TemplateRow tpl;
};

NewSubscriber checkedRequest(sqlite3 *db, const Args &args) {
    NewSubscriber n;
    // The alias and names are stored as given, blanks included, as SQL Server stores a text
    // parameter; only the extension, digits alone, is taken without blanks around it.
    n.alias = args.text("@Alias").value_or("");
    n.ext = trim(args.text("@DtmfAccessId").value_or(""));
    if (trim(n.alias).empty())
        throw serverError("A subscriber needs an alias.");
    if (!allDigits(n.ext))
        throw serverError("The extension '" + n.ext +
                          "' is not valid: an extension holds digits only.");
    n.tpl = findTemplate(db, args.text("@templateAlias"));
    if (queryCount(db, "SELECT COUNT(*) FROM Subscriber WHERE Alias = ?", {n.alias}) > 0)
        throw serverError("A subscriber with the alias '" + n.alias + "' already exists.");
    auto directoryId = args.text("@DirectoryID");
    if (directoryId && queryCount(db, "SELECT COUNT(*) FROM Subscriber WHERE DirectoryID = ?",
                                  {*directoryId}) > 0) {
        throw serverError("The directory account " + *directoryId +
                          " already belongs to another subscriber.");
    }
    n.display = args.text("@DisplayName").value_or("");
    if (trim(n.display).empty())
        n.display =
            trim(args.text("@FirstName").value_or("") + " " + args.text("@LastName").value_or(""));
    if (n.display.empty())
        n.display = n.alias;
    return n;
}

// The subscriber row with the template's settings, and its global row.
void insertSubscriber(sqlite3 *db, const Args &args, const NewSubscriber &n) {
    const DbRowSet &t = n.tpl.settings;
    run(db,
        "INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType, DisplayName, "
        "FirstName, LastName, DirectoryID, Uid, CallHandlerObjectID, COSObjectID, "
        "LocationObjectID, SubscriberTemplateObjectID, SwitchID, Language, TimeZone, "
        "PlaybackSpeed, PlaybackVolume, ListInDirectory, MessageSortOrder, UseBriefPrompts, "
        "Undeletable, CreationTime, ModificationTime) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {n.id, n.alias,
         // NULL stays NULL, which the column refuses.
         args.value("@SubscriberType"), n.display, args.value("@FirstName"),
         args.value("@LastName"), args.value("@DirectoryID"), args.value("@Uid"), n.ch,
         field(t, "COSObjectID"), n.tpl.location, n.tpl.id, field(t, "SwitchID"),
         field(t, "Language"), field(t, "TimeZone"), field(t, "PlaybackSpeed"),
         field(t, "PlaybackVolume"), field(t, "ListInDirectory"), field(t, "MessageSortOrder"),
         field(t, "UseBriefPrompts"),
         args.integer("@Undeletable") ? std::int64_t{1} : std::int64_t{0}, n.now, n.now});
    run(db,
        "INSERT INTO GlobalSubscriber (SubscriberObjectID, Alias, DisplayName, FirstName, "
        "LastName, SubscriberType, CallHandlerObjectID, LocationObjectID, DirectoryID, "
        "DTMFAccessID, ListInDirectory) SELECT SubscriberObjectID, Alias, DisplayName, "
        "FirstName, LastName, SubscriberType, CallHandlerObjectID, LocationObjectID, "
        "DirectoryID, ?, ListInDirectory FROM Subscriber WHERE SubscriberObjectID = ?",
        {n.ext, n.id});
}

// The primary call handler with the template's call handler settings and rules.
void insertCallHandler(sqlite3 *db, ServerContext &context, const NewSubscriber &n) {
    run(db,
        "INSERT INTO CallHandler (CallHandlerObjectID, Alias, DisplayName, IsPrimary, "
        "AdministratorObjectID, RecipientObjectID, LocationObjectID, Language, MaxMsgLength, "
        "EditMsg, PlayAfterMessage, SendUrgentMsg, IsMsgSecure, CreationTime) "
        "SELECT ?, ?, ?, 1, ?, ?, ?, Language, MaxMsgLength, EditMsg, PlayAfterMessage, "
        "SendUrgentMsg, IsMsgSecure, ? FROM CallHandlerTemplate "
        "WHERE CallHandlerTemplateObjectID = ?",
        {n.ch, n.alias, n.display, n.id, n.id, n.tpl.location, n.now, n.tpl.handlerTemplate});
    if (queryCount(db, "SELECT COUNT(*) FROM CallHandler WHERE CallHandlerObjectID = ?", {n.ch}) !=
        1) {
        throw serverError("The call handler template of template '" +
                          asText(field(n.tpl.settings, "Alias")) + "' does not exist.");
    }
    copyRows(db, context, "MessagingRule", "MessagingRuleObjectID", n.tpl.handlerTemplate, n.ch,
             noAdjustment);
    copyRows(db, context, "ContactRule", "ContactRuleObjectID", n.tpl.handlerTemplate, n.ch,
             noAdjustment);
    copyRows(db, context, "MenuEntry", "MenuEntryObjectID", n.tpl.handlerTemplate, n.ch,
             noAdjustment);
}

// The template's notification devices, rules (on the new devices) and MWI (on the new
// extension and the template's switch, unless the template names others).
void insertNotifications(sqlite3 *db, ServerContext &context, const NewSubscriber &n) {
    const DbValue switchId = field(n.tpl.settings, "SwitchID");
    auto devices = copyRows(db, context, "NotificationDevice", "NotificationDeviceObjectID",
                            n.tpl.id, n.id, [&](std::map<std::string, DbValue *> &row) {
                                if (isNull(*row.at("switchid")))
                                    *row.at("switchid") = switchId;
                            });
    copyRows(db, context, "NotificationRule", "NotificationRuleObjectID", n.tpl.id, n.id,
             [&](std::map<std::string, DbValue *> &row) {
                 auto it = devices.find(asText(*row.at("deviceobjectid")));
                 if (it != devices.end())
                     *row.at("deviceobjectid") = it->second;
             });
    copyRows(db, context, "NotificationMWI", "NotificationMWIObjectID", n.tpl.id, n.id,
             [&](std::map<std::string, DbValue *> &row) {
                 if (isNull(*row.at("extension")))
                     *row.at("extension") = n.ext;
                 if (isNull(*row.at("switchid")))
                     *row.at("switchid") = switchId;
             });
}

// The primary extension comes last: nothing in the dialing domain may use it yet.
void insertPrimaryExtension(sqlite3 *db, ServerContext &context, const NewSubscriber &n) {
    auto taken = queryRows(db,
                           "SELECT d.ParentObjectID FROM DTMFAccessID d "
                           "JOIN Location l ON l.LocationObjectID = d.LocationObjectID "
                           "WHERE d.DTMFAccessID = ? AND l.DialingDomainID = (SELECT "
                           "DialingDomainID FROM Location WHERE LocationObjectID = ?)",
                           {n.ext, n.tpl.location});
    if (!taken.rows.empty()) {
        throw serverError("The extension " + n.ext +
                          " is already in use in the dialing domain by object " +
                          asText(taken.rows.front()[0]) + ".");
    }
    run(db,
        "INSERT INTO DTMFAccessID (DTMFAccessObjectID, ParentObjectID, ParentObjectIDType, "
        "DTMFAccessID, DTMFAccessIDType, Alias, IsPrimaryID, LocationObjectID) "
        "VALUES (?, ?, 1, ?, 1, 'SYSTEM_DEFINED_PRIMARY_EXT', 1, ?)",
        {newGuid(context), n.id, n.ext, n.tpl.location});
}

std::optional<DbRowSet> createSubscriber(sqlite3 *db, const Args &args, ServerContext &context) {
    NewSubscriber n = checkedRequest(db, args);
    n.id = newGuid(context);
    n.ch = newGuid(context);
    n.now = nowText(context);
    insertSubscriber(db, args, n);
    insertCallHandler(db, context, n);
    insertNotifications(db, context, n);
    insertPrimaryExtension(db, context, n);
    if (args.integer("@DirectorySync") == 1) {
        SyncOutcome outcome = syncOutcome(context);
        if (outcome == SyncOutcome::Ok && !pushToDirectory(db, context, n.id))
            outcome = SyncOutcome::Fail;
        answerTicket(db, context, args.text("@DirectorySyncTicket"), n.id, "create", outcome);
    }
    // The new row, to be saved back by its key (the caller may give it other ids).
    DbRowSet created =
        queryRows(db, "SELECT * FROM Subscriber WHERE SubscriberObjectID = ?", {n.id});
    created.updateTarget = "Subscriber";
    created.keyColumns = {"SubscriberObjectID"};
    return created;
}

// --- sp_ModifySubscriber ------------------------------------------------------------------------

std::optional<DbRowSet> modifySubscriber(sqlite3 *db, const Args &args, ServerContext &context) {
    const std::string id = args.requiredText("@SubscriberObjectID");
    if (!findSubscriber(db, id))
        throw serverError("The subscriber " + id + " does not exist.");
    run(db, "UPDATE Subscriber SET ModificationTime = ? WHERE SubscriberObjectID = ?",
        {nowText(context), id});
    if (args.integer("@DirectorySync") == 1) {
        SyncOutcome outcome = syncOutcome(context);
        if (outcome == SyncOutcome::Ok && !pushToDirectory(db, context, id))
            outcome = SyncOutcome::Fail;
        answerTicket(db, context, args.text("@DirectorySyncTicket"), id, "modify", outcome);
    }
    return std::nullopt;
}

// --- tickets and distribution lists --------------------------------------------------------------

std::optional<DbRowSet> deleteTicket(sqlite3 *db, const Args &args, ServerContext &) {
    run(db, "DELETE FROM DirectorySyncTicket WHERE Ticket = ?", {args.value("@Ticket")});
    return std::nullopt;
}

// While it lives, the connection's page cache holds at most `pages` pages. A statement that
// rewrites a whole table keeps each page it changed in the cache until the transaction ends,
// unless the cache is full and spills it to the log: with a small cache the rewrite costs a
// few megabytes of memory instead of the connection's whole cache.
class SmallCache {
public:
    SmallCache(sqlite3 *db, int pages)
        : m_db(db)
        , m_before(queryValue(db, "PRAGMA cache_size", {}).value_or(DbValue{})) {
        exec(db, "PRAGMA cache_size=" + std::to_string(pages));
    }
    ~SmallCache() {
        if (const auto *size = std::get_if<std::int64_t>(&m_before)) {
            try {
                exec(m_db, "PRAGMA cache_size=" + std::to_string(*size));
            } catch (const Error &) {
                // The smaller cache stays: slower large reads, never more memory.
            }
        }
    }
    SmallCache(const SmallCache &) = delete;
    SmallCache &operator=(const SmallCache &) = delete;

private:
    sqlite3 *m_db;
    DbValue m_before;
};

// Rebuilds the member rows of every list that has a directory group: the members are the
// subscribers whose directory accounts are in the group. Lists without a group keep theirs.
std::optional<DbRowSet> syncLists(sqlite3 *db, const Args &args, ServerContext &context) {
    if (args.integer("@SyncDistributionList") != 1 || syncOutcome(context) != SyncOutcome::Ok)
        return std::nullopt;
    SmallCache smallCache(db, 256); // 1 MB of 4 kB pages
    exec(db, "DELETE FROM DistributionListMember WHERE DistributionListObjectID IN "
             "(SELECT DistributionListObjectID FROM DistributionList "
             "WHERE DirectoryID IS NOT NULL)");
    exec(db, "INSERT OR IGNORE INTO DistributionListMember (DistributionListObjectID, "
             "MemberObjectID) SELECT dl.DistributionListObjectID, s.SubscriberObjectID "
             "FROM DistributionList dl "
             "JOIN DirectoryGroupMember g ON g.GroupDirectoryID = dl.DirectoryID "
             "JOIN Subscriber s ON s.DirectoryID = g.MemberDirectoryID "
             "ORDER BY dl.rowid, g.rowid");
    return std::nullopt;
}

// --- the procedure table -------------------------------------------------------------------------

using Body = std::optional<DbRowSet> (*)(sqlite3 *, const Args &, ServerContext &);

struct ProcedureSpec {
    const char *name;
    std::vector<DeclaredParam> params;
    Body body;
};

const std::vector<ProcedureSpec> &procedures() {
    using T = DbParamType;
    const DbValue null;
    const DbValue zero = std::int64_t{0};
    const DbValue one = std::int64_t{1};
    static const std::vector<ProcedureSpec> all = {
        {"sp_DeleteSubscriber",
         {{"@SubscriberObjectID", T::Guid, true, null},
          {"@DirectorySync", T::Integer, false, zero},
          {"@ForceRemove", T::Integer, false, zero},
          {"@DirectorySyncTicket", T::Guid, false, null}},
         deleteSubscriber},
        {"sp_CreateSubscriber",
         {{"@Alias", T::Text, true, null},
          {"@DtmfAccessId", T::Text, true, null},
          {"@templateAlias", T::Text, false, null},
          {"@SubscriberType", T::Integer, false, one},
          {"@Undeletable", T::Integer, false, zero},
          {"@DisplayName", T::Text, false, null},
          {"@DirectoryID", T::Guid, false, null},
          {"@Uid", T::Text, false, null},
          {"@FirstName", T::Text, false, null},
          {"@LastName", T::Text, false, null},
          {"@DirectorySync", T::Integer, false, zero},
          {"@DirectorySyncTicket", T::Guid, false, null}},
         createSubscriber},
        {"sp_ModifySubscriber",
         {{"@SubscriberObjectID", T::Guid, true, null},
          {"@DirectorySyncTicket", T::Guid, false, null},
          {"@DirectorySync", T::Integer, false, zero}},
         modifySubscriber},
        {"sp_DeleteDirectorySyncTicket", {{"@Ticket", T::Guid, true, null}}, deleteTicket},
        {"sp_SqlDirectorySync", {{"@SyncDistributionList", T::Integer, false, zero}}, syncLists},
    };
    return all;
}

} // namespace

SyncOutcome syncOutcome(const ServerContext &context) {
    std::string value =
        context.setting ? lowerAscii(trim(context.setting("directory-sync"))) : "ok";
    if (value == "fail")
        return SyncOutcome::Fail;
    if (value == "never")
        return SyncOutcome::Never;
    return SyncOutcome::Ok;
}

std::optional<std::string> normalGuid(const std::string &text) {
    std::string t = trim(text);
    if (t.size() == 38 && t.front() == '{' && t.back() == '}')
        t = t.substr(1, 36);
    if (t.size() != 36)
        return std::nullopt;
    for (std::size_t i = 0; i < t.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? t[i] != '-' : !std::isxdigit(static_cast<unsigned char>(t[i])))
            return std::nullopt;
        t[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(t[i])));
    }
    return "{" + t + "}";
}

bool isProcedure(const std::string &name) {
    std::string wanted = lowerAscii(trim(name));
    if (wanted.rfind("dbo.", 0) == 0)
        wanted = wanted.substr(4);
    const auto &all = procedures();
    return std::any_of(all.begin(), all.end(),
                       [&](const ProcedureSpec &p) { return lowerAscii(p.name) == wanted; });
}

std::optional<DbRowSet> callProcedure(sqlite3 *db, const std::string &name,
                                      const std::vector<DbParam> &args, ServerContext &context) {
    std::string wanted = lowerAscii(trim(name));
    if (wanted.rfind("dbo.", 0) == 0)
        wanted = wanted.substr(4);
    const auto &all = procedures();
    auto param = std::find_if(all.begin(), all.end(),
                              [&](const ProcedureSpec &p) { return lowerAscii(p.name) == wanted; });
    if (param == all.end())
        throw serverError("Could not find stored procedure '" + name + "'.");
    Args parsed(param->name, param->params, args);
    Savepoint savepoint(db);
    auto result = param->body(db, parsed, context);
    savepoint.release();
    return result;
}

std::optional<std::vector<std::string>> procedureParameterNames(const std::string &name) {
    std::string wanted = lowerAscii(trim(name));
    if (wanted.rfind("dbo.", 0) == 0)
        wanted = wanted.substr(4);
    for (const ProcedureSpec &p : procedures()) {
        if (lowerAscii(p.name) != wanted)
            continue;
        std::vector<std::string> names;
        for (const DeclaredParam &d : p.params)
            names.emplace_back(d.name);
        return names;
    }
    return std::nullopt;
}

} // namespace zeph::sqlite::server
