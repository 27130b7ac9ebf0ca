// The reset engine's small pieces on their own: the object type words, the
// failed-records file's fields and reasons, and the mailbox clean-up against stores that fail.
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "reset/FailedRecords.h"
#include "reset/GetObjectTypeName.h"
#include "reset/MailboxCleanup.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace zeph;

namespace {

TEST(GetObjectTypeName, WordsForEveryKnownTypeAndUnknownForTheRest) {
    std::string words;
    for (std::int64_t type = 0; type <= 10; ++type)
        words += GetObjectTypeName(type) + ",";
    EXPECT_EQ(words, "Unknown,Subscriber,Distribution List,Call Handler,Unknown,Inteview Handler,"
                     "Directory Handler,Unknown,Unknown,Location Object,Unknown,");
}

TEST(FailedRecords, TheFirstErrorLineOfEachSubscriberIsItsReasonAsOneImportableField) {
    FailedRecords records;
    records.beginSubscriber("a", "4001");
    records.observe("(warning) not an error");
    records.observe("Something (ERROR) in capitals");
    records.observe("(error) a second one");
    records.endSubscriber();
    records.beginSubscriber("c,d", "");
    records.observe("  (error):5 (x, y) in\r\nprocedure\tP  ");
    records.endSubscriber();
    EXPECT_EQ(records.lines(), (std::vector<std::string>{
                                   "alias,extension,reason",
                                   "a,4001,Something (ERROR) in capitals",
                                   "c;d,,(error):5 (x; y) in  procedure P",
                               }));
    EXPECT_EQ(failedRecordsField("   "), "");
    test::TempHost host(2, 1);
    EXPECT_THROW(records.open(*host.host().files, host.folder() + "/no/such/folder/x.csv"), Error);
}

TEST(FailedRecords, NoFieldCanRunInASpreadsheetAndNoNulIsWritten) {
    FailedRecords records;
    const std::pair<std::string, std::string> subscribers[] = {{"=cmd|' /C calc'!A0", "4001"},
                                                               {"-dash", "+4002"},
                                                               {"@at", ""},
                                                               {std::string("n\0ul", 4), ""}};
    for (const auto &[alias, extension] : subscribers) {
        records.beginSubscriber(alias, extension);
        records.observe("-(error) begins with a minus");
        records.endSubscriber();
    }
    EXPECT_EQ(records.lines(), (std::vector<std::string>{
                                   "alias,extension,reason",
                                   "'=cmd|' /C calc'!A0,4001,'-(error) begins with a minus",
                                   "'-dash,'+4002,'-(error) begins with a minus",
                                   "'@at,,'-(error) begins with a minus",
                                   "nul,,'-(error) begins with a minus",
                               }));
}

// Each record is in the file as soon as it is made, records made before the file was opened
// included; the closed file holds exactly the lines, each ended by CR LF.
TEST(FailedRecords, EachRecordIsInTheFileWhenItIsMadeAndTheClosedFileHoldsTheLines) {
    test::TempHost host(2, 1);
    IFileSystem &files = *host.host().files;
    const std::string path = host.folder() + "/Zephrane_Failed_x.csv";
    const auto content = [&] { return files.readFile(path).value_or("(none)"); };
    FailedRecords records;
    records.record("early", "4001", "not attempted: before the file");
    records.open(files, path);
    EXPECT_EQ(content(), "alias,extension,reason\r\nearly,4001,not attempted: before the file\r\n");
    records.beginSubscriber("a", "4002");
    records.observe("(error) first");
    EXPECT_EQ(content().substr(content().rfind("a,4002")), "a,4002,(error) first\r\n")
        << "appended before the subscriber ends";
    records.observe("(error) second");
    records.endSubscriber();
    records.sync();
    records.beginSubscriber("b", "4003");
    records.recordCurrent("skipped");
    records.endSubscriber();
    const Status closed = records.close();
    EXPECT_TRUE(closed) << (closed ? "" : closed.error());
    std::string expected;
    for (const std::string &line : records.lines())
        expected += line + "\r\n";
    EXPECT_EQ(content(), expected);
    EXPECT_EQ(records.lines().size(), 4u);
    // The name is this run's alone: a file already there is not taken over.
    FailedRecords again;
    EXPECT_THROW(again.open(files, path), Error);
    EXPECT_EQ(content(), expected);
}

// A mail store whose folders fail as the test says.
struct ScriptedStore : IMailStore {
    std::map<int, std::vector<std::string>> folders;
    std::set<int> closed;
    std::set<std::string> undeletable, kept; // kept: reported deleted, yet still there
    std::string user = "UNKNOWN";
    std::vector<std::string> deleted;

