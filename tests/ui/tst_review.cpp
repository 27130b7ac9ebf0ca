// Before the question: Enter in the selection page's fields searches instead of moving on, and
// the reset page shows what will be reset.
#include "reset/ResetPage.h"
#include "reset/frmResetSubscribers.h"
#include "wizard_helpers.h"

#include <QAbstractItemView>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <set>

using namespace zeph;
using test::WizardRun;

namespace {

// Criterion list positions.
constexpr int kAll = 0;
constexpr int kRange = 1;
constexpr int kSwitch = 2;
constexpr int kCsv = 3;
constexpr int kCos = 4;
constexpr int kMailServer = 5;

// The extensions of every subscriber the "All" search finds, lowest first.
std::vector<long long> allExtensions(WizardRun &run) {
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    choose->cmbSubscriberSelectType->setCurrentIndex(kAll);
    run.click(choose->cmdView);
    const SubscriberGrid &grid = run.wizard->choosePage()->myGrid;
    std::vector<long long> extensions;
    for (int row = 1; row < grid.Rows(); ++row)
        extensions.push_back(std::stoll(grid.TextMatrix(row, grid.ColIndex("Extension"))));
    std::sort(extensions.begin(), extensions.end());
    return extensions;
}

std::set<std::string> column(const SubscriberGrid &grid, const char *key) {
    std::set<std::string> values;
    for (int row = 1; row < grid.Rows(); ++row)
        values.insert(grid.TextMatrix(row, grid.ColIndex(key)));
    return values;
}

void pressEnter(QWidget *window, QWidget *field) {
    QApplication::setActiveWindow(window);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
}

bool onResetPage(WizardRun &run) {
    return run.wizard->resetWindow() && run.wizard->resetWindow()->isVisible();
}

} // namespace

// Each criterion field: Enter runs that criterion's search with what the field holds now and
// the wizard stays on the page.
TEST(Review, EnterInEachCriterionFieldSearchesAndStaysOnThePage) {
    WizardRun run;
    run.toFilledGrid();
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    const SubscriberGrid &grid = run.wizard->choosePage()->myGrid;
    const std::vector<long long> extensions = allExtensions(run);
    ASSERT_GE(extensions.size(), 10u);

    // A first range, then a second one typed over it: Enter must search the second.
    choose->cmbSubscriberSelectType->setCurrentIndex(kRange);
    struct Range {
        QLineEdit *enterIn;
        long long low, high;
    };
    const std::vector<Range> ranges = {
        {choose->txtSubscriberExtensionRangeHigh, extensions[1], extensions[4]},
        {choose->txtSubscriberExtensionRangeLow, extensions[5], extensions[6]},
        {choose->txtSubscriberExtensionRangeHigh, extensions[0], extensions[8]},
    };
    for (const Range &range : ranges) {
        for (auto [box, value] : {std::pair{choose->txtSubscriberExtensionRangeLow, range.low},
                                  std::pair{choose->txtSubscriberExtensionRangeHigh, range.high}}) {
            box->clear();
            box->setFocus();
            QTest::keyClicks(box, QString::number(value));
        }
        pressEnter(choose, range.enterIn);
        EXPECT_FALSE(onResetPage(run)) << "Enter moved on from " << range.low;
        const auto expected =
            static_cast<int>(std::count_if(extensions.begin(), extensions.end(), [&](long long e) {
                return e >= range.low && e <= range.high;
            }));
        EXPECT_EQ(grid.Rows() - 1, expected) << range.low << " to " << range.high;
        for (const std::string &extension : column(grid, "Extension")) {
            EXPECT_GE(std::stoll(extension), range.low);
            EXPECT_LE(std::stoll(extension), range.high);
        }
        EXPECT_EQ(QApplication::focusWidget(), range.enterIn) << "the field keeps the focus";
    }

    // The lists of a criterion: Enter (list closed) searches the entry shown.
    struct ListCase {
        int criterion;
        QComboBox *list;
        const char *column; // every row found shows the entry here ("" to skip the check)
    };
    for (const ListCase &c : {ListCase{kCos, choose->ComSubscribersCOS, "COS"},
                              ListCase{kMailServer, choose->comSubscriberMailServer, "HomeServer"},
                              ListCase{kSwitch, choose->comSubscriberSwitch, ""}}) {
        run.click(choose->cmdClearGrid);
        choose->cmbSubscriberSelectType->setCurrentIndex(c.criterion);
        ASSERT_GT(c.list->count(), 0) << c.list->objectName().toStdString();
        c.list->setCurrentIndex(c.list->count() - 1);
        pressEnter(choose, c.list);
        EXPECT_FALSE(onResetPage(run)) << c.list->objectName().toStdString();
        EXPECT_GT(grid.Rows(), 1) << c.list->objectName().toStdString();
        if (*c.column) {
            const std::set<std::string> shown = column(grid, c.column);
            ASSERT_EQ(shown.size(), 1u) << c.list->objectName().toStdString();
            EXPECT_TRUE(c.list->currentText().startsWith(QString::fromStdString(*shown.begin())))
                << c.list->currentText().toStdString() << " / " << *shown.begin();
        }
    }

    // The CSV file's box.
    const std::string csv = run.host.folder() + "/list.csv";
    const std::string alias = grid.TextMatrix(1, grid.ColIndex("Alias"));
    std::ofstream(csv) << "Alias\n" << alias << "\n";
    choose->cmbSubscriberSelectType->setCurrentIndex(kCsv);
    choose->txtCSVPath->clear();
    choose->txtCSVPath->setFocus();
    QTest::keyClicks(choose->txtCSVPath, QString::fromStdString(csv));
    run.ui.setStrict(false); // the import tells what it read
    pressEnter(choose, choose->txtCSVPath);
    EXPECT_FALSE(onResetPage(run));
    EXPECT_EQ(column(grid, "Alias"), std::set<std::string>{alias});

    // The criterion list itself (closed): its search, not Next.
    choose->cmbSubscriberSelectType->setCurrentIndex(kAll);
    pressEnter(choose, choose->cmbSubscriberSelectType);
    EXPECT_FALSE(onResetPage(run));
    EXPECT_EQ(grid.Rows() - 1, static_cast<int>(extensions.size()));
}

