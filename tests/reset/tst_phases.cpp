// The reset engine's small pieces on their own: the object type words, the GUID texts, the
// mailbox clean-up against the stand-in's mail store and against stores that fail, and the
// run log's line observer.
#include "reset/CreateNewGuid.h"
#include "reset/GetObjectTypeName.h"
#include "reset/MailboxCleanup.h"
#include "support/TempHost.h"

#include "platform/sim/SimHost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

TEST(GetObjectTypeName, WordsForEveryKnownTypeAndUnknownForTheRest) {
    struct Case {
        std::int64_t type;
        const char *word;
    } cases[] = {
        {1, "Subscriber"},       {2, "Distribution List"}, {3, "Call Handler"}, {4, "Unknown"},
        {5, "Inteview Handler"}, {6, "Directory Handler"}, {7, "Unknown"},      {8, "Unknown"},
        {9, "Location Object"},  {0, "Unknown"},           {10, "Unknown"},     {-1, "Unknown"},
        {65537, "Unknown"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(GetObjectTypeName(c.type), c.word) << "type " << c.type;
}

class FixedGuids : public IGuidSource {
public:
    explicit FixedGuids(std::string text)
        : m_text(std::move(text)) {}
    std::string newGuid() override { return m_text; }

private:
    std::string m_text;
};

TEST(CreateNewGuid, CutsWhatFollowsTheClosingBrace) {
    // The scripting library's GUID text ends in two extra characters.
    FixedGuids guids(std::string("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}") + '\0' + 'x');
    EXPECT_EQ(CreateNewGuid(guids), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
}

TEST(CreateNewGuid, RefusesWhatIsNoGuid) {
    for (const char *bad :
         {"", "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FZ}",
          "{0A1B2C3D+4E5F-6071-8293-A4B5C6D7E8F9}", "{0A1B2C3D-4E5F}"}) {
        FixedGuids guids(bad);
        EXPECT_THROW(CreateNewGuid(guids), Error) << bad;
    }
}

TEST(CreateNewGuid, TheHostGivesFreshBracedGuids) {
    test::TempHost temp(0);
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        std::string guid = CreateNewGuid(*temp.host().guids);
        EXPECT_TRUE(isBracedGuid(guid)) << guid;
        EXPECT_EQ(guid.size(), 38u);
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 200u);
}

// --- mailbox clean-up ----------------------------------------------------------------------

class MailboxTest : public ::testing::Test {
protected:
    test::TempHost m_temp{0};
    std::unique_ptr<Logging> m_log;
    std::vector<std::string> m_lines;

    void SetUp() override {
        m_log = std::make_unique<Logging>(m_temp.host());
        m_log->WriteLogHeader(m_temp.programFolder() + "/run.TXT", false);
        m_log->setLineObserver([this](const std::string &line) { m_lines.push_back(line); });
    }

    std::string mailbox(const std::string &server, const std::string &address) {
        return sim::mailstorePath(m_temp.folder()) + "/" + server + "/" + address;
    }
    // A mailbox with the given number of messages per folder.
    void makeMailbox(const std::string &server, const std::string &address, int inbox, int sent,
                     int deleted) {
        const std::pair<const char *, int> folders[] = {
            {"Inbox", inbox}, {"Sent Items", sent}, {"Deleted Items", deleted}};
        for (const auto &[name, count] : folders) {
            std::string folder = mailbox(server, address) + "/" + name;
            fs::create_directories(folder);
            for (int i = 0; i < count; ++i)
                std::ofstream(folder + "/msg" + std::to_string(i) + ".eml") << "Subject: " << i;
        }
    }
    int messagesIn(const std::string &folder) {
        int n = 0;
        for ([[maybe_unused]] const auto &e : fs::directory_iterator(folder))
            ++n;
        return n;
    }
    int errorCount() const { return m_log->LogErrorCount(); }
};

const char *const kAdvice = ".  Make sure you are logged into the system with an account that has "
                            "send as/receive as and full mailstore rights on all mailstores that "
                            "home subscribers.";

TEST_F(MailboxTest, EmptiesTheThreeFoldersOneMessageAtATime) {
    makeMailbox("MAIL01", "jdoe@example.com", 5, 0, 2);
    EXPECT_TRUE(
        RemoveSubscriberMessages(m_temp.host().mail.get(), *m_log, "MAIL01", "jdoe@example.com"));
    std::vector<std::string> expected = {
        "    Removing messages for user with SMTP=jdoe@example.com",
        "        User has 5 messages in their inbox - deleting",
        "        Inbox messages deleted",
        "        User has 0 messages in their sent items folder - deleting",
        "        Sent items messages deleted",
        "        User has 2 messages in their deleted items folder - deleting",
        "        deleted items folder messages deleted",
        "    user mailbox cleaned",
    };
    EXPECT_EQ(m_lines, expected);
    EXPECT_EQ(errorCount(), 0);
    for (const char *folder : {"Inbox", "Sent Items", "Deleted Items"})
        EXPECT_EQ(messagesIn(mailbox("MAIL01", "jdoe@example.com") + "/" + folder), 0) << folder;
}

TEST_F(MailboxTest, AnUnresolvedMailboxIsReportedAndNothingIsDeleted) {
    makeMailbox("MAIL01", "other@example.com", 1, 1, 1);
    EXPECT_FALSE(
        RemoveSubscriberMessages(m_temp.host().mail.get(), *m_log, "MAIL01", "nobody@example.com"));
    std::vector<std::string> expected = {
        "    Removing messages for user with SMTP=nobody@example.com",
        std::string("(error) would not resolve the mailbox an SMTP address=nobody@example.com and "
                    "Exchange server name=MAIL01") +
            kAdvice,
    };
    EXPECT_EQ(m_lines, expected);
    EXPECT_EQ(errorCount(), 1);
    EXPECT_EQ(messagesIn(mailbox("MAIL01", "other@example.com") + "/Inbox"), 1);
}

TEST_F(MailboxTest, AFailedLogonIsReportedInBothForms) {
    EXPECT_FALSE(
        RemoveSubscriberMessages(m_temp.host().mail.get(), *m_log, "NOSERVER", "jdoe@example.com"));
    ASSERT_EQ(m_lines.size(), 3u);
    EXPECT_EQ(m_lines[1].rfind("(error):", 0), 0u) << m_lines[1];
    EXPECT_NE(m_lines[1].find(") in procedure RemoveSubscriberMessages of Module Module1"),
              std::string::npos);
    EXPECT_EQ(m_lines[2], std::string("(error) would not resolve the mailbox an SMTP "
                                      "address=jdoe@example.com and Exchange server "
                                      "name=NOSERVER") +
                              kAdvice);
    EXPECT_EQ(errorCount(), 2);
}

TEST_F(MailboxTest, WithoutTheMailLibraryNoSessionCanBeMade) {
    m_temp.set("mail-library", "missing");
    Logging log(m_temp.host());
    log.WriteLogHeader(m_temp.programFolder() + "/run2.TXT", false);
    std::vector<std::string> lines;
    log.setLineObserver([&](const std::string &line) { lines.push_back(line); });
    makeMailbox("MAIL01", "jdoe@example.com", 3, 0, 0);
    EXPECT_FALSE(
        RemoveSubscriberMessages(m_temp.host().mail.get(), log, "MAIL01", "jdoe@example.com"));
    std::vector<std::string> expected = {
        "    Removing messages for user with SMTP=jdoe@example.com",
        std::string("(error) could not log into mailbox with SMTP address=jdoe@example.com and "
                    "Exchange server name=MAIL01") +
            kAdvice,
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(log.LogErrorCount(), 1);
    EXPECT_EQ(messagesIn(mailbox("MAIL01", "jdoe@example.com") + "/Inbox"), 3);
}

// A store whose folders fail as the test says.
class ScriptedStore : public IMailStore {
public:
    struct FolderScript {
        bool opens = true;
        bool counts = true;
        std::vector<std::string> messages;
        std::set<std::string> undeletable;
        bool keepsDeleted = false; // reports a deletion but keeps the message
    };
    std::map<int, FolderScript> folders;
    std::string user = "jdoe";
    std::vector<std::string> deleted;

    class Folder : public IMailFolder {
    public:
        Folder(ScriptedStore &store, FolderScript &script)
            : m_store(store)
            , m_script(script) {}
        long messageCount() override {
            if (!m_script.counts)
                throw Error(-2147221233, "The messages cannot be counted.");
            return static_cast<long>(m_script.messages.size());
        }
        std::optional<std::string> firstMessage() override {
            if (m_script.messages.empty())
                return std::nullopt;
            return m_script.messages.front();
        }
        void deleteMessage(const std::string &id) override {
            if (m_script.undeletable.count(id))
                throw Error(-2147024891, "Access denied.");
            m_store.deleted.push_back(id);
            if (!m_script.keepsDeleted)
                m_script.messages.erase(m_script.messages.begin());
        }

    private:
        ScriptedStore &m_store;
        FolderScript &m_script;
    };
    class Session : public IMailSession {
    public:
        explicit Session(ScriptedStore &store)
            : m_store(store) {}
        void logon(const std::string &, const std::string &, bool, const std::string &) override {}
        std::string currentUser() override { return m_store.user; }
        std::unique_ptr<IMailFolder> defaultFolder(int number) override {
            FolderScript &script = m_store.folders[number];
            if (!script.opens)
                throw Error(-2147221233, "The folder cannot be opened.");
            return std::make_unique<Folder>(m_store, script);
        }

    private:
        ScriptedStore &m_store;
    };
    std::unique_ptr<IMailSession> createSession() override {
        return std::make_unique<Session>(*this);
    }
};

bool isGeneralMailboxError(const std::string &line) {
    return line.rfind("(error):", 0) == 0 &&
           line.find(") in procedure RemoveSubscriberMessages of Module Module1") !=
               std::string::npos;
}

TEST_F(MailboxTest, AFolderThatCannotBeOpenedOrCountedIsPassedOver) {
    ScriptedStore store;
    store.folders[kFolderInbox].opens = false;
    store.folders[kFolderSentItems].counts = false;
    store.folders[kFolderDeletedItems].messages = {"a", "b"};
    EXPECT_TRUE(RemoveSubscriberMessages(&store, *m_log, "MAIL01", "jdoe@example.com"));
    ASSERT_EQ(m_lines.size(), 6u);
    EXPECT_TRUE(isGeneralMailboxError(m_lines[1])) << m_lines[1];
    EXPECT_TRUE(isGeneralMailboxError(m_lines[2])) << m_lines[2];
    EXPECT_EQ(m_lines[3], "        User has 2 messages in their deleted items folder - deleting");
    EXPECT_EQ(m_lines[4], "        deleted items folder messages deleted");
    EXPECT_EQ(m_lines[5], "    user mailbox cleaned");
    EXPECT_EQ(store.deleted, (std::vector<std::string>{"a", "b"}));
}

TEST_F(MailboxTest, AMessageThatCannotBeDeletedEndsItsFolderOnly) {
    ScriptedStore store;
    store.folders[kFolderInbox].messages = {"a", "b", "c"};
    store.folders[kFolderInbox].undeletable = {"b"};
    store.folders[kFolderSentItems].messages = {"s"};
    EXPECT_TRUE(RemoveSubscriberMessages(&store, *m_log, "MAIL01", "jdoe@example.com"));
    EXPECT_EQ(store.deleted, (std::vector<std::string>{"a", "s"}));
    ASSERT_EQ(m_lines.size(), 9u);
    EXPECT_EQ(m_lines[1], "        User has 3 messages in their inbox - deleting");
    EXPECT_TRUE(isGeneralMailboxError(m_lines[2])) << m_lines[2];
    EXPECT_EQ(m_lines[3], "        Inbox messages deleted");
    EXPECT_EQ(m_lines[4], "        User has 1 messages in their sent items folder - deleting");
    EXPECT_EQ(errorCount(), 1);
}

TEST_F(MailboxTest, AStoreThatKeepsADeletedMessageDoesNotHoldTheRun) {
    ScriptedStore store;
    store.folders[kFolderInbox].messages = {"stuck"};
    store.folders[kFolderInbox].keepsDeleted = true;
    EXPECT_TRUE(RemoveSubscriberMessages(&store, *m_log, "MAIL01", "jdoe@example.com"));
    EXPECT_EQ(store.deleted, (std::vector<std::string>{"stuck"}));
    EXPECT_EQ(m_lines.back(), "    user mailbox cleaned");
}

TEST_F(MailboxTest, TheOwnerUnknownInAnyCaseIsUnresolved) {
    for (const char *owner : {"unknown", "UNKNOWN", "Unknown"}) {
        ScriptedStore store;
        store.user = owner;
        store.folders[kFolderInbox].messages = {"a"};
        m_lines.clear();
        EXPECT_FALSE(RemoveSubscriberMessages(&store, *m_log, "MAIL01", "x@example.com"));
        EXPECT_TRUE(store.deleted.empty());
        ASSERT_EQ(m_lines.size(), 2u);
        EXPECT_EQ(m_lines[1].rfind("(error) would not resolve the mailbox an SMTP address=", 0),
                  0u);
    }
}

// --- the run log's observer ------------------------------------------------------------------

TEST(LineObserver, IsToldEveryLineAfterTheFileHasIt) {
    test::TempHost temp(0);
    Logging log(temp.host());
    std::string path = temp.programFolder() + "/observed.TXT";
    std::vector<std::string> seen;
    std::vector<std::size_t> fileSizes;
    log.setLineObserver([&](const std::string &line) {
        seen.push_back(line);
        fileSizes.push_back(fs::file_size(path));
    });
    log.WriteLogHeader(path, false);
    ASSERT_EQ(seen.size(), 12u);
    log.WriteLogLine("(error) one");
    log.WriteLogLine("two");
    ASSERT_EQ(seen.size(), 14u);
    EXPECT_EQ(seen[12], "(error) one");
    EXPECT_EQ(seen[13], "two");
    EXPECT_GT(fileSizes[13], fileSizes[12]);
    EXPECT_EQ(log.LogErrorCount(), 1);
    log.setLineObserver(nullptr);
    log.WriteLogLine("three");
    EXPECT_EQ(seen.size(), 14u);
}

} // namespace
