// The machine itself as the program's Host: the server runs here, so its registry, service
// manager, files, mail store and SQL Server database are the machine's own.
#include "MapiMailStore.h"
#include "Win32.h"
#include "Win32Machine.h"

#include "platform/Host.h"
#include "platform/odbc/OdbcDatabase.h"
#include "platform/pe/PeResources.h"

namespace zeph::win32 {

std::unique_ptr<Host> openServerMachine(std::function<void(const std::string &)> notice,
                                        const std::string &databaseText) {
    auto host = std::make_unique<Host>();
    host->notice = std::move(notice);
    host->registry = makeRegistry();
    host->services = makeServices();
    host->workstation = makeWorkstation();
    // Empty: the program's own connection text, "Driver={SQL Server};server=;database=TarvoDb".
    host->database = odbc::makeDatabase(databaseText);
    host->mail = makeMapiMailStore();
    host->files = makeFileSystem();
    host->ansiText = ansiCodePageText;
    host->ansiBytes = ansiCodePageBytes;
    host->shell = makeShell();
    host->http = makeHttp();
    host->clock = makeSystemClock();
    host->guids = makeGuidSource();
    host->resources = pe::makeResourceLoader();
    host->programFolder = executableFolder();
    host->exeName = "zephrane";
    return host;
}

} // namespace zeph::win32