    struct Folder : IMailFolder {
        Folder(ScriptedStore &s, std::vector<std::string> &b)
            : store(s)
            , box(b) {}
        long messageCount() override { return static_cast<long>(box.size()); }
        std::optional<std::string> firstMessage() override {
            return box.empty() ? std::nullopt : std::optional<std::string>(box.front());
        }
        void deleteMessage(const std::string &id) override {
            if (store.undeletable.count(id))
                throw Error(-2147024891, "Access denied.");
            store.deleted.push_back(id);
            if (!store.kept.count(id))
                box.erase(box.begin());
        }
        ScriptedStore &store;
        std::vector<std::string> &box;
    };
    struct Session : IMailSession {
        explicit Session(ScriptedStore &s)
            : store(s) {}
        void logon(const std::string &, const std::string &, bool, const std::string &) override {}
        std::string currentUser() override { return store.user; }
        std::unique_ptr<IMailFolder> defaultFolder(int number) override {
            if (store.closed.count(number))
                throw Error(-2147221233, "The folder cannot be opened.");
            return std::make_unique<Folder>(store, store.folders[number]);
        }
        ScriptedStore &store;
    };
    std::unique_ptr<IMailSession> createSession() override {
        return std::make_unique<Session>(*this);
    }
};

TEST(RemoveSubscriberMessages, AnUnknownOwnerIsLeftAloneAndEachFolderFaultEndsOnlyItsFolder) {
    test::TempHost temp(0);
    Logging log(temp.host());
    log.WriteLogHeader(temp.programFolder() + "/run.TXT", false);
    std::vector<std::string> lines;
    log.setLineObserver([&](const std::string &line) { lines.push_back(line); });
    auto clean = [&](ScriptedStore &store) {
        lines.clear();
        return RemoveSubscriberMessages(&store, log, "MAIL01", "jdoe@example.com");
    };
    // The owner "Unknown" in any case: the mailbox did not resolve, nothing is deleted.
    ScriptedStore store;
    store.folders[kFolderInbox] = {"a"};
    EXPECT_FALSE(clean(store));
    EXPECT_TRUE(store.deleted.empty());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("(error) would not resolve the mailbox an SMTP address=", 0), 0u);

    // A folder that does not open, a message that is not deleted, one that stays: no loop.
    store.user = "jdoe";
    store.closed = {kFolderInbox};
    store.folders[kFolderSentItems] = {"a", "b", "c"};
    store.undeletable = {"b"};
    store.folders[kFolderDeletedItems] = {"stuck"};
    store.kept = {"stuck"};
    EXPECT_TRUE(clean(store));
    EXPECT_EQ(store.deleted, (std::vector<std::string>{"a", "stuck"}));
    for (std::string &line : lines) {
        if (line.rfind("(error):", 0) == 0 &&
            line.ends_with(") in procedure RemoveSubscriberMessages of Module Module1"))
            line = "<error>";
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "    Removing messages for user with SMTP=jdoe@example.com", "<error>",
                  "        User has 3 messages in their sent items folder - deleting", "<error>",
                  "        Sent items messages deleted",
                  "        User has 1 messages in their deleted items folder - deleting",
                  "        deleted items folder messages deleted", "    user mailbox cleaned"}));
    EXPECT_EQ(log.LogErrorCount(), 3);
}

} // namespace
