// The selection window on a real (offscreen) Qt over a stand-in host.
#include "select/frmChooseSubscribers.h"
#include "select/select_helpers.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
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
    EXPECT_EQ(test::plainText(w.cmdView->text()), QStringLiteral("Add Subscribers To Grid"));
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

// The grid sorts by a header click, filters by the quick filter, fits its headers and shows a
// new search from the top-left; the page's rows and ticks stay as they were.
TEST(ChooseWindow, SortFilterHeadersAndANewSearchAtTheTopLeft) {
    test::testApplication();
    auto h = std::make_unique<test::SelectionHost>();
    frmChooseSubscribers w(h->open());
    w.refresh();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    h->ui().setStrict(false);
    QTest::mouseClick(w.cmdView, Qt::LeftButton); // all subscribers
    SubscriberGrid &grid = h->page().myGrid;
    const int rows = grid.Rows() - 1;
    ASSERT_GT(rows, 5);
    const int extension = grid.ColIndex("Extension");
    QAbstractItemModel *shown = w.myGrid->model();
    auto cell = [&](int row, int col) { return shown->index(row, col).data().toString(); };

    // A click on the Extension header sorts by number, a second one the other way round.
    QHeaderView *header = w.myGrid->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(extension) + 5, 5));
    for (int row = 1; row < rows; ++row)
        EXPECT_LE(cell(row - 1, extension).toLongLong(), cell(row, extension).toLongLong());
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(extension) + 5, 5));
    EXPECT_GE(cell(0, extension).toLongLong(), cell(rows - 1, extension).toLongLong());
    EXPECT_EQ(grid.Rows() - 1, rows) << "sorting shows, it does not reorder the page's rows";

    // The filter narrows what is shown, not what is ticked.
    const QString alias = QString::fromStdString(grid.TextMatrix(3, grid.ColIndex("Alias")));
    w.txtQuickFilter->setText(alias.toUpper());
    ASSERT_GE(shown->rowCount(), 1);
    EXPECT_LT(shown->rowCount(), rows);
    EXPECT_EQ(grid.checkedCount(), rows);
    QTest::qWait(1);
    EXPECT_EQ(w.lblTickedRows->text(),
              QStringLiteral("%1 of %1 ticked, %2 shown").arg(rows).arg(shown->rowCount()));
    w.txtQuickFilter->clear();
    EXPECT_EQ(shown->rowCount(), rows);

    // Every shown header's text fits its column.
    for (int col = 0; col < header->count(); ++col) {
        if (w.myGrid->isColumnHidden(col))
            continue;
        const QString text = shown->headerData(col, Qt::Horizontal).toString();
        EXPECT_GE(header->sectionSize(col), header->fontMetrics().horizontalAdvance(text))
            << text.toStdString();
    }

    // Scrolled away, a new search shows its rows from the top-left.
    w.myGrid->scrollToBottom();
    w.myGrid->horizontalScrollBar()->setValue(w.myGrid->horizontalScrollBar()->maximum());
    QTest::mouseClick(w.cmdView, Qt::LeftButton);
    EXPECT_EQ(w.myGrid->verticalScrollBar()->value(), 0);
    EXPECT_EQ(w.myGrid->horizontalScrollBar()->value(), 0);
}
