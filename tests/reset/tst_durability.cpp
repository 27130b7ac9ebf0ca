// Where a reset run makes its files lasting: the journal's records before the steps they
// announce, the database's changes before the record that ends an entry, the log's lines at
// each subscriber's end, not each line on its own.
#include "reset_helpers.h"

#include "platform/ForwardingFileSystem.h"
#include "platform/sqlite/SyncCountingVfs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace zeph {
namespace {

// The syncs of the run log and of the journal, told apart by their names.
class SyncsByFile : public ForwardingFileSystem {
public:
    struct Counts {
        std::atomic<long> log = 0;
        std::atomic<long> journal = 0;
        std::atomic<long> other = 0;
    };
    SyncsByFile(std::unique_ptr<IFileSystem> inner, std::shared_ptr<Counts> counts)
        : ForwardingFileSystem(std::move(inner))
        , m_counts(std::move(counts)) {}
    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &path, bool append) override {
        return counted(path, inner().openTextFile(path, append));
    }
    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        return counted(path, inner().createNewTextFile(path));
    }

private:
    class Writer : public ForwardingTextWriter {
    public:
        Writer(std::unique_ptr<ITextFileWriter> inner, std::atomic<long> &syncs)
            : ForwardingTextWriter(std::move(inner))
            , m_syncs(syncs) {}
        Status writeLine(const std::string &text) override {
            ++m_syncs;
            return inner().writeLine(text);
        }
        Status sync() override {
            ++m_syncs;
            return inner().sync();
        }

    private:
        std::atomic<long> &m_syncs;
    };
    std::unique_ptr<ITextFileWriter> counted(const std::string &path,
                                             std::unique_ptr<ITextFileWriter> writer) {
        if (!writer)
            return writer;
        std::atomic<long> &syncs = path.find("Zephrane_Log_") != std::string::npos ? m_counts->log
                                   : path.find("Zephrane_Journal_") != std::string::npos
                                       ? m_counts->journal
                                       : m_counts->other;
        return std::make_unique<Writer>(std::move(writer), syncs);
    }
    std::shared_ptr<Counts> m_counts;
};

struct Counted {
    long log = 0;
    long journal = 0;
    long database = 0;
    long commits = 0;
    Counted operator-(const Counted &o) const {
        return {log - o.log, journal - o.journal, database - o.database, commits - o.commits};
    }
};

// What a reset of `subscribers` ordinary subscribers syncs and commits.
Counted resetCounting(int subscribers, bool preserve) {
    sqlite::countDatabaseSyncs(); // before the host's database is opened
    test::ResetBench b(12);
    b.preserve = preserve;
    auto counts = std::make_shared<SyncsByFile::Counts>();
    b.host().files = std::make_unique<SyncsByFile>(std::move(b.host().files), counts);
    EXPECT_EQ(b.addOrdinaryRows(subscribers), subscribers);
    const long databaseBefore = sqlite::databaseSyncsUnder(b.temp.folder());
    const long commitsBefore = sqlite::databaseCommitsUnder(b.temp.folder());
    b.run();
    EXPECT_EQ(b.summary().subscribersReset, subscribers);
    EXPECT_EQ(b.summary().errorCount, 0);
    return {counts->log, counts->journal,
            sqlite::databaseSyncsUnder(b.temp.folder()) - databaseBefore,
            sqlite::databaseCommitsUnder(b.temp.folder()) - commitsBefore};
}

// A subscriber's reset waits for the disk three times: the journal's record of its beginning
// (with the end of the one before), the database's changes, and its log's lines (while the
// database waits). Its changes are two commits: the removal, and the creation with everything
// after it. Counted as the difference between resets of one and of three subscribers, so that
// the run's own beginning and end do not count.
TEST(Durability, ASubscribersResetSyncsThreeTimesAndCommitsTwice) {
    for (const bool preserve : {false, true}) {
        const Counted one = resetCounting(1, preserve);
        const Counted three = resetCounting(3, preserve);
        const Counted two = three - one;
        EXPECT_EQ(two.journal, 2) << "preserve " << preserve;
        EXPECT_EQ(two.log, 2) << "preserve " << preserve;
        EXPECT_EQ(two.database, 2) << "preserve " << preserve;
        EXPECT_EQ(two.commits, 4) << "preserve " << preserve;
    }
}

