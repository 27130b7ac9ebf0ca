// Seeding: the same seed gives the same server, the seeded server holds what a reset needs to
// meet (and its deliberate oddities), and a fresh server passes the check.
#include "server_helpers.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using zeph::test::SeededServer;

namespace {

// Every file below a folder with its content, in a fixed order.
std::string files(const std::string &folder) {
    std::map<std::string, std::string> all;
    for (auto &entry : fs::recursive_directory_iterator(folder)) {
        std::string name = fs::relative(entry.path(), folder).string();
        if (name.rfind("TarvoDb.sqlite", 0) == 0)
            continue;
        std::string content;
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream s;
            s << in.rdbuf();
            content = s.str();
        }
        all[name] = content;
    }
    std::string out;
    for (const auto &[name, content] : all)
        out += name + "\n" + content + "\n";
    return out;
}

// The database's content with the host folder (which full paths name) written as "<host>".
std::string content(const SeededServer &server) {
    std::string dump = server.dump();
    for (auto at = dump.find(server.folder()); at != std::string::npos;
         at = dump.find(server.folder(), at))
        dump.replace(at, server.folder().size(), "<host>");
    return dump;
}

} // namespace

TEST(Seed, SameSeedGivesTheSameServer) {
    SeededServer a(40, 7), b(40, 7);
    EXPECT_EQ(content(a), content(b));
    EXPECT_NE(a.dump().find(a.folder()), std::string::npos) << "a full path names the host";
    EXPECT_EQ(files(a.folder()), files(b.folder()));
}

TEST(Seed, AnotherSeedGivesAnotherServer) {
    SeededServer a(40, 7), b(40, 8);
    EXPECT_NE(a.dump(), b.dump());
    EXPECT_NE(a.text("SELECT SubscriberObjectID FROM Subscriber ORDER BY rowid"),
              b.text("SELECT SubscriberObjectID FROM Subscriber ORDER BY rowid"));
    // The numbering of extensions is the same on every host.
    EXPECT_EQ(a.count("SELECT COUNT(*) FROM vw_Subscriber WHERE DTMFAccessID = '4016'"), 1);
    EXPECT_EQ(b.count("SELECT COUNT(*) FROM vw_Subscriber WHERE DTMFAccessID = '4016'"), 1);
}

TEST(Seed, FreshServerPassesTheCheck) {
    for (int subscribers : {0, 1, 5, 40, 300}) {
        SeededServer server(subscribers, 3);
        EXPECT_EQ(server.count("SELECT COUNT(*) FROM Subscriber"), subscribers);
        EXPECT_EQ(server.check(), std::vector<std::string>{}) << subscribers << " subscribers";
    }
}

TEST(Seed, TheProgramsViewsAnswer) {
    SeededServer server(40);
    for (const char *sql : {"Select * from vw_CallHandler_NonPrimary order by CallHandlerObjectID",
                            "Select * from vw_CallHandler_Primary order by CallHandlerObjectID",
                            "Select * from vw_Subscriber order by SubscriberObjectID",
                            "Select * from vw_SubscriberTemplate", "Select * from vw_COS",
                            "SELECT * FROM vw_DirectorySyncTicket"}) {
        EXPECT_NO_THROW(server.count(std::string("SELECT COUNT(*) FROM (") + sql + ")")) << sql;
    }
    // One primary call handler row per subscriber, carrying the subscriber's extension.
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_CallHandler_Primary"), 40);
    EXPECT_EQ(server.text("SELECT DTMFAccessID FROM vw_CallHandler_Primary "
                          "WHERE CallHandlerObjectID = ?",
                          {server.callHandlerId(16)}),
              "4016");
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_Subscriber"), 40);
    // The extension range compares numbers: 9 to 10 does not find 100 (a location's).
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_DTMFAccessID WHERE "
                           "vw_DTMFAccessID.DTMFAccessID<= CAST(? as BigInt) AND "
                           "vw_DTMFAccessID.DTMFAccessID>=CAST(? as BigInt)",
                           {std::string("4010"), std::string("4008")}),
              3);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_DTMFAccessID WHERE DTMFAccessID <= "
                           "CAST('10' as BigInt) AND DTMFAccessID >= CAST('9' as BigInt)"),
              0);
    // Names compare without letter case, as on the server.
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM SUBSCRIBER WHERE alias = 'INSTALLER'"), 1);
    EXPECT_EQ(server.text("SELECT KeyColumn FROM zeph_ViewKey WHERE ViewName = 'vw_subscriber'"),
              "SubscriberObjectID");
}

