// The whole wizard on an offscreen display and a stand-in host with virtual time.
#include "app/MainPage.h"
#include "app/Program.h"
#include "app/frmMain.h"
#include "extras/frmHelp.h"
#include "reset/frmResetSubscribers.h"
#include "search/frmAdvancedSubscriberSearch.h"
#include "select/frmChooseSubscribers.h"
#include "support/TempHost.h"
#include "ui/QtUserInterface.h"
#include "ui/WindowPlacement.h"
#include "ui/Wizard.h"
#include "ui_helpers.h"
#include "wizard_helpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using namespace zeph;
using test::WizardRun;

TEST(Wizard, FromTemplateThroughARunThatCannotBeClosedToExit) {
    WizardRun run;
    {
        // A window of its own, so that the request is only counted, not carried out.
        frmMain window(*run.mainPage);
        QSignalSpy exitRequests(&window, &frmMain::exitRequested);
        window.show();
        window.close();
        EXPECT_EQ(exitRequests.count(), 1);
        EXPECT_TRUE(window.isVisible()) << "the wizard, not the frame, ends the program";
    }
    run.ui.expectBox("You must first select a template to use when resetting subscribers");
    run.click(run.wizard->mainWindow()->cmdNext);
    EXPECT_EQ(run.wizard->chooseWindow(), nullptr);
    run.toFilledGrid();
    EXPECT_FALSE(run.wizard->mainWindow()->isVisible());
    // Keep the run small: only the first subscriber stays checked.
    run.wizard->choosePage()->myGrid.deselectAll();
    run.wizard->choosePage()->myGrid.setChecked(1, true);
    run.click(run.wizard->chooseWindow()->cmdNext);
    frmResetSubscribers *reset = run.wizard->resetWindow();
    ASSERT_TRUE(reset && reset->isVisible());
    EXPECT_FALSE(run.wizard->chooseWindow()->isVisible());
    EXPECT_FALSE(reset->chkSkipDLResynch->isVisibleTo(reset));
    // During the run every button but Help and Stop is off; closing through the frame asks,
    // without holding the run up, whether to stop it (No here: the run goes on).
    bool closeTried = false;
    bool stopAsked = false;
    run.ui.onPass = [&] {
        if (!run.wizard->resetPage()->running() || closeTried)
            return;
        closeTried = true;
        for (QPushButton *button :
             {reset->cmdResetSubscribers, reset->cmdPrevious, reset->cmdExit, reset->cmdNext})
            EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
        EXPECT_TRUE(reset->cmdHelp->isEnabled());
        EXPECT_TRUE(reset->cmdStop->isEnabled());
        reset->close();
        EXPECT_TRUE(reset->isVisible()) << "the window closed during a run";
        QMessageBox *question = reset->stopQuestion();
        stopAsked = question && question->isVisible() && !question->isModal();
        if (question)
            question->button(QMessageBox::No)->click();
    };
    run.ui.expectBox("Restting subscirber mailboxes will result in all messages", MsgAnswer::Yes);
    run.ui.expectBox("Subscriber mailbox reset process complete, reset 1 subscribers reset.",
                     MsgAnswer::Cancel);
    run.click(reset->cmdResetSubscribers);
    run.ui.onPass = nullptr;
    run.ui.verifyAllShown();
    // Under the question, with a warning: how many and which template.
    const auto &boxes = run.ui.boxes();
    const auto asked = std::find_if(boxes.begin(), boxes.end(), [](const auto &box) {
        return box.text.rfind(ResetPage::kConfirmation, 0) == 0;
    });
    ASSERT_NE(asked, boxes.end());
    const test::ScriptedUi::Box &question = *asked;
    // The template by the name the list showed and by its alias.
    const std::string named =
        run.mainPage->templateListText() + " (" + run.mainPage->chosenTemplateAlias() + ")";
    EXPECT_NE(question.text.find("\n1 subscriber will be reset to the defaults of the template " +
                                 named + "."),
              std::string::npos)
        << question.text;
    EXPECT_EQ(question.icon, MsgIcon::Warning);
    EXPECT_TRUE(closeTried);
    EXPECT_TRUE(stopAsked) << "closing during the run asked nothing, or asked modally";
    EXPECT_FALSE(run.wizard->resetPage()->summary()->stoppedByRequest) << "No stopped the run";
    // Finished: only Exit and Help remain.
    EXPECT_FALSE(reset->cmdResetSubscribers->isEnabled());
    EXPECT_FALSE(reset->cmdPrevious->isEnabled());
    EXPECT_TRUE(reset->cmdExit->isEnabled());
    // The bar went over the one ticked row, not the grid's rows.
    EXPECT_EQ(reset->ProgressBar->maximum(), 1);
    EXPECT_EQ(reset->ProgressBar->value(), 1);
    EXPECT_TRUE(reset->lblProgressDetail->text().startsWith(QStringLiteral("1 of 1, ")))
        << reset->lblProgressDetail->text().toStdString();
    // The results stay on the page once the closing message is gone.
    ASSERT_TRUE(reset->frmResults->isVisibleTo(reset));
    const QString results = reset->lblResults->text();
    EXPECT_TRUE(results.contains(QStringLiteral("Subscribers reset: 1"))) << results.toStdString();
    EXPECT_TRUE(results.contains(QStringLiteral("Errors: 0"))) << results.toStdString();
    const ResetSummary &summary = *run.wizard->resetPage()->summary();
    IFileSystem &files = *run.host.host().files;
    EXPECT_TRUE(results.contains(QString::fromStdString(files.nativePath(summary.logFilePath))));
    EXPECT_TRUE(
        results.contains(QString::fromStdString(files.nativePath(summary.failedRecordsPath))));
    for (QPushButton *open :
         {reset->cmdOpenLog, reset->cmdOpenFailedRecords, reset->cmdOpenLogFolder})
        EXPECT_TRUE(open->isEnabled()) << open->objectName().toStdString();
    EXPECT_THROW(run.wizard->exitProgram(), ProgramEnded);
    EXPECT_EQ(run.exitCode, 0);
}

