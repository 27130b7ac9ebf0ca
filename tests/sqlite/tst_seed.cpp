// Seeding: the same seed gives the same server, the seeded server holds what a reset needs to meet
// (and its deliberate oddities), and a fresh server passes the check.
#include "server_helpers.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using zeph::test::SeededServer;

namespace {

// The database's rows and every file beside it, with the host folder written as "<host>".
std::string content(const SeededServer &s) {
    std::string out = s.dump();
    for (auto &entry : fs::recursive_directory_iterator(s.folder())) {
        if (entry.path().filename().string().rfind("TarvoDb.sqlite", 0) == 0)
            continue;
        std::ostringstream bytes;
        if (entry.is_regular_file())
            bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
        out += fs::relative(entry.path(), s.folder()).string() + "\n" + bytes.str() + "\n";
    }
    for (auto at = out.find(s.folder()); at != std::string::npos; at = out.find(s.folder(), at))
        out.replace(at, s.folder().size(), "<host>");
    return out;
}

TEST(Seed, TheSeedDecidesTheServer) {
    SeededServer a(40, 7), b(40, 7), c(40, 8);
    EXPECT_NE(a.dump().find(a.folder()), std::string::npos) << "a full path names the host";
    EXPECT_EQ(content(a), content(b));
    EXPECT_NE(a.dump(), c.dump());
    // The numbering of extensions is the same on every host.
    EXPECT_EQ(c.count("SELECT COUNT(*) FROM vw_Subscriber WHERE DTMFAccessID = '4016'"), 1);
}

TEST(Seed, FreshServerPassesTheCheck) {
    for (int subscribers : {0, 1, 300}) {
        SeededServer s(subscribers, 3);
        EXPECT_EQ(s.count("SELECT COUNT(*) FROM Subscriber"), subscribers);
        EXPECT_EQ(s.check(), std::vector<std::string>{}) << subscribers << " subscribers";
    }
}

TEST(Seed, TheProgramsViewsAnswerAsOnTheServer) {
    SeededServer s(40);
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM vw_CallHandler_Primary"), 40);
    EXPECT_EQ(
        s.text("SELECT DTMFAccessID FROM vw_CallHandler_Primary WHERE CallHandlerObjectID = ?",
               {s.callHandlerId(16)}),
        "4016");
    // The extension range compares numbers: 9 to 10 does not find 100 (a location's).
    const char *range = "SELECT COUNT(*) FROM vw_DTMFAccessID WHERE vw_DTMFAccessID.DTMFAccessID<= "
                        "CAST(? as BigInt) AND vw_DTMFAccessID.DTMFAccessID>=CAST(? as BigInt)";
    EXPECT_EQ(s.count(range, {std::string("4010"), std::string("4008")}), 3);
    EXPECT_EQ(s.count(range, {std::string("10"), std::string("9")}), 0);
    // Names and values compare without letter case.
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM SUBSCRIBER WHERE alias = 'INSTALLER'"), 1);
    EXPECT_EQ(s.text("SELECT KeyColumn FROM zeph_ViewKey WHERE ViewName = 'vw_subscriber'"),
              "SubscriberObjectID");
    EXPECT_EQ(
        s.count("SELECT COUNT(*) FROM sqlite_schema m WHERE type = 'table' AND name NOT LIKE "
                "'sqlite%' AND NOT EXISTS (SELECT 1 FROM pragma_table_info(m.name) WHERE pk > 0)"),
        0)
        << "every table has a declared key";
}

TEST(Seed, DeliberateOddities) {
    SeededServer s(40);
    // No seeded subscriber shares a class of service with a template: a reset shows.
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM Subscriber s JOIN SubscriberTemplate t ON "
                      "t.COSObjectID = s.COSObjectID WHERE s.Undeletable = 0"),
              0);
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM vw_SubscriberTemplate WHERE TextName = 'Sales Staff'"),
              2);
    EXPECT_EQ(
        s.count("SELECT COUNT(*) FROM vw_DTMFAccessID WHERE ParentObjectID = ? and IsPrimaryID=0",
                {s.subscriberId(2)}),
        12);
    // Extension conflicts in the dialing domain, the subscriber first; none across domains.
    const char *domain =
        "SELECT COUNT(*) FROM vw_DTMFAccessID_DialingDomain WHERE DTMFAccessID = ?";
    EXPECT_EQ(s.count(domain, {std::string("4003")}), 2);
    EXPECT_EQ(
        s.text("SELECT ObjectType FROM vw_DTMFAccessID_DialingDomain WHERE DTMFAccessID = '4014'"),
        "1");
    EXPECT_EQ(s.count("SELECT COUNT(*) FROM DTMFAccessID WHERE DTMFAccessID = '4015'"), 2);
    EXPECT_EQ(s.count(domain, {std::string("4015")}), 1);
    EXPECT_EQ(s.text("SELECT DirectoryID FROM vw_Subscriber WHERE DTMFAccessID = '4004'"), "");
    EXPECT_EQ(s.text("SELECT LastName FROM vw_Subscriber WHERE DTMFAccessID = '4009'"), "O'Brien");
    EXPECT_GE(s.count("SELECT COUNT(*) FROM MenuEntry WHERE TargetHandlerObjectID = ?",
                      {s.callHandlerId(16)}),
              3);
}

TEST(Seed, RecordingsAndMailboxes) {
    SeededServer s(40);
    const std::string stream = s.rootPath() + "Stream Files/";
    auto of = [&](const char *column, int ext) {
        return s.text(std::string("SELECT ") + column +
                          " FROM vw_Subscriber WHERE DTMFAccessID = ?",
                      {std::to_string(4000 + ext)});
    };
    std::string head(12, '\0');
    std::ifstream(stream + of("StreamPath", 16), std::ios::binary).read(head.data(), 12);
    EXPECT_EQ(head.substr(0, 4) + head.substr(8, 4), "RIFFWAVE");
    EXPECT_TRUE(fs::is_regular_file(of("StreamPath", 11))); // a full path
    EXPECT_FALSE(fs::exists(stream + of("StreamPath", 13)));
    const std::string readOnly = s.text(
        "SELECT StreamPath FROM MessagingRule WHERE ParentObjectID = ? AND StreamPath IS NOT NULL",
        {s.callHandlerId(12)});
    EXPECT_EQ(fs::status(stream + readOnly).permissions() & fs::perms::owner_write,
              fs::perms::none);
    const fs::path inbox =
        fs::path(s.mailstore()) / of("HomeServer", 16) / of("SMTPAddress", 16) / "Inbox";
    EXPECT_EQ(std::distance(fs::directory_iterator(inbox), fs::directory_iterator()), 5);
    EXPECT_FALSE(fs::exists(fs::path(s.mailstore()) / of("HomeServer", 6) / of("SMTPAddress", 6)));
}

TEST(Seed, ListMembersAreWhatTheDirectoryGroupsSay) {
    SeededServer s(120);
    const std::string before = s.dump();
    EXPECT_GT(s.count("SELECT COUNT(*) FROM DistributionListMember"), 120);
    s.call("sp_SqlDirectorySync", {zeph::test::intArg("@SyncDistributionList", 1)});
    EXPECT_EQ(s.dump(), before);
}

} // namespace
