// The selection grid as a working list, and the wizard's windows at their smallest and across
// program runs.
#include "reset/frmResetSubscribers.h"
#include "wizard_helpers.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>

#include "ui/QtUserInterface.h"

#include <cstdlib>
#include <filesystem>

using namespace zeph;
using test::settle;
using test::WizardRun;

namespace {

// The controls an operator uses or reads, as they lie in the window.
std::vector<QWidget *> visibleControls(QWidget *window) {
    std::vector<QWidget *> controls;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window))
            continue;
        if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) ||
            qobject_cast<QComboBox *>(w) || qobject_cast<QTableView *>(w) ||
            (qobject_cast<QLabel *>(w) && !qobject_cast<QLabel *>(w)->text().isEmpty()))
            controls.push_back(w);
    }
    return controls;
}

QRect inWindow(QWidget *w, QWidget *window) {
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

// Every control lies inside the window, none over another, none smaller than it needs.
void expectUsable(QWidget *window) {
    const std::string name = window->objectName().toStdString();
    const std::vector<QWidget *> controls = visibleControls(window);
    ASSERT_FALSE(controls.empty());
    for (QWidget *w : controls) {
        const QRect place = inWindow(w, window);
        const std::string what =
            name + "." + w->objectName().toStdString() + " (" + w->metaObject()->className() + ")";
        EXPECT_TRUE(window->rect().contains(place)) << what << " lies outside the window";
        if (auto *label = qobject_cast<QLabel *>(w); label && label->wordWrap()) {
            EXPECT_GE(w->height(), label->heightForWidth(w->width())) << what << " is cut";
        } else if (!qobject_cast<QTableView *>(w)) {
            EXPECT_GE(w->width(), w->minimumSizeHint().width()) << what << " is cut";
        }
        for (QWidget *other : controls) {
            if (other == w || w->isAncestorOf(other) || other->isAncestorOf(w))
                continue;
            EXPECT_FALSE(place.intersects(inWindow(other, window)))
                << what << " lies over " << other->objectName().toStdString();
        }
    }
}

} // namespace

// With a filter on, the counts say how many rows show, and Select All / deSelect All act on the
// shown rows only (and say so); without it, on every row.
TEST(WorkingList, SelectAndDeselectActOnTheShownRowsWhileFiltered) {
    WizardRun run;
    run.toFilledGrid();
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    SubscriberGrid &grid = run.wizard->choosePage()->myGrid;
    const int rows = grid.Rows() - 1;
    EXPECT_EQ(test::plainText(choose->cmdSelectAll->text()), QStringLiteral("Select All"));
    run.click(choose->cmdUnselectAll);
    ASSERT_EQ(grid.checkedCount(), 0);
    // A text shared by a few rows: a home server, as some row shows it.
    const QString alias = QString::fromStdString(grid.TextMatrix(5, grid.ColIndex("Alias")));
    choose->txtQuickFilter->setText(alias);
    const int shown = choose->gridView()->rowCount();
    ASSERT_GE(shown, 1);
    ASSERT_LT(shown, rows);
    EXPECT_EQ(test::plainText(choose->cmdSelectAll->text()), QStringLiteral("Select All Shown"));
    EXPECT_EQ(test::plainText(choose->cmdUnselectAll->text()),
              QStringLiteral("deSelect All Shown"));
    run.click(choose->cmdSelectAll);
    EXPECT_EQ(grid.checkedCount(), shown) << "Select All ticked hidden rows";
    settle();
    EXPECT_EQ(choose->lblTickedRows->text(),
              QStringLiteral("%1 of %2 ticked, %1 shown").arg(shown).arg(rows));
    // Every shown row is ticked, and no other.
    for (int row = 0; row < shown; ++row) {
        const int gridRow =
            choose->gridView()->mapToSource(choose->gridView()->index(row, 0)).row() + 1;
        EXPECT_TRUE(grid.isChecked(gridRow)) << gridRow;
    }
    choose->txtQuickFilter->clear();
    EXPECT_EQ(test::plainText(choose->cmdSelectAll->text()), QStringLiteral("Select All"));
    run.click(choose->cmdSelectAll);
    EXPECT_EQ(grid.checkedCount(), rows);
    choose->txtQuickFilter->setText(alias);
    run.click(choose->cmdUnselectAll);
    EXPECT_EQ(grid.checkedCount(), rows - shown) << "deSelect All unticked hidden rows";
    settle();
    EXPECT_EQ(choose->lblTickedRows->text(),
              QStringLiteral("%1 of %2 ticked, %3 shown").arg(rows - shown).arg(rows).arg(shown));
}

