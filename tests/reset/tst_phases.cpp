// The reset engine's small pieces on their own: the object type words, the GUID texts, and the
// mailbox clean-up against a failed logon and against stores that fail.
#include "reset/CreateNewGuid.h"
#include "reset/GetObjectTypeName.h"
#include "reset/MailboxCleanup.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace zeph;

namespace {

TEST(GetObjectTypeName, WordsForEveryKnownTypeAndUnknownForTheRest) {
    const char *const words[] = {"Unknown",           "Subscriber", "Distribution List",
                                 "Call Handler",      "Unknown",    "Inteview Handler",
                                 "Directory Handler", "Unknown",    "Unknown",
                                 "Location Object",   "Unknown"};
    for (std::int64_t type = 0; type <= 10; ++type)
        EXPECT_EQ(GetObjectTypeName(type), words[type]) << "type " << type;
}

class FixedGuids : public IGuidSource {
public:
    explicit FixedGuids(std::string text)
        : m_text(std::move(text)) {}
    std::string newGuid() override { return m_text; }

private:
    std::string m_text;
};

TEST(CreateNewGuid, CutsWhatFollowsTheClosingBraceAndRefusesWhatIsNoGuid) {
    // The scripting library's GUID text ends in two extra characters.
    FixedGuids guids(std::string("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}") + '\0' + 'x');
    EXPECT_EQ(CreateNewGuid(guids), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    for (const char *bad : {"", "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",
                            "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FZ}", "{0A1B2C3D-4E5F}"}) {
        FixedGuids badGuids(bad);
        EXPECT_THROW(CreateNewGuid(badGuids), Error) << bad;
    }
}

// --- mailbox clean-up ----------------------------------------------------------------------

class MailboxTest : public ::testing::Test {
protected:
    test::TempHost m_temp{0};
    Logging m_log{m_temp.host()};
    std::vector<std::string> m_lines;

    void SetUp() override {
        m_log.WriteLogHeader(m_temp.programFolder() + "/run.TXT", false);
        m_log.setLineObserver([this](const std::string &line) { m_lines.push_back(line); });
    }
    bool clean(IMailStore *store, const std::string &server = "MAIL01") {
        return RemoveSubscriberMessages(store, m_log, server, "jdoe@example.com");
    }
};

bool isGeneralMailboxError(const std::string &line) {
    return line.rfind("(error):", 0) == 0 &&
           line.find(") in procedure RemoveSubscriberMessages of Module Module1") !=
               std::string::npos;
}

TEST_F(MailboxTest, AFailedLogonIsReportedInBothForms) {
    EXPECT_FALSE(clean(m_temp.host().mail.get(), "NOSERVER"));
    ASSERT_EQ(m_lines.size(), 3u);
    EXPECT_TRUE(isGeneralMailboxError(m_lines[1])) << m_lines[1];
    EXPECT_EQ(m_lines[2].rfind("(error) would not resolve the mailbox an SMTP address=jdoe@example"
                               ".com and Exchange server name=NOSERVER.  Make sure",
                               0),
              0u);
    EXPECT_EQ(m_log.LogErrorCount(), 2);
}

// A store whose folders fail as the test says.
struct ScriptedStore : IMailStore {
    struct Box {
        bool opens = true, keepsDeleted = false; // keeps a message it reports deleted
        std::vector<std::string> messages;
        std::set<std::string> undeletable;
    };
    std::map<int, Box> folders;
    std::string user = "jdoe";
    std::vector<std::string> deleted;

    struct Folder : IMailFolder {
        Folder(ScriptedStore &s, Box &b)
            : store(s)
            , box(b) {}
        long messageCount() override { return static_cast<long>(box.messages.size()); }
        std::optional<std::string> firstMessage() override {
            return box.messages.empty() ? std::nullopt
                                        : std::optional<std::string>(box.messages.front());
        }
        void deleteMessage(const std::string &id) override {
            if (box.undeletable.count(id))
                throw Error(-2147024891, "Access denied.");
            store.deleted.push_back(id);
            if (!box.keepsDeleted)
                box.messages.erase(box.messages.begin());
        }
        ScriptedStore &store;
        Box &box;
    };
    struct Session : IMailSession {
        explicit Session(ScriptedStore &s)
            : store(s) {}
        void logon(const std::string &, const std::string &, bool, const std::string &) override {}
        std::string currentUser() override { return store.user; }
        std::unique_ptr<IMailFolder> defaultFolder(int number) override {
            if (!store.folders[number].opens)
                throw Error(-2147221233, "The folder cannot be opened.");
            return std::make_unique<Folder>(store, store.folders[number]);
        }
        ScriptedStore &store;
    };
    std::unique_ptr<IMailSession> createSession() override {
        return std::make_unique<Session>(*this);
    }
};

TEST_F(MailboxTest, EachFolderFaultEndsItsFolderOnlyAndNothingLoops) {
    ScriptedStore store;
    store.folders[kFolderInbox].opens = false;
    store.folders[kFolderSentItems].messages = {"a", "b", "c"};
    store.folders[kFolderSentItems].undeletable = {"b"};
    store.folders[kFolderDeletedItems].messages = {"stuck"};
    store.folders[kFolderDeletedItems].keepsDeleted = true;
    EXPECT_TRUE(clean(&store));
    EXPECT_EQ(store.deleted, (std::vector<std::string>{"a", "stuck"}));
    std::vector<std::string> lines(m_lines.begin() + 1, m_lines.end());
    for (std::string &line : lines)
        line = isGeneralMailboxError(line) ? "<error>" : line;
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "<error>", "        User has 3 messages in their sent items folder - deleting",
                  "<error>", "        Sent items messages deleted",
                  "        User has 1 messages in their deleted items folder - deleting",
                  "        deleted items folder messages deleted", "    user mailbox cleaned"}));
    EXPECT_EQ(m_log.LogErrorCount(), 2);
}

TEST_F(MailboxTest, TheOwnerUnknownInAnyCaseIsUnresolved) {
    ScriptedStore store;
    store.user = "UNKNOWN";
    store.folders[kFolderInbox].messages = {"a"};
    EXPECT_FALSE(clean(&store));
    EXPECT_TRUE(store.deleted.empty());
    ASSERT_EQ(m_lines.size(), 2u);
    EXPECT_EQ(m_lines[1].rfind("(error) would not resolve the mailbox an SMTP address=", 0), 0u);
}

} // namespace
