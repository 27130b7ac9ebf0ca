#pragma once
// The wizard's shell: the three pages replace each other at one screen position, side windows
// open from them, and every way out goes through ExitApplication.

#include "app/MainPage.h"
#include "app/Program.h"

#include <QObject>
#include <QPointer>
#include <memory>

namespace zeph {

class frmMain;
class frmHelp;

class Wizard : public QObject {
    Q_OBJECT
public:
    Wizard(Program &program, MainPage &mainPage);
    ~Wizard() override;

    /// Shows the first page (after its load step has run).
    void start();
    frmMain *mainWindow() const { return m_main.get(); }

private:
    void exitProgram();
    void showMainNext();
    /// Shows the help window without blocking the wizard; a second request brings it forward.
    void showHelp();
    void checkForUpdate();

    Program &m_program;
    MainPage &m_mainPage;
    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<frmHelp> m_help;
};

} // namespace zeph