// The columns fill the grid's width, and no column cuts the texts of its rows.
TEST(WorkingList, ColumnsUseTheWindowsWidth) {
    WizardRun run;
    run.toFilledGrid();
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    const SubscriberGrid &grid = run.wizard->choosePage()->myGrid;
    QHeaderView *header = choose->myGrid->horizontalHeader();
    for (const int width : {1000, 1800}) {
        choose->resize(width, choose->height());
        settle();
        int total = 0;
        for (int col = 0; col < header->count(); ++col)
            if (!choose->myGrid->isColumnHidden(col))
                total += header->sectionSize(col);
        EXPECT_GE(total, choose->myGrid->viewport()->width() - 1) << width;
        for (const char *key : {"COS", "LegacyMailbox", "DisplayName", "HomeServer"}) {
            const int col = grid.ColIndex(key);
            for (int row = 1; row < grid.Rows(); ++row)
                EXPECT_GE(header->sectionSize(col),
                          choose->myGrid->fontMetrics().horizontalAdvance(
                              QString::fromStdString(grid.TextMatrix(row, col))))
                    << key << " row " << row << " at " << width;
        }
    }
}

// At its minimum size every page keeps its controls whole and apart, and the grid shows rows.
TEST(WorkingList, EveryPageIsUsableAtItsMinimumSize) {
    WizardRun run;
    frmMain *main = run.wizard->mainWindow();
    run.toFilledGrid();
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    run.click(choose->cmdNext);
    frmResetSubscribers *reset = run.wizard->resetWindow();
    ASSERT_NE(reset, nullptr);
    for (QMainWindow *page : std::initializer_list<QMainWindow *>{main, choose, reset}) {
        page->show();
        page->resize(page->minimumSize());
        settle();
        EXPECT_LE(page->width(), 900) << page->objectName().toStdString();
        expectUsable(page);
    }
    const int rowHeight = choose->myGrid->verticalHeader()->defaultSectionSize();
    EXPECT_GE(choose->myGrid->viewport()->height(), 4 * rowHeight) << "the grid shows rows";
}

// The wizard opens where and as large as it was left.
TEST(WorkingList, SizeAndPlaceAreKeptBetweenProgramRuns) {
    test::TempFolder userData;
    QRect left;
    {
        WizardRun first({}, userData.path());
        frmMain *main = first.wizard->mainWindow();
        const QRect room = main->screen()->availableGeometry();
        main->setGeometry(room.left() + 40, room.top() + 50, 760, 540);
        first.toFilledGrid();
        left = first.wizard->chooseWindow()->geometry();
        EXPECT_THROW(first.wizard->exitProgram(), ProgramEnded);
    }
    WizardRun second({}, userData.path());
    const QRect opened = second.wizard->mainWindow()->geometry();
    EXPECT_EQ(opened, left) << opened.x() << "," << opened.y() << " " << opened.width() << "x"
                            << opened.height() << " / " << left.x() << "," << left.y() << " "
                            << left.width() << "x" << left.height();
}

