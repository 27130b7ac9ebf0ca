// Seeding and the invariant check: the seed decides the server, a fresh server passes the check,
// and each class of broken reference is named.
#include "server_helpers.h"
#include "standin/server/ServerCheck.h"
#include "standin/server/ServerSeed.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using zeph::test::SeededServer;
namespace server = zeph::sqlite::server;

namespace {

// The database's rows and the names of the files beside it, the host folder written as "<host>".
std::string content(const SeededServer &s) {
    std::string out = s.dump();
    for (auto &entry : fs::recursive_directory_iterator(s.folder()))
        out += fs::relative(entry.path(), s.folder()).string() + "\n";
    for (auto at = out.find(s.folder()); at != std::string::npos; at = out.find(s.folder(), at))
        out.replace(at, s.folder().size(), "<host>");
    return out;
}

TEST(Seed, TheSeedDecidesTheServerAndAFreshServerPassesTheCheck) {
    SeededServer a(40, 7), b(40, 7), c(40, 8);
    EXPECT_EQ(content(a), content(b));
    EXPECT_NE(a.dump(), c.dump());
    EXPECT_EQ(c.count("SELECT COUNT(*) FROM vw_Subscriber WHERE DTMFAccessID = '4016'"), 1);
    // The extension range compares numbers: 9 to 10 does not find 100 (a location's). Every table
    // has a declared key, which saves find their rows by.
    const char *range = "SELECT COUNT(*) FROM vw_DTMFAccessID WHERE vw_DTMFAccessID.DTMFAccessID<= "
                        "CAST(? as BigInt) AND vw_DTMFAccessID.DTMFAccessID>=CAST(? as BigInt)";
    EXPECT_EQ(a.count(range, {std::string("4010"), std::string("4008")}), 3);
    EXPECT_EQ(a.count(range, {std::string("10"), std::string("9")}), 0);
    EXPECT_EQ(
        a.count("SELECT COUNT(*) FROM sqlite_schema m WHERE type = 'table' AND name NOT LIKE "
                "'sqlite%' AND NOT EXISTS (SELECT 1 FROM pragma_table_info(m.name) WHERE pk > 0)"),
        0);
    for (int subscribers : {0, 1, 300}) {
        SeededServer s(subscribers, 3);
        EXPECT_EQ(s.count("SELECT COUNT(*) FROM Subscriber"), subscribers);
        EXPECT_EQ(s.check(), std::vector<std::string>{}) << subscribers << " subscribers";
    }
}

// What one group of seeded subscribers (by index) carries: mailbox folders, messages in them
// and recorded greetings.
struct GroupLoad {
    std::int64_t mailboxes = 0;
    std::int64_t messages = 0;
    std::int64_t recordings = 0;
};

GroupLoad groupLoad(const std::string &folder, sqlite3 *db, int from, int to) {
    GroupLoad load;
    const std::string index = "(CAST(g.DTMFAccessID AS INTEGER) - 4000)";
    load.recordings = server::queryCount(
        db,
        "SELECT COUNT(*) FROM GlobalSubscriber g JOIN MessagingRule r ON r.ParentObjectID = "
        "g.CallHandlerObjectID WHERE r.StreamPath IS NOT NULL AND " +
            index + " >= ? AND " + index + " < ?",
        {std::int64_t{from}, std::int64_t{to}});
    for (int i = from; i < to; ++i) {
        const auto home = server::queryValue(
            db,
            "SELECT s.HomeServer || '/' || s.SMTPAddress FROM Subscriber s JOIN "
            "GlobalSubscriber g USING (SubscriberObjectID) WHERE g.DTMFAccessID = ?",
            {server::seededExtension(i)});
        if (!home || server::asText(*home).empty())
            continue;
        const fs::path box = fs::path(folder) / "mailstore" / server::asText(*home);
        if (!fs::is_directory(box))
            continue;
        ++load.mailboxes;
        for (const auto &entry : fs::recursive_directory_iterator(box))
            load.messages += entry.is_regular_file() ? 1 : 0;
    }
    return load;
}

// A large host's later subscribers are as busy as its first ones, so that a reset of a large
// host does the mailbox and recording work of a small one for every subscriber; a host made
// light on purpose keeps that work to its first subscribers.
TEST(Seed, EverySubscriberOfALargeHostIsAsBusyAsOnASmallOneUnlessMadeLight) {
    struct Case {
        int subscribers, busy, groupSize;
        bool laterBusy;
    };
    for (const Case c : {Case{2200, -1, 200, true}, Case{300, 100, 100, false}}) {
        SCOPED_TRACE(std::to_string(c.subscribers) + " subscribers, busy " +
                     std::to_string(c.busy));
        zeph::test::TempFolder temp;
        zeph::sqlite::SeedOptions options{c.subscribers, 5, temp.path() + "/Pradix/",
                                          temp.path() + "/mailstore", ""};
        options.busySubscribers = c.busy;
        const zeph::Status created =
            zeph::sqlite::createServerDatabase(temp.path() + "/TarvoDb.sqlite", options);
        ASSERT_TRUE(created) << created.error();
        const server::Connection db(temp.path() + "/TarvoDb.sqlite", false);
        const GroupLoad first = groupLoad(temp.path(), db.get(), 0, c.groupSize);
        const GroupLoad later =
            groupLoad(temp.path(), db.get(), c.subscribers - c.groupSize, c.subscribers);
        ASSERT_GT(first.mailboxes, c.groupSize / 2);
        ASSERT_GT(first.messages, first.mailboxes);
        ASSERT_GT(first.recordings, c.groupSize / 10);
        if (c.laterBusy) {
            // The same proportions, give or take the seed's chance.
            EXPECT_GT(later.mailboxes * 10, first.mailboxes * 8);
            EXPECT_GT(later.messages * 10, first.messages * 7);
            EXPECT_GT(later.recordings * 10, first.recordings * 7);
        } else {
            EXPECT_EQ(later.mailboxes, 0);
            EXPECT_LT(later.recordings * 5, first.recordings);
        }
        EXPECT_EQ(server::checkInvariants(db.get()), std::vector<std::string>{});
    }
}

TEST(Check, NamesEachPlantedViolation) {
    SeededServer s(30, 5);
    const std::string bogus = "'{DEADBEEF-0000-4000-8000-000000000000}'";
    const std::pair<const char *, const char *> plants[] = {
        // ?1 a subscriber, ?2 its handler
        {"subscriber without primary call handler",
         "UPDATE Subscriber SET CallHandlerObjectID = ?3 WHERE SubscriberObjectID = ?1"},
        {"call handler shared by subscribers",
         "UPDATE Subscriber SET CallHandlerObjectID = ?2 WHERE rowid = 18"},
        {"menu entry's target missing", "DELETE FROM CallHandler WHERE Alias = 'billingmenu'"},
        {"subscriber without exactly one primary extension",
         "UPDATE DTMFAccessID SET IsPrimaryID = 1 WHERE ParentObjectID = ?1"},
        {"extension used twice at one location",
         "DROP INDEX IX_DTMFAccessID_Location; INSERT INTO DTMFAccessID (ParentObjectID, "
         "ParentObjectIDType, DTMFAccessID, IsPrimaryID, LocationObjectID) SELECT "
         "CallHandlerObjectID, 3, '4016', 0, LocationObjectID FROM CallHandler WHERE Alias = "
         "'operator'"},
    };
    for (auto [kind, plant] : plants) {
        std::string sql = plant;
        for (const auto &[mark, value] : {std::pair{"?1", "'" + s.subscriberId(16) + "'"},
                                          {"?2", "'" + s.callHandlerId(16) + "'"},
                                          {"?3", bogus}}) {
            for (auto at = sql.find(mark); at != std::string::npos; at = sql.find(mark))
                sql.replace(at, 2, value);
        }
        s.exec("SAVEPOINT plant; " + sql);
        std::string all = "\n";
        for (const auto &v : server::checkInvariants(s.db()))
            all += v + "\n";
        s.exec("ROLLBACK TO plant; RELEASE plant");
        EXPECT_NE(all.find("\n" + std::string(kind) + ": "), std::string::npos) << all;
    }
    ASSERT_TRUE(server::checkInvariants(s.db()).empty());

    SeededServer many(80);
    many.exec("UPDATE Subscriber SET COSObjectID = " + bogus + " WHERE rowid <= 60");
    auto violations = many.check();
    ASSERT_EQ(violations.size(), static_cast<std::size_t>(server::kMaxPerKind) + 1);
    EXPECT_EQ(violations.back(), "subscriber's class of service missing: 10 more of this kind");
    EXPECT_NE(violations.front().find(bogus.substr(1, 36)), std::string::npos);
}

TEST(Check, ADatabaseThatCannotBeCheckedIsAnError) {
    SeededServer s(1);
    std::ofstream(s.folder() + "/junk.sqlite") << "this is not a database at all, not at all";
    s.exec("DROP VIEW vw_DTMFAccessID_DialingDomain; DROP TABLE DTMFAccessID");
    for (const auto &[path, named] : {std::pair{s.folder() + "/none.sqlite", "none.sqlite"},
                                      {s.folder() + "/junk.sqlite", ""},
                                      {s.databasePath(), "DTMFAccessID"}}) {
        const auto checked = zeph::sqlite::checkServerDatabase(path);
        ASSERT_FALSE(checked) << path;
        EXPECT_NE(checked.error().find(named), std::string::npos) << checked.error();
    }
}

} // namespace
