#include "Wizard.h"

#include "app/ResetHandOver.h"
#include "app/frmMain.h"
#include "extras/AboutPage.h"
#include "extras/HelpWindowLayout.h"
#include "extras/frmAbout.h"
#include "extras/frmHelp.h"
#include "extras/modUpdateCheck.h"
#include "platform/Error.h"
#include "reset/RecoveryPage.h"
#include "reset/ResetPage.h"
#include "reset/frmRecovery.h"
#include "reset/frmResetSubscribers.h"
#include "search/AdvancedSearchPage.h"
#include "search/frmAdvancedSubscriberSearch.h"
#include "select/ChooseSubscribersPage.h"
#include "select/frmChooseSubscribers.h"
#include "ui/Fonts.h"
#include "ui/WindowPlacement.h"

#include <QPushButton>
#include <QRect>
#include <QSettings>

namespace zeph {

namespace {
constexpr Where kResetPrevious{"cmdPrevious_Click", "Form", "frmResetSubscribers"};

// The advanced search opens modally over the selection window, starting afresh each time.
void showAdvancedSearch(Program &program, ChooseSubscribersPage &selection, QWidget *over) {
    search::AdvancedSearchPage page(program.host, program.registry, program.tarvoDb,
                                    selection.search());
    search::frmAdvancedSubscriberSearch window(page, &program.localize, over);
    ui::placeOver(&window, over);
    window.exec();
}
} // namespace

Wizard::Wizard(Program &program, MainPage &mainPage)
    : m_program(program)
    , m_mainPage(mainPage)
    , m_main(std::make_unique<frmMain>(mainPage)) {
    connect(m_main.get(), &frmMain::exitRequested, this, &Wizard::exitProgram);
    connect(m_main.get(), &frmMain::nextRequested, this, &Wizard::mainNext);
    connect(m_main.get(), &frmMain::helpRequested, this, &Wizard::showHelp);
    connect(m_main.get(), &frmMain::updateCheckRequested, this, &Wizard::checkForUpdate);
    connect(m_main.get(), &frmMain::aboutRequested, this, &Wizard::showAbout);
    m_mainLanguage = ui::registerLanguageWindow(m_program.localize, m_main.get(), "frmMain");
    m_program.resetRunning = [this] { return m_resetPage && m_resetPage->running(); };
}

Wizard::~Wizard() {
    dropRetiredChoosePage();
    m_program.resetRunning = nullptr;
}

QString Wizard::settingsPath() const {
    return QString::fromStdString(m_program.host.files->userDataFolder()) +
           QStringLiteral("/wizard.ini");
}

void Wizard::start() {
    m_main->refresh();
    m_main->resize(ui::wizardPageSize(m_main.get()));
    ui::placeOver(m_main.get(), nullptr);
    // The size and place of the last program run, as long as they fit a screen of this one.
    QSettings settings(settingsPath(), QSettings::IniFormat);
    const QRect place = settings.value(QStringLiteral("wizard/place")).toRect();
    const auto restore = [&] {
        if (!place.isValid())
            return;
        m_main->setGeometry(QRect(place.topLeft(), place.size().expandedTo(m_main->minimumSize())));
        ui::keepOnScreen(m_main.get());
    };
    restore();
    m_main->show();
    // Once shown, the place is the client area's whatever frame the window manager drew, as
    // the pages hand it on to each other.
    restore();
    offerRecovery();
}

void Wizard::offerRecovery() {
    m_recoveryPage = std::make_unique<RecoveryPage>(
        m_program.host, m_program.registry, m_program.tarvoDb, m_program.log,
        [this] { return m_program.scanRecoveryJournals(); });
    if (!m_recoveryPage->look()) {
        // Another run holds the server: its open entries are its own work, not unfinished.
        if (!m_recoveryPage->lockHolder.empty())
            m_program.host.ui->messageBox(m_recoveryPage->lockHolder, MsgButtons::OK,
                                          MsgIcon::Information);
        m_recoveryPage.reset();
        return;
    }
    m_recoveryWindow =
        std::make_unique<frmRecovery>(*m_recoveryPage, &m_program.localize, m_main.get());
    connect(m_recoveryWindow.get(), &frmRecovery::helpRequested, this, &Wizard::showHelp);
    connect(m_recoveryWindow.get(), &frmRecovery::recovered, this, &Wizard::reloadTables);
    ui::placeOver(m_recoveryWindow.get(), m_main.get());
    // Over the first page, which waits until the recovery page is closed.
    m_recoveryWindow->setWindowModality(Qt::WindowModal);
    m_recoveryWindow->show();
}

void Wizard::reloadTables() {
    // What was read at start no longer shows the server: the recovered subscribers are back
    // (and a reset looks each one up in the cached subscribers), a template may be gone.
    // The recovery page stands over the first page at start, so no selection has been made
    // yet: the selection page, loaded later, fills its grid from the tables read here.
    m_mainPage.reloadTables();
    m_main->refresh();
}

void Wizard::rememberPlace() {
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("wizard/place"), visiblePage()->geometry());
    settings.sync();
}

void Wizard::replacePage(QWidget *from, QWidget *to) {
    // Each page takes the place and size of the one it replaces, so the wizard stays put; the
    // client areas are matched, which a window manager's frame does not shift.
    ui::takePlaceOf(to, from);
    to->show();
    to->raise();
    to->activateWindow();
    from->hide();
}