// The filter: Enter applies it and stays; Ctrl+F reaches it from anywhere on the page.
TEST(Review, EnterInTheFilterStaysAndCtrlFReachesIt) {
    WizardRun run;
    run.toFilledGrid();
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    const SubscriberGrid &grid = run.wizard->choosePage()->myGrid;
    QApplication::setActiveWindow(choose);
    choose->myGrid->setFocus();
    QTest::keyClick(choose->myGrid, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), choose->txtQuickFilter) << "Ctrl+F";
    const QString alias = QString::fromStdString(grid.TextMatrix(2, grid.ColIndex("Alias")));
    QTest::keyClicks(choose->txtQuickFilter, alias);
    QTest::keyClick(choose->txtQuickFilter, Qt::Key_Return);
    EXPECT_FALSE(onResetPage(run)) << "Enter in the filter moved on";
    EXPECT_GE(choose->gridView()->rowCount(), 1);
    EXPECT_LT(choose->gridView()->rowCount(), grid.Rows() - 1);
}

// An open drop-down list: Enter chooses its entry and closes it; nothing else happens.
TEST(Review, EnterInAnOpenListOnlyClosesIt) {
    WizardRun run;
    frmMain *main = run.wizard->mainWindow();
    struct Case {
        QWidget *window;
        QComboBox *list;
    };
    auto enterInOpenList = [&](QWidget *window, QComboBox *list, int entry) {
        QApplication::setActiveWindow(window);
        list->setFocus();
        list->showPopup();
        QAbstractItemView *view = list->view();
        ASSERT_TRUE(view->isVisible()) << "the list opened";
        view->setCurrentIndex(view->model()->index(entry, 0));
        QTest::keyClick(view, Qt::Key_Return);
        EXPECT_FALSE(view->isVisible()) << "Enter closed the list";
        EXPECT_EQ(list->currentIndex(), entry);
    };
    enterInOpenList(main, main->cmbTemplateListDisplayName, 0);
    EXPECT_TRUE(main->isVisible()) << "Enter in the open template list pressed Next";
    EXPECT_EQ(run.wizard->chooseWindow(), nullptr);
    run.click(main->cmdNext);
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    ASSERT_NE(choose, nullptr);
    enterInOpenList(choose, choose->cmbSubscriberSelectType, kAll);
    EXPECT_FALSE(onResetPage(run));
    EXPECT_EQ(run.wizard->choosePage()->myGrid.Rows(), 1) << "nothing was searched";
}

