#include "select/SubscriberGrid.h"

#include <gtest/gtest.h>

using zeph::SubscriberGrid;

namespace {

struct CountingListener : zeph::GridListener {
    int resets = 0, appends = 0, changes = 0, first = -1, last = -1;
    void gridReset() override { ++resets; }
    void gridRowsAppended(int, int) override { ++appends; }
    void gridRowsChanged(int from, int to) override { ++changes, first = from, last = to; }
    void gridHeaderChanged() override {}
};

void addRows(SubscriberGrid &grid, int n) {
    for (int i = 0; i < n; ++i) {
        ASSERT_TRUE(grid.AddItem(std::to_string(grid.Rows())));
        grid.setChecked(grid.Row, true);
    }
}

} // namespace

TEST(SubscriberGrid, ColumnsByKeyAndWhatAClickOrAnEditMayChange) {
    SubscriberGrid grid;
    EXPECT_EQ(grid.ColIndex("selected"), 1);
    EXPECT_EQ(grid.ColIndex("OBJECTID"), 12);
    EXPECT_EQ(grid.ColIndex(""), -1) << "the row-number column has no key";
    addRows(grid, 2);
    // Text cells of subscriber rows toggle, hidden ones too; not the header, the row number, the
    // check box column or a row beyond the last.
    const std::tuple<int, int, bool> clicks[] = {
        {1, 3, true}, {1, 12, true}, {0, 3, false}, {1, 1, false}, {5, 3, false}};
    for (const auto &[row, col, toggles] : clicks) {
        grid.Row = row, grid.Col = col;
        grid.cellClicked();
        EXPECT_EQ(!grid.isChecked(1), toggles) << row << "," << col;
        grid.cellClicked();
        EXPECT_TRUE(grid.isChecked(1));
    }
    for (int col = 0; col < grid.Cols(); ++col)
        EXPECT_EQ(grid.mayEdit(1, col), col == 1) << col;
    EXPECT_FALSE(grid.mayEdit(0, 1)) << "the header is never edited";
    grid.setTextMatrix(1, 1, "0");
    EXPECT_TRUE(grid.isChecked(1)) << "the check box column is not written as text";
}

TEST(SubscriberGrid, SelectAllIsOneChangeAndRedrawOffOneReset) {
    SubscriberGrid grid;
    CountingListener listener;
    addRows(grid, 100);
    grid.setListener(&listener);
    grid.deselectAll();
    EXPECT_EQ(listener.changes, 1);
    EXPECT_EQ(listener.first, 1);
    EXPECT_EQ(listener.last, 100);
    grid.selectAll();
    EXPECT_EQ(listener.changes, 2);
    EXPECT_EQ(grid.checkedCount(), 100);

    grid.setRedraw(false);
    addRows(grid, 50);
    EXPECT_EQ(listener.appends + listener.changes + listener.resets, 2);
    grid.setRedraw(true);
    EXPECT_EQ(listener.resets, 1);
}

TEST(SubscriberGrid, HoldsAtMostTheSixteenBitRowCountAndClearsToItsHeader) {
    SubscriberGrid grid;
    for (int i = 0; i < SubscriberGrid::kMaxSubscriberRows; ++i)
        ASSERT_TRUE(grid.AddItem(std::to_string(i + 1)));
    EXPECT_TRUE(grid.full());
    EXPECT_FALSE(grid.AddItem("32768"));
    EXPECT_EQ(grid.Rows(), SubscriberGrid::kMaxSubscriberRows + 1);
    grid.setChecked(1, true);
    grid.setRows(1);
    EXPECT_EQ(grid.TextMatrix(0, 2), "Alias");
    ASSERT_TRUE(grid.AddItem("1"));
    EXPECT_FALSE(grid.isChecked(1)) << "a new row starts unchecked";
}
