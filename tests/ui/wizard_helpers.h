#pragma once
// The whole wizard on an offscreen display and a stand-in host with virtual time, as the
// program's main builds it.

#include "app/MainPage.h"
#include "app/Program.h"
#include "app/frmMain.h"
#include "reset/frmResetSubscribers.h"
#include "select/ChooseSubscribersPage.h"
#include "select/frmChooseSubscribers.h"
#include "support/TempHost.h"
#include "ui/Wizard.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace zeph::test {

// The scripted user interface, giving the event loop its pass and telling the test of it.
struct PassingUi : ScriptedUi {
    std::function<void()> onPass;
    /// Told of each message box before it is answered.
    std::function<void(const std::string &)> onBox;
    MsgAnswer messageBox(const std::string &text, MsgButtons buttons, MsgIcon icon,
                         const std::string &title) override {
        if (onBox)
            onBox(text);
        return ScriptedUi::messageBox(text, buttons, icon, title);
    }
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
    /// The built language libraries beside the program; false when this build has none.
    bool installLanguages() {
        for (const char *code : {"DEU", "FRA", "JPN"}) {
            const std::string name = std::string("/zephrane_") + code + ".dll";
            const std::string library = std::string(ZEPH_BIN_DIR) + name;
            if (!std::filesystem::exists(library))
                return false;
            std::filesystem::copy_file(library, host.programFolder() + name);
        }
        return true;
    }
    /// From the first page to the reset page with the grid's first `ticked` rows ticked.
    frmResetSubscribers *toResetPage(int ticked) {
        toFilledGrid();
        SubscriberGrid &grid = wizard->choosePage()->myGrid;
        grid.deselectAll();
        for (int row = 1; row <= ticked; ++row)
            grid.setChecked(row, true);
        click(wizard->chooseWindow()->cmdNext);
        return wizard->resetWindow();
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
