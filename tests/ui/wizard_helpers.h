#pragma once
// The whole wizard on an offscreen display and a stand-in host with virtual time, as the
// program's main builds it.

#include "app/MainPage.h"
#include "app/Program.h"
#include "app/frmMain.h"
#include "select/ChooseSubscribersPage.h"
#include "select/frmChooseSubscribers.h"
#include "support/TempHost.h"
#include "ui/Wizard.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>
#include <string>

namespace zeph::test {

// The scripted user interface, giving the event loop its pass and telling the test of it.
struct PassingUi : ScriptedUi {
    std::function<void()> onPass;
    void doEvents() override {
        ScriptedUi::doEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (onPass)
            onPass();
    }
};

// A wizard on a fresh host, as the program's main builds it.
struct WizardRun {
    /// `userData`: the user's data folder, where the wizard keeps its size and place (the
    /// host's folder when none is given).
    /// `before` prepares the host before the program starts on it.
    explicit WizardRun(const std::string &commandLine = {}, const std::string &userData = {},
                       const std::function<void(TempHost &)> &before = {}) {
        testApplication();
        setUserDataHome(userData.empty() ? host.folder() : userData);
        host.set("virtual-time", "on");
        if (before) {
            before(host);
            host.reopen();
        }
        host.host().commandLine = commandLine;
        host.host().ui = &ui;
        program = std::make_unique<Program>(host.host());
        program->exitHandler = [this](int code) { exitCode = code; };
        mainPage = std::make_unique<MainPage>(*program);
        mainPage->warnAboutUnfinishedResets = false; // as the wizard's main does
        mainPage->Form_Load();
        wizard = std::make_unique<Wizard>(*program, *mainPage);
        wizard->start();
    }
    ~WizardRun() {
        wizard.reset();
        setUserDataHome(m_userDataBefore);
    }
    void click(QPushButton *button) {
        ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    /// From the first page to a filled grid ("All subscribers").
    void toFilledGrid() {
        wizard->mainWindow()->cmbTemplateListDisplayName->setCurrentIndex(0);
        click(wizard->mainWindow()->cmdNext);
        ASSERT_NE(wizard->chooseWindow(), nullptr);
        click(wizard->chooseWindow()->cmdView);
        ASSERT_GT(wizard->choosePage()->myGrid.Rows(), 1);
    }

    // Put back when the run goes, so that no later test writes into a removed folder.
    std::string m_userDataBefore = [] {
        const QByteArray before = qgetenv("XDG_DATA_HOME");
        return before.toStdString();
    }();
    TempHost host{30, 3};
    PassingUi ui;
    std::unique_ptr<Program> program;
    std::unique_ptr<MainPage> mainPage;
    std::unique_ptr<Wizard> wizard;
    int exitCode = -1;
};

} // namespace zeph::test
