// The reset window on a real (offscreen) Qt: the skip check box, the buttons before, during
// and after a run, and closing through the frame refused while a run is under way.
#include "reset/frmResetSubscribers.h"
#include "support/TempHost.h"
#include "ui_helpers.h"

#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "log/Logging.h"
#include "select/SubscriberGrid.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

using namespace zeph;

namespace {

// A user-interface port for the window test: answers the run's questions from a queue and
// gives the event loop its pass, telling the test about each pass.
class WindowTestUi : public IUserInterface {
public:
    std::deque<MsgAnswer> answers;
    std::vector<std::string> boxes;
    std::function<void()> onPass;
    int passes = 0;

    MsgAnswer messageBox(const std::string &text, MsgButtons, MsgIcon,
                         const std::string &) override {
        boxes.push_back(text);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected message box: " << text;
            return MsgAnswer::Cancel;
        }
        MsgAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void setBusy(bool) override {}
    void doEvents() override {
        ++passes;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (onPass)
            onPass();
    }
    std::optional<std::string> openFileDialog(const std::string &, const std::string &) override {
        return std::nullopt;
    }
    std::string clipboardText() override { return {}; }
    void setClipboardText(const std::string &) override {}
};

class ResetWindowTest : public ::testing::Test {
protected:
    test::TempHost m_temp{3};
    WindowTestUi m_ui;
    std::unique_ptr<RegistryAPI> m_registry;
    std::unique_ptr<db::modTarvoDB> m_tarvoDb;
    std::unique_ptr<Logging> m_log;
    SubscriberGrid m_grid;
    std::unique_ptr<ResetPage> m_page;
    std::unique_ptr<frmResetSubscribers> m_window;

    void SetUp() override { test::testApplication(); }

    void open(const std::string &commandLine) {
        m_window.reset(), m_page.reset(), m_log.reset(), m_tarvoDb.reset(); // a second opening
        m_temp.set("virtual-time", "on");
        Host &host = m_temp.host();
        host.ui = &m_ui;
        host.commandLine = commandLine;
        m_registry = std::make_unique<RegistryAPI>(*host.registry);
        m_tarvoDb = std::make_unique<db::modTarvoDB>(*host.database);
        m_log = std::make_unique<Logging>(host);
        ResetInputs inputs;
        inputs.grid = [this]() -> const SubscriberGrid & { return m_grid; };
        inputs.templateAlias = [] { return std::string(); };
        inputs.preserveAlternateExtensions = [] { return false; };
        m_page = std::make_unique<ResetPage>(host, *m_registry, *m_tarvoDb, *m_log, inputs);
        m_window = std::make_unique<frmResetSubscribers>(*m_page);
        m_window->Form_Load();
        m_window->show();
    }
    // Unchecked rows: the run walks them without touching the server.
    void addUncheckedRows(int n) {
        for (int i = 0; i < n; ++i) {
            m_grid.AddItem(std::to_string(m_grid.Rows()));
            m_grid.setChecked(m_grid.Rows() - 1, false);
        }
    }
};

TEST_F(ResetWindowTest, TheSkipBoxShowsUncheckedOnlyForTheCommandLineWord) {
    open("Advanced");
    EXPECT_TRUE(m_window->chkSkipDLResynch->isHidden());
    EXPECT_EQ(m_window->Label1->text(), QStringLiteral("Reset Subscriber's Mailboxes"));
    EXPECT_FALSE(m_window->cmdNext->isEnabled());
    EXPECT_TRUE(m_window->cmdPrevious->isEnabled());
    EXPECT_TRUE(m_window->cmdResetSubscribers->isEnabled());
    open("advanced skipdlsync");
    EXPECT_FALSE(m_window->chkSkipDLResynch->isHidden());
    EXPECT_FALSE(m_window->chkSkipDLResynch->isChecked());
    m_window->chkSkipDLResynch->setChecked(true);
    EXPECT_TRUE(m_page->chkSkipDLResynch.Value);
}

TEST_F(ResetWindowTest, ButtonsAreDisabledWhileRunningAndClosingIsRefused) {
    open("");
    addUncheckedRows(4);
    bool sawRunning = false;
    bool closeTried = false;
    QString refusal;
    m_ui.onPass = [&] {
        if (!m_page->running() || closeTried)
            return;
        sawRunning = true;
        EXPECT_FALSE(m_window->cmdResetSubscribers->isEnabled());
        EXPECT_FALSE(m_window->cmdPrevious->isEnabled());
        EXPECT_FALSE(m_window->cmdExit->isEnabled());
        EXPECT_FALSE(m_window->cmdNext->isEnabled());
        EXPECT_TRUE(m_window->cmdHelp->isEnabled());
        closeTried = true;
        // The refusal is a modal box; close it from inside its own event loop.
        QTimer::singleShot(0, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                refusal = box->text();
                box->accept();
            }
        });
        m_window->close();
        EXPECT_TRUE(m_window->isVisible()) << "the window closed during a run";
    };
    bool exitAsked = false;
    QObject::connect(m_window.get(), &frmResetSubscribers::exitRequested,
                     [&] { exitAsked = true; });
    m_ui.answers = {MsgAnswer::Yes, MsgAnswer::Cancel};
    m_window->cmdResetSubscribers->click();

    EXPECT_TRUE(sawRunning);
    EXPECT_EQ(refusal, QString::fromUtf8(frmResetSubscribers::kCloseRefused));
    EXPECT_FALSE(exitAsked);
    EXPECT_FALSE(m_page->running());
    // Finished: only Exit and Help remain.
    EXPECT_FALSE(m_window->cmdResetSubscribers->isEnabled());
    EXPECT_FALSE(m_window->cmdPrevious->isEnabled());
    EXPECT_TRUE(m_window->cmdExit->isEnabled());
    EXPECT_TRUE(m_window->cmdHelp->isEnabled());
    EXPECT_EQ(m_window->ProgressBar->maximum(), 4);
    EXPECT_EQ(m_window->ProgressBar->value(), 4);
    EXPECT_EQ(m_window->lblSubscribersAddedCount->text(), QStringLiteral("0"));
    ASSERT_EQ(m_ui.boxes.size(), 2u);
    EXPECT_EQ(m_ui.boxes[0], ResetPage::kConfirmation);

    // After the run, closing through the frame ends the program as Exit does.
    m_window->close();
    EXPECT_TRUE(exitAsked);
}

TEST_F(ResetWindowTest, AnsweringNoChangesNothing) {
    open("");
    addUncheckedRows(2);
    m_ui.answers = {MsgAnswer::No};
    m_window->cmdResetSubscribers->click();
    EXPECT_TRUE(m_window->cmdResetSubscribers->isEnabled());
    EXPECT_TRUE(m_window->cmdPrevious->isEnabled());
    EXPECT_EQ(m_window->ProgressBar->value(), 0);
    EXPECT_TRUE(m_log->LogFilePath().empty());
    EXPECT_EQ(m_ui.passes, 0);
}

} // namespace