TEST(Seed, EveryTableHasADeclaredPrimaryKey) {
    SeededServer server(0);
    for (const auto &[table, rows] : server.tableCounts()) {
        if (table == "sqlite_stat1")
            continue;
        EXPECT_GT(server.count("SELECT COUNT(*) FROM pragma_table_info(?) WHERE pk > 0", {table}),
                  0)
            << table;
    }
}

TEST(Seed, TemplatesDifferFromTheSeededSubscribers) {
    SeededServer server(200);
    // No seeded subscriber shares a class of service, a language or a message length with
    // any template, so a reset shows in every one of them.
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM Subscriber s JOIN SubscriberTemplate t "
                           "ON t.COSObjectID = s.COSObjectID WHERE s.Undeletable = 0"),
              0);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM Subscriber s JOIN SubscriberTemplate t "
                           "ON t.Language = s.Language"),
              0);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM CallHandler c JOIN CallHandlerTemplate t "
                           "ON t.MaxMsgLength = c.MaxMsgLength WHERE c.IsPrimary = 1"),
              0);
    // Two templates and two classes of service share a display name.
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_SubscriberTemplate WHERE TextName = "
                           "'Sales Staff'"),
              2);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_COS WHERE TextName = 'Restricted'"), 2);
    // The kiosk template gives no message waiting indicator.
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM NotificationMWI n JOIN SubscriberTemplate t "
                           "ON t.SubscriberTemplateObjectID = n.ParentObjectID "
                           "WHERE t.Alias = 'kioskTemplate'"),
              0);
}

TEST(Seed, DeliberateOddities) {
    SeededServer server(40);
    // Alternate extensions: one subscriber with twelve.
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_DTMFAccessID WHERE ParentObjectID = ? "
                           "and IsPrimaryID=0",
                           {server.subscriberId(2)}),
              12);
    // Extension conflicts in the dialing domain: with a call handler and a list of the branch.
    for (const char *ext : {"4003", "4014"}) {
        EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_DTMFAccessID_DialingDomain "
                               "WHERE DTMFAccessID = ?",
                               {std::string(ext)}),
                  2)
            << ext;
        EXPECT_EQ(server.text("SELECT ObjectType FROM vw_DTMFAccessID_DialingDomain "
                              "WHERE DTMFAccessID = ?",
                              {std::string(ext)}),
                  "1")
            << "the subscriber comes first";
    }
    // The same extension in another dialing domain is no conflict.
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM DTMFAccessID WHERE DTMFAccessID = '4015'"), 2);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_DTMFAccessID_DialingDomain "
                           "WHERE DTMFAccessID = '4015'"),
              1);
    EXPECT_EQ(server.text("SELECT DirectoryID FROM vw_Subscriber WHERE DTMFAccessID = '4004'"), "");
    EXPECT_EQ(server.text("SELECT SMTPAddress FROM vw_Subscriber WHERE DTMFAccessID = '4005'"), "");
    std::string home =
        server.text("SELECT HomeServer FROM vw_Subscriber WHERE DTMFAccessID = '4006'");
    std::string smtp =
        server.text("SELECT SMTPAddress FROM vw_Subscriber WHERE DTMFAccessID = '4006'");
    ASSERT_FALSE(smtp.empty());
    EXPECT_FALSE(fs::exists(server.mailstore() + "/" + home + "/" + smtp));
    EXPECT_EQ(server.text("SELECT SubscriberType FROM Subscriber WHERE SubscriberObjectID = ?",
                          {server.subscriberId(7)}),
              "2");
    EXPECT_EQ(server.text("SELECT SubscriberType FROM Subscriber WHERE SubscriberObjectID = ?",
                          {server.subscriberId(8)}),
              "5");
    EXPECT_EQ(server.text("SELECT LastName FROM vw_Subscriber WHERE DTMFAccessID = '4009'"),
              "O'Brien");
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM vw_Subscriber WHERE DTMFAccessID = '4010' "
                           "AND FirstName IS NULL AND LastName IS NULL"),
              1);
    EXPECT_EQ(server.text("SELECT Undeletable FROM Subscriber WHERE Alias = 'installer'"), "1");
    // The auto attendant sends callers to subscribers' call handlers.
    EXPECT_GE(server.count("SELECT COUNT(*) FROM MenuEntry m JOIN CallHandler ch "
                           "ON ch.CallHandlerObjectID = m.TargetHandlerObjectID "
                           "JOIN CallHandler owner ON owner.CallHandlerObjectID = m.ParentObjectID "
                           "WHERE ch.IsPrimary = 1 AND owner.IsPrimary = 0"),
              3);
    EXPECT_GE(server.count("SELECT COUNT(*) FROM MenuEntry WHERE TargetHandlerObjectID = ?",
                           {server.callHandlerId(16)}),
              3);
    // Two telephone-system integrations: switch 0 (or none) and switch 1.
    EXPECT_GT(server.count("SELECT COUNT(*) FROM vw_Subscriber WHERE SwitchID = 0"), 0);
    EXPECT_GT(server.count("SELECT COUNT(*) FROM Subscriber WHERE SwitchID = 1"), 0);
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM Subscriber WHERE SwitchID NOT IN (0, 1)"), 0);
    EXPECT_GE(server.count("SELECT COUNT(DISTINCT HomeServer) FROM vw_Subscriber"), 2);
}

