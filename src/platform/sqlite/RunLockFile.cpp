#include "RunLockFile.h"

#include "platform/Native.h"

namespace zeph::sqlite {

std::string runLockPath(const std::string &databasePath) {
    return databasePath + ".run-lock";
}

std::unique_ptr<IRunLock> takeRunLockFile(const std::string &databasePath,
                                          const std::string &holder, std::string &heldBy) {
    return native::takeFileLock(runLockPath(databasePath), holder, heldBy);
}

} // namespace zeph::sqlite
