// The reset window on a real (offscreen) Qt: the buttons before, during and after a run, and
// closing through the frame refused while a run is under way.
#include "reset/frmResetSubscribers.h"
#include "support/TempHost.h"
#include "ui_helpers.h"

#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "log/Logging.h"
#include "select/SubscriberGrid.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>

using namespace zeph;

namespace {

// The scripted user interface, giving the event loop its pass and telling the test of it.
struct PassingUi : test::ScriptedUi {
    std::function<void()> onPass;
    void doEvents() override {
        ScriptedUi::doEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (onPass)
            onPass();
    }
};

// The window over a grid of unchecked rows: the run walks them without touching the server.
class ResetWindowTest : public ::testing::Test {
protected:
    test::TempHost m_temp{3};
    PassingUi m_ui;
    std::unique_ptr<RegistryAPI> m_registry;
    std::unique_ptr<db::modTarvoDB> m_tarvoDb;
    std::unique_ptr<Logging> m_log;
    SubscriberGrid m_grid;
    std::unique_ptr<ResetPage> m_page;
    std::unique_ptr<frmResetSubscribers> m_window;

    void SetUp() override {
        test::testApplication();
        m_temp.set("virtual-time", "on");
        Host &host = m_temp.host();
        host.ui = &m_ui;
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
        for (int i = 0; i < 4; ++i)
            m_grid.AddItem(std::to_string(m_grid.Rows()));
    }
};

TEST_F(ResetWindowTest, ButtonsAreDisabledWhileRunningAndClosingIsRefused) {
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
    m_ui.expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
    m_ui.expectBox("", MsgAnswer::Cancel);
    m_window->cmdResetSubscribers->click();
    m_ui.verifyAllShown();

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

    // After the run, closing through the frame ends the program as Exit does.
    m_window->close();
    EXPECT_TRUE(exitAsked);
}

TEST_F(ResetWindowTest, AnsweringNoChangesNothing) {
    m_ui.expectBox(ResetPage::kConfirmation, MsgAnswer::No);
    m_window->cmdResetSubscribers->click();
    m_ui.verifyAllShown();
    EXPECT_TRUE(m_window->cmdResetSubscribers->isEnabled());
    EXPECT_TRUE(m_window->cmdPrevious->isEnabled());
    EXPECT_EQ(m_window->ProgressBar->value(), 0);
    EXPECT_TRUE(m_log->LogFilePath().empty());
    EXPECT_EQ(m_ui.doEventsCount(), 0);
}

} // namespace
