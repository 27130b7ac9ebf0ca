// A subscriber's reset as the program performs it against the server: capture, removal,
// re-creation from a template, the old ids written back, alternate extensions added back, the
// ten reference fix-ups, the directory push and the list synchronisation. Afterwards every
// invariant holds again and everything that pointed at the subscriber still does.
#include "platform/Error.h"
#include "platform/Host.h"
#include "platform/sqlite/ServerProcedures.h"
#include "server_helpers.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>

using namespace zeph::test;
using zeph::DbRowSet;
using zeph::DbValue;

namespace {

// What must survive a reset, and what pointed at the subscriber before it.
struct Before {
    std::string id, ch, alias, first, last, display, ext, directory;
    std::vector<std::string> alternates;
    std::int64_t inboundMenus = 0, lists = 0;
};

Before capture(const SeededServer &s, int index) {
    Before b;
    b.id = s.subscriberId(index);
    auto col = [&](const char *c) {
        return s.text(std::string("SELECT ") + c + " FROM vw_Subscriber WHERE SubscriberObjectID=?",
                      {b.id});
    };
    b.ch = col("CallHandlerObjectID");
    b.alias = col("Alias");
    b.first = col("FirstName");
    b.last = col("LastName");
    b.display = col("DisplayName");
    b.ext = col("DTMFAccessID");
    b.directory = col("DirectoryID");
    for (std::int64_t n = s.count("SELECT COUNT(*) FROM vw_DTMFAccessID WHERE ParentObjectID=? "
                                  "and IsPrimaryID=0",
                                  {b.id}),
                      i = 0;
         i < n; ++i) {
        b.alternates.push_back(s.text("SELECT DTMFAccessID FROM vw_DTMFAccessID WHERE "
                                      "ParentObjectID=? and IsPrimaryID=0 LIMIT 1 OFFSET ?",
                                      {b.id, i}));
    }
    b.inboundMenus =
        s.count("SELECT COUNT(*) FROM MenuEntry WHERE TargetHandlerObjectID = ?", {b.ch});
    b.lists = s.count("SELECT COUNT(*) FROM DistributionListMember WHERE MemberObjectID=?", {b.id});
    return b;
}

void expectRestored(const SeededServer &s, const Before &b, const std::string &templateAlias) {
    EXPECT_EQ(s.check(), std::vector<std::string>{});
    Before a = capture(s, std::stoi(b.ext) - 4000);
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.ch, b.ch);
    EXPECT_EQ(a.alias, b.alias);
    EXPECT_EQ(a.first, b.first);
    EXPECT_EQ(a.last, b.last);
    EXPECT_EQ(a.display, b.display);
    EXPECT_EQ(a.directory, b.directory);
    EXPECT_EQ(a.alternates, b.alternates);
    EXPECT_EQ(a.inboundMenus, b.inboundMenus);
    EXPECT_EQ(a.lists, b.lists);
    EXPECT_GT(b.inboundMenus, 0);
    EXPECT_GT(b.lists, 0);
    // The template's settings, the directory's mailbox attributes, no recordings.
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM Subscriber s JOIN SubscriberTemplate t "
                      "ON t.COSObjectID = s.COSObjectID AND t.Language = s.Language "
                      "WHERE t.Alias = ? AND s.SubscriberObjectID = ?",
                      {templateAlias, b.id}),
              1);
    EXPECT_FALSE(
        s.text("SELECT SMTPAddress FROM Subscriber WHERE SubscriberObjectID = ?", {b.id}).empty());
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM MessagingRule WHERE ParentObjectID = ? AND "
                      "StreamPath IS NOT NULL",
                      {b.ch}),
              0);
    EXPECT_EQ(
        s.text("SELECT TarvoObjectID FROM DirectoryObject WHERE DirectoryID = ?", {b.directory}),
        b.id);
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM DirectorySyncTicket"), 0);
}

// The ten fix-ups, as the program words them, each row changed and saved by key.
struct FixUp {
    const char *query;
    bool bySubscriber;                              // else by call handler
    std::vector<std::pair<const char *, int>> sets; // column <- 0 old id, 1 old handler, 2 NULL
};

