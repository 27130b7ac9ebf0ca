// The stored procedures: argument handling, their effects, their rollback, the sync tickets
// and the distribution-list synchronisation.
#include "platform/Error.h"
#include "server_helpers.h"

#include <gtest/gtest.h>

using namespace zeph::test;
using zeph::DbParam;
using zeph::DbParamType;
using zeph::Error;

namespace {

struct BadCall {
    const char *procedure;
    std::vector<DbParam> args;
    long number;
    const char *description;
};

class BadCallTest : public ::testing::TestWithParam<BadCall> {};

TEST_P(BadCallTest, FailsAsTheServerDoesAndChangesNothing) {
    SeededServer server(20);
    std::string before = server.dump();
    try {
        server.call(GetParam().procedure, GetParam().args);
        FAIL() << "no error";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), GetParam().number);
        EXPECT_EQ(e.description(), GetParam().description);
    }
    EXPECT_EQ(server.dump(), before);
}

const char *kId = "{DEADBEEF-0000-4000-8000-000000000000}";

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadCallTest,
    ::testing::Values(
        BadCall{"sp_Nothing", {}, -2147217900, "Could not find stored procedure 'sp_Nothing'."},
        BadCall{"sp_DeleteSubscriber",
                {guidArg("@SubscriberObjectID", kId), intArg("@Bogus", 1)},
                -2147217900,
                "@Bogus is not a parameter for procedure sp_DeleteSubscriber."},
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
                "Conversion failed when converting from a character string to "
                "uniqueidentifier."},
        BadCall{"sp_DeleteSubscriber",
                {guidArg("@SubscriberObjectID", kId), textArg("@DirectorySync", "yes")},
                -2147217913,
                "Conversion failed when converting the varchar value 'yes' to data type int."},
        BadCall{"sp_DeleteSubscriber",
                {guidArg("@SubscriberObjectID", kId)},
                -2147217900,
                "The subscriber {DEADBEEF-0000-4000-8000-000000000000} does not exist."},
        BadCall{"sp_ModifySubscriber",
                {guidArg("@SubscriberObjectID", kId)},
                -2147217900,
                "The subscriber {DEADBEEF-0000-4000-8000-000000000000} does not exist."},
        BadCall{"sp_CreateSubscriber",
                {textArg("@Alias", "someone")},
                -2147217900,
                "Procedure or function 'sp_CreateSubscriber' expects parameter "
                "'@DtmfAccessId', which was not supplied."}));

// The rows that belong to a subscriber, by table: what its removal must take.
std::map<std::string, std::int64_t> ownRows(const SeededServer &s, const std::string &id,
                                            const std::string &ch) {
    return {
        {"Subscriber", s.count("SELECT COUNT(*) FROM Subscriber WHERE SubscriberObjectID=?", {id})},
        {"GlobalSubscriber",
         s.count("SELECT COUNT(*) FROM GlobalSubscriber WHERE SubscriberObjectID=?", {id})},
        {"CallHandler",
         s.count("SELECT COUNT(*) FROM CallHandler WHERE CallHandlerObjectID=?", {ch})},
        {"MessagingRule",
         s.count("SELECT COUNT(*) FROM MessagingRule WHERE ParentObjectID=?", {ch})},
        {"ContactRule", s.count("SELECT COUNT(*) FROM ContactRule WHERE ParentObjectID=?", {ch})},
        {"MenuEntry", s.count("SELECT COUNT(*) FROM MenuEntry WHERE ParentObjectID=?", {ch})},
        {"NotificationDevice",
         s.count("SELECT COUNT(*) FROM NotificationDevice WHERE ParentObjectID=?", {id})},
        {"NotificationRule",
         s.count("SELECT COUNT(*) FROM NotificationRule WHERE ParentObjectID=?", {id})},
        {"NotificationMWI",
         s.count("SELECT COUNT(*) FROM NotificationMWI WHERE ParentObjectID=?", {id})},
        {"DTMFAccessID", s.count("SELECT COUNT(*) FROM DTMFAccessID WHERE ParentObjectID=?", {id})},
        {"DistributionListMember",
         s.count("SELECT COUNT(*) FROM DistributionListMember WHERE MemberObjectID=?", {id})},
    };
}

