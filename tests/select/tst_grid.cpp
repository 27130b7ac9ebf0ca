#include "select/SubscriberGrid.h"

#include <gtest/gtest.h>

using zeph::SubscriberGrid;

namespace {

struct CountingListener : zeph::GridListener {
    int resets = 0, appends = 0, changes = 0, headers = 0;
    int lastFirst = -1, lastLast = -1;
    void gridReset() override { ++resets; }
    void gridRowsAppended(int, int) override { ++appends; }
    void gridRowsChanged(int first, int last) override {
        ++changes;
        lastFirst = first;
        lastLast = last;
    }
    void gridHeaderChanged() override { ++headers; }
};

void addRows(SubscriberGrid &grid, int n) {
    for (int i = 0; i < n; ++i) {
        ASSERT_TRUE(grid.AddItem(std::to_string(grid.Rows())));
        grid.setChecked(grid.Row, true);
        grid.setTextMatrix(grid.Row, grid.ColIndex("Alias"), "alias" + std::to_string(i));
    }
}

} // namespace

TEST(SubscriberGrid, ColumnsAreFoundByKeyWithoutLetterCase) {
    SubscriberGrid grid;
    EXPECT_EQ(grid.ColIndex("Selected"), 1);
    EXPECT_EQ(grid.ColIndex("selected"), 1);
    EXPECT_EQ(grid.ColIndex("OBJECTID"), 12);
    EXPECT_EQ(grid.ColIndex("HandlerObjectID"), 11);
    EXPECT_EQ(grid.ColIndex(""), -1) << "the row-number column has no key";
    EXPECT_EQ(grid.ColIndex("Nope"), -1);
    EXPECT_TRUE(grid.column(0).hidden);
    EXPECT_TRUE(grid.column(11).hidden);
    EXPECT_TRUE(grid.column(12).hidden);
    EXPECT_FALSE(grid.column(2).hidden);
}

TEST(SubscriberGrid, ClickTogglesOnlyTextCellsOfSubscriberRows) {
    struct Case {
        int row, col;
        bool toggles;
    };
    const Case cases[] = {
        {1, 2, true},  // alias cell
        {1, 3, true},  // display name
        {1, 12, true}, // a hidden text column still counts as a text cell
        {0, 3, false}, // header row
        {1, 0, false}, // hidden row-number column
        {1, 1, false}, // the check box column handles itself
        {5, 3, false}, // beyond the last row
    };
    for (const Case &c : cases) {
        SubscriberGrid grid;
        addRows(grid, 2);
        grid.Row = c.row;
        grid.Col = c.col;
        grid.cellClicked();
        EXPECT_EQ(!grid.isChecked(1), c.toggles && c.row == 1) << c.row << "," << c.col;
        grid.cellClicked();
        EXPECT_TRUE(grid.isChecked(1)) << "a second click restores the box";
    }
}

TEST(SubscriberGrid, OnlyTheCheckBoxColumnIsEditable) {
    SubscriberGrid grid;
    addRows(grid, 1);
    for (int col = 0; col < grid.Cols(); ++col)
        EXPECT_EQ(grid.mayEdit(1, col), col == grid.ColIndex("Selected")) << col;
    EXPECT_FALSE(grid.mayEdit(0, 1)) << "the header is never edited";
    grid.setTextMatrix(1, 1, "0");
    EXPECT_TRUE(grid.isChecked(1)) << "the check box column is not written as text";
}

TEST(SubscriberGrid, SelectAllIsOneChangeOverAllRows) {
    SubscriberGrid grid;
    CountingListener listener;
    addRows(grid, 100);
    grid.setListener(&listener);
    grid.deselectAll();
    EXPECT_EQ(listener.changes, 1);
    EXPECT_EQ(listener.lastFirst, 1);
    EXPECT_EQ(listener.lastLast, 100);
    EXPECT_EQ(grid.firstCheckedRow(), 0);
    grid.selectAll();
    EXPECT_EQ(listener.changes, 2);
    EXPECT_EQ(grid.checkedCount(), 100);
}

TEST(SubscriberGrid, HoldsAtMostTheSixteenBitRowCount) {
    SubscriberGrid grid;
    for (int i = 0; i < SubscriberGrid::kMaxSubscriberRows; ++i)
        ASSERT_TRUE(grid.AddItem(std::to_string(i + 1)));
    EXPECT_TRUE(grid.full());
    EXPECT_FALSE(grid.AddItem("32768"));
    EXPECT_EQ(grid.Rows(), SubscriberGrid::kMaxSubscriberRows + 1);
}

TEST(SubscriberGrid, RedrawOffCollectsChangesIntoOneReset) {
    SubscriberGrid grid;
    CountingListener listener;
    grid.setListener(&listener);
    grid.setRedraw(false);
    addRows(grid, 50);
    EXPECT_EQ(listener.appends + listener.changes + listener.resets, 0);
    grid.setRedraw(true);
    EXPECT_EQ(listener.resets, 1);
}

TEST(SubscriberGrid, ClearingKeepsTheHeaderAndForgetsRows) {
    SubscriberGrid grid;
    addRows(grid, 3);
    grid.setRows(1);
    EXPECT_EQ(grid.Rows(), 1);
    EXPECT_EQ(grid.TextMatrix(0, 2), "Alias");
    EXPECT_EQ(grid.TextMatrix(1, 2), "");
    EXPECT_FALSE(grid.isChecked(1));
    ASSERT_TRUE(grid.AddItem("1"));
    EXPECT_FALSE(grid.isChecked(1)) << "a new row starts unchecked until AddUserToGrid checks it";
}