TEST(Wizard, BackAndForwardAgainStartsWithAnEmptyGridAndKeepsTheLastPage) {
    WizardRun run("advanced skipdlsync"); // the word in any letter case shows the skip box
    run.toFilledGrid();
    run.click(run.wizard->chooseWindow()->cmdNext);
    frmResetSubscribers *reset = run.wizard->resetWindow();
    ASSERT_TRUE(reset->chkSkipDLResynch->isVisibleTo(reset));
    reset->chkSkipDLResynch->setChecked(true);
    EXPECT_TRUE(run.wizard->resetPage()->chkSkipDLResynch.Value);
    run.click(reset->cmdPrevious);
    ASSERT_TRUE(run.wizard->chooseWindow()->isVisible());
    EXPECT_GT(run.wizard->choosePage()->myGrid.Rows(), 1) << "going back keeps the grid";
    run.click(run.wizard->chooseWindow()->cmdPrevious);
    EXPECT_EQ(run.wizard->choosePage(), nullptr) << "the selection page is unloaded";
    EXPECT_TRUE(run.wizard->mainWindow()->isVisible());
    EXPECT_EQ(run.wizard->mainWindow()->cmbTemplateListDisplayName->currentIndex(), 0);
    run.click(run.wizard->mainWindow()->cmdNext);
    ASSERT_NE(run.wizard->choosePage(), nullptr);
    EXPECT_EQ(run.wizard->choosePage()->myGrid.Rows(), 1) << "a fresh page has an empty grid";
    run.click(run.wizard->chooseWindow()->cmdView);
    run.click(run.wizard->chooseWindow()->cmdNext);
    EXPECT_EQ(run.wizard->resetWindow(), reset) << "the reset page is loaded once";
    EXPECT_TRUE(reset->chkSkipDLResynch->isChecked());
}

// The selection window's Advanced Search button opens the window modally over it.
TEST(Wizard, AdvancedSearchOpensOverTheSelectionWindowThenTheLanguageChanges) {
    WizardRun run("Advanced");
    run.toFilledGrid();
    QWidget *over = nullptr;
    bool cancelled = false;
    bool onScreen = false;
    QTimer::singleShot(0, [&] {
        auto *shown =
            qobject_cast<search::frmAdvancedSubscriberSearch *>(QApplication::activeModalWidget());
        if (shown) {
            over = shown->parentWidget();
            onScreen = shown->screen()->availableGeometry().contains(shown->geometry());
            QTest::mouseClick(shown->cmdCancel, Qt::LeftButton);
            cancelled = !shown->isVisible() && shown->result() == QDialog::Rejected;
        }
        // Whatever happened, no window may be left waiting.
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *left = qobject_cast<search::frmAdvancedSubscriberSearch *>(w))
                left->reject();
    });
    run.click(run.wizard->chooseWindow()->cmdAdvancedSearch);
    EXPECT_EQ(over, run.wizard->chooseWindow());
    EXPECT_TRUE(onScreen) << "the window opens wholly on the screen";
    EXPECT_TRUE(cancelled);
    // A language switch: the selection window takes the new language's captions and grid
    // headers; the first page keeps its English texts.
    const fs::path german = fs::path(ZEPH_BIN_DIR) / "zephrane_DEU.dll";
    if (!fs::exists(german))
        GTEST_SKIP() << "the language libraries were not built";
    fs::copy_file(german, fs::path(run.host.programFolder()) / german.filename());
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    i18n::modLocalize &localize = run.program->localize;
    localize.switchLanguage(1031);
    const std::string view = localize.myLoadResString(24);
    ASSERT_NE(view, "Add Subscribers To Grid") << "the German library has its own text";
    EXPECT_EQ(test::plainText(choose->cmdView->text()).toStdString(), view);
    EXPECT_EQ(choose->myGrid->model()->headerData(3, Qt::Horizontal).toString().toStdString(),
              localize.myLoadResString(110));
    // The translated headers fit their columns.
    QHeaderView *header = choose->myGrid->horizontalHeader();
    for (int col = 0; col < header->count(); ++col) {
        const QString text = choose->myGrid->model()->headerData(col, Qt::Horizontal).toString();
        if (choose->myGrid->isColumnHidden(col))
            continue;
        EXPECT_GE(header->sectionSize(col), header->fontMetrics().horizontalAdvance(text))
            << text.toStdString();
    }
    // The English caption, its N underlined as the Alt key.
    EXPECT_EQ(run.wizard->mainWindow()->cmdNext->text().toStdString(), "&Next >>");
    EXPECT_EQ(run.wizard->mainWindow()->windowTitle().toStdString(), "Zephrane");
    EXPECT_THROW(run.wizard->exitProgram(), ProgramEnded);
    EXPECT_EQ(run.exitCode, 0);
}