void Wizard::loadChoosePage() {
    m_choosePage = std::make_unique<ChooseSubscribersPage>(m_program.host, m_program.registry,
                                                           m_program.tarvoDb, &m_program.localize,
                                                           m_program.host.commandLine);
    m_chooseWindow = std::make_unique<frmChooseSubscribers>(*m_choosePage, &m_program.localize);
    connect(m_chooseWindow.get(), &frmChooseSubscribers::nextRequested, this, &Wizard::chooseNext);
    connect(m_chooseWindow.get(), &frmChooseSubscribers::previousRequested, this,
            &Wizard::choosePrevious);
    connect(m_chooseWindow.get(), &frmChooseSubscribers::helpRequested, this, &Wizard::showHelp);
    connect(m_chooseWindow.get(), &frmChooseSubscribers::exitRequested, this, &Wizard::exitProgram);
    connect(m_chooseWindow.get(), &frmChooseSubscribers::advancedSearchRequested, this,
            [this] { showAdvancedSearch(m_program, *m_choosePage, m_chooseWindow.get()); });
    m_chooseWindow->Form_Load();
}

void Wizard::loadResetPage() {
    // The run takes what the other pages hand over when its button is pressed; a page that is
    // gone hands nothing over, which the reset page tells.
    auto handOver = [this] {
        if (!m_choosePage)
            throw Error(errnum::kInternal, "The selection page is not loaded");
        return handOverRequest(m_mainPage, *m_choosePage);
    };
    m_resetPage = std::make_unique<ResetPage>(m_program.host, m_program.registry, m_program.tarvoDb,
                                              m_program.log, handOver);
    m_resetWindow = std::make_unique<frmResetSubscribers>(*m_resetPage, &m_program.localize);
    connect(m_resetWindow.get(), &frmResetSubscribers::previousRequested, this,
            &Wizard::resetPrevious);
    connect(m_resetWindow.get(), &frmResetSubscribers::helpRequested, this, &Wizard::showHelp);
    connect(m_resetWindow.get(), &frmResetSubscribers::exitRequested, this, &Wizard::exitProgram);
    m_resetWindow->Form_Load();
}

void Wizard::mainNext() {
    // frmMain's own check (a chosen template) has passed.
    dropRetiredChoosePage();
    if (!m_chooseWindow)
        loadChoosePage();
    replacePage(m_main.get(), m_chooseWindow.get());
}

void Wizard::chooseNext() {
    // The grid's hand-over checks have passed.
    m_program.host.ui->setBusy(true);
    m_chooseWindow->cmdNext->setEnabled(false);
    if (!m_resetWindow)
        loadResetPage();
    // The review shows the grid as it is handed over now.
    m_resetWindow->refresh();
    replacePage(m_chooseWindow.get(), m_resetWindow.get());
    m_program.host.ui->setBusy(false);
    m_chooseWindow->cmdNext->setEnabled(true);
}

void Wizard::choosePrevious() {
    // The window has cleared the grid; the page is unloaded, so the next visit starts afresh.
    m_main->refresh();
    replacePage(m_chooseWindow.get(), m_main.get());
    dropRetiredChoosePage();
    m_retiredChooseWindow = std::move(m_chooseWindow);
    m_retiredChoosePage = std::move(m_choosePage);
}

void Wizard::dropRetiredChoosePage() {
    // The window goes before the page it draws.
    m_retiredChooseWindow.reset();
    m_retiredChoosePage.reset();
}

void Wizard::resetPrevious() {
    trap(kResetPrevious, m_program.messageReporter(), [&] {
        if (!m_chooseWindow)
            loadChoosePage();
        replacePage(m_resetWindow.get(), m_chooseWindow.get());
    });
}

void Wizard::showHelp() {
    if (!m_help) {
        m_help = std::make_unique<frmHelp>(helpPageAddress(m_program.host.programFolder));
        m_help->Form_Load();
        ui::placeOver(m_help.get(), visiblePage());
    }
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void Wizard::showAbout() {
    if (!m_about) {
        m_aboutPage = std::make_unique<AboutPage>(m_program.localize, *m_program.host.ui);
        m_about = std::make_unique<frmAbout>(*m_aboutPage, m_main.get());
        m_about->Form_Load();
    }
    ui::placeOver(m_about.get(), visiblePage());
    m_about->exec();
}

QWidget *Wizard::visiblePage() const {
    for (QWidget *page : std::initializer_list<QWidget *>{m_main.get(), m_chooseWindow.get(),
                                                          m_resetWindow.get()}) {
        if (page && page->isVisible())
            return page;
    }
    return m_main.get();
}

void Wizard::checkForUpdate() {
    modUpdateCheck check(m_program.host, m_program.registry);
    check.CheckForUpdate();
}

void Wizard::exitProgram() {
    if (m_recoveryPage && m_recoveryPage->running())
        return;
    // During a run the reset window asks whether to stop it first; nothing modal may stand
    // between two steps of a subscriber, so any other way out waits for the run's end.
    if (m_program.resetRunning && m_program.resetRunning())
        return;
    rememberPlace();
    m_program.ExitApplication(0);
}

} // namespace zeph
