// The reset window on a real (offscreen) Qt: the buttons during and after a run, and closing
// through the frame refused while a run is under way.
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

} // namespace

// The window over a grid of unchecked rows: the run walks them without touching the server.
TEST(ResetWindow, ButtonsAreDisabledWhileRunningAndClosingIsRefused) {
    test::testApplication();
    test::TempHost temp{3};
    PassingUi ui;
    temp.set("virtual-time", "on");
    Host &host = temp.host();
    host.ui = &ui;
    RegistryAPI registry(*host.registry);
    db::modTarvoDB tarvoDb(*host.database);
    Logging log(host);
    SubscriberGrid grid;
    for (int i = 0; i < 4; ++i)
        grid.AddItem(std::to_string(grid.Rows()));
    ResetInputs inputs;
    inputs.grid = [&]() -> const SubscriberGrid & { return grid; };
    inputs.templateAlias = [] { return std::string(); };
    inputs.preserveAlternateExtensions = [] { return false; };
    ResetPage page(host, registry, tarvoDb, log, inputs);
    frmResetSubscribers window(page);
    window.Form_Load();
    window.show();

    bool closeTried = false;
    QString refusal;
    ui.onPass = [&] {
        if (!page.running() || closeTried)
            return;
        closeTried = true;
        EXPECT_FALSE(window.cmdResetSubscribers->isEnabled());
        EXPECT_FALSE(window.cmdPrevious->isEnabled());
        EXPECT_FALSE(window.cmdExit->isEnabled());
        EXPECT_FALSE(window.cmdNext->isEnabled());
        EXPECT_TRUE(window.cmdHelp->isEnabled());
        // The refusal is a modal box; close it from inside its own event loop.
        QTimer::singleShot(0, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                refusal = box->text();
                box->accept();
            }
        });
        window.close();
        EXPECT_TRUE(window.isVisible()) << "the window closed during a run";
    };
    bool exitAsked = false;
    QObject::connect(&window, &frmResetSubscribers::exitRequested, [&] { exitAsked = true; });
    ui.expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
    ui.expectBox("", MsgAnswer::Cancel);
    window.cmdResetSubscribers->click();
    ui.verifyAllShown();
    EXPECT_TRUE(closeTried);
    EXPECT_EQ(refusal, QString::fromUtf8(frmResetSubscribers::kCloseRefused));
    EXPECT_FALSE(exitAsked);
    // Finished: only Exit and Help remain.
    EXPECT_FALSE(window.cmdResetSubscribers->isEnabled());
    EXPECT_FALSE(window.cmdPrevious->isEnabled());
    EXPECT_TRUE(window.cmdExit->isEnabled());
    EXPECT_EQ(window.ProgressBar->value(), 4);
    EXPECT_EQ(window.lblSubscribersAddedCount->text(), QStringLiteral("0"));
    // After the run, closing through the frame ends the program as Exit does.
    window.close();
    EXPECT_TRUE(exitAsked);
}
