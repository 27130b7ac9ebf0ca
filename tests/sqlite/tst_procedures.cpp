// The stored procedures and the server's triggers: argument handling, effects, rollback, the sync
// tickets and the distribution-list synchronisation.
#include "server_helpers.h"
#include "support/ErrorOf.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace zeph::test;
using zeph::DbParam;
using zeph::Error;
using zeph::test::errorOf;

namespace {

const char *kId = "{DEADBEEF-0000-4000-8000-000000000000}";

// Some of these fail after rows were written: the whole call is undone.
TEST(Procedures, RefusalsAreTheServersAndChangeNothing) {
    SeededServer s(20);
    const std::string before = s.dump(), installer = s.subscriberId(0);
    const std::tuple<const char *, std::vector<DbParam>, long, std::string> cases[] = {
        {"sp_Nothing", {}, -2147217900, "Could not find stored procedure 'sp_Nothing'."},
        {"sp_DeleteSubscriber",
         {intArg("@DirectorySync", 1)},
         -2147217900,
         "Procedure or function 'sp_DeleteSubscriber' expects parameter '@SubscriberObjectID', "
         "which was not supplied."},
        {"sp_DeleteSubscriber",
         {{"@SubscriberObjectID", zeph::DbParamType::Guid, zeph::DbValue()}},
         -2147217900,
         "Procedure or function 'sp_DeleteSubscriber': parameter '@SubscriberObjectID' may not "
         "be NULL."},
        {"sp_ModifySubscriber",
         {{"@SubscriberObjectID", zeph::DbParamType::Guid, zeph::DbValue()},
          intArg("@DirectorySync", 1)},
         -2147217900,
         "Procedure or function 'sp_ModifySubscriber': parameter '@SubscriberObjectID' may not "
         "be NULL."},
        {"sp_DeleteSubscriber",
         {guidArg("@SubscriberObjectID", "DEADBEEF-nope")},
         -2147217913,
         "Conversion failed when converting from a character string to uniqueidentifier."},
        {"sp_DeleteSubscriber",
         {guidArg("@SubscriberObjectID", installer)},
         -2147217900,
         "The subscriber 'installer' is marked undeletable and can only be removed with "
         "@ForceRemove=1."},
        {"sp_CreateSubscriber", createArgs("INSTALLER", "4999", "defaultTemplate"), -2147217900,
         "A subscriber with the alias 'INSTALLER' already exists."},
        {"sp_CreateSubscriber", createArgs("someone", "3000", "defaultTemplate"), -2147217900,
         "The extension 3000 is already in use in the dialing domain"},
    };
    for (const auto &[procedure, args, number, description] : cases) {
        try {
            s.call(procedure, args);
            ADD_FAILURE() << "no error: " << description;
        } catch (const Error &e) {
            EXPECT_EQ(e.number(), number);
            EXPECT_EQ(e.description().substr(0, description.size()), description);
        }
        EXPECT_EQ(s.dump(), before) << description;
    }
    EXPECT_NO_THROW(s.exec("BEGIN; COMMIT")); // no transaction is left open
}

TEST(DeleteSubscriber, RemovesExactlyTheSubscribersRows) {
    SeededServer s(40);
    const std::string id = s.subscriberId(16), ch = s.callHandlerId(16);
    std::map<std::string, std::int64_t> expected = s.tableCounts();
    for (const auto &[table, where, key] : {std::tuple{"Subscriber", "SubscriberObjectID", id},
                                            {"GlobalSubscriber", "SubscriberObjectID", id},
                                            {"CallHandler", "CallHandlerObjectID", ch},
                                            {"MessagingRule", "ParentObjectID", ch},
                                            {"ContactRule", "ParentObjectID", ch},
                                            {"MenuEntry", "ParentObjectID", ch},
                                            {"NotificationDevice", "ParentObjectID", id},
                                            {"NotificationRule", "ParentObjectID", id},
                                            {"NotificationMWI", "ParentObjectID", id},
                                            {"DTMFAccessID", "ParentObjectID", id},
                                            {"DistributionListMember", "MemberObjectID", id}}) {
        const std::int64_t n = s.count(
            std::string("SELECT COUNT(*) FROM ") + table + " WHERE " + where + " = ?", {key});
        EXPECT_GT(n, 0) << table << ": the model subscriber has rows everywhere";
        expected[table] -= n;
    }
    const std::string inbound = "SELECT COUNT(*) FROM MenuEntry WHERE TargetHandlerObjectID = ?";
    const std::int64_t menus = s.count(inbound, {ch});

    s.call("sp_DeleteSubscriber", {guidArg("@SubscriberObjectID", id), intArg("@DirectorySync", 0),
                                   intArg("@ForceRemove", 0)});
    EXPECT_EQ(s.tableCounts(), expected);
    // Other handlers' menus still name its handler; without a sync the directory stays.
    EXPECT_EQ(s.count(inbound, {ch}), menus);
    EXPECT_EQ(s.count("SELECT VoiceEnabled FROM DirectoryObject WHERE TarvoObjectID = ?", {id}), 1);
    for (const auto &v : s.check()) {
        EXPECT_TRUE(v.rfind("menu entry's target missing", 0) == 0 ||
                    v.rfind("interview handler's recipient missing", 0) == 0 ||
                    v.rfind("directory account names a missing object", 0) == 0)
            << v;
    }
    const std::string installer = s.subscriberId(0); // undeletable: it goes only when forced
    s.call("sp_DeleteSubscriber",
           {guidArg("@SubscriberObjectID", installer), intArg("@ForceRemove", 1)});
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM Subscriber WHERE Alias = 'installer'"), 0);
}

TEST(Procedures, TheSynchroniserAnswersTicketsPerTheHostSetting) {
    for (const auto &[setting, result, voiceEnabled] :
         {std::tuple{"ok", "0", 0}, {"fail", "1", 1}, {"never", "", 1}}) {
        SeededServer s(20);
        s.directorySync = setting;
        const std::string id = s.subscriberId(1), ticket = "{ABCDEF01-2222-4333-8444-55555555555A}";
        // Given in lower case: the server keeps GUIDs in its own form.
        s.call("sp_DeleteSubscriber",
               {guidArg("@SubscriberObjectID", id), intArg("@DirectorySync", 1),
                guidArg("@DirectorySyncTicket", "{abcdef01-2222-4333-8444-55555555555a}")});
        EXPECT_EQ(s.text("SELECT Ticket || '/' || IFNULL(result, '') FROM vw_DirectorySyncTicket"),
                  ticket + "/" + result);
        EXPECT_EQ(s.count("SELECT VoiceEnabled FROM DirectoryObject WHERE TarvoObjectID = ?", {id}),
                  voiceEnabled);
        s.call("SP_DELETEDIRECTORYSYNCTICKET", {guidArg("@TICKET", ticket)});
        EXPECT_EQ(s.count("SELECT COUNT(*) FROM vw_DirectorySyncTicket"), 0);
    }
}

TEST(CreateSubscriber, FailureInsideTheCallersTransactionUndoesOnlyTheCall) {
    SeededServer s(20);
    s.exec("BEGIN; UPDATE COS SET MaxMsgLength = 77 WHERE Alias = 'execCos'");
    EXPECT_THROW(s.call("sp_CreateSubscriber", createArgs("x", "3000", "defaultTemplate")), Error);
    EXPECT_EQ(s.text("SELECT MaxMsgLength FROM COS WHERE Alias = 'execCos'"), "77");
    s.exec("COMMIT");
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM Subscriber WHERE Alias = 'x'"), 0);
}

TEST(ModifySubscriber, PushesToTheDirectoryAndTakesTheMailboxBack) {
    SeededServer s(20);
    // A directory account whose subscriber was removed: a subscriber is created on it again.
    const std::string old = s.subscriberId(1);
    const std::string smtp = "SELECT SMTPAddress FROM Subscriber WHERE SubscriberObjectID = ?";
    const std::string mail = s.text(smtp, {old});
    const std::string account =
        s.text("SELECT DirectoryID FROM Subscriber WHERE SubscriberObjectID = ?", {old});
    s.call("sp_DeleteSubscriber",
           {guidArg("@SubscriberObjectID", old), intArg("@DirectorySync", 1)});
    auto row =
        s.call("sp_CreateSubscriber", createArgs("again", "4001", "defaultTemplate", account));
    ASSERT_TRUE(row && row->rows.size() == 1);
    EXPECT_EQ(row->updateTarget + "." + row->keyColumns.at(0), "Subscriber.SubscriberObjectID");
    const std::string id = std::get<std::string>(row->rows[0][0]);
    EXPECT_EQ(id, "{00000000-0000-4000-8000-000000000001}");
    EXPECT_EQ(s.text(smtp, {id}), "");
    EXPECT_EQ(errorOf([&] {
                  s.call("sp_CreateSubscriber",
                         createArgs("twin", "4999", "defaultTemplate", account));
              }).description(),
              "The directory account " + account + " already belongs to another subscriber.");
    auto modify = [&](const std::string &subscriber, const std::string &ticket) {
        s.call("sp_ModifySubscriber",
               {guidArg("@SubscriberObjectID", subscriber), intArg("@DirectorySync", 1),
                guidArg("@DirectorySyncTicket", ticket)});
        return s.text("SELECT result FROM vw_DirectorySyncTicket WHERE Ticket = ?", {ticket});
    };
    s.directorySync = "fail";
    EXPECT_EQ(modify(id, "{AAAAAAAA-0000-4000-8000-000000000001}"), "1");
    EXPECT_EQ(s.text(smtp, {id}), "");
    s.directorySync = "ok";
    EXPECT_EQ(modify(id, "{AAAAAAAA-0000-4000-8000-000000000002}"), "0");
    EXPECT_EQ(s.text("SELECT TarvoObjectID || '/' || VoiceEnabled || '/' || Extension FROM "
                     "DirectoryObject WHERE DirectoryID = ?",
                     {account}),
              id + "/1/4001");
    EXPECT_EQ(s.text(smtp, {id}), mail);
    // Without a directory account there is nothing to push to: the ticket tells failure.
    EXPECT_EQ(modify(s.subscriberId(4), "{AAAAAAAA-0000-4000-8000-000000000003}"), "1");
    const std::string before = s.dump(); // a ticket is used once
    EXPECT_THROW(modify(id, "{AAAAAAAA-0000-4000-8000-000000000003}"), Error);
    EXPECT_EQ(s.dump(), before);
}

TEST(ListSync, RebuildsMembersFromTheDirectoryGroups) {
    SeededServer s(60);
    const std::string fresh = s.dump();
    s.exec("DELETE FROM DistributionListMember WHERE rowid % 3 = 0");
    s.exec("INSERT INTO DistributionListMember SELECT DistributionListObjectID, ? FROM "
           "DistributionList WHERE Alias = 'finance'",
           {s.subscriberId(7)});
    const std::string broken = s.dump();
    s.directorySync = "never";
    s.call("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 1)});
    EXPECT_EQ(s.dump(), broken) << "no synchroniser running";
    s.directorySync = "ok";
    // The rewrite runs with a small cache of its own; the connection's is as it was after it.
    s.exec("PRAGMA cache_size=-65536");
    s.call("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 1)});
    EXPECT_EQ(s.dump(), fresh);
    EXPECT_EQ(s.text("PRAGMA cache_size"), "-65536");
}

// On a handle without a statement cache, no prepared statement stays to keep the file open.
TEST(Procedures, RunOnAHandleWithoutAStatementCache) {
    SeededServer s(5);
    sqlite3 *bare = nullptr;
    ASSERT_EQ(sqlite3_open(s.databasePath().c_str(), &bare), SQLITE_OK);
    auto context = s.context();
    auto create = [&](const char *extension) {
        zeph::sqlite::callServerProcedure(
            bare, "sp_CreateSubscriber", createArgs("bare", extension, "defaultTemplate"), context);
    };
    create("4999");
    EXPECT_THROW(create("4998"), Error); // the alias is taken now
    EXPECT_EQ(sqlite3_close(bare), SQLITE_OK);
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM Subscriber WHERE Alias = 'bare'"), 1);
}

// An added extension takes its owner's location and must be free there; the subscriber view
// refuses a new id but saves other columns through.
TEST(Triggers, GuardExtensionsAndIds) {
    SeededServer s(20);
    const std::string id = s.subscriberId(16);
    const std::string insert =
        "INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
        "DTMFAccessIDType, Alias, IsPrimaryID) VALUES (?, 1, ?, 1, 'x', 0)";
    s.exec(insert, {id, std::string("8123")});
    EXPECT_EQ(s.text("SELECT LocationObjectID FROM DTMFAccessID WHERE DTMFAccessID = '8123'"),
              s.text("SELECT LocationObjectID FROM Subscriber WHERE SubscriberObjectID = ?", {id}));
    EXPECT_THROW(s.exec(insert, {id, std::string("3001")}), Error); // the operator's, here
    EXPECT_NO_THROW(s.exec(insert, {id, std::string("200")}));      // used at the branch only
    EXPECT_THROW(
        s.exec("UPDATE vw_Subscriber SET SubscriberObjectID = ? WHERE DTMFAccessID = '4001'",
               {std::string(kId)}),
        Error);
    s.exec("UPDATE vw_Subscriber SET DisplayName = 'Renamed', DTMFAccessID = '4999' WHERE "
           "DTMFAccessID = '4001'");
    EXPECT_EQ(s.text("SELECT DisplayName FROM Subscriber WHERE SubscriberObjectID = ?",
                     {s.subscriberId(999)}),
              "Renamed");
    EXPECT_EQ(s.check(), std::vector<std::string>{});
}

} // namespace
