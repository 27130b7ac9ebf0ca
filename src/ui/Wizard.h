#pragma once
// The wizard's shell: the three pages replace each other at one screen position, side windows
// open from them, and every way out goes through ExitApplication.

#include "app/MainPage.h"
#include "app/Program.h"

#include "i18n/modLocalize.h"

#include <QObject>
#include <QString>
#include <memory>

class QWidget;

namespace zeph {

class frmMain;
class frmHelp;
class frmAbout;
class AboutPage;
class frmChooseSubscribers;
class frmResetSubscribers;
class ChooseSubscribersPage;
class ResetPage;
class RecoveryPage;
class frmRecovery;

class Wizard : public QObject {
    Q_OBJECT
public:
    Wizard(Program &program, MainPage &mainPage);
    ~Wizard() override;

    /// Shows the first page (after its load step has run).
    void start();

    frmMain *mainWindow() const { return m_main.get(); }
    /// The selection page's window while it is loaded, else null.
    frmChooseSubscribers *chooseWindow() const { return m_chooseWindow.get(); }
    ChooseSubscribersPage *choosePage() const { return m_choosePage.get(); }
    /// The reset page's window once it was loaded, else null.
    frmResetSubscribers *resetWindow() const { return m_resetWindow.get(); }
    ResetPage *resetPage() const { return m_resetPage.get(); }
    frmHelp *helpWindow() const { return m_help.get(); }
    /// The recovery page's window when the start found something to recover, else null.
    frmRecovery *recoveryWindow() const { return m_recoveryWindow.get(); }
    RecoveryPage *recoveryPage() const { return m_recoveryPage.get(); }
    i18n::modLocalize &localize() const { return m_program.localize; }

    /// What the operator's buttons do (public so that tests can drive the wizard).
    void mainNext();
    void chooseNext();
    void choosePrevious();
    void resetPrevious();
    void showHelp();
    /// Shows the About window modally (loaded on first use, then only hidden).
    void showAbout();
    void checkForUpdate();
    void exitProgram();

    /// Keeps the size and place of the page shown for the next program run.
    void rememberPlace();

private:
    QString settingsPath() const;
    /// At start: the recovery page over the first page, when this server has unfinished
    /// resets or an owed synchronisation.
    void offerRecovery();
    /// After a recovery: the cached tables and the template lists are read again.
    void reloadTables();
    void loadChoosePage();
    void loadResetPage();
    /// Shows `to` at the position of `from` and hides `from`.
    void replacePage(QWidget *from, QWidget *to);
    void dropRetiredChoosePage();
    /// The page the operator sees (side windows open over it).
    QWidget *visiblePage() const;

    Program &m_program;
    MainPage &m_mainPage;
    std::unique_ptr<frmMain> m_main;
    // The first page takes the language's fonts on a switch (its texts stay English).
    i18n::WindowRegistration m_mainLanguage;
    std::unique_ptr<ChooseSubscribersPage> m_choosePage;
    std::unique_ptr<frmChooseSubscribers> m_chooseWindow;
    // An unloaded selection page waits here until the signal that unloaded it has returned.
    std::unique_ptr<ChooseSubscribersPage> m_retiredChoosePage;
    std::unique_ptr<frmChooseSubscribers> m_retiredChooseWindow;
    std::unique_ptr<ResetPage> m_resetPage;
    std::unique_ptr<frmResetSubscribers> m_resetWindow;
    std::unique_ptr<frmHelp> m_help;
    std::unique_ptr<RecoveryPage> m_recoveryPage;
    std::unique_ptr<frmRecovery> m_recoveryWindow;
    std::unique_ptr<AboutPage> m_aboutPage;
    std::unique_ptr<frmAbout> m_about;
};

} // namespace zeph
