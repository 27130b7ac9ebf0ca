#pragma once
// The stand-in server's run lock: an exclusive lock of the operating system on a file beside
// the database file. The system drops it when its holder's process ends, however it ends, so a
// killed run never blocks the next one. The file holds the holder's text while it is held.

#include "platform/Database.h"

#include <memory>
#include <string>

namespace zeph::sqlite {

/// The lock file of a database file: "TarvoDb.sqlite" gives "TarvoDb.sqlite.run-lock".
std::string runLockPath(const std::string &databasePath);

/// Takes the lock of the database file at `databasePath` without waiting; the holder's text
/// (with this process's id added) is written into the lock file. Nothing, with the holder's
/// text in `heldBy`, when another holder has it. Throws Error when the lock file cannot be
/// opened or locked.
std::unique_ptr<IRunLock> takeRunLockFile(const std::string &databasePath,
                                          const std::string &holder, std::string &heldBy);

} // namespace zeph::sqlite
