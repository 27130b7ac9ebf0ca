// A subscriber's reset as the program performs it against the server, through the backend: capture,
// removal, re-creation from a template, the old ids written back, alternate extensions added back,
// the ten reference fix-ups, the directory push and the list synchronisation. Afterwards every
// invariant holds again and everything that pointed at the subscriber still does.
#include "platform/sqlite/ServerProcedures.h"
#include "platform/sqlite/SqliteDatabase.h"
#include "server_helpers.h"

#include <gtest/gtest.h>
#include <strings.h>

using namespace zeph::test;
using zeph::DbRowSet;
using zeph::DbValue;
namespace server = zeph::sqlite::server;

namespace {

// What must survive a reset, and what pointed at the subscriber before it.
struct Before {
    std::string id, ch, alias, first, last, display, ext, directory, alternates;
    std::int64_t inboundMenus = 0, lists = 0;
    bool operator==(const Before &) const = default;
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
    b.alternates = s.text("SELECT group_concat(DTMFAccessID) FROM (SELECT DTMFAccessID FROM "
                          "vw_DTMFAccessID WHERE ParentObjectID=? and IsPrimaryID=0 ORDER BY 1)",
                          {b.id});
    b.inboundMenus =
        s.count("SELECT COUNT(*) FROM MenuEntry WHERE TargetHandlerObjectID=?", {b.ch});
    b.lists = s.count("SELECT COUNT(*) FROM DistributionListMember WHERE MemberObjectID=?", {b.id});
    return b;
}

// The ten fix-ups, as the program words them, each row changed and saved by key.
struct FixUp {
    const char *query;
    bool bySubscriber;                              // else by call handler
    std::vector<std::pair<const char *, int>> sets; // column <- 0 old id, 1 old handler, 2 NULL
};

// clang-format off
const std::vector<FixUp> kFixUps = {
    {"SELECT * FROM GlobalSubscriber WHERE SubscriberOBjectId=?", true,
     {{"SubscriberObjectID", 0}, {"CallHandlerOBjectID", 1}, {"StreamPath", 2}}},
    {"SELECT Alias, ParentObjectID FROM NotificationDevice WHERE ParentObjectID=?", true,
     {{"ParentObjectID", 0}}},
    {"SELECT Alias, ParentObjectID FROM NotificationRule WHERE ParentObjectID=?", true,
     {{"ParentObjectID", 0}}},
    {"SELECT Alias, ParentObjectID FROM NotificationMWI WHERE ParentObjectID=?", true,
     {{"ParentObjectID", 0}}},
    {"SELECT ParentObjectID FROM DTMFAccessID WHERE ParentObjectID=?", true,
     {{"ParentObjectID", 0}}},
    {"SELECT Alias, AdministratorObjectID, RecipientObjectID FROM CallHandler WHERE "
     "CallHandlerObjectID=?", false, {{"AdministratorObjectID", 0}, {"RecipientObjectID", 0}}},
    {"SELECT Alias, IsPrimary, CallHandlerObjectID FROM CallHandler WHERE CallHandlerObjectID=?",
     false, {{"CallHandlerObjectID", 1}}},
    {"SELECT Alias, ParentObjectID from ContactRule WHERE ParentObjectID=?", false,
     {{"ParentObjectID", 1}}},
    {"SELECT Alias, ParentObjectID from MessagingRule WHERE ParentObjectID=?", false,
     {{"ParentObjectID", 1}}},
    {"SELECT Alias, ParentObjectID from MenuEntry WHERE ParentObjectID=?", false,
     {{"ParentObjectID", 1}}},
};
// clang-format on

std::size_t column(const DbRowSet &rows, const std::string &name) {
    for (std::size_t i = 0; i < rows.columns.size(); ++i) {
        if (strcasecmp(rows.columns[i].name.c_str(), name.c_str()) == 0)
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

TEST(ResetSequence, ThroughTheBackendLeavesTheServerWhole) {
    SeededServer s(40);
    const std::string templateAlias = "salesTemplateEast",
                      ticket = "{7777AAAA-0000-4000-8000-00000000000";
    const Before b = capture(s, 16);
    const auto comma = b.alternates.find(',');
    ASSERT_NE(comma, std::string::npos); // two of them
    ASSERT_GT(b.inboundMenus * b.lists, 0);
    auto database = zeph::sqlite::makeDatabase(s.databasePath(), s.context());
    auto db = database->connect("Driver={SQL Server};server=;database=TarvoDb");

    // Recordings: the cached row's StreamPath is cleared and saved through the view.
    DbRowSet subscribers =
        db->query("Select * from vw_Subscriber order by SubscriberObjectID", {}, false);
    std::size_t at = 0;
    while (subscribers.rows.at(at)[column(subscribers, "SubscriberObjectID")] != DbValue(b.id))
        ++at;
    save(*db, subscribers, at, {{"StreamPath", DbValue()}});
    DbRowSet greetings =
        db->query("SELECT * FROM MessagingRule WHERE ParentObjectID=?", {b.ch}, false);
    ASSERT_EQ(greetings.rows.size(), 6u);
    for (std::size_t r = 0; r < greetings.rows.size(); ++r)
        save(*db, greetings, r, {{"StreamPath", DbValue()}});

    db->callProcedure("sp_DeleteSubscriber",
                      {guidArg("@SubscriberObjectID", b.id), intArg("@DirectorySync", 1),
                       intArg("@ForceRemove", 0), guidArg("@DirectorySyncTicket", ticket + "1}")});
    EXPECT_EQ(s.text("SELECT result FROM vw_DirectorySyncTicket"), "0");
    db->callProcedure("sp_DeleteDirectorySyncTicket", {guidArg("@Ticket", ticket + "1}")});

    auto created =
        db->callProcedure("sp_CreateSubscriber",
                          {textArg("@Alias", b.alias), textArg("@DtmfAccessId", b.ext),
                           textArg("@templateAlias", templateAlias), intArg("@SubscriberType", 1),
                           intArg("@Undeletable", 0), textArg("@DisplayName", b.display),
                           guidArg("@DirectoryID", b.directory), textArg("@Uid", b.alias),
                           textArg("@FirstName", b.first), textArg("@LastName", b.last),
                           intArg("@DirectorySync", 0)});
    ASSERT_TRUE(created && created->rows.size() == 1);
    const DbValue newId = created->rows[0][column(*created, "SubscriberObjectID")];
    const DbValue newCh = created->rows[0][column(*created, "CallHandlerObjectID")];
    ASSERT_NE(newId, DbValue(b.id));
    save(*db, *created, 0, {{"SubscriberObjectID", b.id}, {"CallHandlerObjectID", b.ch}});

    DbRowSet primary =
        db->query("SELECT * FROM DTMFAccessID WHERE ParentObjectID=?", {newId}, false);
    ASSERT_EQ(primary.rows.size(), 1u);
    for (const std::string &alternate :
         {b.alternates.substr(0, comma), b.alternates.substr(comma + 1)}) {
        db->insertRow(primary.updateTarget,
                      {"ParentObjectID", "ParentObjectIDType", "DTMFAccessID", "DTMFAccessIDType",
                       "Alias", "IsPrimaryID"},
                      {b.id, std::int64_t{1}, alternate, std::int64_t{1},
                       "SYSTEM_DEFINED_ALT_EXT_" + alternate, std::int64_t{0}},
                      {});
    }
    for (const auto &f : kFixUps) {
        DbRowSet rows = db->query(f.query, {f.bySubscriber ? newId : newCh}, false);
        ASSERT_FALSE(rows.rows.empty()) << f.query;
        for (std::size_t r = 0; r < rows.rows.size(); ++r) {
            std::vector<std::pair<std::string, DbValue>> changes;
            for (const auto &[name, what] : f.sets)
                changes.emplace_back(name, what == 0   ? DbValue(b.id)
                                           : what == 1 ? DbValue(b.ch)
                                                       : DbValue());
            save(*db, rows, r, changes);
        }
    }
    db->callProcedure("sp_ModifySubscriber", {guidArg("@SubscriberObjectID", b.id),
                                              guidArg("@DirectorySyncTicket", ticket + "2}"),
                                              intArg("@DirectorySync", 1)});
    EXPECT_EQ(s.text("SELECT result FROM vw_DirectorySyncTicket"), "0");
    db->callProcedure("sp_DeleteDirectorySyncTicket", {guidArg("@Ticket", ticket + "2}")});
    // Membership comes back with the list synchronisation at the end of the run.
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM DistributionListMember WHERE MemberObjectID=?", {b.id}),
              0);
    db->callProcedure("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 1)});

    EXPECT_EQ(s.check(), std::vector<std::string>{});
    EXPECT_EQ(capture(s, 16), b);
    // The template's settings, the directory's mailbox attributes, no recordings.
    EXPECT_EQ(
        s.count("SELECT COUNT(*) FROM Subscriber s JOIN SubscriberTemplate t ON t.COSObjectID = "
                "s.COSObjectID AND t.Language = s.Language WHERE t.Alias = ? AND "
                "s.SubscriberObjectID = ? AND s.StreamPath IS NULL AND s.SMTPAddress <> ''",
                {templateAlias, b.id}),
        1);
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM MessagingRule WHERE ParentObjectID = ? AND StreamPath "
                      "IS NOT NULL",
                      {b.ch}),
              0);
    EXPECT_EQ(
        s.text("SELECT TarvoObjectID FROM DirectoryObject WHERE DirectoryID = ?", {b.directory}),
        b.id);
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM DirectorySyncTicket"), 0);
}

// The server's triggers: an added extension takes its owner's location and must be free there; the
// subscriber view refuses a new id but saves other columns through.
TEST(ResetSequence, TheServersTriggersGuardExtensionsAndIds) {
    SeededServer s(20);
    const std::string id = s.subscriberId(16);
    const std::string insert =
        "INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
        "DTMFAccessIDType, Alias, IsPrimaryID) VALUES (?, 1, ?, 1, 'x', 0)";
    s.exec(insert, {id, std::string("8123")});
    EXPECT_EQ(s.text("SELECT LocationObjectID FROM DTMFAccessID WHERE DTMFAccessID = '8123'"),
              s.text("SELECT LocationObjectID FROM Subscriber WHERE SubscriberObjectID = ?", {id}));
    const std::string key =
        s.text("SELECT DTMFAccessObjectID FROM DTMFAccessID WHERE DTMFAccessID = '8123'");
    EXPECT_EQ(server::normalGuid(key).value_or("none"), key);
    // Taken at the subscriber's location (by the operator's handler); used at the branch only.
    EXPECT_THROW(s.exec(insert, {id, std::string("3001")}), zeph::Error);
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM DTMFAccessID WHERE DTMFAccessID = '3001'"), 1);
    EXPECT_NO_THROW(s.exec(insert, {id, std::string("200")}));

    EXPECT_THROW(
        s.exec("UPDATE vw_Subscriber SET SubscriberObjectID = ? WHERE DTMFAccessID = '4001'",
               {std::string("{DEADBEEF-0000-4000-8000-000000000000}")}),
        zeph::Error);
    s.exec("UPDATE vw_Subscriber SET DisplayName = 'Renamed', DTMFAccessID = '4999' WHERE "
           "DTMFAccessID = '4001'");
    EXPECT_EQ(s.text("SELECT DisplayName FROM Subscriber WHERE SubscriberObjectID = ?",
                     {s.subscriberId(999)}),
              "Renamed");
    EXPECT_EQ(s.check(), std::vector<std::string>{});
}

} // namespace
