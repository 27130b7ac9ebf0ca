#include "MainPage.h"
#include "platform/AsciiText.h"
#include "reset/RunLock.h"

#include "Program.h"
#include "app/host/ServiceAccount.h"
#include "platform/Error.h"

#include <algorithm>
#include <cctype>

namespace zeph {

const char *const MainPage::kDescription =
    "The Zephrane tool allows administrators to choose a range of subscribers and have their "
    "subscriber settings reset back to defaults and have their mailstores cleared out while "
    "maintaining their public distribution list membership and keeping all links in the auto "
    "attendant in tact.  ";
const char *const MainPage::kExplanation =
    "Select the subscriber template to use when resetting the selected subscribers' subscriber "
    "accounts.  The defaults from this template will be applied to all reset subscriber "
    "mailboxes.  All their greetings and voice names will be removed and all their messages "
    "that may be in their inbox will be deleted.";
const char *const MainPage::kTemplatePrompt =
    "Select a subscriber template to use for defaults when resetting subscriber mailboxes:";
const char *const MainPage::kPreserveCaption = "Save alternate extensions for reset users";

namespace {

constexpr Where kFormLoad{"Form_Load", "Form", "frmMain"};
constexpr Where kNext{"cmdNext_Click", "Form", "frmMain"};
constexpr Where kReloadTables{"reloadTables", "Form", "frmMain"};

constexpr const char *kBackEndKey = "SOFTWARE\\Ambrel\\SystemParameters\\1.0";
constexpr const char *kBackEndValue = "IDCProgID";
constexpr const char *kDominoConnector = "Ostrix.DominoConnector.1";
constexpr const char *kDirectoryConnector = "Ostrix.DirectoryConnector.1";
constexpr std::int32_t kServiceRunning = 4;

constexpr const char *kConnectionString = "Driver={SQL Server};server=;database=TarvoDb";

} // namespace

MainPage::MainPage(Program &program)
    : m_program(program) {}

void MainPage::reportError(const std::string &text) {
    m_program.message(text);
}

void MainPage::fatal(const std::string &text) {
    m_program.host.ui->messageBox(text, MsgButtons::OK, MsgIcon::Critical);
    m_program.ExitApplication(kExitStartupFailed);
}

void MainPage::Form_Load() {
    auto report = [this](const std::string &text) { reportError(text); };
    // Each step is trapped on its own: an unexpected error is shown and loading goes on with
    // the next step. A fatal check ends the program inside its step (ProgramEnded passes the
    // trap untouched because it is not an error).
    std::string connectorService = "Fennix";
    trap(kFormLoad, report, [&] { checkVersion(); });
    trap(kFormLoad, report, [&] { checkBackEnd(connectorService); });
    trap(kFormLoad, report, [&] { checkConnectorService(connectorService); });
    m_program.RunTestScript();
    trap(kFormLoad, report, [&] { openDatabase(); });
    trap(kFormLoad, report, [&] { fillTemplateLists(); });
    trap(kFormLoad, report, [&] { warnAboutAccount(); });
    if (warnAboutUnfinishedResets)
        trap(kFormLoad, report, [&] { warnAboutUnfinished(); });
    chkPreserveAlternateExtensions = false;
}

// A subscriber removed and not yet created again is lost until the reset is finished: the
// administrator must hear of it before anything else is done.
void MainPage::warnAboutUnfinished() {
    Host &host = m_program.host;
    JournalScan scan = m_program.scanRecoveryJournals();
    // Other servers' journals are no work of this one: named in one quiet note, with no advice.
    if (!scan.elsewhere.empty()) {
        std::string note = "Recovery journals of other servers, left alone here:";
        for (const JournalFile &journal : scan.elsewhere)
            note += " " + host.files->nativePath(journal.path) +
                    (journal.server.empty() ? " (no server named)" : " (" + journal.server + ")");
        if (host.notice)
            host.notice(note);
        scan.elsewhere.clear();
    }
    if (!scan.needsAttention())
        return;
    // A run under way holds entries open for the subscriber it is working on: they are its
    // work, not an unfinished reset. (Asked only then: asking takes the lock for a moment.)
    std::string heldBy;
    if (runLockHeldElsewhere(host, m_program.tarvoDb.DbConnectionString(), heldBy)) {
        host.ui->messageBox(resetRunningNow(heldBy), MsgButtons::OK, MsgIcon::Information);
        return;
    }
    const std::string text = scan.warning(*host.files);
    if (!text.empty())
        host.ui->messageBox(text, MsgButtons::OK, MsgIcon::Warning);
}

bool MainPage::checkVersion() {
    TarvoVersion &version = m_program.tarvoVersion;
    version.InstalledVersion = version.ReadInstalledVersion();
    if (!version.IsVersionAtLeast(4, 0, 2, 20))
        fatal("Error!  This tool only works on versions of Tarvo 4.0(3) or later.  Exiting "
              "application.");
    return true;
}

bool MainPage::checkBackEnd(std::string &connectorService) {
    const std::string backEnd = regText(
        m_program.registry.QueryValue(HKEY_LOCAL_MACHINE, kBackEndKey, kBackEndValue, REG_SZ));
    if (equalsIgnoreCase(backEnd, kDominoConnector))
        fatal("This tool only works with Exchange 5.5, Exchange 2000 or Exchange 2003 as the "
              "Tarvo message store back end.  Exiting");
    connectorService = equalsIgnoreCase(backEnd, kDirectoryConnector) ? "Morvin" : "Fennix";
    return true;
}

bool MainPage::checkConnectorService(const std::string &service) {
    if (m_program.services.getServiceState(service) != kServiceRunning)
        fatal("The " + service +
              " service must be up and runnig for this tool to work properly.  Please make "
              "sure this service is running and try again.");
    return true;
}

bool MainPage::openDatabase() {
    m_program.tarvoDb.setDbConnectionString(kConnectionString);
    bool opened = false;
    if (openCachedTables) {
        opened = m_program.tarvoDb.bOpenDatabase(m_program.tarvoDb.DbConnectionString());
    } else {
        try {
            opened = m_program.tarvoDb.database().connect(m_program.tarvoDb.DbConnectionString()) !=
                     nullptr;
        } catch (const std::exception &) {
            opened = false;
        }
    }
    if (!opened)
        fatal("Unable to open TarvoDB with necessary rights needed for this tool.  Make sure "
              "you are running this tool logged in as a member of the local admins group.");
    return true;
}

bool MainPage::reloadTables() {
    const std::string chosen = chosenTemplateAlias();
    if (!m_program.tarvoDb.bReopenDatabase(m_program.tarvoDb.DbConnectionString())) {
        m_program.host.ui->messageBox("The server's subscribers and templates could not be read "
                                      "again after the recovery.  Restart Zephrane before you "
                                      "reset subscribers.",
                                      MsgButtons::OK, MsgIcon::Warning);
        return false;
    }
    trap(
        kReloadTables, [this](const std::string &text) { reportError(text); },
        [&] { fillTemplateLists(); });
    for (std::size_t i = 0; i < cmbSubscriberTemplateAlias.size(); ++i)
        if (!chosen.empty() && cmbSubscriberTemplateAlias[i] == chosen)
            templateListIndex = static_cast<int>(i);
    return true;
}

void MainPage::fillTemplateLists() {
    cmbSubscriberTemplateAlias.clear();
    cmbTemplateListDisplayName.clear();
    templateListIndex = -1;
    // Without the cached tables the templates are read on their own.
    db::Recordset read(m_program.tarvoDb.database());
    if (!openCachedTables)
        read.Open("Select * from vw_SubscriberTemplate", m_program.tarvoDb.DbConnectionString(),
                  db::adOpenForwardOnly, db::adLockReadOnly);
    db::Recordset &templates = openCachedTables ? m_program.tarvoDb.rsSubscriberTemplates() : read;
    templates.MoveFirst();
    while (!templates.Eof()) {
        cmbSubscriberTemplateAlias.push_back(templates.Fields("Alias").Text());
        // The display name goes to the position the new alias took, so both lists stay
        // index-parallel even when two templates share a display name.
        const auto position = cmbSubscriberTemplateAlias.size() - 1;
        cmbTemplateListDisplayName.insert(
            cmbTemplateListDisplayName.begin() +
                static_cast<std::ptrdiff_t>(std::min(position, cmbTemplateListDisplayName.size())),
            templates.Fields("TextName").Text());
        templates.MoveNext();
    }
}

void MainPage::warnAboutAccount() {
    auto report = [this](const std::string &text) { reportError(text); };
    if (!bCheckIfRunningAccountIsMessageStoreFacing(m_program.registry,
                                                    m_program.services.workStationInfo(), report)) {
        m_program.host.ui->messageBox(
            "Warning!  It doesn't appear that you are logged into the local system as the "
            "message store facing account (the account associated with the Dravik service)."
            "It is _strongly_ recommended that you log in as this account when running the "
            "Zephrane tool as it has all the rights on the mailstore the tool needs.",
            MsgButtons::OK, MsgIcon::Warning);
    }
}

std::string MainPage::templateListText() const {
    if (templateListIndex < 0 ||
        templateListIndex >= static_cast<int>(cmbTemplateListDisplayName.size()))
        return {};
    return cmbTemplateListDisplayName[static_cast<std::size_t>(templateListIndex)];
}

std::string MainPage::chosenTemplateAlias() const {
    if (templateListIndex < 0 ||
        templateListIndex >= static_cast<int>(cmbSubscriberTemplateAlias.size()))
        return {};
    return cmbSubscriberTemplateAlias[static_cast<std::size_t>(templateListIndex)];
}

bool MainPage::cmdNext_Click() {
    bool moveOn = false;
    trap(
        kNext, [this](const std::string &t) { reportError(t); },
        [&] {
            if (templateListText().empty()) {
                m_program.host.ui->messageBox("You must first select a template to use when "
                                              "resetting subscribers",
                                              MsgButtons::OK, MsgIcon::Warning);
                return;
            }
            moveOn = true;
        });
    return moveOn;
}

} // namespace zeph