// A run log whose sync fails from its `allowed`+1-th on; every other file is the real one.
class LogSyncFailing : public ForwardingFileSystem {
public:
    LogSyncFailing(std::unique_ptr<IFileSystem> inner, int allowed)
        : ForwardingFileSystem(std::move(inner))
        , m_allowed(std::make_shared<std::atomic<int>>(allowed)) {}
    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &path, bool append) override {
        return watched(path, inner().openTextFile(path, append));
    }
    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        return watched(path, inner().createNewTextFile(path));
    }

private:
    class Writer : public ForwardingTextWriter {
    public:
        Writer(std::unique_ptr<ITextFileWriter> inner, std::shared_ptr<std::atomic<int>> allowed)
            : ForwardingTextWriter(std::move(inner))
            , m_allowed(std::move(allowed)) {}
        Status sync() override {
            if (m_allowed->fetch_sub(1) > 0)
                return inner().sync();
            return fail("Input/output error");
        }

    private:
        std::shared_ptr<std::atomic<int>> m_allowed;
    };
    std::unique_ptr<ITextFileWriter> watched(const std::string &path,
                                             std::unique_ptr<ITextFileWriter> writer) {
        if (!writer || path.find("Zephrane_Log_") == std::string::npos)
            return writer;
        return std::make_unique<Writer>(std::move(writer), m_allowed);
    }
    std::shared_ptr<std::atomic<int>> m_allowed;
};

// The log is synced at each subscriber's end; a log that could not be synced still stops the
// run before another subscriber is touched, and the one under way is finished.
TEST(Durability, ALogThatCannotBeSyncedStopsTheRunAfterTheSubscriberUnderWay) {
    for (const int allowed : {0, 1, 2}) {
        test::ResetBench b(12);
        b.host().files = std::make_unique<LogSyncFailing>(std::move(b.host().files), allowed);
        std::vector<std::string> ordinary;
        for (const auto &row :
             b.sql("SELECT SubscriberObjectID FROM Subscriber ORDER BY Alias").rows) {
            const test::SubscriberFacts f = b.facts(std::get<std::string>(row[0]));
            if (ordinary.size() < 3 && b.ordinary(f)) {
                b.addRow(f.objectId);
                ordinary.push_back(f.alias);
            }
        }
        ASSERT_EQ(ordinary.size(), 3u);
        b.run();
        // One sync of the log a subscriber, at its end.
        const int underWay = allowed + 1;
        EXPECT_EQ(b.summary().subscribersReset, underWay) << allowed;
        EXPECT_NE(b.summary().stopReason.find("the run log could not be written"),
                  std::string::npos)
            << allowed << ": " << b.summary().stopReason;
        EXPECT_TRUE(b.serverProblems().empty()) << allowed;
    }
}

// Another program takes the journal's name just before the run makes its journal: the name
// is then a file of someone else's, as when a run of the same second on another machine
// shares the logs folder.
class JournalNameTaken : public ForwardingFileSystem {
public:
    using ForwardingFileSystem::ForwardingFileSystem;
    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        if (path.find("Zephrane_Journal_") != std::string::npos) {
            if (auto other = inner().createNewTextFile(path)) {
                (void)other->writeLine("another program's file");
                other->close();
            }
        }
        return inner().createNewTextFile(path);
    }
};

// A journal that cannot be made stops the run before its first change: the subscriber
// skipped is the first, and no other is looked at.
TEST(Durability, ATakenJournalNameStopsTheRunBeforeItsFirstChange) {
    test::ResetBench b(12);
    b.host().files = std::make_unique<JournalNameTaken>(std::move(b.host().files));
    ASSERT_EQ(b.addOrdinaryRows(3), 3);
    const test::Snapshot before = b.snapshot();
    b.ui().expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
    b.ui().expectBox("Nothing was reset: the recovery journal could not be written",
                     MsgAnswer::Cancel);
    b.page->cmdResetSubscribers_Click();
    b.ui().verifyAllShown();
    const std::vector<std::string> lines =
        test::readLogFile(b.host().files->nativePath(b.log->LogFilePath()));
    test::expectSame(before, b.snapshot());
    ASSERT_TRUE(b.page->summary());
    EXPECT_EQ(b.summary().subscribersReset, 0);
    EXPECT_NE(b.summary().stopReason.find("the recovery journal could not be written"),
              std::string::npos)
        << b.summary().stopReason;
    long started = 0;
    for (const std::string &line : lines)
        started += line == "** Resetting Subscriber **";
    EXPECT_EQ(started, 1) << "the run went on to other subscribers";
}

} // namespace
} // namespace zeph
