#include "Program.h"
#include "platform/AsciiText.h"

#include "app/Version.h"
#include "extras/ToolPage.h"
#include "reset/RunLock.h"

#include <algorithm>
#include <cctype>

namespace zeph {

Program::Program(Host &hostRef)
    : host(hostRef)
    , registry(*hostRef.registry)
    , tarvoVersion(registry)
    , services(*hostRef.services, *hostRef.workstation, messageReporter())
    , tarvoDb(*hostRef.database)
    , log(hostRef, &services.workStationInfo())
    , localize(hostRef) {
    log.setPurgeGuard(
        [this](const std::string &path) { return journalMustBeKept(*host.files, path); });
}

JournalScan Program::scanRecoveryJournals() {
    JournalScan scan = scanJournals(*host.files, {log.logFolder(), log.fallbackLogFolder()});
    const Result<std::string> server = nameServer(host, tarvoDb.DbConnectionString());
    if (!server)
        scan.problems.push_back(server.error() + ", so no recovery journal can be matched to it");
    scan.keepServer(server.valueOr(std::string()));
    return scan;
}

void Program::ExitApplication(int code) {
    try {
        log.CloseLogFile();
    } catch (...) {
        // Leaving must not fail.
    }
    if (exitHandler)
        exitHandler(code);
    throw ProgramEnded(code);
}

void Program::RunTestScript() {
    try {
        const std::string script = host.programFolder + "\\test.bat";
        if (!host.files->fileExists(script))
            return;
        host.shell->startProgram(script + " " + ownVersionText() + " " + ToolPageAddress(registry),
                                 WindowStyle::MinimizedFocus);
    } catch (...) {
        // The start-up hook reports nothing; start-up goes on.
    }
}

bool Program::commandLineHas(std::string_view word) const {
    return containsIgnoreCase(host.commandLine, word);
}

void Program::message(const std::string &text) {
    host.ui->messageBox(text, MsgButtons::OK);
}

std::function<void(const std::string &)> Program::messageReporter() {
    // What it reports are failures: they carry the error icon.
    return [this](const std::string &text) {
        host.ui->messageBox(text, MsgButtons::OK, MsgIcon::Critical);
    };
}

} // namespace zeph
