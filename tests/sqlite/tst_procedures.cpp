// The stored procedures: argument handling, their effects, their rollback, the sync tickets and the
// distribution-list synchronisation.
#include "server_helpers.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace zeph::test;
using zeph::DbParam;
using zeph::Error;

namespace {

const char *kId = "{DEADBEEF-0000-4000-8000-000000000000}";

struct BadCall {
    const char *procedure;
    std::vector<DbParam> args;
    long number;
    std::string description; // the start of it
};

class BadCallTest : public ::testing::TestWithParam<BadCall> {};

// Some of these fail after rows were written: the whole call is undone.
TEST_P(BadCallTest, FailsAsTheServerDoesAndChangesNothing) {
    SeededServer s(20);
    const std::string before = s.dump();
    try {
        s.call(GetParam().procedure, GetParam().args);
        FAIL() << "no error";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), GetParam().number);
        EXPECT_EQ(e.description().substr(0, GetParam().description.size()), GetParam().description);
    }
    EXPECT_EQ(s.dump(), before);
    EXPECT_NO_THROW(s.exec("BEGIN; COMMIT")); // no transaction is left open
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, BadCallTest,
    ::testing::Values(
        BadCall{"sp_Nothing", {}, -2147217900, "Could not find stored procedure 'sp_Nothing'."},
        BadCall{"sp_DeleteSubscriber",
                {guidArg("SubscriberObjectID", kId)},
                -2147217900,
                "SubscriberObjectID is not a parameter for procedure sp_DeleteSubscriber."},
        BadCall{"sp_DeleteSubscriber",
                {intArg("@DirectorySync", 1)},
                -2147217900,
                "Procedure or function 'sp_DeleteSubscriber' expects parameter "
                "'@SubscriberObjectID', which was not supplied."},
        BadCall{"sp_ModifySubscriber",
                {guidArg("@SubscriberObjectID", kId), guidArg("@subscriberobjectid", kId)},
                -2147217900,
                "Parameter '@subscriberobjectid' was supplied multiple times."},
        BadCall{"sp_DeleteSubscriber",
                {guidArg("@SubscriberObjectID", "DEADBEEF-nope")},
                -2147217913,
                "Conversion failed when converting from a character string to uniqueidentifier."},
        BadCall{"sp_DeleteSubscriber",
                {guidArg("@SubscriberObjectID", kId), textArg("@DirectorySync", "yes")},
                -2147217913,
                "Conversion failed when converting the varchar value 'yes' to data type int."},
        BadCall{"sp_ModifySubscriber",
                {guidArg("@SubscriberObjectID", kId)},
                -2147217900,
                "The subscriber {DEADBEEF-0000-4000-8000-000000000000} does not exist."},
        BadCall{"sp_CreateSubscriber", createArgs("INSTALLER", "4999", "defaultTemplate"),
                -2147217900, "A subscriber with the alias 'INSTALLER' already exists."},
        BadCall{"sp_CreateSubscriber", createArgs("someone", "3000", "defaultTemplate"),
                -2147217900, "The extension 3000 is already in use in the dialing domain"},
        BadCall{"sp_CreateSubscriber", createArgs("someone", "12a", "defaultTemplate"), -2147217900,
                "The extension '12a' is not valid"},
        BadCall{"sp_CreateSubscriber", createArgs("someone", "4999", "noSuchTemplate"), -2147217900,
                "The subscriber template 'noSuchTemplate' does not exist."}));

