// Stopping a wizard run: Stop, Escape and closing the window end the run after the subscriber
// under way, with every journal entry closed, and nothing modal holds the run up meanwhile.
#include "reset/ResetPage.h"
#include "reset/frmResetSubscribers.h"
#include "wizard_helpers.h"

#include <QMessageBox>
#include <QSignalSpy>

#include <cstdlib>

using namespace zeph;
using test::WizardRun;

namespace {

// Log lines counted as the run writes them.
struct LineCount {
    explicit LineCount(WizardRun &run)
        : log(run.program->log) {
        log.setLineObserver([this](const std::string &) { ++lines; });
    }
    ~LineCount() { log.setLineObserver(nullptr); }
    Logging &log;
    int lines = 0;
};

// Every journal of the host is closed and the server's invariants hold.
void expectServerWhole(WizardRun &run) {
    EXPECT_FALSE(run.program->scanRecoveryJournals().needsAttention())
        << run.program->scanRecoveryJournals().warning(*run.host.host().files);
    const std::string check = "'" + std::string(ZEPH_BIN_DIR) + "/zephrane-sim' check '" +
                              run.host.folder() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0) << "zephrane-sim check";
}

enum class How { StopButton, Escape, Close };

} // namespace

// Each way of stopping, pressed while the second subscriber is under way: it is finished, the
// rest is not attempted, the entries are closed; a close request also ends the program after
// the run. The question that Escape and closing ask stays open while the run goes on.
TEST(Stop, StopEscapeAndCloseFinishTheSubscriberUnderWay) {
    for (const How how : {How::StopButton, How::Escape, How::Close}) {
        SCOPED_TRACE(static_cast<int>(how));
        WizardRun run;
        frmResetSubscribers *reset = run.toResetPage(5);
        ASSERT_NE(reset, nullptr);
        QSignalSpy exits(reset, &frmResetSubscribers::exitRequested);
        // The wizard's own exit would end this test program: the request is only counted.
        QObject::disconnect(reset, &frmResetSubscribers::exitRequested, run.wizard.get(), nullptr);
        LineCount log(run);
        bool pressed = false;
        int linesWhenAsked = -1;
        int linesWhenAnswered = -1;
        run.ui.onPass = [&] {
            ResetPage &page = *run.wizard->resetPage();
            if (!page.running() || page.ProgressBar.Value < 1)
                return;
            if (!pressed) {
                pressed = true;
                switch (how) {
                case How::StopButton:
                    EXPECT_TRUE(reset->cmdStop->isEnabled());
                    QTest::mouseClick(reset->cmdStop, Qt::LeftButton);
                    break;
                case How::Escape:
                    QApplication::setActiveWindow(reset);
                    QTest::keyClick(reset, Qt::Key_Escape);
                    break;
                case How::Close:
                    reset->close();
                    break;
                }
                linesWhenAsked = log.lines;
                return;
            }
            // The question is open and the log goes on; Yes after a few more lines.
            QMessageBox *question = reset->stopQuestion();
            if (how != How::StopButton && question && log.lines >= linesWhenAsked + 3) {
                EXPECT_FALSE(question->isModal());
                linesWhenAnswered = log.lines;
                question->button(QMessageBox::Yes)->click();
            }
        };
        run.ui.expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
        run.ui.expectBox("stopped by request", MsgAnswer::Cancel);
        run.click(reset->cmdResetSubscribers);
        run.ui.onPass = nullptr;
        run.ui.verifyAllShown();
        ASSERT_TRUE(pressed);
        ASSERT_TRUE(run.wizard->resetPage()->finished());
        const ResetSummary &summary = *run.wizard->resetPage()->summary();
        EXPECT_TRUE(summary.stoppedByRequest) << summary.closingMessage;
        if (how != How::StopButton) {
            EXPECT_GT(linesWhenAnswered, linesWhenAsked) << "the run waited for the question";
        }
        // The subscriber under way when Stop counted was finished; the others were not begun.
        EXPECT_GE(summary.outcome.reset + summary.outcome.resetWithErrors, 2);
        EXPECT_GE(summary.outcome.notAttempted, 1);
        EXPECT_EQ(summary.outcome.ticked(), 5);
        EXPECT_FALSE(reset->cmdStop->isEnabled());
        EXPECT_EQ(reset->stopQuestion(), nullptr) << "a question was left open";
        EXPECT_EQ(exits.count(), how == How::Close ? 1 : 0);
        expectServerWhole(run);
    }
}

// No to the question leaves the run going to its end.
TEST(Stop, NoToTheQuestionLetsTheRunEnd) {
    WizardRun run;
    frmResetSubscribers *reset = run.toResetPage(3);
    bool asked = false;
    run.ui.onPass = [&] {
        if (!run.wizard->resetPage()->running() || asked)
            return;
        asked = true;
        QApplication::setActiveWindow(reset);
        QTest::keyClick(reset, Qt::Key_Escape);
        ASSERT_NE(reset->stopQuestion(), nullptr);
        reset->stopQuestion()->button(QMessageBox::No)->click();
    };
    run.ui.expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
    run.ui.expectBox("Subscriber mailbox reset process complete", MsgAnswer::Cancel);
    run.click(reset->cmdResetSubscribers);
    run.ui.onPass = nullptr;
    ASSERT_TRUE(asked);
    const ResetSummary &summary = *run.wizard->resetPage()->summary();
    EXPECT_FALSE(summary.stoppedByRequest);
    EXPECT_EQ(summary.outcome.notAttempted, 0);
    EXPECT_EQ(summary.outcome.ticked(), 3);
    expectServerWhole(run);
}
