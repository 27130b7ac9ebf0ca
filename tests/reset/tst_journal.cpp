// The recovery journal's file: what is written reads back, a line cut short by a crash is
// passed over, any other damage is refused with the line named, and a journal with work in it
// outlives the purge of old logs.
#include "log/Logging.h"
#include "reset/RecoveryJournal.h"
#include "support/FixedClock.h"
#include "support/TempHost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace zeph;

namespace {

class Journal : public testing::Test {
protected:
    void SetUp() override {
        // Two entries: the first finished, the second removed and created but not finished.
        std::filesystem::create_directories(host.programFolder());
        RecoveryJournal journal(*host.host().files, m_log);
        SubscriberSnapshot s;
        s.Alias = "o'neil\\tab";
        s.FirstName = "Ann\tMarie";
        s.LastName = "O'Neil\r\nJr";
        s.AlternateExtensions = {"5001", "5002", "not saved"};
        s.AlternateExtensionCount = 2;
        std::string problem;
        ASSERT_TRUE(journal.begin(s, "kioskTemplate", problem)) << problem;
        ASSERT_TRUE(journal.removalTicket("{T1}", problem));
        ASSERT_TRUE(journal.created({"{NEW-SUB}", "{NEW-CH}"}, problem));
        ASSERT_TRUE(journal.finished(problem));
        s.Alias = "second";
        ASSERT_TRUE(journal.begin(s, "defaultTemplate", problem));
        ASSERT_TRUE(journal.created({"{NEW-2}", "{NEW-CH-2}"}, problem));
        std::ifstream in(journalPath(m_log), std::ios::binary);
        m_text.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::optional<JournalFile> read(const std::string &content, std::string &problem) {
        std::ofstream(journalPath(m_log), std::ios::binary | std::ios::trunc) << content;
        return readJournal(*host.host().files, journalPath(m_log), problem);
    }
    test::TempHost host;
    const std::string m_log = host.programFolder() + "/Zephrane_Log_20261206_10_00_00.TXT";
    std::string m_text;
};

TEST_F(Journal, ReadsBackWithEveryCharacterPassesOverATornLineAndRefusesDamage) {
    // The program died while writing the last record: that record never counted.
    const std::string torn = m_text.substr(0, m_text.size() - 7);
    std::string problem;
    const std::optional<JournalFile> file = read(torn, problem);
    ASSERT_TRUE(file) << problem;
    EXPECT_TRUE(file->tornTail);
    EXPECT_EQ(file->logPath, m_log);
    ASSERT_EQ(file->entries.size(), 2u);
    const JournalEntry &first = file->entries[0];
    EXPECT_EQ(first.snapshot.Alias + first.snapshot.FirstName + first.snapshot.LastName,
              "o'neil\\tabAnn\tMarieO'Neil\r\nJr");
    EXPECT_EQ(first.snapshot.AlternateExtensions, (std::vector<std::string>{"5001", "5002"}))
        << "only the extensions counted as saved are journaled";
    EXPECT_EQ(first.templateAlias + first.removalTicket + first.created.newCallHandlerId,
              "kioskTemplate{T1}{NEW-CH}");
    const auto open = file->unfinished();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0]->snapshot.Alias, "second");
    EXPECT_TRUE(open[0]->created.newSubscriberId.empty());
    EXPECT_EQ(read(m_text, problem)->entries[1].created.newCallHandlerId, "{NEW-CH-2}");

    std::string flipped = m_text;
    flipped[m_text.find("second")] = 'S';
    for (const auto &[content, expected] :
         {std::pair{flipped, "is damaged at line 6: its checksum does not match"},
          {torn + "\r\n", "is damaged at line 7"},
          {std::string("not a journal\r\n"), "is damaged at line 1"}}) {
        EXPECT_FALSE(read(content, problem));
        EXPECT_NE(problem.find(expected), std::string::npos) << problem;
    }
}

TEST_F(Journal, ThePurgeOfOldLogsKeepsAJournalWithWorkInIt) {
    Logging log(host.host());
    // Both journals are older than the month the logs are kept.
    host.host().clock = std::make_unique<zeph::test::FixedClock>(std::chrono::system_clock::now() +
                                                                 std::chrono::hours(24 * 90));
    log.setPurgeGuard(
        [this](const std::string &path) { return journalMustBeKept(*host.host().files, path); });
    const std::string folder = log.logFolder();
    std::filesystem::create_directories(host.host().files->nativePath(folder));
    const std::string kept = folder + "\\Zephrane_Journal_20200101_10_00_00.txt";
    const std::string done = folder + "\\Zephrane_Journal_20200102_10_00_00.txt";
    std::filesystem::copy_file(journalPath(m_log), host.host().files->nativePath(kept));
    // Without the unfinished entry, what is left is all finished.
    std::string problem;
    ASSERT_TRUE(read(m_text.substr(0, m_text.rfind("\r\n", m_text.find("second")) + 2), problem));
    std::filesystem::copy_file(journalPath(m_log), host.host().files->nativePath(done));
    log.CleanupLogFiles();
    EXPECT_TRUE(host.host().files->fileExists(kept));
    EXPECT_FALSE(host.host().files->fileExists(done));
}

} // namespace
