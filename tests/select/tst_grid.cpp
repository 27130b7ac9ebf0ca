#include "select/SubscriberGrid.h"

#include <gtest/gtest.h>

#include <vector>

using zeph::SubscriberGrid;

TEST(SubscriberGrid, WhatAClickOrAnEditMayChangeAndTheSixteenBitRowLimit) {
    SubscriberGrid grid;
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(grid.AddItem(std::to_string(i + 1)));
    EXPECT_FALSE(grid.isChecked(1)) << "a new row starts unchecked";
    grid.setChecked(1, true);
    // Text cells of subscriber rows toggle, hidden ones too; not the header, the row number, the
    // check box column or a row beyond the last.
    const std::tuple<int, int, bool> clicks[] = {
        {1, 3, true}, {1, 12, true}, {0, 3, false}, {1, 1, false}, {3, 3, false}};
    for (const auto &[row, col, toggles] : clicks) {
        grid.Row = row, grid.Col = col;
        grid.cellClicked();
        EXPECT_EQ(!grid.isChecked(1), toggles) << row << "," << col;
        grid.cellClicked();
        EXPECT_TRUE(grid.isChecked(1));
    }
    EXPECT_TRUE(grid.mayEdit(1, 1) && !grid.mayEdit(1, 2));
    EXPECT_FALSE(grid.mayEdit(0, 1)) << "the header is never edited";
    grid.setTextMatrix(1, 1, "0");
    EXPECT_TRUE(grid.isChecked(1)) << "the check box column is not written as text";
    while (grid.Rows() <= SubscriberGrid::kMaxSubscriberRows)
        ASSERT_TRUE(grid.AddItem("x"));
    EXPECT_TRUE(grid.full());
    EXPECT_FALSE(grid.AddItem("32768"));
    EXPECT_EQ(grid.Rows(), SubscriberGrid::kMaxSubscriberRows + 1);
    grid.setRows(1);
    EXPECT_EQ(grid.TextMatrix(0, 2), "Alias");
}

// Ticking the rows a filter shows: only those change, rows outside the grid are passed over,
// and a view hears of it once.
TEST(SubscriberGrid, TheRowsAFilterShowsAreTickedInOneChange) {
    struct Counting : zeph::GridListener {
        int changes = 0, first = 0, last = 0;
        void gridReset() override {}
        void gridRowsAppended(int, int) override {}
        void gridRowsChanged(int f, int l) override { ++changes, first = f, last = l; }
        void gridHeaderChanged() override {}
    } view;
    SubscriberGrid grid;
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(grid.AddItem(std::to_string(i + 1)));
    grid.setListener(&view);
    const struct {
        std::vector<int> rows;
        bool checked;
        std::vector<bool> after; // rows 1..6
        int changes;
    } cases[] = {
        {{2, 5}, true, {false, true, false, false, true, false}, 1},
        {{0, 7, -1}, true, {false, true, false, false, true, false}, 0},
        {{5, 1, 6}, true, {true, true, false, false, true, true}, 1},
        {{2, 99, 6}, false, {true, false, false, false, true, false}, 1},
        {{}, true, {true, false, false, false, true, false}, 0},
    };
    for (const auto &c : cases) {
        view.changes = 0;
        grid.setCheckedRows(c.rows, c.checked);
        for (int row = 1; row <= 6; ++row)
            EXPECT_EQ(grid.isChecked(row), c.after[static_cast<std::size_t>(row - 1)]) << row;
        EXPECT_EQ(view.changes, c.changes);
    }
    EXPECT_EQ(view.first, 2);
    EXPECT_EQ(view.last, 6);
    grid.setListener(nullptr);
}