const std::vector<FixUp> kFixUps = {
    {"SELECT * FROM GlobalSubscriber WHERE SubscriberOBjectId=?",
     true,
     {{"SubscriberObjectID", 0}, {"CallHandlerOBjectID", 1}, {"StreamPath", 2}}},
    {"SELECT Alias, ParentObjectID FROM NotificationDevice WHERE ParentObjectID=?",
     true,
     {{"ParentObjectID", 0}}},
    {"SELECT Alias, ParentObjectID FROM NotificationRule WHERE ParentObjectID=?",
     true,
     {{"ParentObjectID", 0}}},
    {"SELECT Alias, ParentObjectID FROM NotificationMWI WHERE ParentObjectID=?",
     true,
     {{"ParentObjectID", 0}}},
    {"SELECT ParentObjectID FROM DTMFAccessID WHERE ParentObjectID=?",
     true,
     {{"ParentObjectID", 0}}},
    {"SELECT Alias, AdministratorObjectID, RecipientObjectID FROM CallHandler WHERE "
     "CallHandlerObjectID=?",
     false,
     {{"AdministratorObjectID", 0}, {"RecipientObjectID", 0}}},
    {"SELECT Alias, IsPrimary, CallHandlerObjectID FROM CallHandler WHERE CallHandlerObjectID=?",
     false,
     {{"CallHandlerObjectID", 1}}},
    {"SELECT Alias, ParentObjectID from ContactRule WHERE ParentObjectID=?",
     false,
     {{"ParentObjectID", 1}}},
    {"SELECT Alias, ParentObjectID from MessagingRule WHERE ParentObjectID=?",
     false,
     {{"ParentObjectID", 1}}},
    {"SELECT Alias, ParentObjectID from MenuEntry WHERE ParentObjectID=?",
     false,
     {{"ParentObjectID", 1}}},
};

std::string ticketGuid(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "{7777AAAA-0000-4000-8000-%012d}", n);
    return text;
}

