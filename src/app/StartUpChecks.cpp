#include "StartUpChecks.h"

#include "Program.h"
#include "app/host/ServiceAccount.h"
#include "platform/AsciiText.h"
#include "reset/RunLock.h"

#include <algorithm>

namespace zeph {
namespace {

constexpr Where kFormLoad{"Form_Load", "Form", "frmMain"};

constexpr const char *kBackEndKey = "SOFTWARE\\Ambrel\\SystemParameters\\1.0";
constexpr const char *kBackEndValue = "IDCProgID";
constexpr const char *kDominoConnector = "Ostrix.DominoConnector.1";
constexpr const char *kDirectoryConnector = "Ostrix.DirectoryConnector.1";
constexpr std::int32_t kServiceRunning = 4;

constexpr const char *kConnectionString = "Driver={SQL Server};server=;database=TarvoDb";

} // namespace

StartUpChecks::StartUpChecks(Program &program, StartUpSettings settings)
    : m_program(program)
    , m_settings(settings) {}

void StartUpChecks::reportError(const std::string &text) {
    m_program.message(text);
}

void StartUpChecks::fatal(const std::string &text) {
    m_program.host.ui->messageBox(text, MsgButtons::OK, MsgIcon::Critical);
    m_program.ExitApplication(kExitStartupFailed);
}

TemplateLists StartUpChecks::run() {
    auto report = [this](const std::string &text) { reportError(text); };
    // Each step is trapped on its own: an unexpected error is shown and loading goes on with
    // the next step. A fatal check ends the program inside its step (ProgramEnded passes the
    // trap untouched because it is not an error).
    std::string connectorService = "Fennix";
    TemplateLists templates;
    trap(kFormLoad, report, [&] { checkVersion(); });
    trap(kFormLoad, report, [&] { checkBackEnd(connectorService); });
    trap(kFormLoad, report, [&] { checkConnectorService(connectorService); });
    m_program.RunTestScript();
    trap(kFormLoad, report, [&] { openDatabase(); });
    trap(kFormLoad, report, [&] { fillTemplateLists(templates); });
    trap(kFormLoad, report, [&] { warnAboutAccount(); });
    if (m_settings.warnAboutUnfinishedResets)
        trap(kFormLoad, report, [&] { warnAboutUnfinished(); });
    return templates;
}

TemplateLists StartUpChecks::readTemplates(const Where &where) {
    TemplateLists templates;
    trap(
        where, [this](const std::string &text) { reportError(text); },
        [&] { fillTemplateLists(templates); });
    return templates;
}

// A subscriber removed and not yet created again is lost until the reset is finished: the
// administrator must hear of it before anything else is done.
void StartUpChecks::warnAboutUnfinished() {
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
    if (const std::optional<std::string> heldBy =
            runLockHeldElsewhere(host, m_program.tarvoDb.DbConnectionString())) {
        host.ui->messageBox(resetRunningNow(*heldBy), MsgButtons::OK, MsgIcon::Information);
        return;
    }
    const std::string text = scan.warning(*host.files);
    if (!text.empty())
        host.ui->messageBox(text, MsgButtons::OK, MsgIcon::Warning);
}

bool StartUpChecks::checkVersion() {
    TarvoVersion &version = m_program.tarvoVersion;
    version.InstalledVersion = version.ReadInstalledVersion();
    if (!version.IsVersionAtLeast(4, 0, 2, 20))
        fatal("Error!  This tool only works on versions of Tarvo 4.0(3) or later.  Exiting "
              "application.");
    return true;
}

bool StartUpChecks::checkBackEnd(std::string &connectorService) {
    const std::string backEnd = regText(
        m_program.registry.QueryValue(HKEY_LOCAL_MACHINE, kBackEndKey, kBackEndValue, REG_SZ));
    if (equalsIgnoreCase(backEnd, kDominoConnector))
        fatal("This tool only works with Exchange 5.5, Exchange 2000 or Exchange 2003 as the "
              "Tarvo message store back end.  Exiting");
    connectorService = equalsIgnoreCase(backEnd, kDirectoryConnector) ? "Morvin" : "Fennix";
    return true;
}

bool StartUpChecks::checkConnectorService(const std::string &service) {
    if (m_program.services.getServiceState(service) != kServiceRunning)
        fatal("The " + service +
              " service must be up and runnig for this tool to work properly.  Please make "
              "sure this service is running and try again.");
    return true;
}

bool StartUpChecks::openDatabase() {
    m_program.tarvoDb.setDbConnectionString(kConnectionString);
    bool opened = false;
    if (m_settings.openCachedTables) {
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

void StartUpChecks::fillTemplateLists(TemplateLists &lists) {
    // Without the cached tables the templates are read on their own.
    db::Recordset read(m_program.tarvoDb.database());
    if (!m_settings.openCachedTables)
        read.Open("Select * from vw_SubscriberTemplate", m_program.tarvoDb.DbConnectionString(),
                  db::adOpenForwardOnly, db::adLockReadOnly);
    db::Recordset &templates =
        m_settings.openCachedTables ? m_program.tarvoDb.rsSubscriberTemplates() : read;
    templates.MoveFirst();
    while (!templates.Eof()) {
        lists.aliases.push_back(templates.Fields("Alias").Text());
        // The display name goes to the position the new alias took, so both lists stay
        // index-parallel even when two templates share a display name.
        const auto position = lists.aliases.size() - 1;
        lists.displayNames.insert(
            lists.displayNames.begin() +
                static_cast<std::ptrdiff_t>(std::min(position, lists.displayNames.size())),
            templates.Fields("TextName").Text());
        templates.MoveNext();
    }
}

void StartUpChecks::warnAboutAccount() {
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

} // namespace zeph
