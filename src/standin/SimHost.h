#pragma once
// Stand-in hosts: creating one, finding the one to use, and opening it as the program's Host.

#include "platform/Host.h"
#include "platform/Result.h"

#include <functional>
#include <memory>
#include <string>

namespace zeph::sim {

struct InitOptions {
    int subscribers = 50;
    unsigned seed = 1;
    /// See sqlite::SeedOptions::busySubscribers; negative: all.
    int busySubscribers = -1;
};

/// $XDG_DATA_HOME/zephrane/host, falling back to ~/.local/share/zephrane/host.
std::string defaultHostFolder();

/// The host folder to use: ZEPHRANE_HOST when set (it must be a host folder), otherwise the
/// default folder, created with default content on first use (told through `notice`).
/// Fails, saying why, when there is no usable host, also when the host is not one of its own
/// (its recordings lie outside its folder).
Result<std::string> resolveHostFolder(const std::function<void(const std::string &)> &notice);

/// Creates a stand-in host folder whose registry and database pass every start-up check.
Status initHost(const std::string &folder, const InitOptions &options);

/// True when the folder holds a stand-in host (its registry file exists).
bool isHostFolder(const std::string &folder);

/// The environment variable that names another database by an ODBC connection text (e.g. the
/// stand-in server over TDS, or a real server); unset, the host's embedded database is used.
inline constexpr const char *kDatabaseVariable = "ZEPHRANE_DATABASE";

/// Which database a host folder's programs use, for showing (a password hidden).
std::string databaseInUse(const std::string &folder);

/// Opens a host folder as the program's Host (everything but the user interface, which the
/// program sets): its database is the one that ZEPHRANE_DATABASE names, else its own.
/// Problems with the host itself go to `notice`.
std::unique_ptr<Host> openHost(const std::string &folder,
                               std::function<void(const std::string &)> notice);

/// The registry file, database file and mailstore folder of a host folder.
std::string registryPath(const std::string &folder);
std::string databasePath(const std::string &folder);
std::string mailstorePath(const std::string &folder);
/// The folder that a new host's "Root Path" registry value names, and that value itself (on
/// the host's drive, so that a copied folder keeps its recordings to itself).
std::string defaultRootPath(const std::string &folder);
std::string defaultServerRootPath();

} // namespace zeph::sim