TEST(ResetSequence, RawStatementsLeaveTheServerWhole) {
    SeededServer server(40);
    const std::string templateAlias = "salesTemplateEast";
    Before b = capture(server, 16);
    ASSERT_EQ(b.alternates.size(), 2u);
    ASSERT_EQ(server.count("SELECT COUNT(*) FROM vw_DTMFAccessID_DialingDomain WHERE "
                           "DTMFAccessID=?",
                           {b.ext}),
              1);

    // Recordings: cleared through the subscriber view (its trigger) and the greetings.
    server.exec("UPDATE vw_Subscriber SET StreamPath = NULL WHERE SubscriberObjectID = ?", {b.id});
    EXPECT_EQ(server.text("SELECT StreamPath FROM Subscriber WHERE SubscriberObjectID=?", {b.id}),
              "");
    server.exec("UPDATE MessagingRule SET StreamPath = NULL WHERE ParentObjectID = ?", {b.ch});

    server.call("sp_DeleteSubscriber",
                {guidArg("@SubscriberObjectID", b.id), intArg("@DirectorySync", 1),
                 intArg("@ForceRemove", 0), guidArg("@DirectorySyncTicket", ticketGuid(1))});
    EXPECT_EQ(
        server.text("SELECT result FROM vw_DirectorySyncTicket WHERE Ticket = ?", {ticketGuid(1)}),
        "0");
    server.call("sp_DeleteDirectorySyncTicket", {guidArg("@Ticket", ticketGuid(1))});

    auto created =
        server.call("sp_CreateSubscriber",
                    {textArg("@Alias", b.alias), textArg("@DtmfAccessId", b.ext),
                     textArg("@templateAlias", templateAlias), intArg("@SubscriberType", 1),
                     intArg("@Undeletable", 0), textArg("@DisplayName", b.display),
                     guidArg("@DirectoryID", b.directory), textArg("@Uid", b.alias),
                     textArg("@FirstName", b.first), textArg("@LastName", b.last),
                     intArg("@DirectorySync", 0)});
    ASSERT_TRUE(created && created->rows.size() == 1);
    const std::string newId =
        server.text("SELECT SubscriberObjectID FROM Subscriber WHERE Alias = ?", {b.alias});
    const std::string newCh = server.callHandlerId(16);
    ASSERT_NE(newId, b.id);
    server.exec("UPDATE " + created->updateTarget +
                    " SET SubscriberObjectID = ?, "
                    "CallHandlerObjectID = ? WHERE " +
                    created->keyColumns[0] + " = ?",
                {b.id, b.ch, newId});

    ASSERT_EQ(server.count("SELECT COUNT(*) FROM DTMFAccessID WHERE ParentObjectID=?", {newId}), 1);
    for (std::size_t n = 0; n < b.alternates.size(); ++n) {
        server.exec("INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
                    "DTMFAccessIDType, Alias, IsPrimaryID) VALUES (?, 1, ?, 1, ?, 0)",
                    {b.id, b.alternates[n], "SYSTEM_DEFINED_ALT_EXT_" + std::to_string(n + 1)});
    }

    for (const auto &f : kFixUps) {
        const std::string key = f.bySubscriber ? newId : newCh;
        ASSERT_GT(server.count(std::string("SELECT COUNT(*) FROM (") + f.query + ")", {key}), 0)
            << f.query;
        // The table and the column of the query's condition.
        std::string upper = f.query;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        std::string table = std::string(f.query).substr(upper.find(" FROM ") + 6);
        table = table.substr(0, table.find(' '));
        std::string where = std::string(f.query).substr(upper.find(" WHERE ") + 7);
        where = where.substr(0, where.find('='));
        std::string sets;
        std::vector<DbValue> values;
        for (const auto &[column, what] : f.sets) {
            sets += (sets.empty() ? "" : ", ") + std::string(column) + " = ?";
            values.push_back(what == 0 ? DbValue(b.id) : what == 1 ? DbValue(b.ch) : DbValue());
        }
        values.push_back(key);
        server.exec("UPDATE " + table + " SET " + sets + " WHERE " + where + " = ?", values);
    }

    server.call("sp_ModifySubscriber",
                {guidArg("@SubscriberObjectID", b.id),
                 guidArg("@DirectorySyncTicket", ticketGuid(2)), intArg("@DirectorySync", 1)});
    EXPECT_EQ(
        server.text("SELECT result FROM vw_DirectorySyncTicket WHERE Ticket = ?", {ticketGuid(2)}),
        "0");
    server.call("sp_DeleteDirectorySyncTicket", {guidArg("@Ticket", ticketGuid(2))});
    // Membership comes back with the list synchronisation at the end of the run.
    EXPECT_EQ(
        server.count("SELECT COUNT(*) FROM DistributionListMember WHERE MemberObjectID=?", {b.id}),
        0);
    server.call("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 1)});

    expectRestored(server, b, templateAlias);
}

TEST(ResetSequence, AnAddedExtensionTakesItsOwnersLocationAndMustBeFreeThere) {
    SeededServer server(20);
    const std::string id = server.subscriberId(16);
    server.exec("INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
                "DTMFAccessIDType, Alias, IsPrimaryID) VALUES (?, 1, '8123', 1, 'x', 0)",
                {id});
    EXPECT_EQ(
        server.text("SELECT LocationObjectID FROM DTMFAccessID WHERE DTMFAccessID = '8123'"),
        server.text("SELECT LocationObjectID FROM Subscriber WHERE SubscriberObjectID = ?", {id}));
    std::string key = server.text("SELECT DTMFAccessObjectID FROM DTMFAccessID "
                                  "WHERE DTMFAccessID = '8123'");
    EXPECT_EQ(key.size(), 38u);
    EXPECT_EQ(key, zeph::sqlite::server::normalGuid(key).value_or(""));

    // Taken at the subscriber's location (by the operator's handler): refused, nothing added.
    std::int64_t rows = server.count("SELECT COUNT(*) FROM DTMFAccessID");
    EXPECT_THROW(server.exec("INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, "
                             "DTMFAccessID, DTMFAccessIDType, Alias, IsPrimaryID) "
                             "VALUES (?, 1, '3001', 1, 'y', 0)",
                             {id}),
                 std::runtime_error);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM DTMFAccessID"), rows);
    // Used at the branch only: free at headquarters.
    EXPECT_NO_THROW(server.exec("INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, "
                                "DTMFAccessID, DTMFAccessIDType, Alias, IsPrimaryID) "
                                "VALUES (?, 1, '200', 1, 'z', 0)",
                                {id}));
    EXPECT_EQ(server.check(), std::vector<std::string>{});
}

TEST(ResetSequence, TheSubscriberViewRefusesANewId) {
    SeededServer server(5);
    EXPECT_THROW(
        server.exec("UPDATE vw_Subscriber SET SubscriberObjectID = "
                    "'{DEADBEEF-0000-4000-8000-000000000000}' WHERE DTMFAccessID = '4001'"),
        std::runtime_error);
    // Other columns are saved through to the subscriber and its primary extension.
    server.exec("UPDATE vw_Subscriber SET DisplayName = 'Renamed', DTMFAccessID = '4999' "
                "WHERE DTMFAccessID = '4001'");
    EXPECT_EQ(server.text("SELECT DisplayName FROM Subscriber WHERE SubscriberObjectID = ?",
                          {server.subscriberId(999)}),
              "Renamed");
    EXPECT_EQ(server.check(), std::vector<std::string>{});
}

// --- the same through the host's database, as the program reaches it --------------------------

const char *kConnection = "Driver={SQL Server};server=;database=TarvoDb";

std::size_t column(const DbRowSet &rows, const std::string &name) {
    for (std::size_t i = 0; i < rows.columns.size(); ++i) {
        std::string a = rows.columns[i].name, b = name;
        std::transform(a.begin(), a.end(), a.begin(), ::tolower);
        std::transform(b.begin(), b.end(), b.begin(), ::tolower);
        if (a == b)
            return i;
    }
    throw std::runtime_error("no column " + name);
}

// Saves new values of some columns of one row, found by the row set's key.
void save(zeph::IDbConnection &db, const DbRowSet &rows, std::size_t row,
          const std::vector<std::pair<std::string, DbValue>> &changes) {
    std::vector<DbValue> keys;
    for (const auto &k : rows.keyColumns)
        keys.push_back(rows.rows[row][column(rows, k)]);
    std::vector<std::string> columns;
    std::vector<DbValue> values;
    for (const auto &[name, value] : changes) {
        columns.push_back(rows.columns[column(rows, name)].name);
        values.push_back(value);
    }
    db.updateRow(rows.updateTarget, rows.keyColumns, keys, columns, values);
}

TEST(ResetSequence, ThroughTheHostsDatabase) {
    TempHost host(30, 4);
    auto db = host.host().database->connect(kConnection);
    const std::string templateAlias = "defaultTemplate";
    auto text = [&](const std::string &sql, const std::vector<DbValue> &params) {
        DbRowSet r = db->query(sql, params, true);
        return r.rows.empty() || !std::holds_alternative<std::string>(r.rows[0][0])
                   ? std::string()
                   : std::get<std::string>(r.rows[0][0]);
    };

    // Capture, as the cached subscriber table shows the subscriber with extension 4016.
    DbRowSet subscribers =
        db->query("Select * from vw_Subscriber order by SubscriberObjectID", {}, false);
    std::size_t at = 0;
    while (at < subscribers.rows.size() &&
           subscribers.rows[at][column(subscribers, "DTMFAccessID")] != DbValue("4016"))
        ++at;
    ASSERT_LT(at, subscribers.rows.size());
    auto field = [&](const char *name) {
        return std::get<std::string>(subscribers.rows[at][column(subscribers, name)]);
    };
    const std::string id = field("SubscriberObjectID"), ch = field("CallHandlerObjectID");
    const std::string alias = field("Alias"), directory = field("DirectoryID");
    DbRowSet alternates = db->query(
        "SELECT * FROM vw_DTMFAccessID WHERE ParentObjectID=? and IsPrimaryID=0", {id}, true);
    ASSERT_EQ(alternates.rows.size(), 2u);
    std::int64_t inbound =
        db->query("SELECT * FROM MenuEntry WHERE TargetHandlerObjectID = ?", {ch}, true)
            .rows.size();

    // Recordings: the cached row's StreamPath is cleared and saved through the view.
    save(*db, subscribers, at, {{"StreamPath", DbValue()}});
    DbRowSet greetings =
        db->query("SELECT * FROM MessagingRule WHERE ParentObjectID=?", {ch}, false);
    ASSERT_EQ(greetings.rows.size(), 6u);
    for (std::size_t r = 0; r < greetings.rows.size(); ++r)
        save(*db, greetings, r, {{"StreamPath", DbValue()}});

    db->callProcedure("sp_DeleteSubscriber",
                      {guidArg("@SubscriberObjectID", id), intArg("@DirectorySync", 1),
                       intArg("@ForceRemove", 0), guidArg("@DirectorySyncTicket", ticketGuid(1))});
    ASSERT_EQ(text("SELECT * FROM vw_DirectorySyncTicket WHERE Ticket=?", {ticketGuid(1)}),
              ticketGuid(1));
    db->callProcedure("sp_DeleteDirectorySyncTicket", {guidArg("@Ticket", ticketGuid(1))});

    auto created =
        db->callProcedure("sp_CreateSubscriber",
                          {textArg("@Alias", alias), textArg("@DtmfAccessId", "4016"),
                           textArg("@templateAlias", templateAlias), intArg("@SubscriberType", 1),
                           intArg("@Undeletable", 0), textArg("@DisplayName", field("DisplayName")),
                           guidArg("@DirectoryID", directory), textArg("@Uid", alias),
                           textArg("@FirstName", field("FirstName")),
                           textArg("@LastName", field("LastName")), intArg("@DirectorySync", 0)});
    ASSERT_TRUE(created && created->rows.size() == 1);
    const std::string newId =
        std::get<std::string>(created->rows[0][column(*created, "SubscriberObjectID")]);
    const std::string newCh =
        std::get<std::string>(created->rows[0][column(*created, "CallHandlerObjectID")]);
    save(*db, *created, 0, {{"SubscriberObjectID", id}, {"CallHandlerObjectID", ch}});

    DbRowSet primary =
        db->query("SELECT * FROM DTMFAccessID WHERE ParentObjectID=?", {newId}, false);
    ASSERT_EQ(primary.rows.size(), 1u);
    for (std::size_t n = 0; n < alternates.rows.size(); ++n) {
        db->insertRow(primary.updateTarget,
                      {"ParentObjectID", "ParentObjectIDType", "DTMFAccessID", "DTMFAccessIDType",
                       "Alias", "IsPrimaryID"},
                      {id, std::int64_t{1}, alternates.rows[n][column(alternates, "DTMFAccessID")],
                       std::int64_t{1}, "SYSTEM_DEFINED_ALT_EXT_" + std::to_string(n + 1),
                       std::int64_t{0}},
                      {});
    }
    for (const auto &f : kFixUps) {
        DbRowSet rows = db->query(f.query, {f.bySubscriber ? newId : newCh}, false);
        ASSERT_FALSE(rows.rows.empty()) << f.query;
        for (std::size_t r = 0; r < rows.rows.size(); ++r) {
            std::vector<std::pair<std::string, DbValue>> changes;
            for (const auto &[name, what] : f.sets)
                changes.emplace_back(name, what == 0   ? DbValue(id)
                                           : what == 1 ? DbValue(ch)
                                                       : DbValue());
            save(*db, rows, r, changes);
        }
    }
    db->callProcedure("sp_ModifySubscriber", {guidArg("@SubscriberObjectID", id),
                                              guidArg("@DirectorySyncTicket", ticketGuid(2)),
                                              intArg("@DirectorySync", 1)});
    db->callProcedure("sp_DeleteDirectorySyncTicket", {guidArg("@Ticket", ticketGuid(2))});
    db->callProcedure("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 1)});

    std::string error;
    auto violations = zeph::sqlite::checkServerDatabase(host.folder() + "/TarvoDb.sqlite", error);
    ASSERT_TRUE(violations) << error;
    EXPECT_EQ(*violations, std::vector<std::string>{});
    EXPECT_EQ(text("SELECT SubscriberObjectID FROM vw_Subscriber WHERE Alias=?", {alias}), id);
    EXPECT_EQ(text("SELECT CallHandlerObjectID FROM vw_Subscriber WHERE Alias=?", {alias}), ch);
    EXPECT_EQ(db->query("SELECT * FROM MenuEntry WHERE TargetHandlerObjectID = ?", {ch}, true)
                  .rows.size(),
              static_cast<std::size_t>(inbound));
    EXPECT_EQ(db->query("SELECT * FROM vw_DTMFAccessID WHERE ParentObjectID=? and IsPrimaryID=0",
                        {id}, true)
                  .rows.size(),
              2u);
    EXPECT_EQ(text("SELECT s.Alias FROM Subscriber s JOIN SubscriberTemplate t ON "
                   "t.COSObjectID = s.COSObjectID WHERE s.SubscriberObjectID = ?",
                   {id}),
              alias);
}

} // namespace
