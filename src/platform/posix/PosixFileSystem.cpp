#include "Posix.h"

#include "platform/Error.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace zeph::posix {

std::string toNativePath(const std::string &path) {
    std::string out = path;
    for (char &c : out) {
        if (c == '\\')
            c = '/';
    }
    return out;
}

namespace {

Error errorFromErrno(int err, const std::string &path) {
    long number = errnum::kPathNotFound;
    if (err == ENOENT)
        number = errnum::kFileNotFound;
    else if (err == EACCES || err == EPERM || err == EROFS)
        number = errnum::kPermissionDenied;
    return Error(number, std::string(std::strerror(err)) + ": " + path);
}

// The path made full, with "." and ".." resolved and every link that exists followed; empty
// when it cannot be.
fs::path resolved(const std::string &path) {
    std::error_code ec;
    const fs::path full = fs::absolute(toNativePath(path), ec);
    if (ec || path.empty())
        return {};
    fs::path real = fs::weakly_canonical(full, ec);
    return ec ? fs::path() : real;
}

// Makes the names in a folder lasting: a file just created there survives a power loss with
// its name, not only with its data. A file system that cannot sync a folder (EINVAL) keeps
// its names by its own means.
void syncFolderOf(const std::string &native) {
    const std::size_t slash = native.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? "/"
                                                          : native.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw errorFromErrno(errno, folder);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0 && err != EINVAL)
        throw errorFromErrno(err, folder);
}

TimePoint toTimePoint(const struct stat &st) {
    using namespace std::chrono;
    return system_clock::time_point(
        seconds(st.st_mtim.tv_sec) +
        duration_cast<system_clock::duration>(nanoseconds(st.st_mtim.tv_nsec)));
}

// Writes each line with one write() (the line and its end together), so that a killed program
// loses no line already written, and syncs it when asked (each line, or at the caller's
// points), so that a power loss loses none. A line that cannot be written whole (a full disk, a
// file-size limit) is cut off again, so the file ends with the last whole line; after such a
// failure the writer takes no more lines, which would otherwise follow a gap.
class PosixTextWriter : public ITextFileWriter {
public:
    explicit PosixTextWriter(int fd)
        : m_fd(fd) {}
    ~PosixTextWriter() override { close(); }

    Status writeLine(const std::string &text) override { return write(text, true); }
    Status writeLineUnsynced(const std::string &text) override { return write(text, false); }
    Status sync() override {
        if (Status usable = stillUsable(); !usable)
            return usable;
        if (::fdatasync(m_fd) != 0 && errno != EINVAL)
            return stop(errno);
        return done();
    }

    void close() override {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

private:
    Status stillUsable() const {
        if (m_fd < 0)
            return fail(kWriterClosed);
        if (m_failed)
            return fail(kWriterStopped);
        return done();
    }
    // The writer takes no more lines, and says why in the system's words.
    Status stop(int err) {
        m_failed = true;
        return fail(std::strerror(err));
    }

    Status write(const std::string &text, bool synced) {
        if (Status usable = stillUsable(); !usable)
            return usable;
        m_line.assign(text);
        m_line += "\r\n";
        std::size_t written = 0;
        if (!writeAll(m_line, written) || (synced && ::fdatasync(m_fd) != 0 && errno != EINVAL)) {
            const int err = errno;
            // The file ends where the line began: its size less what reached it of the line.
            struct stat st {};
            if (::fstat(m_fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) >= written &&
                ::ftruncate(m_fd, st.st_size - static_cast<off_t>(written)) == 0)
                ::fdatasync(m_fd);
            return stop(err);
        }
        return done();
    }

    bool writeAll(const std::string &line, std::size_t &written) {
        const char *p = line.data();
        std::size_t left = line.size();
        while (left > 0) {
            ssize_t n = ::write(m_fd, p, left);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
            written += static_cast<std::size_t>(n);
        }
        return true;
    }

    int m_fd;
    // Set by a failed write or sync; a sync may run on another thread than the writes.
    std::atomic<bool> m_failed = false;
    // The line and its end, in a buffer kept from line to line.
    std::string m_line;
};

class PosixFileSystem : public IFileSystem {
public:
    bool fileExists(const std::string &path) override {
        struct stat st {};
        return ::stat(toNativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    bool folderExists(const std::string &path) override {
        struct stat st {};
        return ::stat(toNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    void createFolder(const std::string &path) override {
        std::string native = toNativePath(path);
        if (::mkdir(native.c_str(), 0777) != 0)
            throw errorFromErrno(errno, native);
        syncFolderOf(native);
    }

    std::vector<FileEntry> listFiles(const std::string &folder) override {
        std::string native = toNativePath(folder);
        std::error_code ec;
        fs::directory_iterator it(native, ec);
        if (ec)
            throw errorFromErrno(ec.value(), native);
        std::vector<FileEntry> files;
        for (const auto &entry : it) {
            struct stat st {};
            if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            files.push_back(
                {entry.path().filename().string(), entry.path().string(), toTimePoint(st)});
        }
        return files;
    }

    void deleteFile(const std::string &path, bool force) override {
        std::string native = toNativePath(path);
        struct stat st {};
        if (::stat(native.c_str(), &st) != 0)
            throw errorFromErrno(errno, native);
        // A read-only file is refused unless forced; the folder's rights decide the rest.
        if (!force && (st.st_mode & S_IWUSR) == 0)
            throw Error(errnum::kPermissionDenied, "Permission denied: " + native);
        if (::unlink(native.c_str()) != 0)
            throw errorFromErrno(errno, native);
    }

    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &path, bool append) override {
        std::string native = toNativePath(path);
        // Never through a link planted at the name; a new file is its owner's alone.
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC);
        int fd = ::open(native.c_str(), flags, 0600);
        if (fd < 0)
            throw errorFromErrno(errno, native);
        return std::make_unique<PosixTextWriter>(fd);
    }

    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        std::string native = toNativePath(path);
        int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST)
            return nullptr;
        if (fd < 0)
            throw errorFromErrno(errno, native);
        // Each new file is a log, a journal or a failed-records file: its records are synced as
        // they are written, which keeps nothing if its name is lost.
        try {
            syncFolderOf(native);
        } catch (const Error &) {
            ::close(fd);
            ::unlink(native.c_str());
            throw;
        }
        return std::make_unique<PosixTextWriter>(fd);
    }

