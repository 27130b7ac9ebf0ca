// Whole-file reads, atomic replacement and the exclusive lock file, on this OS's calls.
#include "Posix.h"

#include "platform/Error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zeph::posix {

Result<std::optional<std::string>> readWholeFile(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::optional<std::string>();
        return fail(std::strerror(errno));
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            return fail(std::strerror(code));
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return std::optional<std::string>(std::move(content));
}

std::string fileIdentity(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return "device " + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ", file " +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
}

Status writeFileAtomically(const std::string &path, const std::string &content) {
    // The new file is made new (a file or link left at its name by anyone is removed first),
    // readable by its owner alone: settings files hold passwords.
    std::string temp = path + ".new";
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return fail("cannot write " + temp + ": " + std::strerror(errno));
    const char *p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            return fail("cannot write " + temp + ": " + std::strerror(code));
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        return fail("cannot write " + temp + ": " + std::strerror(code));
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        return fail("cannot replace " + path + ": " + std::strerror(code));
    }
    return done();
}

std::optional<std::string> ansiCodePageText(std::string_view) {
    return std::nullopt; // this OS has no ANSI code page; Windows-1252 is read instead
}

std::optional<std::string> ansiCodePageBytes(std::string_view) {
    return std::nullopt; // this OS has no ANSI code page; text is written as UTF-8
}

Status createPrivateFolder(const std::string &path) {
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent, ec);
    if (ec)
        return fail("cannot create " + parent.string() + ": " + ec.message());
    if (::mkdir(path.c_str(), 0700) != 0)
        return fail("cannot create " + path + ": " + std::strerror(errno));
    return done();
}

Status checkPrivateFolder(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return fail(std::strerror(errno));
    if (S_ISLNK(st.st_mode))
        return fail("it is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        return fail("it is not a folder");
    if (st.st_uid != ::geteuid())
        return fail("it belongs to another user (uid " + std::to_string(st.st_uid) + ")");
    if ((st.st_mode & S_IWOTH) != 0)
        return fail("other users may write in it");
    return done();
}

namespace {

// A flock() lock belongs to the open file: another open of the same file, even in this
// process, is refused, and closing the file (or the process ending) releases it.
class FileLock : public IRunLock {
public:
    explicit FileLock(int fd)
        : m_fd(fd) {}
    ~FileLock() override {
        // The text goes first, so that a reader never takes a released lock's text for a
        // holder's.
        if (::ftruncate(m_fd, 0) != 0) {
            // Nothing to do: the next holder writes its own text over it.
        }
        ::close(m_fd);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

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

// Opens the lock file: made new for its owner alone, or the existing one, never through a
// link. An existing one must be a plain file of this user with no other name, since holding
// the lock writes to it: a file or link planted at its name by another user is refused.
int openLockFile(const std::string &path, std::string &problem) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST)
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        problem = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        problem = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        problem = "it is not a plain file";
    else if (st.st_uid != ::geteuid())
        problem = "it belongs to another user";
    else if (st.st_nlink != 1)
        problem = "the file has other names (hard links)";
    if (!problem.empty()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::unique_ptr<IRunLock> takeFileLock(const std::string &path, const std::string &holder,
                                       std::string &heldBy) {
    std::string problem;
    const int fd = openLockFile(path, problem);
    if (fd < 0)
        throw Error(errnum::kInternal,
                    "The server's run lock " + path + " cannot be taken: " + problem);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            heldBy = readHolder(fd);
        ::close(fd);
        if (error != EWOULDBLOCK)
            throw lockError(path, error);
        return nullptr;
    }
    auto lock = std::make_unique<FileLock>(fd);
    if (!writeHolder(fd, holder + " (process " + std::to_string(::getpid()) + ")"))
        throw lockError(path, errno);
    return lock;
}

} // namespace zeph::posix
