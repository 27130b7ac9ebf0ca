#include "RunLockFile.h"

#include "platform/Error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zeph::sqlite {

namespace {

// A flock() lock belongs to the open file: another open of the same file, even in this
// process, is refused, and closing the file (or the process ending) releases it.
class RunLockFile : public IRunLock {
public:
    explicit RunLockFile(int fd)
        : m_fd(fd) {}
    ~RunLockFile() override {
        // The text goes first, so that a reader never takes a released lock's text for a
        // holder's.
        if (::ftruncate(m_fd, 0) != 0) {
            // Nothing to do: the next holder writes its own text over it.
        }
        ::close(m_fd);
    }
    RunLockFile(const RunLockFile &) = delete;
    RunLockFile &operator=(const RunLockFile &) = delete;

private:
    int m_fd;
};

Error lockError(const std::string &path, int error) {
    return Error(errnum::kInternal,
                 "The server's run lock " + path + " cannot be taken: " + std::strerror(error));
}

std::string readHolder(int fd) {
    std::string text;
    char buffer[512];
    ssize_t n = 0;
    off_t at = 0;
    while ((n = ::pread(fd, buffer, sizeof buffer, at)) > 0 && text.size() < 4096) {
        text.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool writeHolder(int fd, const std::string &text) {
    if (::ftruncate(fd, 0) != 0)
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0 || errno == EINVAL;
}

} // namespace

std::string runLockPath(const std::string &databasePath) {
    return databasePath + ".run-lock";
}

std::unique_ptr<IRunLock> takeRunLockFile(const std::string &databasePath,
                                          const std::string &holder, std::string &heldBy) {
    const std::string path = runLockPath(databasePath);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        throw lockError(path, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            heldBy = readHolder(fd);
        ::close(fd);
        if (error != EWOULDBLOCK)
            throw lockError(path, error);
        return nullptr;
    }
    auto lock = std::make_unique<RunLockFile>(fd);
    if (!writeHolder(fd, holder + " (process " + std::to_string(::getpid()) + ")"))
        throw lockError(path, errno);
    return lock;
}

} // namespace zeph::sqlite
