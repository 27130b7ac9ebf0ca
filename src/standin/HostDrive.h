#pragma once
// The stand-in host's drive: the server's own paths ("C:\Pradix\Stream Files\...", as a real
// server's registry and database write them) name files inside the host folder, so a copied
// folder is a host of its own and never reaches into the folder it was copied from.

#include "platform/FileSystem.h"

#include <memory>
#include <optional>
#include <string>

namespace zeph::sim {

/// The drive that stands for the host folder, as the server writes it.
inline constexpr const char *kHostDrive = "C:\\";

/// The file or folder inside `hostFolder` that a path on the host's drive names ("C:\a\b" or
/// "c:/a/b" is hostFolder + "/a/b"); nothing for any other path.
std::optional<std::string> onHostDrive(const std::string &hostFolder, const std::string &path);

/// The machine's file system with the host's drive mapped into `hostFolder`; every other path
/// is passed on unchanged.
std::unique_ptr<IFileSystem> makeHostFileSystem(std::string hostFolder,
                                                std::unique_ptr<IFileSystem> machine);

/// The host folder is a host of its own; or why not (its recordings folder, or a recording the
/// database names by full path, lies outside it: a reset would delete another folder's files).
/// Hosts made before the host's drive named their folder by its full path; that stays right as
/// long as the path is inside the folder.
Status hostSelfContained(const std::string &hostFolder);

} // namespace zeph::sim
