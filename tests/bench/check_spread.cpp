// The sample of subscribers the small reset runs take: spread over the whole grid, each
// subscriber once, chosen through the selection page's own import, and reset as chosen.
#include "app/registry/RegistryAPI.h"
#include "bench/BenchHost.h"
#include "bench/Figures.h"
#include "bench/Floor.h"
#include "bench/SpreadSelection.h"
#include "db/modTarvoDB.h"
#include "select/ChooseSubscribersPage.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <set>

using namespace zeph;
using namespace zeph::bench;

namespace {

TEST(SpreadRows, PicksEachRowOnceOverTheWholeGrid) {
    struct Case {
        int rows, count, expected;
    };
    for (const Case c :
         {Case{10, 3, 3}, Case{5000, 100, 100}, Case{4659, 100, 100}, Case{101, 100, 100},
          Case{7, 7, 7}, Case{7, 20, 7}, Case{1, 1, 1}, Case{0, 5, 0}, Case{5, 0, 0}}) {
        const std::vector<int> rows = spreadRows(c.rows, c.count);
        SCOPED_TRACE(std::to_string(c.rows) + " rows, " + std::to_string(c.count) + " wanted");
        ASSERT_EQ(static_cast<int>(rows.size()), c.expected);
        if (rows.empty())
            continue;
        EXPECT_EQ(rows.front(), 1);
        // Each row once, in the grid, and no gap wider than an even step: the last stretch of
        // the grid is sampled as well as the first.
        const int step = (c.rows + c.expected - 1) / c.expected;
        for (std::size_t i = 1; i < rows.size(); ++i)
            EXPECT_TRUE(rows[i] > rows[i - 1] && rows[i] - rows[i - 1] <= step) << rows[i];
        EXPECT_TRUE(rows.back() <= c.rows && c.rows - rows.back() < step) << rows.back();
    }
}

class SpreadSelection : public testing::Test {
protected:
    SpreadSelection() { m_host.set("virtual-time", "on"); }

    test::TempHost m_host{24, 5};
};

TEST_F(SpreadSelection, TheGridHoldsTheSampleOnceEachAndTicked) {
    BenchHost bench(m_host.folder());
    Host &host = bench.host();
    RegistryAPI registry(*host.registry);
    db::modTarvoDB tarvo(*host.database);
    ASSERT_TRUE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
    ChooseSubscribersPage page(host, registry, tarvo, nullptr, "");
    page.Form_Load();
    const std::string csv = m_host.folder() + "/spread.csv";

    const int all = selectSpread(page, csv, 0);
    ASSERT_GT(all, 8);
    const SubscriberGrid &grid = page.myGrid;
    const int aliasCol = grid.ColIndex("Alias");
    std::vector<std::string> allAliases;
    for (int row = 1; row <= all; ++row)
        allAliases.push_back(grid.TextMatrix(row, aliasCol));
    EXPECT_EQ(selectSpread(page, csv, all + 10), all) << "more than there are: every one";

    const int count = all / 3;
    ASSERT_EQ(selectSpread(page, csv, count), count);
    EXPECT_EQ(page.gridDataRows(), count);
    EXPECT_EQ(grid.checkedCount(), count);
    std::set<std::string> taken;
    for (int row = 1; row <= count; ++row)
        taken.insert(grid.TextMatrix(row, aliasCol));
    EXPECT_EQ(static_cast<int>(taken.size()), count) << "each subscriber once";
    std::set<std::string> expected;
    for (int row : spreadRows(all, count))
        expected.insert(allAliases[static_cast<std::size_t>(row - 1)]);
    EXPECT_EQ(taken, expected) << "the rows of the spread, not the first ones";
}

TEST_F(SpreadSelection, ARunResetsTheSampleWithTheFloorOrAlone) {
    test::TempFolder copies;
    const std::string program = copies.path() + "/program", floorHost = copies.path() + "/floor";
    copyHost(m_host.folder(), program);
    copyHost(m_host.folder(), floorHost);

    auto floor = std::make_shared<Floor>(floorHost, 42);
    const ResetRunResult mirrored = runReset(program, {floor, 5});
    EXPECT_EQ(mirrored.gridRows, 5);
    EXPECT_TRUE(mirrored.subscribersReset > 0 && mirrored.subscribersReset <= 5)
        << mirrored.subscribersReset;
    // The floor was given the sample, not the host.
    EXPECT_EQ(floor->subscribersReset(), mirrored.subscribersReset);
    EXPECT_EQ(floor->subscribersReset() + floor->subscribersSkipped(), 5);
    EXPECT_GT(mirrored.fileSyncs, 0);

    // Alone, on a fresh copy: the same subscribers reset, nothing done by a floor.
    copyHost(m_host.folder(), program);
    const long floorSyncs = floor->journalSyncs();
    const ResetRunResult alone = runReset(program, {nullptr, 5});
    EXPECT_EQ(alone.gridRows, 5);
    EXPECT_EQ(alone.subscribersReset, mirrored.subscribersReset);
    EXPECT_EQ(floor->journalSyncs(), floorSyncs);
    // Only a run alone notes its peak at each subscriber's end; that peak is within the run's.
    EXPECT_EQ(mirrored.peakGrowthToLastFinishedKb, -1);
    if (alone.peakGrowthKb >= 0) {
        EXPECT_TRUE(alone.peakGrowthToLastFinishedKb >= 0 &&
                    alone.peakGrowthToLastFinishedKb <= alone.peakGrowthKb)
            << alone.peakGrowthToLastFinishedKb << " of " << alone.peakGrowthKb;
    }
}

} // namespace
