// Where a reset run makes its files lasting: the journal's records before the steps they
// announce, the log's lines with them and at each subscriber's end, not each line on its own.
#include "reset_helpers.h"

#include "platform/SyncCountingFiles.h"

#include <gtest/gtest.h>

#include <memory>

namespace zeph {
namespace {

// The file syncs and lines of a reset of `subscribers` ordinary subscribers.
FileSyncCounts resetCounting(int subscribers) {
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
    return *counts;
}

TEST(Durability, AResetSyncsItsFilesAtTheJournalsPointsNotAtEachLine) {
    const FileSyncCounts one = resetCounting(1);
    const FileSyncCounts three = resetCounting(3);
    const double syncs = static_cast<double>(three.syncs - one.syncs) / 2;
    const double lines = static_cast<double>(three.lines - one.lines) / 2;
    // The journal's records go to disk at the entry's beginning, at the creation and at its
    // end, the log's lines with each: six a subscriber, while it writes many more lines.
    EXPECT_EQ(syncs, 6) << lines << " lines a subscriber";
    EXPECT_GT(lines, 3 * syncs);
}

} // namespace
} // namespace zeph