TEST(DeleteSubscriber, RemovesExactlyTheSubscribersRows) {
    SeededServer server(40);
    const std::string id = server.subscriberId(16);
    const std::string ch = server.callHandlerId(16);
    auto own = ownRows(server, id, ch);
    for (const auto &[table, n] : own)
        EXPECT_GT(n, 0) << table << ": the model subscriber has rows everywhere";
    auto before = server.tableCounts();
    std::int64_t inbound =
        server.count("SELECT COUNT(*) FROM MenuEntry WHERE TargetHandlerObjectID = ?", {ch});
    ASSERT_GT(inbound, 0);

    server.call("sp_DeleteSubscriber", {guidArg("@SubscriberObjectID", id),
                                        intArg("@DirectorySync", 0), intArg("@ForceRemove", 0)});

    auto after = server.tableCounts();
    for (const auto &[table, n] : before) {
        std::int64_t removed = own.count(table) ? own.at(table) : 0;
        EXPECT_EQ(after[table], n - removed) << table;
    }
    for (const auto &[table, n] : ownRows(server, id, ch))
        EXPECT_EQ(n, 0) << table;
    // Other handlers' menu entries still name the removed call handler; the directory is
    // untouched without a synchronisation.
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM MenuEntry WHERE TargetHandlerObjectID = ?", {ch}),
              inbound);
    EXPECT_EQ(
        server.count("SELECT VoiceEnabled FROM DirectoryObject WHERE TarvoObjectID = ?", {id}), 1);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM DirectorySyncTicket"), 0);
    auto violations = server.check();
    ASSERT_FALSE(violations.empty());
    for (const auto &v : violations) {
        // Only references held by other objects (and the directory, which was not told).
        bool dangling = v.rfind("menu entry's target missing", 0) == 0 ||
                        v.rfind("interview handler's recipient missing", 0) == 0 ||
                        v.rfind("directory account names a missing object", 0) == 0;
        EXPECT_TRUE(dangling) << v;
    }
}

TEST(DeleteSubscriber, AnUndeletableSubscriberNeedsForce) {
    SeededServer server(20);
    const std::string id = server.subscriberId(0);
    std::string before = server.dump();
    try {
        server.call("sp_DeleteSubscriber", {guidArg("@SubscriberObjectID", id)});
        FAIL() << "removed";
    } catch (const Error &e) {
        EXPECT_EQ(e.description(), "The subscriber 'installer' is marked undeletable and can "
                                   "only be removed with @ForceRemove=1.");
    }
    EXPECT_EQ(server.dump(), before);
    server.call("sp_DeleteSubscriber",
                {guidArg("@SubscriberObjectID", id), intArg("@ForceRemove", 1)});
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM Subscriber WHERE SubscriberObjectID = ?", {id}),
              0);
}

struct SyncCase {
    const char *setting;
    const char *result; // "" for NULL
    int voiceEnabledAfterDelete;
};

class TicketTest : public ::testing::TestWithParam<SyncCase> {};

TEST_P(TicketTest, TheSynchroniserAnswersPerTheHostSetting) {
    SeededServer server(20);
    server.directorySync = GetParam().setting;
    const std::string id = server.subscriberId(1);
    const std::string account =
        server.text("SELECT DirectoryID FROM Subscriber WHERE SubscriberObjectID = ?", {id});
    const std::string ticket = "{ABCDEF01-2222-4333-8444-55555555555A}";
    // Given in lower case: the server keeps GUIDs in its own form.
    const std::string lowerTicket = "{abcdef01-2222-4333-8444-55555555555a}";
    server.call("sp_DeleteSubscriber",
                {guidArg("@SubscriberObjectID", id), intArg("@DirectorySync", 1),
                 intArg("@ForceRemove", 0), guidArg("@DirectorySyncTicket", lowerTicket)});
    EXPECT_EQ(
        server.count("SELECT COUNT(*) FROM vw_DirectorySyncTicket WHERE Ticket = ?", {ticket}), 1);
    EXPECT_EQ(server.text("SELECT result FROM vw_DirectorySyncTicket WHERE Ticket = ?", {ticket}),
              GetParam().result);
    EXPECT_EQ(
        server.count("SELECT VoiceEnabled FROM DirectoryObject WHERE DirectoryID = ?", {account}),
        GetParam().voiceEnabledAfterDelete);

    server.call("SP_DELETEDIRECTORYSYNCTICKET", {guidArg("@TICKET", ticket)});
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_DirectorySyncTicket"), 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, TicketTest,
                         ::testing::Values(SyncCase{"ok", "0", 0}, SyncCase{"fail", "1", 1},
                                           SyncCase{"never", "", 1}));

