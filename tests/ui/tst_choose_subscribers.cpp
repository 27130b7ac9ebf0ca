// The selection window on a real (offscreen) Qt over a stand-in host.
#include "select/frmChooseSubscribers.h"
#include "select/select_helpers.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace zeph;

TEST(ChooseWindow, ChooseACriterionPressTheButtonClickACellGoOnAndOutliveThePage) {
    test::testApplication();
    auto h = std::make_unique<test::SelectionHost>();
    frmChooseSubscribers w(h->open());
    w.refresh();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto click = [](QPushButton *button) {
        ASSERT_TRUE(button->isVisible()) << button->objectName().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    };
    auto clickCell = [&](int modelRow, int column) {
        const QModelIndex index = w.myGrid->model()->index(modelRow, column);
        w.myGrid->scrollTo(index);
        QTest::mouseClick(w.myGrid->viewport(), Qt::LeftButton, {},
                          w.myGrid->visualRect(index).center());
    };
    EXPECT_EQ(w.cmdView->text(), QStringLiteral("Add Subscribers To Grid"));
    QSignalSpy next(&w, &frmChooseSubscribers::nextRequested);
    h->ui().expectBox("You must first select subscribers to delete");
    click(w.cmdNext);

    w.cmbSubscriberSelectType->setCurrentIndex(1); // the extension range
    EXPECT_TRUE(w.txtSubscriberExtensionRangeHigh->isVisible());
    QTest::keyClicks(w.txtSubscriberExtensionRangeLow, "0");
    h->ui().expectBox("Only numbers are allowed for extension range values");
    QTest::keyClicks(w.txtSubscriberExtensionRangeHigh, "4a");
    EXPECT_EQ(w.txtSubscriberExtensionRangeHigh->text(), QString()) << "the box was emptied";
    QTest::keyClicks(w.txtSubscriberExtensionRangeHigh, "99999999");
    click(w.cmdView);
    const int rows = h->page().myGrid.Rows() - 1;
    ASSERT_GT(rows, 2);
    EXPECT_EQ(w.myGrid->model()->rowCount(), rows);
    EXPECT_EQ(w.txtUsersInGrid->text(), QString::number(rows));
    EXPECT_TRUE(w.centralWidget()->isEnabled()) << "the window is open to input again";

    // A click on a text cell toggles its row.
    const int display = h->page().myGrid.ColIndex("DisplayName");
    const QModelIndex check = w.myGrid->model()->index(0, h->page().myGrid.ColIndex("Selected"));
    clickCell(0, display);
    EXPECT_EQ(check.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    clickCell(0, display);
    EXPECT_EQ(check.data(Qt::CheckStateRole).toInt(), Qt::Checked);

    click(w.cmdUnselectAll);
    h->ui().expectBox("You must select at least one subscriber to reset");
    click(w.cmdNext);
    EXPECT_EQ(next.count(), 0);
    clickCell(0, display);
    click(w.cmdNext);
    EXPECT_EQ(next.count(), 1);
    h->ui().verifyAllShown();

    // The model shows the page's columns; select all is one change.
    QAbstractItemModel *model = w.myGrid->model();
    const SubscriberGrid &grid = h->page().myGrid;
    ASSERT_EQ(model->columnCount(), SubscriberGrid::kColumnCount);
    for (int col = 0; col < grid.Cols(); ++col)
        EXPECT_EQ(w.myGrid->isColumnHidden(col), grid.column(col).hidden) << col;
    const int alias = grid.ColIndex("Alias");
    EXPECT_FALSE(model->setData(model->index(0, alias), QStringLiteral("x"), Qt::EditRole));
    EXPECT_EQ(model->index(0, alias).data().toString().toStdString(), grid.TextMatrix(1, alias));
    EXPECT_TRUE(model->setData(model->index(1, grid.ColIndex("Selected")), Qt::Unchecked,
                               Qt::CheckStateRole));
    EXPECT_FALSE(grid.isChecked(2));
    QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
    click(w.cmdSelectAll);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(1).toModelIndex().row(), model->rowCount() - 1);
    EXPECT_EQ(grid.checkedCount(), model->rowCount());
    click(w.cmdClearGrid);
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_EQ(w.txtUsersInGrid->text(), QStringLiteral("0"));
    click(w.cmdView);
    h.reset(); // the wizard unloads the page before the window is deleted
    EXPECT_EQ(w.myGrid->model()->rowCount(), 0);
    QTest::mouseClick(w.cmdView, Qt::LeftButton);
    QTest::mouseClick(w.cmdSelectAll, Qt::LeftButton);
    w.refresh();
    QCoreApplication::processEvents();
}