TEST(DeleteSubscriber, RemovesExactlyTheSubscribersRows) {
    SeededServer s(40);
    const std::string id = s.subscriberId(16), ch = s.callHandlerId(16);
    // The rows that belong to the subscriber: what its removal must take.
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
    ASSERT_GT(menus, 0);

    s.call("sp_DeleteSubscriber", {guidArg("@SubscriberObjectID", id), intArg("@DirectorySync", 0),
                                   intArg("@ForceRemove", 0)});
    EXPECT_EQ(s.tableCounts(), expected);
    // Other handlers' menu entries still name the removed call handler; the directory is untouched
    // without a synchronisation.
    EXPECT_EQ(s.count(inbound, {ch}), menus);
    EXPECT_EQ(s.count("SELECT VoiceEnabled FROM DirectoryObject WHERE TarvoObjectID = ?", {id}), 1);
    for (const auto &v : s.check()) {
        EXPECT_TRUE(v.rfind("menu entry's target missing", 0) == 0 ||
                    v.rfind("interview handler's recipient missing", 0) == 0 ||
                    v.rfind("directory account names a missing object", 0) == 0)
            << v;
    }
    // An undeletable subscriber goes only when forced.
    const std::string installer = s.subscriberId(0);
    try {
        s.call("sp_DeleteSubscriber", {guidArg("@SubscriberObjectID", installer)});
        ADD_FAILURE() << "removed";
    } catch (const Error &e) {
        EXPECT_EQ(e.description(), "The subscriber 'installer' is marked undeletable and can only "
                                   "be removed with @ForceRemove=1.");
    }
    EXPECT_EQ(s.tableCounts(), expected);
    s.call("sp_DeleteSubscriber",
           {guidArg("@SubscriberObjectID", installer), intArg("@ForceRemove", 1)});
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM Subscriber WHERE Alias = 'installer'"), 0);
}

struct SyncCase {
    const char *setting;
    const char *result; // "" for NULL
    int voiceEnabledAfterDelete;
};

class TicketTest : public ::testing::TestWithParam<SyncCase> {};

TEST_P(TicketTest, TheSynchroniserAnswersPerTheHostSetting) {
    SeededServer s(20);
    s.directorySync = GetParam().setting;
    const std::string id = s.subscriberId(1);
    const std::string account =
        s.text("SELECT DirectoryID FROM Subscriber WHERE SubscriberObjectID = ?", {id});
    const std::string ticket = "{ABCDEF01-2222-4333-8444-55555555555A}";
    // Given in lower case: the server keeps GUIDs in its own form.
    s.call("sp_DeleteSubscriber",
           {guidArg("@SubscriberObjectID", id), intArg("@DirectorySync", 1),
            guidArg("@DirectorySyncTicket", "{abcdef01-2222-4333-8444-55555555555a}")});
    EXPECT_EQ(s.text("SELECT Ticket || '/' || IFNULL(result, '') FROM vw_DirectorySyncTicket"),
              ticket + "/" + GetParam().result);
    EXPECT_EQ(s.count("SELECT VoiceEnabled FROM DirectoryObject WHERE DirectoryID = ?", {account}),
              GetParam().voiceEnabledAfterDelete);
    s.call("SP_DELETEDIRECTORYSYNCTICKET", {guidArg("@TICKET", ticket)});
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM vw_DirectorySyncTicket"), 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, TicketTest,
                         ::testing::Values(SyncCase{"ok", "0", 0}, SyncCase{"fail", "1", 1},
                                           SyncCase{"never", "", 1}));