TEST(CreateSubscriber, BuildsFromTheTemplateWithNewIds) {
    SeededServer server(20);
    auto row = server.call("sp_CreateSubscriber", createArgs("newbie", "4999", "salesTemplate"));
    ASSERT_TRUE(row);
    ASSERT_EQ(row->rows.size(), 1u);
    EXPECT_EQ(row->updateTarget, "Subscriber");
    EXPECT_EQ(row->keyColumns, std::vector<std::string>{"SubscriberObjectID"});
    std::map<std::string, zeph::DbValue> fields;
    for (std::size_t i = 0; i < row->columns.size(); ++i)
        fields[row->columns[i].name] = row->rows[0][i];
    const std::string id = std::get<std::string>(fields.at("SubscriberObjectID"));
    const std::string ch = std::get<std::string>(fields.at("CallHandlerObjectID"));
    EXPECT_EQ(id, "{00000000-0000-4000-8000-000000000001}");
    EXPECT_EQ(ch, "{00000000-0000-4000-8000-000000000002}");

    // Settings of the template, its class of service and its call handler template.
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM Subscriber s JOIN SubscriberTemplate t ON "
                           "t.Alias = 'salesTemplate' AND t.COSObjectID = s.COSObjectID AND "
                           "t.SwitchID = s.SwitchID AND t.Language = s.Language AND "
                           "t.SubscriberTemplateObjectID = s.SubscriberTemplateObjectID "
                           "WHERE s.SubscriberObjectID = ?",
                           {id}),
              1);
    EXPECT_EQ(
        server.text("SELECT MaxMsgLength FROM CallHandler WHERE CallHandlerObjectID = ?", {ch}),
        "300");
    EXPECT_EQ(server.text("SELECT AdministratorObjectID || RecipientObjectID || IsPrimary FROM "
                          "CallHandler WHERE CallHandlerObjectID = ?",
                          {ch}),
              id + id + "1");
    // The template's rules, each with a new id.
    const std::string tplHandler = server.text(
        "SELECT CallHandlerTemplateObjectID FROM SubscriberTemplate WHERE Alias='salesTemplate'");
    const std::string tpl = server.text(
        "SELECT SubscriberTemplateObjectID FROM SubscriberTemplate WHERE Alias='salesTemplate'");
    for (const char *table : {"MessagingRule", "ContactRule", "MenuEntry"}) {
        std::string count =
            std::string("SELECT COUNT(*) FROM ") + table + " WHERE ParentObjectID=?";
        EXPECT_EQ(server.count(count, {ch}), server.count(count, {tplHandler})) << table;
        EXPECT_GT(server.count(count, {ch}), 0) << table;
    }
    for (const char *table : {"NotificationDevice", "NotificationRule", "NotificationMWI"}) {
        std::string count =
            std::string("SELECT COUNT(*) FROM ") + table + " WHERE ParentObjectID=?";
        EXPECT_EQ(server.count(count, {id}), server.count(count, {tpl})) << table;
    }
    EXPECT_EQ(server.text("SELECT Extension FROM NotificationMWI WHERE ParentObjectID = ?", {id}),
              "4999");
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM NotificationRule r JOIN NotificationDevice d ON "
                           "d.NotificationDeviceObjectID = r.DeviceObjectID AND "
                           "d.ParentObjectID = r.ParentObjectID WHERE r.ParentObjectID = ?",
                           {id}),
              5);
    // 2 ids for subscriber and handler, 6 + 3 + 12 rules, 5 + 5 + 1 notification rows, the
    // extension: every id is new.
    EXPECT_EQ(server.guids.issued(), 2 + 6 + 3 + 12 + 5 + 5 + 1 + 1);
    EXPECT_EQ(
        server.text("SELECT DTMFAccessID FROM vw_Subscriber WHERE SubscriberObjectID = ?", {id}),
        "4999");
    EXPECT_EQ(server.text("SELECT CreationTime FROM Subscriber WHERE SubscriberObjectID = ?", {id}),
              "2024-03-05 14:30:00");
    EXPECT_EQ(
        server.text("SELECT SMTPAddress FROM vw_Subscriber WHERE SubscriberObjectID = ?", {id}),
        "");
    EXPECT_EQ(server.check(), std::vector<std::string>{});
}

TEST(CreateSubscriber, TheKioskTemplateGivesNoMessageWaitingIndicator) {
    SeededServer server(5);
    auto row = server.call("sp_CreateSubscriber", createArgs("kiosk", "4998", "KIOSKTEMPLATE"));
    ASSERT_TRUE(row);
    const std::string id = std::get<std::string>(row->rows[0][0]);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM NotificationMWI WHERE ParentObjectID = ?", {id}),
              0);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM MenuEntry WHERE Locked = 1 AND ParentObjectID = "
                           "(SELECT CallHandlerObjectID FROM Subscriber WHERE Alias = 'kiosk')"),
              12);
}

