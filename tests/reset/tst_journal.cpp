// The recovery journal's file: what is written reads back, a line cut short by a crash is
// passed over, and any other damage is refused with the file and line named.
#include "log/Logging.h"
#include "reset/RecoveryJournal.h"
#include "support/FixedClock.h"
#include "support/TempHost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace zeph;
using zeph::test::TempHost;

namespace {

SubscriberSnapshot awkwardSubscriber() {
    SubscriberSnapshot s;
    s.ObjectID = "{11111111-2222-3333-4444-555555555555}";
    s.Alias = "o'neil\\tab";
    s.CallHandlerObjectID = "{AAAAAAAA-2222-3333-4444-555555555555}";
    s.FirstName = "Ann\tMarie";
    s.LastName = "O'Neil\r\nJr";
    s.DisplayName = "";
    s.DTMFAccessID = "4711";
    s.DirectoryID = "{BBBBBBBB-2222-3333-4444-555555555555}";
    s.AlternateExtensions = {"5001", "5002", "not saved"};
    s.AlternateExtensionCount = 2;
    return s;
}

class Journal : public testing::Test {
protected:
    std::string logPath() const {
        return host.programFolder() + "/Zephrane_Log_20261206_10_00_00.TXT";
    }
    std::string text() const {
        std::ifstream in(journalPath(logPath()), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void replaceText(const std::string &content) const {
        std::ofstream(journalPath(logPath()), std::ios::binary | std::ios::trunc) << content;
    }
    std::optional<JournalFile> read(std::string &problem) {
        return readJournal(*host.host().files, journalPath(logPath()), problem);
    }
    // Two entries: the first finished, the second removed and created but not finished.
    void writeTwoEntries() {
        std::filesystem::create_directories(host.programFolder());
        RecoveryJournal journal(*host.host().files, logPath());
        std::string problem;
        ASSERT_TRUE(journal.begin(awkwardSubscriber(), "kioskTemplate", problem)) << problem;
        ASSERT_TRUE(journal.removalTicket("{T1}", problem));
        ASSERT_TRUE(journal.created({"{NEW-SUB}", "{NEW-CH}"}, problem));
        ASSERT_TRUE(journal.finished(problem));
        SubscriberSnapshot second = awkwardSubscriber();
        second.Alias = "second";
        second.AlternateExtensionCount = 0;
        ASSERT_TRUE(journal.begin(second, "defaultTemplate", problem));
        ASSERT_TRUE(journal.created({"{NEW-2}", "{NEW-CH-2}"}, problem));
    }
    TempHost host;
};

} // namespace

TEST_F(Journal, WhatIsWrittenReadsBackWithEveryCharacter) {
    writeTwoEntries();
    std::string problem;
    const std::optional<JournalFile> file = read(problem);
    ASSERT_TRUE(file) << problem;
    EXPECT_EQ(file->logPath, logPath());
    ASSERT_EQ(file->entries.size(), 2u);
    const JournalEntry &first = file->entries[0];
    const SubscriberSnapshot expected = awkwardSubscriber();
    EXPECT_EQ(first.snapshot.Alias, expected.Alias);
    EXPECT_EQ(first.snapshot.FirstName, expected.FirstName);
    EXPECT_EQ(first.snapshot.LastName, expected.LastName);
    EXPECT_EQ(first.snapshot.DisplayName, "");
    EXPECT_EQ(first.snapshot.AlternateExtensions, (std::vector<std::string>{"5001", "5002"}))
        << "only the extensions counted as saved are journaled";
    EXPECT_EQ(first.templateAlias, "kioskTemplate");
    EXPECT_EQ(first.removalTicket, "{T1}");
    EXPECT_TRUE(first.finished);
    const auto open = file->unfinished();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0]->snapshot.Alias, "second");
    EXPECT_EQ(open[0]->created.newCallHandlerId, "{NEW-CH-2}");
}

TEST_F(Journal, ALineCutShortByACrashIsPassedOverAnythingElseIsDamage) {
    writeTwoEntries();
    const std::string whole = text();
    // The program died while writing the last record: that record never counted.
    const std::string torn = whole.substr(0, whole.size() - 7);
    struct Case {
        std::string content;
        const char *problem; // "" when the file must read
    };
    std::string flipped = whole;
    flipped[whole.find("second")] = 'S';
    std::string unknown = whole;
    unknown.replace(unknown.find("created\t2"), 7, "destroy");
    const Case cases[] = {
        {torn, ""},
        {"", ""},
        {flipped, "is damaged at line 6: its checksum does not match"},
        {torn + "\r\n", "is damaged at line 7"},
        {unknown, "is damaged at line 7"},
        {"not a journal\r\n", "is damaged at line 1"},
    };
    for (const Case &c : cases) {
        replaceText(c.content);
        std::string problem;
        const std::optional<JournalFile> file = read(problem);
        if (*c.problem == '\0') {
            EXPECT_TRUE(file) << problem;
        } else {
            EXPECT_FALSE(file);
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        }
    }
    replaceText(torn);
    std::string problem;
    const std::optional<JournalFile> file = read(problem);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->tornTail);
    EXPECT_TRUE(file->entries[1].created.newSubscriberId.empty());
}

TEST_F(Journal, ThePurgeOfOldLogsKeepsAJournalWithWorkInIt) {
    writeTwoEntries();
    Logging log(host.host());
    // Both journals are older than the month the logs are kept.
    host.host().clock = std::make_unique<zeph::test::FixedClock>(std::chrono::system_clock::now() +
                                                                 std::chrono::hours(24 * 90));
    log.setPurgeGuard(
        [this](const std::string &path) { return journalMustBeKept(*host.host().files, path); });
    const std::string folder = log.logFolder();
    std::filesystem::create_directories(host.host().files->nativePath(folder));
    const std::string kept = folder + "\\" + "Zephrane_Journal_20200101_10_00_00.txt";
    const std::string done = folder + "\\" + "Zephrane_Journal_20200102_10_00_00.txt";
    std::filesystem::copy_file(journalPath(logPath()), host.host().files->nativePath(kept));
    const std::string otherLog = host.programFolder() + "/Zephrane_Log_20261207_10_00_00.TXT";
    RecoveryJournal finished(*host.host().files, otherLog);
    std::string problem;
    ASSERT_TRUE(finished.begin(awkwardSubscriber(), "t", problem));
    ASSERT_TRUE(finished.created({"{A}", "{B}"}, problem));
    ASSERT_TRUE(finished.finished(problem));
    std::filesystem::copy_file(journalPath(otherLog), host.host().files->nativePath(done));
    log.CleanupLogFiles();
    EXPECT_TRUE(host.host().files->fileExists(kept));
    EXPECT_FALSE(host.host().files->fileExists(done));
}
