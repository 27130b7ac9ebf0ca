// The invariant check: a fresh server passes, and each kind of broken reference is named.
#include "platform/sqlite/ServerCheck.h"
#include "server_helpers.h"

#include <fstream>
#include <gtest/gtest.h>

using zeph::test::SeededServer;

namespace {

const char *kBogus = "{DEADBEEF-0000-4000-8000-000000000000}";

struct Plant {
    const char *kind; // the kind the check must name
    std::string sql;  // ?1 model subscriber id, ?2 its call handler id, ?3 a bogus id
};

class CheckTest : public ::testing::TestWithParam<Plant> {
protected:
    static void SetUpTestSuite() { s_server = new SeededServer(30, 5); }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    static SeededServer *s_server;
};
SeededServer *CheckTest::s_server = nullptr;

// Everything a plant does is undone afterwards, so the cases share one server.
TEST_P(CheckTest, NamesThePlantedViolation) {
    SeededServer &server = *s_server;
    const std::string subscriber = server.subscriberId(16);
    const std::string handler = server.callHandlerId(16);
    ASSERT_TRUE(zeph::sqlite::server::checkInvariants(server.db()).empty());

    server.exec("SAVEPOINT plant");
    std::string sql = GetParam().sql;
    for (const auto &[mark, value] :
         {std::pair<std::string, std::string>{"?1", subscriber}, {"?2", handler}, {"?3", kBogus}}) {
        for (auto at = sql.find(mark); at != std::string::npos; at = sql.find(mark))
            sql.replace(at, 2, "'" + value + "'");
    }
    server.exec(sql);
    auto violations = zeph::sqlite::server::checkInvariants(server.db());
    server.exec("ROLLBACK TO plant; RELEASE plant");

    bool named = false;
    for (const auto &v : violations)
        named = named || v.rfind(std::string(GetParam().kind) + ": ", 0) == 0;
    std::string all;
    for (const auto &v : violations)
        all += v + "\n";
    EXPECT_TRUE(named) << GetParam().kind << " not among:\n" << all;
    EXPECT_TRUE(zeph::sqlite::server::checkInvariants(server.db()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, CheckTest,
    ::testing::Values(
        Plant{"subscriber without primary call handler",
              "UPDATE Subscriber SET CallHandlerObjectID = ?3 WHERE SubscriberObjectID = ?1"},
        Plant{"subscriber's call handler is not its primary call handler",
              "UPDATE CallHandler SET IsPrimary = 0 WHERE CallHandlerObjectID = ?2"},
        Plant{"subscriber's call handler is not its primary call handler",
              "UPDATE CallHandler SET AdministratorObjectID = (SELECT SubscriberObjectID FROM "
              "Subscriber WHERE Alias = 'installer') WHERE CallHandlerObjectID = ?2"},
        Plant{"call handler shared by subscribers",
              "UPDATE Subscriber SET CallHandlerObjectID = ?2 WHERE rowid = 18"},
        Plant{"subscriber's class of service missing",
              "UPDATE Subscriber SET COSObjectID = ?3 WHERE SubscriberObjectID = ?1"},
        Plant{"subscriber's location missing",
              "UPDATE Subscriber SET LocationObjectID = NULL WHERE SubscriberObjectID = ?1"},
        Plant{"subscriber without global subscriber row",
              "DELETE FROM GlobalSubscriber WHERE SubscriberObjectID = ?1"},
        Plant{"global subscriber row without subscriber",
              "INSERT INTO GlobalSubscriber (SubscriberObjectID, Alias) VALUES (?3, 'ghost')"},
        Plant{"global subscriber row names another call handler",
              "UPDATE GlobalSubscriber SET CallHandlerObjectID = ?3 WHERE SubscriberObjectID = ?1"},
        Plant{"subscriber's directory account missing",
              "DELETE FROM DirectoryObject WHERE TarvoObjectID = ?1"},
        Plant{"directory account names a missing object",
              "UPDATE DirectoryObject SET TarvoObjectID = ?3 WHERE TarvoObjectID = ?1"},
        Plant{"primary call handler without subscriber",
              "INSERT INTO CallHandler (CallHandlerObjectID, Alias, IsPrimary, "
              "LocationObjectID) SELECT ?3, 'stray', 1, LocationObjectID FROM Location "
              "WHERE IsLocal = 1"},
        Plant{"call handler's owner missing",
              "UPDATE CallHandler SET AdministratorObjectID = ?3 WHERE Alias = 'operator'"},
        Plant{"call handler's recipient missing",
              "UPDATE CallHandler SET RecipientObjectID = ?3 WHERE Alias = 'salesmenu'"},
        Plant{"call handler's location missing",
              "UPDATE CallHandler SET LocationObjectID = ?3 WHERE Alias = 'goodbye'"},
        Plant{"messaging rule without call handler",
              "UPDATE MessagingRule SET ParentObjectID = ?3 WHERE ParentObjectID = ?2 "
              "AND Alias = 'Busy'"},
        Plant{"contact rule without call handler",
              "UPDATE ContactRule SET ParentObjectID = ?3 WHERE ParentObjectID = ?2 "
              "AND Alias = 'Standard'"},
        Plant{"menu entry without call handler",
              "UPDATE MenuEntry SET ParentObjectID = ?3 WHERE ParentObjectID = ?2 AND Alias = '5'"},
        Plant{"menu entry's target missing", "DELETE FROM CallHandler WHERE Alias = 'billingmenu'"},
        Plant{"menu entry's target missing",
              "UPDATE Subscriber SET CallHandlerObjectID = ?3 WHERE SubscriberObjectID = ?1; "
              "UPDATE GlobalSubscriber SET CallHandlerObjectID = ?3 WHERE SubscriberObjectID = ?1; "
              "UPDATE CallHandler SET CallHandlerObjectID = ?3 WHERE CallHandlerObjectID = ?2"},
        Plant{"notification device without subscriber",
              "UPDATE NotificationDevice SET ParentObjectID = ?3 WHERE ParentObjectID = ?1 "
              "AND Alias = 'Pager'"},
        Plant{"notification rule without subscriber",
              "UPDATE NotificationRule SET ParentObjectID = ?3 WHERE ParentObjectID = ?1 "
              "AND Alias = 'Pager'"},
        Plant{"notification MWI without subscriber",
              "UPDATE NotificationMWI SET ParentObjectID = ?3 WHERE ParentObjectID = ?1"},
        Plant{"notification rule's device missing",
              "DELETE FROM NotificationDevice WHERE ParentObjectID = ?1 AND Alias = 'Pager'"},
        Plant{"distribution list member without list",
              "INSERT INTO DistributionListMember VALUES (?3, ?1)"},
        Plant{"distribution list member without subscriber",
              "INSERT INTO DistributionListMember SELECT DistributionListObjectID, ?3 "
              "FROM DistributionList WHERE Alias = 'sales'"},
        Plant{"distribution list's owner missing",
              "UPDATE DistributionList SET AdministratorObjectID = ?3 WHERE Alias = 'finance'"},
        Plant{"distribution list's directory group missing",
              "UPDATE DistributionList SET DirectoryID = ?3 WHERE Alias = 'finance'"},
        Plant{"interview handler's recipient missing",
              "UPDATE InterviewHandler SET RecipientObjectID = ?3 WHERE Alias = 'jobline'"},
        Plant{"subscriber template reference missing",
              "UPDATE SubscriberTemplate SET COSObjectID = ?3 WHERE Alias = 'salesTemplate'"},
        Plant{"subscriber template reference missing",
              "DELETE FROM CallHandlerTemplate WHERE CallHandlerTemplateObjectID = (SELECT "
              "CallHandlerTemplateObjectID FROM SubscriberTemplate WHERE Alias = "
              "'kioskTemplate')"},
        Plant{"extension without owner",
              "INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
              "LocationObjectID) SELECT ?3, 3, '77777', LocationObjectID FROM Location "
              "WHERE IsLocal = 1"},
        Plant{"extension without owner",
              "UPDATE DTMFAccessID SET ParentObjectIDType = 4 WHERE DTMFAccessID = '2500'"},
        Plant{"extension's location missing",
              "UPDATE DTMFAccessID SET LocationObjectID = ?3 WHERE ParentObjectID = ?1 "
              "AND IsPrimaryID = 0"},
        Plant{"subscriber without exactly one primary extension",
              "UPDATE DTMFAccessID SET IsPrimaryID = 0 WHERE ParentObjectID = ?1"},
        Plant{"subscriber without exactly one primary extension",
              "UPDATE DTMFAccessID SET IsPrimaryID = 1 WHERE ParentObjectID = ?1"},
        Plant{"object with more than one primary extension",
              "INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
              "IsPrimaryID, LocationObjectID) SELECT CallHandlerObjectID, 3, '77778', 1, "
              "LocationObjectID FROM CallHandler WHERE Alias = 'operator'"},
        Plant{"extension used twice at one location",
              "DROP INDEX IX_DTMFAccessID_Location; INSERT INTO DTMFAccessID (ParentObjectID, "
              "ParentObjectIDType, DTMFAccessID, IsPrimaryID, LocationObjectID) SELECT "
              "CallHandlerObjectID, 3, '4016', 0, LocationObjectID FROM CallHandler "
              "WHERE Alias = 'operator'"}));

TEST(Check, ViolationsOfOneKindAreCapped) {
    SeededServer server(80);
    server.exec("UPDATE Subscriber SET COSObjectID = '" + std::string(kBogus) +
                "' WHERE rowid <= 60");
    auto violations = server.check();
    ASSERT_EQ(violations.size(), static_cast<std::size_t>(zeph::sqlite::server::kMaxPerKind) + 1);
    EXPECT_EQ(violations.back(), "subscriber's class of service missing: 10 more of this kind");
    EXPECT_NE(violations.front().find(kBogus), std::string::npos) << violations.front();
}

TEST(Check, ADatabaseThatCannotBeCheckedIsAnError) {
    zeph::test::TempFolder folder;
    std::string error;
    EXPECT_FALSE(zeph::sqlite::checkServerDatabase(folder.path() + "/none.sqlite", error));
    EXPECT_NE(error.find("none.sqlite"), std::string::npos) << error;

    std::ofstream(folder.path() + "/junk.sqlite") << "this is not a database at all, not at all";
    error.clear();
    EXPECT_FALSE(zeph::sqlite::checkServerDatabase(folder.path() + "/junk.sqlite", error));
    EXPECT_FALSE(error.empty());

    // A database without the server's tables cannot pass either.
    SeededServer server(1);
    server.exec("DROP VIEW vw_DTMFAccessID_DialingDomain; DROP TABLE DTMFAccessID");
    error.clear();
    EXPECT_FALSE(zeph::sqlite::checkServerDatabase(server.databasePath(), error));
    EXPECT_NE(error.find("DTMFAccessID"), std::string::npos) << error;
}

} // namespace