struct BadCreate {
    const char *what;
    std::vector<DbParam> args;
    const char *description;
};

class BadCreateTest : public ::testing::TestWithParam<BadCreate> {};

// Some of these fail after rows were written: the whole call is undone.
TEST_P(BadCreateTest, LeavesNothingBehind) {
    SeededServer server(20);
    std::string before = server.dump();
    try {
        server.call("sp_CreateSubscriber", GetParam().args);
        FAIL() << GetParam().what << ": created";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), -2147217900);
        EXPECT_EQ(e.description().rfind(GetParam().description, 0), 0u)
            << GetParam().what << ": " << e.description();
    }
    EXPECT_EQ(server.dump(), before) << GetParam().what;
    // The connection is usable and outside any transaction afterwards.
    EXPECT_NO_THROW(server.exec("BEGIN; COMMIT"));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, BadCreateTest,
    ::testing::Values(
        BadCreate{"alias taken", createArgs("INSTALLER", "4999", "defaultTemplate"),
                  "A subscriber with the alias 'INSTALLER' already exists."},
        BadCreate{"extension of a call handler", createArgs("someone", "3000", "defaultTemplate"),
                  "The extension 3000 is already in use in the dialing domain"},
        BadCreate{"extension at the branch", createArgs("someone", "200", "defaultTemplate"),
                  "The extension 200 is already in use in the dialing domain"},
        BadCreate{"extension not digits", createArgs("someone", "12a", "defaultTemplate"),
                  "The extension '12a' is not valid"},
        BadCreate{"unknown template", createArgs("someone", "4999", "noSuchTemplate"),
                  "The subscriber template 'noSuchTemplate' does not exist."},
        BadCreate{"empty alias", createArgs(" ", "4999", "defaultTemplate"),
                  "A subscriber needs an alias."}));

TEST(CreateSubscriber, AnExtensionOfAnotherDialingDomainIsFree) {
    SeededServer server(5);
    // 300 is the partner site's own number; that site is outside the local dialing domain.
    EXPECT_NO_THROW(server.call("sp_CreateSubscriber", createArgs("p", "300", "defaultTemplate")));
    EXPECT_EQ(server.check(), std::vector<std::string>{});
}

TEST(CreateSubscriber, ADirectoryAccountBelongsToOneSubscriber) {
    SeededServer server(20);
    std::string taken = server.text("SELECT DirectoryID FROM Subscriber WHERE rowid = 2");
    try {
        server.call("sp_CreateSubscriber", createArgs("twin", "4999", "defaultTemplate", taken));
        FAIL() << "created";
    } catch (const Error &e) {
        EXPECT_EQ(e.description(),
                  "The directory account " + taken + " already belongs to another subscriber.");
    }
}

TEST(CreateSubscriber, FailureInsideTheCallersTransactionUndoesOnlyTheCall) {
    SeededServer server(20);
    server.exec("BEGIN");
    server.exec("UPDATE COS SET MaxMsgLength = 77 WHERE Alias = 'execCos'");
    EXPECT_THROW(server.call("sp_CreateSubscriber", createArgs("x", "3000", "defaultTemplate")),
                 Error);
    EXPECT_EQ(server.text("SELECT MaxMsgLength FROM COS WHERE Alias = 'execCos'"), "77");
    server.exec("COMMIT");
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM Subscriber WHERE Alias = 'x'"), 0);
}