TEST(Seed, RecordingsAndMailboxes) {
    SeededServer server(40);
    const std::string stream = server.rootPath() + "Stream Files/";
    // Relative voice names and greetings are files below the stream folder.
    std::string voice =
        server.text("SELECT StreamPath FROM vw_Subscriber WHERE DTMFAccessID = '4016'");
    ASSERT_FALSE(voice.empty());
    ASSERT_TRUE(fs::is_regular_file(stream + voice));
    std::ifstream in(stream + voice, std::ios::binary);
    std::string head(12, '\0');
    in.read(head.data(), 12);
    EXPECT_EQ(head.substr(0, 4), "RIFF");
    EXPECT_EQ(head.substr(8, 4), "WAVE");
    EXPECT_GE(fs::file_size(stream + voice), 300u);
    EXPECT_GE(server.count("SELECT COUNT(*) FROM MessagingRule WHERE ParentObjectID = ? "
                           "AND StreamPath IS NOT NULL",
                           {server.callHandlerId(16)}),
              1);
    // A voice name given as a full path.
    std::string full =
        server.text("SELECT StreamPath FROM vw_Subscriber WHERE DTMFAccessID = '4011'");
    EXPECT_TRUE(fs::path(full).is_absolute()) << full;
    EXPECT_TRUE(fs::is_regular_file(full));
    // Read-only recordings.
    std::string readOnly =
        server.text("SELECT StreamPath FROM MessagingRule WHERE ParentObjectID = ? "
                    "AND StreamPath IS NOT NULL",
                    {server.callHandlerId(12)});
    ASSERT_FALSE(readOnly.empty());
    EXPECT_EQ(fs::status(stream + readOnly).permissions() & fs::perms::owner_write,
              fs::perms::none);
    // Paths whose files are missing.
    std::string missing =
        server.text("SELECT StreamPath FROM vw_Subscriber WHERE DTMFAccessID = '4013'");
    ASSERT_FALSE(missing.empty());
    EXPECT_FALSE(fs::exists(stream + missing));
    // Every recording path below the stream folder that is not one of the missing ones exists.
    sqlite3 *db = server.db();
    (void)db;
    EXPECT_EQ(server.count("SELECT COUNT(*) FROM MessagingRule WHERE StreamPath IS NOT NULL "
                           "AND ParentObjectID <> ?",
                           {server.callHandlerId(13)}),
              server.count("SELECT COUNT(*) FROM MessagingRule WHERE StreamPath IS NOT NULL") - 2);
    // Mailboxes with messages.
    std::string home =
        server.text("SELECT HomeServer FROM vw_Subscriber WHERE DTMFAccessID = '4016'");
    std::string smtp =
        server.text("SELECT SMTPAddress FROM vw_Subscriber WHERE DTMFAccessID = '4016'");
    fs::path box = fs::path(server.mailstore()) / home / smtp;
    for (const char *folder : {"Inbox", "Sent Items", "Deleted Items"})
        EXPECT_TRUE(fs::is_directory(box / folder)) << folder;
    int inbox = 0;
    for ([[maybe_unused]] auto &e : fs::directory_iterator(box / "Inbox"))
        ++inbox;
    EXPECT_EQ(inbox, 5);
}

TEST(Seed, ListMembersAreWhatTheDirectoryGroupsSay) {
    SeededServer server(120);
    std::string before = server.dump();
    EXPECT_GT(server.count("SELECT COUNT(*) FROM DistributionListMember"), 120);
    // Directory users that are not subscribers sit in the groups too.
    EXPECT_GT(server.count("SELECT COUNT(*) FROM DirectoryGroupMember g WHERE NOT EXISTS "
                           "(SELECT 1 FROM Subscriber s WHERE s.DirectoryID = "
                           "g.MemberDirectoryID)"),
              0);
    server.call("sp_SqlDirectorySync", {zeph::test::intArg("@SyncDistributionList", 1)});
    EXPECT_EQ(server.dump(), before);
}