// Each page takes the place and size of the page it replaces, back and forth, on the screen.
TEST(Wizard, PagesKeepOnePlaceAndOneSize) {
    WizardRun run;
    frmMain *main = run.wizard->mainWindow();
    const QRect place = main->geometry();
    ASSERT_TRUE(main->screen()->availableGeometry().contains(place));
    run.toFilledGrid();
    EXPECT_EQ(run.wizard->chooseWindow()->geometry(), place);
    run.click(run.wizard->chooseWindow()->cmdPrevious);
    EXPECT_EQ(main->geometry(), place);
    // A moved page is followed by the next one.
    main->move(place.topLeft() - QPoint(0, 11));
    ui::keepOnScreen(main);
    const QRect moved = main->geometry();
    run.click(main->cmdNext);
    EXPECT_EQ(run.wizard->chooseWindow()->geometry(), moved);
    run.click(run.wizard->chooseWindow()->cmdView);
    run.click(run.wizard->chooseWindow()->cmdNext);
    ASSERT_NE(run.wizard->resetWindow(), nullptr);
    EXPECT_EQ(run.wizard->resetWindow()->geometry(), moved);
    // Help opens wholly on the screen.
    run.click(run.wizard->resetWindow()->cmdHelp);
    QWidget *help = run.wizard->helpWindow();
    ASSERT_TRUE(help && help->isVisible());
    EXPECT_TRUE(help->screen()->availableGeometry().contains(help->geometry()));
    QApplication::setActiveWindow(help);
    QTest::keyClick(help, Qt::Key_Escape);
    EXPECT_FALSE(help->isVisible()) << "Escape closes Help";
}

// Next is the default button; Tab leaves the grid, Space ticks its current row.
TEST(Wizard, KeyboardDefaultButtonTabAndSpace) {
    WizardRun run;
    EXPECT_TRUE(run.wizard->mainWindow()->cmdNext->isDefault());
    run.toFilledGrid();
    frmChooseSubscribers *choose = run.wizard->chooseWindow();
    EXPECT_TRUE(choose->cmdNext->isDefault());
    EXPECT_FALSE(choose->myGrid->tabKeyNavigation());
    QApplication::setActiveWindow(choose);
    choose->myGrid->setFocus();
    choose->myGrid->setCurrentIndex(choose->myGrid->model()->index(0, 3));
    SubscriberGrid &grid = run.wizard->choosePage()->myGrid;
    ASSERT_TRUE(grid.isChecked(1));
    QTest::keyClick(choose->myGrid, Qt::Key_Space);
    EXPECT_FALSE(grid.isChecked(1)) << "Space unticks the current row";
    QTest::keyClick(choose->myGrid, Qt::Key_Space);
    EXPECT_TRUE(grid.isChecked(1));
    QTest::keyClick(choose->myGrid, Qt::Key_Down);
    EXPECT_EQ(choose->myGrid->currentIndex().row(), 1) << "arrows move inside";
    QTest::keyClick(choose->myGrid, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), choose->myGrid) << "Tab leaves the grid";
    // The ticked count beside the row count.
    grid.setChecked(2, false);
    QTest::qWait(1);
    EXPECT_EQ(choose->lblTickedRows->text().toStdString(),
              std::to_string(grid.Rows() - 2) + " of " + std::to_string(grid.Rows() - 1) +
                  " ticked");
    // Enter on the grid presses Next.
    QApplication::setActiveWindow(choose);
    choose->myGrid->setFocus();
    QTest::keyClick(choose->myGrid, Qt::Key_Return);
    ASSERT_NE(run.wizard->resetWindow(), nullptr) << "Enter pressed Next";
    EXPECT_TRUE(run.wizard->resetWindow()->isVisible());
}

// The question before a reset: a warning, the system's text, the details, No by default.
TEST(Wizard, TheDestructiveQuestionDefaultsToNo) {
    test::testApplication();
    ui::QtUserInterface qtUi;
    QString text, details;
    bool warned = false, noIsDefault = false;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        details = box->informativeText();
        warned = box->icon() == QMessageBox::Warning;
        noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(qtUi.askDestructive(ResetPage::kConfirmation, "3 subscribers will be reset"),
              MsgAnswer::No);
    EXPECT_EQ(text.toStdString(), ResetPage::kConfirmation);
    EXPECT_EQ(details.toStdString(), "3 subscribers will be reset");
    EXPECT_TRUE(warned);
    EXPECT_TRUE(noIsDefault);
}