TEST(ModifySubscriber, PushesToTheDirectoryAndTakesTheMailboxBack) {
    SeededServer server(20);
    // A directory account whose subscriber was removed: create a subscriber on it again.
    const std::string old = server.subscriberId(1);
    const std::string account =
        server.text("SELECT DirectoryID FROM Subscriber WHERE SubscriberObjectID = ?", {old});
    const std::string mail = server.text("SELECT SMTPAddress FROM Subscriber WHERE "
                                         "SubscriberObjectID = ?",
                                         {old});
    server.call("sp_DeleteSubscriber",
                {guidArg("@SubscriberObjectID", old), intArg("@DirectorySync", 1),
                 guidArg("@DirectorySyncTicket", "{AAAAAAAA-0000-4000-8000-000000000000}")});
    auto row =
        server.call("sp_CreateSubscriber", createArgs("again", "4001", "defaultTemplate", account));
    const std::string id = std::get<std::string>(row->rows[0][0]);
    EXPECT_EQ(server.text("SELECT SMTPAddress FROM Subscriber WHERE SubscriberObjectID = ?", {id}),
              "");

    server.directorySync = "fail";
    server.call("sp_ModifySubscriber",
                {guidArg("@SubscriberObjectID", id), intArg("@DirectorySync", 1),
                 guidArg("@DirectorySyncTicket", "{AAAAAAAA-0000-4000-8000-000000000001}")});
    EXPECT_EQ(server.text("SELECT result FROM vw_DirectorySyncTicket WHERE Ticket = "
                          "'{AAAAAAAA-0000-4000-8000-000000000001}'"),
              "1");
    EXPECT_EQ(server.text("SELECT SMTPAddress FROM Subscriber WHERE SubscriberObjectID = ?", {id}),
              "");

    server.directorySync = "ok";
    server.call("sp_ModifySubscriber",
                {guidArg("@SubscriberObjectID", id), intArg("@DirectorySync", 1),
                 guidArg("@DirectorySyncTicket", "{AAAAAAAA-0000-4000-8000-000000000002}")});
    EXPECT_EQ(server.text("SELECT result FROM vw_DirectorySyncTicket WHERE Ticket = "
                          "'{AAAAAAAA-0000-4000-8000-000000000002}'"),
              "0");
    EXPECT_EQ(server.text("SELECT TarvoObjectID || '/' || VoiceEnabled || '/' || Extension || '/' "
                          "|| DisplayName FROM DirectoryObject WHERE DirectoryID = ?",
                          {account}),
              id + "/1/4001/New Person");
    EXPECT_EQ(server.text("SELECT SMTPAddress FROM Subscriber WHERE SubscriberObjectID = ?", {id}),
              mail);
    EXPECT_EQ(
        server.text("SELECT SMTPAddress FROM GlobalSubscriber WHERE SubscriberObjectID = ?", {id}),
        mail);

    // A subscriber without a directory account cannot be pushed: the ticket tells failure.
    server.call("sp_ModifySubscriber",
                {guidArg("@SubscriberObjectID", server.subscriberId(4)),
                 intArg("@DirectorySync", 1),
                 guidArg("@DirectorySyncTicket", "{AAAAAAAA-0000-4000-8000-000000000003}")});
    EXPECT_EQ(server.text("SELECT result FROM vw_DirectorySyncTicket WHERE Ticket = "
                          "'{AAAAAAAA-0000-4000-8000-000000000003}'"),
              "1");
}

TEST(ModifySubscriber, ATicketIsUsedOnce) {
    SeededServer server(5);
    std::vector<DbParam> args = {guidArg("@SubscriberObjectID", server.subscriberId(1)),
                                 intArg("@DirectorySync", 1), guidArg("@DirectorySyncTicket", kId)};
    server.call("sp_ModifySubscriber", args);
    std::string before = server.dump();
    EXPECT_THROW(server.call("sp_ModifySubscriber", args), Error);
    EXPECT_EQ(server.dump(), before);
}

TEST(ListSync, RebuildsMembersFromTheDirectoryGroups) {
    SeededServer server(60);
    std::string fresh = server.dump();
    // Lose some members and gain a wrong one.
    server.exec("DELETE FROM DistributionListMember WHERE rowid % 3 = 0");
    server.exec("INSERT INTO DistributionListMember SELECT DistributionListObjectID, ? FROM "
                "DistributionList WHERE Alias = 'finance'",
                {server.subscriberId(7)});
    std::string broken = server.dump();
    ASSERT_NE(broken, fresh);

    server.call("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 0)});
    EXPECT_EQ(server.dump(), broken) << "0 asks for nothing";
    server.directorySync = "never";
    server.call("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 1)});
    EXPECT_EQ(server.dump(), broken) << "no synchroniser running";

    server.directorySync = "ok";
    server.call("sp_SqlDirectorySync", {intArg("@SyncDistributionList", 1)});
    EXPECT_EQ(server.dump(), fresh);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM DistributionListMember"),
              server.count("SELECT COUNT(*) FROM DistributionListMember m JOIN "
                           "DistributionList l USING (DistributionListObjectID) JOIN "
                           "DirectoryGroupMember g ON g.GroupDirectoryID = l.DirectoryID "
                           "JOIN Subscriber s ON s.DirectoryID = g.MemberDirectoryID AND "
                           "s.SubscriberObjectID = m.MemberObjectID"));
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM DistributionListMember WHERE MemberObjectID=?",
                           {server.subscriberId(7)}),
              0);
    EXPECT_EQ(server.check(), std::vector<std::string>{});
}

} // namespace
