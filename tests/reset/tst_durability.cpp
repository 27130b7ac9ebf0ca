// Where a reset run makes its files lasting: the journal's records before the steps they
// announce, the log's lines with them and at each subscriber's end, not each line on its own.
#include "reset_helpers.h"

#include "platform/SyncCountingFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace zeph {
namespace {

struct Counted {
    long lines = 0;
    long syncs = 0;
};

// The file syncs and lines of a reset of `subscribers` ordinary subscribers.
Counted resetCounting(int subscribers) {
    test::ResetBench b(12);
    auto counts = std::make_shared<FileSyncCounts>();
    b.host().files = std::make_unique<SyncCountingFiles>(std::move(b.host().files), counts);
    const std::string ordinary = "SELECT SubscriberObjectID FROM Subscriber ORDER BY Alias";
    int added = 0;
    for (const auto &row : b.sql(ordinary).rows) {
        const test::SubscriberFacts f = b.facts(std::get<std::string>(row[0]));
        if (added < subscribers && b.ordinary(f)) {
            b.addRow(f.objectId);
            ++added;
        }
    }
    EXPECT_EQ(added, subscribers);
    b.run();
    EXPECT_EQ(b.summary().subscribersReset, subscribers);
    EXPECT_EQ(b.summary().errorCount, 0);
    return {counts->lines, counts->syncs};
}

TEST(Durability, AResetSyncsItsFilesAtTheJournalsPointsNotAtEachLine) {
    const Counted one = resetCounting(1);
    const Counted three = resetCounting(3);
    const double syncs = static_cast<double>(three.syncs - one.syncs) / 2;
    const double lines = static_cast<double>(three.lines - one.lines) / 2;
    // The journal's records go to disk at the entry's beginning, at the creation and at its
    // end, the log's lines with each: six a subscriber, while it writes many more lines.
    EXPECT_EQ(syncs, 6) << lines << " lines a subscriber";
    EXPECT_GT(lines, 3 * syncs);
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
        bool sync() override { return m_allowed->fetch_sub(1) > 0 && inner().sync(); }

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

// The log is synced while the journal's record is written; a log that could not be synced
// still stops the run before another subscriber is touched, and the one under way is finished.
TEST(Durability, ALogThatCannotBeSyncedStopsTheRunAfterTheSubscriberUnderWay) {
    for (const int allowed : {0, 1, 2, 4}) {
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
        // Three syncs of the log a subscriber: at its entry's beginning, its creation, its end.
        const int underWay = allowed / 3 + 1;
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
                other->writeLine("another program's file");
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
    int added = 0;
    for (const auto &row : b.sql("SELECT SubscriberObjectID FROM Subscriber ORDER BY Alias").rows) {
        const test::SubscriberFacts f = b.facts(std::get<std::string>(row[0]));
        if (added < 3 && b.ordinary(f)) {
            b.addRow(f.objectId);
            ++added;
        }
    }
    ASSERT_EQ(added, 3);
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
