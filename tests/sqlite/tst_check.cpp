// The invariant check: a fresh server passes, and each class of broken reference is named.
#include "platform/sqlite/ServerCheck.h"
#include "server_helpers.h"

#include <fstream>
#include <gtest/gtest.h>

using zeph::test::SeededServer;
namespace server = zeph::sqlite::server;

namespace {

const std::string kBogus = "'{DEADBEEF-0000-4000-8000-000000000000}'";

struct Plant {
    const char *kind; // the kind the check must name
    const char *sql;  // ?1 model subscriber id, ?2 its call handler id, ?3 a bogus id
};

class CheckTest : public ::testing::TestWithParam<Plant> {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<SeededServer>(30, 5); }
    static void TearDownTestSuite() { s_server.reset(); }
    static inline std::unique_ptr<SeededServer> s_server;
};

// Each plant is rolled back afterwards, so the cases share one server.
TEST_P(CheckTest, NamesThePlantedViolation) {
    SeededServer &s = *s_server;
    ASSERT_TRUE(server::checkInvariants(s.db()).empty());
    std::string sql = GetParam().sql;
    for (const auto &[mark, value] : {std::pair{"?1", "'" + s.subscriberId(16) + "'"},
                                      {"?2", "'" + s.callHandlerId(16) + "'"},
                                      {"?3", kBogus}}) {
        for (auto at = sql.find(mark); at != std::string::npos; at = sql.find(mark))
            sql.replace(at, 2, value);
    }
    s.exec("SAVEPOINT plant; " + sql);
    std::string all = "\n";
    for (const auto &v : server::checkInvariants(s.db()))
        all += v + "\n";
    s.exec("ROLLBACK TO plant; RELEASE plant");
    EXPECT_NE(all.find("\n" + std::string(GetParam().kind) + ": "), std::string::npos) << all;
}

INSTANTIATE_TEST_SUITE_P(
    Representative, CheckTest,
    ::testing::Values(
        Plant{"subscriber without primary call handler",
              "UPDATE Subscriber SET CallHandlerObjectID = ?3 WHERE SubscriberObjectID = ?1"},
        Plant{"call handler shared by subscribers",
              "UPDATE Subscriber SET CallHandlerObjectID = ?2 WHERE rowid = 18"},
        Plant{"subscriber without global subscriber row",
              "DELETE FROM GlobalSubscriber WHERE SubscriberObjectID = ?1"},
        Plant{"menu entry's target missing", "DELETE FROM CallHandler WHERE Alias = 'billingmenu'"},
        Plant{"notification rule's device missing",
              "DELETE FROM NotificationDevice WHERE ParentObjectID = ?1 AND Alias = 'Pager'"},
        Plant{"subscriber without exactly one primary extension",
              "UPDATE DTMFAccessID SET IsPrimaryID = 1 WHERE ParentObjectID = ?1"},
        Plant{"extension used twice at one location",
              "DROP INDEX IX_DTMFAccessID_Location; INSERT INTO DTMFAccessID (ParentObjectID, "
              "ParentObjectIDType, DTMFAccessID, IsPrimaryID, LocationObjectID) SELECT "
              "CallHandlerObjectID, 3, '4016', 0, LocationObjectID FROM CallHandler WHERE Alias = "
              "'operator'"}));

TEST(Check, ViolationsOfOneKindAreCapped) {
    SeededServer s(80);
    s.exec("UPDATE Subscriber SET COSObjectID = " + kBogus + " WHERE rowid <= 60");
    auto violations = s.check();
    ASSERT_EQ(violations.size(), static_cast<std::size_t>(server::kMaxPerKind) + 1);
    EXPECT_EQ(violations.back(), "subscriber's class of service missing: 10 more of this kind");
    EXPECT_NE(violations.front().find(kBogus.substr(1, 36)), std::string::npos);
}

TEST(Check, ADatabaseThatCannotBeCheckedIsAnError) {
    zeph::test::TempFolder folder;
    std::ofstream(folder.path() + "/junk.sqlite") << "this is not a database at all, not at all";
    SeededServer s(1);
    s.exec("DROP VIEW vw_DTMFAccessID_DialingDomain; DROP TABLE DTMFAccessID");
    for (const auto &[path, named] : {std::pair{folder.path() + "/none.sqlite", "none.sqlite"},
                                      {folder.path() + "/junk.sqlite", ""},
                                      {s.databasePath(), "DTMFAccessID"}}) {
        std::string error;
        EXPECT_FALSE(zeph::sqlite::checkServerDatabase(path, error)) << path;
        EXPECT_NE(error.find(named), std::string::npos) << error;
        EXPECT_FALSE(error.empty()) << path;
    }
}

} // namespace