    std::optional<std::string> readFile(const std::string &path) override {
        std::ifstream in(toNativePath(path), std::ios::binary);
        if (!in)
            return std::nullopt;
        std::ostringstream buffer;
        buffer << in.rdbuf();
        if (in.bad())
            return std::nullopt;
        return buffer.str();
    }

    Result<std::string> readPlainFile(const std::string &path, std::size_t maxBytes) override {
        // Opened without waiting: a pipe with no writer would otherwise hold the open for ever.
        const int fd = ::open(toNativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return fail(std::strerror(errno));
        std::string problem;
        std::string content;
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            problem = std::strerror(errno);
        else if (S_ISDIR(st.st_mode))
            problem = "it is a folder";
        else if (!S_ISREG(st.st_mode))
            problem = "it is not a plain file (a device, a pipe or a socket)";
        else if (static_cast<std::uintmax_t>(st.st_size) > maxBytes)
            problem = tooLargeProblem(maxBytes);
        else
            content.reserve(static_cast<std::size_t>(st.st_size));
        char buffer[65536];
        while (problem.empty()) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                problem = std::strerror(errno);
            else if (n == 0)
                break;
            else if (content.size() + static_cast<std::size_t>(n) > maxBytes)
                problem = tooLargeProblem(maxBytes); // it grew while it was read
            else
                content.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fd);
        if (!problem.empty())
            return fail(problem);
        return content;
    }

    std::optional<std::uint64_t> fileSize(const std::string &path) override {
        struct stat st {};
        if (::stat(toNativePath(path).c_str(), &st) != 0)
            return std::nullopt;
        return static_cast<std::uint64_t>(st.st_size);
    }

    std::optional<std::string> readFileTail(const std::string &path, std::size_t bytes) override {
        std::ifstream in(toNativePath(path), std::ios::binary | std::ios::ate);
        if (!in)
            return std::nullopt;
        const std::streamoff size = in.tellg();
        const std::streamoff from = size > static_cast<std::streamoff>(bytes)
                                        ? size - static_cast<std::streamoff>(bytes)
                                        : 0;
        in.seekg(from);
        std::string tail(static_cast<std::size_t>(size - from), '\0');
        in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
        if (in.bad())
            return std::nullopt;
        tail.resize(static_cast<std::size_t>(in.gcount()));
        return tail;
    }

    bool liesInside(const std::string &path, const std::string &folder) override {
        const fs::path p = resolved(path);
        const fs::path f = resolved(folder);
        if (p.empty() || f.empty())
            return false;
        auto pi = p.begin();
        for (const fs::path &part : f) {
            if (part.empty())
                continue; // a trailing separator
            if (pi == p.end() || *pi != part)
                return false;
            ++pi;
        }
        return true;
    }

    std::string nativePath(const std::string &path) override { return toNativePath(path); }

    std::string userDataFolder() override {
        std::string data = environment("XDG_DATA_HOME");
        if (data.empty()) {
            std::string home = environment("HOME");
            data = (home.empty() ? std::string("/tmp") : home) + "/.local/share";
        }
        return data + "/zephrane";
    }
};

} // namespace

std::unique_ptr<IFileSystem> makeFileSystem() {
    // A write beyond the file-size limit (ulimit -f) must fail as a full disk does, with an
    // error the program answers, not end the program between two steps of a reset.
    ::signal(SIGXFSZ, SIG_IGN);
    return std::make_unique<PosixFileSystem>();
}

} // namespace zeph::posix