// The About box in every language: nothing lies over the logo or another text.
TEST(WorkingList, TheAboutBoxIsLaidOutInEveryLanguage) {
    WizardRun run;
    if (!run.installLanguages())
        GTEST_SKIP() << "the language libraries were not built";
    QWidget *about = nullptr;
    QTimer::singleShot(0, [&] {
        about = QApplication::activeModalWidget();
        if (about)
            about->hide();
    });
    run.wizard->showAbout();
    ASSERT_NE(about, nullptr);
    for (const std::int32_t language : {1033, 1031, 1036, 1041}) {
        run.program->localize.switchLanguage(language);
        about->show();
        about->resize(1, 1); // as small as it lets itself be
        settle();
        SCOPED_TRACE(language);
        expectUsable(about);
        if (const char *shots = std::getenv("ZEPH_TEST_SHOTS"))
            about->grab().save(QString::fromUtf8(shots) +
                               QStringLiteral("/about-%1.png").arg(language));
        about->hide();
    }
}

// Every button and check box of every page has an Alt key of its own, in every language.
TEST(WorkingList, EveryButtonHasItsOwnAltKeyInEveryLanguage) {
    WizardRun run;
    if (!run.installLanguages())
        GTEST_SKIP() << "the language libraries were not built";
    run.toFilledGrid();
    run.click(run.wizard->chooseWindow()->cmdNext);
    for (const std::int32_t language : {1031, 1036, 1041, 1033}) {
        run.program->localize.switchLanguage(language);
        settle();
        for (QWidget *page : std::initializer_list<QWidget *>{
                 run.wizard->mainWindow(), run.wizard->chooseWindow(), run.wizard->resetWindow()}) {
            QSet<QChar> keys;
            for (QAbstractButton *button : page->findChildren<QAbstractButton *>()) {
                if (button->text().isEmpty())
                    continue;
                const QKeySequence key = QKeySequence::mnemonic(button->text());
                const std::string what =
                    page->objectName().toStdString() + "." + button->objectName().toStdString() +
                    " \"" + button->text().toStdString() + "\" in " + std::to_string(language);
                ASSERT_FALSE(key.isEmpty()) << what << " has no Alt key";
                const QChar letter = QChar(key[0].key());
                EXPECT_FALSE(keys.contains(letter)) << what << " shares its Alt key";
                keys.insert(letter);
            }
        }
    }
}

// A message box carries the icon of its meaning.
TEST(WorkingList, MessageBoxesCarryTheIconOfTheirMeaning) {
    const struct {
        const char *text;
        MsgButtons buttons;
        MsgIcon asked, shown;
    } cases[] = {
        {"(error):5 (Invalid procedure call) in procedure Form_Load of Form frmMain",
         MsgButtons::OK, MsgIcon::None, MsgIcon::Critical},
        {"Error! CSV file is not a valid format.", MsgButtons::OK, MsgIcon::None,
         MsgIcon::Critical},
        {"error in myLoadResString: Resource with identifier '9' not found", MsgButtons::OK,
         MsgIcon::None, MsgIcon::Critical},
        {"Import complete.  3 lines read in from text file, 2 users added to grid.", MsgButtons::OK,
         MsgIcon::None, MsgIcon::Information},
        {"A newer version is available.  Open the page now?", MsgButtons::YesNo, MsgIcon::None,
         MsgIcon::Question},
        {"Errors in a refusal keep the icon asked for", MsgButtons::OK, MsgIcon::Warning,
         MsgIcon::Warning},
        {"You must first select a COS", MsgButtons::OK, MsgIcon::Warning, MsgIcon::Warning},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ui::QtUserInterface::iconOf(c.text, c.buttons, c.asked), c.shown) << c.text;
    // The selection page's refusals warn.
    WizardRun run;
    run.toFilledGrid();
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    choose->cmbSubscriberSelectType->setCurrentIndex(1);
    choose->txtSubscriberExtensionRangeLow->setText(QStringLiteral("9"));
    choose->txtSubscriberExtensionRangeHigh->setText(QStringLiteral("1"));
    run.wizard->choosePage()->txtSubscriberExtensionRangeLow.Text = "9";
    run.wizard->choosePage()->txtSubscriberExtensionRangeHigh.Text = "1";
    run.ui.expectBox("Invalid extension range.");
    run.click(choose->cmdView);
    run.ui.verifyAllShown();
    ASSERT_FALSE(run.ui.boxes().empty());
    EXPECT_EQ(run.ui.boxes().back().icon, MsgIcon::Warning);
}
