#include "Wizard.h"

#include "app/frmMain.h"
#include "extras/HelpWindowLayout.h"
#include "extras/frmHelp.h"
#include "extras/modUpdateCheck.h"

namespace zeph {

Wizard::Wizard(Program &program, MainPage &mainPage)
    : m_program(program)
    , m_mainPage(mainPage)
    , m_main(std::make_unique<frmMain>(mainPage)) {
    connect(m_main.get(), &frmMain::exitRequested, this, &Wizard::exitProgram);
    connect(m_main.get(), &frmMain::nextRequested, this, &Wizard::showMainNext);
    connect(m_main.get(), &frmMain::helpRequested, this, &Wizard::showHelp);
    connect(m_main.get(), &frmMain::updateCheckRequested, this, &Wizard::checkForUpdate);
}

Wizard::~Wizard() = default;

void Wizard::start() {
    m_main->refresh();
    m_main->show();
}

void Wizard::exitProgram() {
    if (m_program.resetRunning && m_program.resetRunning()) {
        m_program.message("A subscriber reset is under way.  Wait until it is complete before "
                          "leaving, or a subscriber may be lost between its removal and its "
                          "re-creation.");
        return;
    }
    m_program.ExitApplication(0);
}

void Wizard::showHelp() {
    if (!m_help) {
        m_help = std::make_unique<frmHelp>(helpPageAddress(m_program.host.programFolder));
        m_help->Form_Load();
    }
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void Wizard::checkForUpdate() {
    m_program.host.ui->setBusy(true);
    modUpdateCheck check(m_program.host, m_program.registry);
    m_program.host.ui->setBusy(false);
    check.CheckForUpdate();
}

void Wizard::showMainNext() {
    // The selection page joins here.
}

} // namespace zeph
