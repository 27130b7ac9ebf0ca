#include "SimHost.h"

#include "FileRegistry.h"
#include "HostDrive.h"
#include "RegFile.h"
#include "SimParts.h"
#include "ToldProcedures.h"
#include "platform/Error.h"
#include "platform/Native.h"
#include "platform/odbc/OdbcDatabase.h"
#include "platform/pe/PeResources.h"
#include "standin/server/StandInServer.h"

#include <cctype>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {
constexpr const char *kHostConnectionText = "Driver={SQL Server};server=;database=TarvoDb";
}

namespace zeph::sim {

std::string registryPath(const std::string &folder) {
    return folder + "/registry.reg";
}
std::string databasePath(const std::string &folder) {
    return folder + "/TarvoDb.sqlite";
}
std::string mailstorePath(const std::string &folder) {
    return folder + "/mailstore";
}
std::string defaultRootPath(const std::string &folder) {
    return folder + "/Pradix/";
}
std::string defaultServerRootPath() {
    return std::string(kHostDrive) + "Pradix\\";
}

std::string defaultHostFolder() {
    std::string data = native::environment("XDG_DATA_HOME");
    if (data.empty()) {
        std::string home = native::environment("HOME");
        data = (home.empty() ? std::string(".") : home) + "/.local/share";
    }
    return data + "/zephrane/host";
}

bool isHostFolder(const std::string &folder) {
    std::error_code ec;
    return fs::is_regular_file(registryPath(folder), ec);
}

namespace {

// The registry of a server that passes every start-up check: version 4.0 build 3.20, an
// Exchange back end (so the Fennix connector is checked), the main service running as the
// logged-on user, a root folder for recordings and two telephone-system integrations.
std::string defaultRegistry(const SimSettings &settings) {
    const std::string account = settings.get("domain") + "\\" + settings.get("user");
    std::ostringstream reg;
    reg << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n"
        << "\"Version Number\"=dword:00040000\r\n"
        << "\"Build Number\"=dword:00030014\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\SystemParameters\\1.0]\r\n"
        << "\"IDCProgID\"=\"Ostrix.ExchangeConnector.1\"\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Pradix\\1.0]\r\n"
        << "\"Root Path\"=" << regfile::quoted(defaultServerRootPath()) << "\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Telvo\\1.0\\Initialization\\Integrations\\"
           "Integration1]\r\n"
        << "\"DisplayName\"=\"Calloway 4600 (serial)\"\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Telvo\\1.0\\Initialization\\Integrations\\"
           "Integration2]\r\n"
        << "\"DisplayName\"=\"Varna SIP gateway\"\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Dravik]\r\n"
        << "\"ObjectName\"=" << regfile::quoted(account) << "\r\n"
        << "\"DisplayName\"=\"Dravik messaging service\"\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Fennix]\r\n"
        << "\"DisplayName\"=\"Fennix mail connector\"\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Morvin]\r\n"
        << "\"DisplayName\"=\"Morvin directory connector\"\r\n\r\n";
    return reg.str();
}

/// A password no one guesses: the hex digits of a new random GUID.
std::string newPassword() {
    std::string password;
    for (char c : native::makeGuidSource()->newGuid()) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            password += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return password.substr(0, 20);
}

} // namespace

Status initHost(const std::string &folder, const InitOptions &options) {
    if (options.subscribers < 0 || options.subscribers > 200000)
        return fail("the number of subscribers must be between 0 and 200000");
    std::error_code ec;
    // The folder is made here, for its owner alone. One that exists already is taken only when
    // it is empty, this user's, and others may not write in it: in a shared folder such as
    // /tmp another user could have made it beforehand and planted links at the names that
    // the programs open.
    if (fs::exists(fs::symlink_status(folder, ec))) {
        if (isHostFolder(folder) || fs::exists(databasePath(folder)))
            return fail(folder + " already holds a stand-in host; choose an empty folder");
        if (const Status private_ = native::checkPrivateFolder(folder); !private_)
            return fail(folder + " cannot hold a stand-in host: " + private_.error() +
                        ". Name a new folder; zephrane-sim init makes it itself");
        if (!fs::is_empty(folder, ec) || ec)
            return fail(folder + " is not empty; choose a new or empty folder");
    } else if (const Status made = native::createPrivateFolder(folder); !made) {
        return made;
    }
    fs::create_directories(defaultRootPath(folder) + "Stream Files", ec);
    if (!ec)
        fs::create_directories(mailstorePath(folder), ec);
    if (ec)
        return fail("cannot create the folders of " + folder + ": " + ec.message());
    SimSettings settings;
    // Both values are known good: a new host's login and a password of hex digits.
    (void)settings.set("sql-login", "zephrane");
    (void)settings.set("sql-password", newPassword());
    if (const Status saved = settings.save(folder); !saved)
        return saved;

    sqlite::SeedOptions seed;
    seed.subscribers = options.subscribers;
    seed.seed = options.seed;
    seed.busySubscribers = options.busySubscribers;
    seed.rootPath = defaultRootPath(folder);
    seed.serverRootPath = defaultServerRootPath();
    seed.mailstoreFolder = mailstorePath(folder);
    if (Status created = sqlite::createServerDatabase(databasePath(folder), seed); !created)
        return created;
    // The new server's own id, kept in its database: every host made here is told apart from
    // every other, whatever its seed.
    try {
        std::unique_ptr<IGuidSource> guids = native::makeGuidSource();
        sqlite::ServerContext context;
        context.guids = guids.get();
        sqlite::makeStandInDatabase(databasePath(folder), context)->serverName(kHostConnectionText);
    } catch (const Error &e) {
        return fail("cannot name the server of " + folder + ": " + e.description());
    }
    // The registry is written last: a folder with a registry file is a finished host.
    return writeFileAtomically(registryPath(folder), defaultRegistry(settings));
}

Result<std::string> resolveHostFolder(const std::function<void(const std::string &)> &notice) {
    std::string named = native::environment("ZEPHRANE_HOST");
    if (!named.empty()) {
        if (!isHostFolder(named))
            return fail("ZEPHRANE_HOST names " + named +
                        ", which is not a stand-in host folder (it has no registry.reg). Create "
                        "one with: zephrane-sim init " +
                        named);
        if (Status own = hostSelfContained(named); !own)
            return own.failure();
        return named;
    }
    std::string folder = defaultHostFolder();
    if (isHostFolder(folder)) {
        if (Status own = hostSelfContained(folder); !own)
            return own.failure();
        return folder;
    }
    InitOptions options;
    if (Status made = initHost(folder, options); !made)
        return fail("cannot create the default stand-in host in " + folder + ": " + made.error());
    if (notice)
        notice("Created a default stand-in host in " + folder +
               " (set ZEPHRANE_HOST to use another).");
    return folder;
}

std::string databaseInUse(const std::string &folder) {
    const std::string named = native::environment(kDatabaseVariable);
    if (named.empty())
        return "the stand-in host's own (embedded): " + databasePath(folder);
    return "ODBC (" + std::string(kDatabaseVariable) + "): " + odbc::hidePassword(named);
}

std::unique_ptr<Host> openHost(const std::string &folder,
                               std::function<void(const std::string &)> notice) {
    // Each distinct notice is passed on once.
    auto seen = std::make_shared<std::set<std::string>>();
    auto once = [notice, seen](const std::string &text) {
        if (notice && seen->insert(text).second)
            notice(text);
    };

    std::vector<std::string> problems;
    SimSettings settings = SimSettings::load(folder, &problems);
    for (const auto &p : problems)
        once(p);

    auto host = std::make_unique<Host>();
    host->notice = once;
    host->registry = makeFileRegistry(registryPath(folder), once);
    host->services = makeServices(settings);
    host->workstation = makeWorkstation(settings);
    host->mail = makeMailStore(mailstorePath(folder), settings);
    std::error_code ec;
    host->files = limitFileSpace(
        makeHostFileSystem(fs::absolute(folder, ec).string(), native::makeFileSystem()), settings);
    host->ansiText = native::ansiCodePageText;
    host->ansiBytes = native::ansiCodePageBytes;
    host->shell = native::makeShell();
    host->http = native::makeHttp();
    host->clock = makeClock(settings);
    host->guids = native::makeGuidSource();
    host->resources = pe::makeResourceLoader();

    sqlite::ServerContext context;
    context.setting = [settings](const std::string &name) { return settings.get(name); };
    context.clock = host->clock.get();
    context.guids = host->guids.get();
    context.notice = once;
    context.procedureDone = [abort = makeAbortHook(settings),
                             vanish = makeVanishHook(settings, folder)](const std::string &step) {
        if (vanish)
            vanish(step);
        if (abort)
            abort(step);
    };
    host->stepReached = context.procedureDone;
    // The database named by the administrator, or the host's own.
    const std::string named = native::environment(kDatabaseVariable);
    if (named.empty())
        host->database = sqlite::makeStandInDatabase(databasePath(folder), context);
    else
        host->database = tellProcedures(odbc::makeDatabase(named), context.procedureDone);

    host->queryTimeoutSeconds = std::stoi(settings.get("query-timeout"));
    host->programFolder = native::executableFolder();
    host->exeName = "zephrane";
    return host;
}

} // namespace zeph::sim