// The reset page shows the criterion, the count, the template by name and alias and the
// first rows before its button is pressed; the question repeats count and template.
TEST(Review, TheResetPageShowsWhatWillBeResetBeforeTheQuestion) {
    WizardRun run;
    run.toFilledGrid();
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    SubscriberGrid &grid = run.wizard->choosePage()->myGrid;
    const std::vector<long long> extensions = allExtensions(run);
    choose->cmbSubscriberSelectType->setCurrentIndex(kRange);
    for (auto [box, value] : {std::pair{choose->txtSubscriberExtensionRangeLow, extensions[0]},
                              std::pair{choose->txtSubscriberExtensionRangeHigh, extensions[11]}}) {
        box->setFocus();
        QTest::keyClicks(box, QString::number(value));
    }
    pressEnter(choose, choose->txtSubscriberExtensionRangeHigh);
    ASSERT_EQ(grid.Rows() - 1, 12);
    grid.setChecked(2, false); // 11 ticked
    // Typed after the search, not searched: the review names the search that filled the grid.
    choose->txtSubscriberExtensionRangeHigh->setText(QStringLiteral("1"));
    run.click(choose->cmdNext);
    frmResetSubscribers *reset = run.wizard->resetWindow();
    ASSERT_TRUE(reset && reset->isVisible());
    ASSERT_TRUE(reset->frmReview->isVisibleTo(reset));
    const QString review = reset->lblReview->text();
    const std::string templateText =
        run.mainPage->templateListText() + " (" + run.mainPage->chosenTemplateAlias() + ")";
    const QString range = QStringLiteral("from %1 To %2").arg(extensions[0]).arg(extensions[11]);
    for (const QString &part : {range, QStringLiteral("Subscribers: 11"),
                                QStringLiteral("Template: ") + QString::fromStdString(templateText),
                                QStringLiteral("and 3 more")})
        EXPECT_TRUE(review.contains(part)) << part.toStdString() << " in\n" << review.toStdString();
    // The first ticked rows by alias; the unticked one is not among them.
    EXPECT_TRUE(
        review.contains(QString::fromStdString(grid.TextMatrix(1, grid.ColIndex("Alias")))));
    EXPECT_FALSE(review.contains(
        QString::fromStdString(grid.TextMatrix(2, grid.ColIndex("Alias")) + " - ")));
    // The question repeats count and template; No leaves the page as it was.
    run.ui.expectBox(ResetPage::kConfirmation, MsgAnswer::No);
    run.click(reset->cmdResetSubscribers);
    run.ui.verifyAllShown();
    ASSERT_FALSE(run.ui.boxes().empty());
    EXPECT_NE(run.ui.boxes().back().text.find("11 subscribers will be reset to the defaults of "
                                              "the template " +
                                              templateText + "."),
              std::string::npos)
        << run.ui.boxes().back().text;
    EXPECT_TRUE(reset->cmdResetSubscribers->isEnabled());
    // Back, fewer ticked, forward: the review follows the grid.
    run.click(reset->cmdPrevious);
    grid.deselectAll();
    grid.setChecked(1, true);
    run.click(choose->cmdNext);
    EXPECT_TRUE(reset->lblReview->text().contains(QStringLiteral("Subscribers: 1\n")))
        << reset->lblReview->text().toStdString();
    EXPECT_FALSE(reset->lblReview->text().contains(QStringLiteral("more")));
}
