// The recovery journal's file: what is written reads back, a line cut short by a crash is
// passed over, any other damage is refused with the line named, and a journal with work in it
// outlives the purge of old logs.
#include "log/Logging.h"
#include "reset/RecoveryJournal.h"
#include "support/FixedClock.h"
#include "support/Succeeded.h"
#include "support/TempHost.h"

#include <cstdint>
#include <cstdio>
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
        RecoveryJournal journal(*host.host().files, m_log, kServer);
        SubscriberSnapshot s;
        s.Alias = "o'neil\\tab";
        s.FirstName = "Ann\tMarie";
        s.LastName = "O'Neil\r\nJr";
        s.AlternateExtensions = {"5001", "5002", "not saved"};
        s.AlternateExtensionCount = 2;
        ASSERT_TRUE(test::succeeded(journal.begin(s, "kioskTemplate", "")));
        ASSERT_TRUE(test::succeeded(journal.removalTicket("{T1}")));
        ASSERT_TRUE(test::succeeded(journal.created({"{NEW-SUB}", "{NEW-CH}"}, "")));
        ASSERT_TRUE(test::succeeded(journal.finished()));
        s.Alias = "second";
        ASSERT_TRUE(test::succeeded(journal.begin(s, "defaultTemplate", "")));
        ASSERT_TRUE(test::succeeded(journal.created({"{NEW-2}", "{NEW-CH-2}"}, "")));
        std::ifstream in(journalPath(m_log), std::ios::binary);
        m_text.assign(std::istreambuf_iterator<char>(in), {});
    }
    Result<JournalFile> read(const std::string &content) {
        std::ofstream(journalPath(m_log), std::ios::binary | std::ios::trunc) << content;
        return readJournal(*host.host().files, journalPath(m_log));
    }
    static constexpr const char *kServer = "stand-in server {S1}";
    test::TempHost host;
    const std::string m_log = host.programFolder() + "/Zephrane_Log_20261206_10_00_00.TXT";
    std::string m_text;
};

TEST_F(Journal, ReadsBackWithEveryCharacterPassesOverATornLineAndRefusesDamage) {
    // The program died while writing the last record: that record never counted.
    const std::string torn = m_text.substr(0, m_text.size() - 7);
    const Result<JournalFile> file = read(torn);
    ASSERT_TRUE(test::succeeded(file));
    EXPECT_TRUE(file->tornTail);
    EXPECT_EQ(file->logPath, m_log);
    EXPECT_EQ(file->server, kServer);
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
    EXPECT_EQ(read(m_text)->entries[1].created.newCallHandlerId, "{NEW-CH-2}");

    std::string flipped = m_text;
    flipped[m_text.find("second")] = 'S';
    for (const auto &[content, expected] :
         {std::pair{flipped, "is damaged at line 6: its checksum does not match"},
          {torn + "\r\n", "is damaged at line 7"},
          {std::string("not a journal\r\n"), "is damaged at line 1"}}) {
        const Result<JournalFile> damaged = read(content);
        ASSERT_FALSE(damaged);
        EXPECT_NE(damaged.error().find(expected), std::string::npos) << damaged.error();
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
    ASSERT_TRUE(read(m_text.substr(0, m_text.rfind("\r\n", m_text.find("second")) + 2)));
    std::filesystem::copy_file(journalPath(m_log), host.host().files->nativePath(done));
    log.CleanupLogFiles();
    EXPECT_TRUE(host.host().files->fileExists(kept));
    EXPECT_FALSE(host.host().files->fileExists(done));
}

// The journal names its server; one written before journals did (version 1) reads as
// belonging to no known server, and a scan keeps only the connected server's journals.
TEST_F(Journal, NamesItsServerAndAScanSetsOtherServersApart) {
    // A version 1 journal: the same records under a first line without the server.
    std::string old = m_text.substr(m_text.find("\r\n"));
    std::string escapedLog; // as the journal writes a field: a backslash doubled
    for (char c : m_log)
        escapedLog += c == '\\' ? std::string("\\\\") : std::string(1, c);
    const std::string magic = "zephrane-journal\t1\t" + escapedLog;
    char crc[9];
    std::uint32_t value = 0xFFFFFFFFu;
    for (unsigned char byte : magic) {
        value ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1u)));
    }
    std::snprintf(crc, sizeof crc, "%08x", ~value);
    const Result<JournalFile> older = read(magic + "\t" + crc + old);
    ASSERT_TRUE(test::succeeded(older));
    EXPECT_EQ(older->server, "");
    EXPECT_EQ(older->entries.size(), 2u);

    JournalScan scan;
    JournalFile mine = *read(m_text);
    JournalFile other = mine;
    other.server = "stand-in server {S2}";
    JournalFile finishedElsewhere = other;
    finishedElsewhere.entries.resize(1);
    scan.journals = {*older, mine, other, finishedElsewhere};
    scan.keepServer(kServer);
    ASSERT_EQ(scan.journals.size(), 1u);
    EXPECT_EQ(scan.journals[0].server, kServer);
    ASSERT_EQ(scan.elsewhere.size(), 2u) << "a finished journal of another server is not told";
    const std::string warning = scan.warning(*host.host().files);
    EXPECT_NE(warning.find("belongs to no known server"), std::string::npos) << warning;
    EXPECT_NE(warning.find("--recover --journal "), std::string::npos) << warning;
    EXPECT_NE(warning.find("belongs to another server (stand-in server {S2})"), std::string::npos)
        << warning;
}

