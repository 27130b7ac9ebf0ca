#include "Wizard.h"

#include "app/frmMain.h"

namespace zeph {

Wizard::Wizard(Program &program, MainPage &mainPage)
    : m_program(program)
    , m_mainPage(mainPage)
    , m_main(std::make_unique<frmMain>(mainPage)) {
    connect(m_main.get(), &frmMain::exitRequested, this, &Wizard::exitProgram);
    connect(m_main.get(), &frmMain::nextRequested, this, &Wizard::showMainNext);
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

void Wizard::showMainNext() {
    // The selection page joins here.
}

} // namespace zeph