TEST(CreateSubscriber, BuildsFromTheTemplateWithNewIds) {
    SeededServer s(20);
    auto row = s.call("sp_CreateSubscriber", createArgs("newbie", "4999", "salesTemplate"));
    ASSERT_TRUE(row && row->rows.size() == 1);
    EXPECT_EQ(row->updateTarget + "." + row->keyColumns.at(0), "Subscriber.SubscriberObjectID");
    const std::string id = "{00000000-0000-4000-8000-000000000001}";
    const std::string ch = "{00000000-0000-4000-8000-000000000002}";
    EXPECT_EQ(row->rows[0][0], zeph::DbValue(id));
    EXPECT_EQ(s.callHandlerId(999), ch);
    // Settings of the template and its call handler template.
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM Subscriber s JOIN SubscriberTemplate t ON t.Alias = "
                      "'salesTemplate' AND t.COSObjectID = s.COSObjectID AND t.Language = "
                      "s.Language AND t.SubscriberTemplateObjectID = s.SubscriberTemplateObjectID "
                      "WHERE s.SubscriberObjectID = ?",
                      {id}),
              1);
    EXPECT_EQ(s.text("SELECT MaxMsgLength || AdministratorObjectID || RecipientObjectID || "
                     "IsPrimary FROM CallHandler WHERE CallHandlerObjectID = ?",
                     {ch}),
              "300" + id + id + "1");
    // The template's rules and notifications, each with a new id.
    for (const auto &[table, owner, tplOwner] :
         {std::tuple{"MessagingRule", ch, "CallHandlerTemplateObjectID"},
          {"MenuEntry", ch, "CallHandlerTemplateObjectID"},
          {"NotificationRule", id, "SubscriberTemplateObjectID"},
          {"NotificationMWI", id, "SubscriberTemplateObjectID"}}) {
        const std::string count = std::string("SELECT COUNT(*) FROM ") + table;
        EXPECT_EQ(s.count(count + " WHERE ParentObjectID=?", {owner}),
                  s.count(count + " WHERE ParentObjectID=(SELECT " + tplOwner +
                          " FROM SubscriberTemplate WHERE Alias='salesTemplate')"))
            << table;
    }
    EXPECT_EQ(s.text("SELECT Extension FROM NotificationMWI WHERE ParentObjectID = ?", {id}),
              "4999");
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM NotificationRule r JOIN NotificationDevice d ON "
                      "d.NotificationDeviceObjectID = r.DeviceObjectID AND d.ParentObjectID = "
                      "r.ParentObjectID WHERE r.ParentObjectID = ?",
                      {id}),
              5);
    // Subscriber and handler, 6 + 3 + 12 rules, 5 + 5 + 1 notification rows, the extension.
    EXPECT_EQ(s.guids.issued(), 2 + 6 + 3 + 12 + 5 + 5 + 1 + 1);
    EXPECT_EQ(s.text("SELECT CreationTime FROM Subscriber WHERE SubscriberObjectID = ?", {id}),
              "2024-03-05 14:30:00");
    // The kiosk template gives no message waiting indicator; an extension of another dialing domain
    // is free.
    auto kiosk = s.call("sp_CreateSubscriber", createArgs("kiosk", "300", "KIOSKTEMPLATE"));
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM NotificationMWI WHERE ParentObjectID = ?",
                      {kiosk->rows[0][0]}),
              0);
    EXPECT_EQ(s.check(), std::vector<std::string>{});
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
    const std::string id = std::get<std::string>(row->rows[0][0]);
    EXPECT_EQ(s.text(smtp, {id}), "");
    try {
        s.call("sp_CreateSubscriber", createArgs("twin", "4999", "defaultTemplate", account));
        ADD_FAILURE() << "a second subscriber on one directory account";
    } catch (const Error &e) {
        EXPECT_EQ(e.description(),
                  "The directory account " + account + " already belongs to another subscriber.");
    }
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
    EXPECT_EQ(s.text("SELECT TarvoObjectID || '/' || VoiceEnabled || '/' || Extension || '/' || "
                     "DisplayName FROM DirectoryObject WHERE DirectoryID = ?",
                     {account}),
              id + "/1/4001/New Person");
    EXPECT_EQ(s.text(smtp, {id}), mail);
    EXPECT_EQ(s.text("SELECT SMTPAddress FROM GlobalSubscriber WHERE SubscriberObjectID = ?", {id}),
              mail);
    // Without a directory account there is nothing to push to: the ticket tells failure.
    EXPECT_EQ(modify(s.subscriberId(4), "{AAAAAAAA-0000-4000-8000-000000000003}"), "1");
    // A ticket is used once.
    const std::string before = s.dump();
    EXPECT_THROW(modify(id, "{AAAAAAAA-0000-4000-8000-000000000003}"), Error);
    EXPECT_EQ(s.dump(), before);
}

TEST(ListSync, RebuildsMembersFromTheDirectoryGroups) {
    SeededServer s(60);
    const std::string fresh = s.dump();
    // Lose some members and gain a wrong one.
    s.exec("DELETE FROM DistributionListMember WHERE rowid % 3 = 0");
    s.exec("INSERT INTO DistributionListMember SELECT DistributionListObjectID, ? FROM "
           "DistributionList WHERE Alias = 'finance'",
           {s.subscriberId(7)});
    const std::string broken = s.dump();
    s.call("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 0)});
    EXPECT_EQ(s.dump(), broken) << "0 asks for nothing";
    s.directorySync = "never";
    s.call("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 1)});
    EXPECT_EQ(s.dump(), broken) << "no synchroniser running";
    s.directorySync = "ok";
    s.call("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 1)});
    EXPECT_EQ(s.dump(), fresh);
}

// The procedures' statements are kept on handles that keep a cache; on a bare handle they are
// prepared for each use, and none of them stays behind to keep the file from closing.
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

} // namespace