// A run owes the lists' synchronisation from before its first change until it has asked for
// it; a journal that owes it needs recovery although every entry is finished. A new journal
// is the run's own: a file of its name already there is refused.
TEST_F(Journal, OwesTheListsSynchronisationUntilItIsDoneAndIsNeverShared) {
    const std::string log = host.programFolder() + "/Zephrane_Log_20261206_11_00_00.TXT";
    {
        RecoveryJournal journal(*host.host().files, log, kServer);
        ASSERT_TRUE(test::succeeded(journal.listSyncOwed()));
        ASSERT_TRUE(test::succeeded(journal.begin(SubscriberSnapshot{}, "defaultTemplate", "")));
        ASSERT_TRUE(test::succeeded(journal.finished()));
    }
    Result<JournalFile> file = readJournal(*host.host().files, journalPath(log));
    ASSERT_TRUE(test::succeeded(file));
    EXPECT_TRUE(file->unfinished().empty());
    EXPECT_TRUE(file->listSyncOwed);
    EXPECT_TRUE(file->needsRecovery());
    EXPECT_TRUE(journalMustBeKept(*host.host().files, journalPath(log)));
    {
        RecoveryJournal resumed(*host.host().files, *file);
        ASSERT_TRUE(test::succeeded(resumed.listSyncDone()));
    }
    file = readJournal(*host.host().files, journalPath(log));
    ASSERT_TRUE(test::succeeded(file));
    EXPECT_FALSE(file->needsRecovery());

    RecoveryJournal second(*host.host().files, log, kServer);
    const Status taken = second.listSyncOwed();
    ASSERT_FALSE(taken);
    EXPECT_NE(taken.error().find("File already exists"), std::string::npos) << taken.error();
    EXPECT_EQ(readJournal(*host.host().files, journalPath(log))->entries.size(), 1u);
}

// A journal with nothing left to do ends with its closed mark, and the start-up scan and the
// purge read no further than that mark: kept history costs a look at each file's last line.
// A journal with work in it gets no mark, and one whose mark is cut short is read whole.
TEST_F(Journal, AJournalWithNothingLeftIsMarkedClosedAndNeverReadWholeAgain) {
    auto &files = *host.host().files;
    const std::string done = host.programFolder() + "/Zephrane_Log_20261206_12_00_00.TXT";
    const std::string open = host.programFolder() + "/Zephrane_Log_20261206_12_00_01.TXT";
    for (const std::string &log : {done, open}) {
        RecoveryJournal journal(files, log, kServer);
        ASSERT_TRUE(test::succeeded(journal.listSyncOwed()));
        ASSERT_TRUE(test::succeeded(journal.begin(SubscriberSnapshot{}, "defaultTemplate", "")));
        if (log == done) {
            ASSERT_TRUE(test::succeeded(journal.finished()));
        }
        ASSERT_TRUE(test::succeeded(journal.listSyncDone()));
    }
    auto contentOf = [](const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string closed = contentOf(journalPath(done));
    EXPECT_EQ(closed.rfind("closed\t"), closed.rfind('\n', closed.size() - 2) + 1) << closed;
    EXPECT_EQ(contentOf(journalPath(open)).find("closed\t"), std::string::npos);
    EXPECT_FALSE(journalMustBeKept(files, journalPath(done)));
    EXPECT_TRUE(journalMustBeKept(files, journalPath(open)));

    // The mark names where it begins: copied to the end of a journal whose entry is open, it is
    // not taken for that journal's own, and the open entry is still found.
    const std::string openText = contentOf(journalPath(open));
    std::ofstream(journalPath(open), std::ios::binary | std::ios::trunc)
        << openText << closed.substr(closed.rfind('\n', closed.size() - 2) + 1);
    EXPECT_TRUE(journalMustBeKept(files, journalPath(open)));
    bool found = false;
    for (const JournalFile &journal : scanJournals(files, {host.programFolder()}).journals)
        found = found || (files.nativePath(journal.path) == files.nativePath(journalPath(open)) &&
                          journal.unfinished().size() == 1);
    EXPECT_TRUE(found);
    std::ofstream(journalPath(open), std::ios::binary | std::ios::trunc) << openText;

    // Everything before the mark damaged: neither the scan nor the purge notices, as neither
    // reads it. readJournal (recovery of a named journal) still reads every line.
    const std::size_t markAt = closed.rfind('\n', closed.size() - 2) + 1;
    std::ofstream(journalPath(done), std::ios::binary | std::ios::trunc)
        << std::string(markAt, '#').replace(markAt - 1, 1, "\n") << closed.substr(markAt);
    JournalScan scan = scanJournals(files, {host.programFolder()});
    EXPECT_TRUE(scan.problems.empty()) << scan.problems.front();
    ASSERT_EQ(scan.journals.size(), 2u); // the open one and the fixture's
    for (const JournalFile &journal : scan.journals)
        EXPECT_NE(journal.path, journalPath(done));
    EXPECT_FALSE(journalMustBeKept(files, journalPath(done)));
    EXPECT_FALSE(readJournal(files, journalPath(done)));

    // The mark cut short by a crash: the journal is read whole, as before it had one.
    std::ofstream(journalPath(done), std::ios::binary | std::ios::trunc)
        << closed.substr(0, closed.size() - 3);
    scan = scanJournals(files, {host.programFolder()});
    EXPECT_EQ(scan.journals.size(), 3u);
    EXPECT_TRUE(scan.problems.empty());
}

// A journal taken up again by a recovery is marked closed only when every entry it had open
// is finished and its last line is whole; what it had open comes from the file as read.
TEST_F(Journal, AResumedJournalIsMarkedClosedOnlyWithNothingLeftOpen) {
    auto &files = *host.host().files;
    struct Case {
        const char *stamp;
        bool finishTheOpenEntry;
        bool tornTail;
        bool closed;
    };
    for (const Case &c :
         {Case{"13_00_00", false, false, false}, Case{"13_00_01", true, false, true},
          Case{"13_00_02", true, true, false}}) {
        const std::string log = host.programFolder() + "/Zephrane_Log_20261206_" + c.stamp + ".TXT";
        {
            RecoveryJournal journal(files, log, kServer);
            ASSERT_TRUE(test::succeeded(journal.listSyncOwed()));
            ASSERT_TRUE(
                test::succeeded(journal.begin(SubscriberSnapshot{}, "defaultTemplate", "")));
            ASSERT_TRUE(test::succeeded(journal.finished()));
            ASSERT_TRUE(
                test::succeeded(journal.begin(SubscriberSnapshot{}, "defaultTemplate", "")));
        }
        if (c.tornTail)
            std::ofstream(journalPath(log), std::ios::binary | std::ios::app) << "creat";
        Result<JournalFile> file = readJournal(files, journalPath(log));
        ASSERT_TRUE(test::succeeded(file));
        ASSERT_EQ(file->unfinished().size(), 1u) << c.stamp;
        EXPECT_EQ(file->tornTail, c.tornTail) << c.stamp;
        {
            RecoveryJournal resumed(files, *file);
            if (c.finishTheOpenEntry) {
                resumed.resume(file->unfinished().front()->number);
                ASSERT_TRUE(test::succeeded(resumed.finished()));
            }
            ASSERT_TRUE(test::succeeded(resumed.listSyncDone()));
        }
        std::ifstream in(journalPath(log), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(text.find("\nclosed\t") != std::string::npos, c.closed) << c.stamp << "\n"
                                                                          << text;
        EXPECT_EQ(journalMustBeKept(files, journalPath(log)), !c.closed) << c.stamp;
    }
}

} // namespace
