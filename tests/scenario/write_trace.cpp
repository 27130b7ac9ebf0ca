// A library preloaded into a program under test (LD_PRELOAD) that records, in the order they
// happen, the writes, syncs, truncations, creations, removals and renames of the files under
// the folders named in ZEPH_TRACE_ROOTS (separated by ':'), into the file ZEPH_TRACE_FILE. A
// power-loss replay rebuilds from it what the disk holds at any moment: what was synced.
//
// One record: a kind byte, the path (u32 length, bytes), a number (i64: an offset or a length)
// and data (u64 length, bytes: written bytes, or a rename's new path). Records are written
// under a lock with the real write, so that threads never interleave them.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace {

using OpenFn = int (*)(const char *, int, ...);
using OpenAtFn = int (*)(int, const char *, int, ...);
using WriteFn = ssize_t (*)(int, const void *, size_t);
using PwriteFn = ssize_t (*)(int, const void *, size_t, off_t);
using Pwrite64Fn = ssize_t (*)(int, const void *, size_t, off64_t);
using WritevFn = ssize_t (*)(int, const struct iovec *, int);
using SyncFn = int (*)(int);
using TruncFn = int (*)(int, off_t);
using Trunc64Fn = int (*)(int, off64_t);
using CloseFn = int (*)(int);
using UnlinkFn = int (*)(const char *);
using RenameFn = int (*)(const char *, const char *);

template <class Fn> Fn next(const char *name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

struct Real {
    OpenFn open = next<OpenFn>("open");
    OpenFn open64 = next<OpenFn>("open64");
    OpenAtFn openat = next<OpenAtFn>("openat");
    OpenAtFn openat64 = next<OpenAtFn>("openat64");
    WriteFn write = next<WriteFn>("write");
    PwriteFn pwrite = next<PwriteFn>("pwrite");
    Pwrite64Fn pwrite64 = next<Pwrite64Fn>("pwrite64");
    WritevFn writev = next<WritevFn>("writev");
    SyncFn fsync = next<SyncFn>("fsync");
    SyncFn fdatasync = next<SyncFn>("fdatasync");
    TruncFn ftruncate = next<TruncFn>("ftruncate");
    Trunc64Fn ftruncate64 = next<Trunc64Fn>("ftruncate64");
    CloseFn close = next<CloseFn>("close");
    UnlinkFn unlink = next<UnlinkFn>("unlink");
    RenameFn rename = next<RenameFn>("rename");
};

Real &real() {
    static Real r;
    return r;
}

struct Trace {
    std::mutex lock;
    int fd = -1;
    std::vector<std::string> roots;
    std::map<int, std::string> watched; // descriptor -> path
};

Trace &trace() {
    static Trace *t = [] {
        auto *made = new Trace;
        const char *file = std::getenv("ZEPH_TRACE_FILE");
        const char *roots = std::getenv("ZEPH_TRACE_ROOTS");
        if (file && roots) {
            made->fd = real().open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            std::string all = roots;
            for (std::size_t start = 0; start <= all.size();) {
                const std::size_t colon = all.find(':', start);
                const std::string root = all.substr(
                    start, colon == std::string::npos ? std::string::npos : colon - start);
                if (!root.empty())
                    made->roots.push_back(root);
                if (colon == std::string::npos)
                    break;
                start = colon + 1;
            }
        }
        return made;
    }();
    return *t;
}

std::string absolute(const char *path) {
    if (!path)
        return {};
    if (path[0] == '/')
        return path;
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd))
        return path;
    return std::string(cwd) + "/" + path;
}

bool underRoot(const Trace &t, const std::string &path) {
    for (const std::string &root : t.roots) {
        if (path.compare(0, root.size(), root) == 0 &&
            (path.size() == root.size() || path[root.size()] == '/'))
            return true;
    }
    return false;
}

void put(std::string &out, const void *data, std::size_t size) {
    out.append(static_cast<const char *>(data), size);
}

// Writes one record; the caller holds the lock.
void record(Trace &t, char kind, const std::string &path, std::int64_t number,
            const void *data = nullptr, std::uint64_t size = 0) {
    std::string out;
    out += kind;
    const auto pathSize = static_cast<std::uint32_t>(path.size());
    put(out, &pathSize, sizeof pathSize);
    out += path;
    put(out, &number, sizeof number);
    put(out, &size, sizeof size);
    if (size)
        put(out, data, size);
    const char *p = out.data();
    std::size_t left = out.size();
    while (left > 0) {
        const ssize_t n = real().write(t.fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// After an open: a watched path's descriptor is remembered, and a file it made is recorded.
int opened(int fd, const char *path, int flags, bool existed) {
    if (fd < 0)
        return fd;
    Trace &t = trace();
    if (t.fd < 0)
        return fd;
    const std::string full = absolute(path);
    std::lock_guard guard(t.lock);
    if (!underRoot(t, full)) {
        t.watched.erase(fd);
        return fd;
    }
    t.watched[fd] = full;
    if (!existed)
        record(t, 'C', full, 0);
    else if ((flags & O_TRUNC) && (flags & (O_WRONLY | O_RDWR)))
        record(t, 'T', full, 0);
    return fd;
}

bool exists(const char *path) {
    struct stat st {};
    return path && ::stat(path, &st) == 0;
}

template <class Fn> int openWith(Fn fn, const char *path, int flags, mode_t mode) {
    const int saved = errno;
    const bool existed = !(flags & O_CREAT) || exists(path);
    errno = saved;
    const int fd = fn(path, flags, mode);
    const int err = errno;
    opened(fd, path, flags, existed);
    errno = err;
    return fd;
}

mode_t modeOf(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

// The watched path of a descriptor, or empty.
std::string watchedPath(int fd) {
    Trace &t = trace();
    if (t.fd < 0)
        return {};
    std::lock_guard guard(t.lock);
    auto found = t.watched.find(fd);
    return found == t.watched.end() ? std::string() : found->second;
}

void recordWrite(int fd, const void *data, ssize_t written, std::int64_t offset) {
    if (written <= 0)
        return;
    const std::string path = watchedPath(fd);
    if (path.empty())
        return;
    Trace &t = trace();
    std::lock_guard guard(t.lock);
    record(t, 'W', path, offset, data, static_cast<std::uint64_t>(written));
}

int synced(int fd, int rc) {
    if (rc != 0)
        return rc;
    const std::string path = watchedPath(fd);
    if (!path.empty()) {
        Trace &t = trace();
        std::lock_guard guard(t.lock);
        record(t, 'S', path, 0);
    }
    return rc;
}

} // namespace

extern "C" {

int open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    return openWith([](const char *p, int f, mode_t m) { return real().open(p, f, m); }, path,
                    flags, mode);
}

int open64(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    return openWith([](const char *p, int f, mode_t m) { return real().open64(p, f, m); }, path,
                    flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    if (dirfd != AT_FDCWD && path[0] != '/')
        return real().openat(dirfd, path, flags, mode); // not a path this trace can name
    return openWith([](const char *p, int f, mode_t m) { return real().openat(AT_FDCWD, p, f, m); },
                    path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    if (dirfd != AT_FDCWD && path[0] != '/')
        return real().openat64(dirfd, path, flags, mode);
    return openWith(
        [](const char *p, int f, mode_t m) { return real().openat64(AT_FDCWD, p, f, m); }, path,
        flags, mode);
}

ssize_t write(int fd, const void *data, size_t size) {
    const ssize_t n = real().write(fd, data, size);
    const int err = errno;
    if (n > 0 && !watchedPath(fd).empty())
        recordWrite(fd, data, n, static_cast<std::int64_t>(::lseek(fd, 0, SEEK_CUR)) - n);
    errno = err;
    return n;
}

ssize_t writev(int fd, const struct iovec *iov, int count) {
    const ssize_t n = real().writev(fd, iov, count);
    const int err = errno;
    if (n > 0 && !watchedPath(fd).empty()) {
        std::int64_t at = static_cast<std::int64_t>(::lseek(fd, 0, SEEK_CUR)) - n;
        ssize_t left = n;
        for (int i = 0; i < count && left > 0; ++i) {
            const ssize_t part = std::min<ssize_t>(left, static_cast<ssize_t>(iov[i].iov_len));
            recordWrite(fd, iov[i].iov_base, part, at);
            at += part;
            left -= part;
        }
    }
    errno = err;
    return n;
}

ssize_t pwrite(int fd, const void *data, size_t size, off_t offset) {
    const ssize_t n = real().pwrite(fd, data, size, offset);
    const int err = errno;
    recordWrite(fd, data, n, offset);
    errno = err;
    return n;
}

ssize_t pwrite64(int fd, const void *data, size_t size, off64_t offset) {
    const ssize_t n = real().pwrite64(fd, data, size, offset);
    const int err = errno;
    recordWrite(fd, data, n, offset);
    errno = err;
    return n;
}

int fsync(int fd) {
    return synced(fd, real().fsync(fd));
}

int fdatasync(int fd) {
    return synced(fd, real().fdatasync(fd));
}

int ftruncate(int fd, off_t length) {
    const int rc = real().ftruncate(fd, length);
    const std::string path = rc == 0 ? watchedPath(fd) : std::string();
    if (!path.empty()) {
        Trace &t = trace();
        std::lock_guard guard(t.lock);
        record(t, 'T', path, length);
    }
    return rc;
}

int ftruncate64(int fd, off64_t length) {
    const int rc = real().ftruncate64(fd, length);
    const std::string path = rc == 0 ? watchedPath(fd) : std::string();
    if (!path.empty()) {
        Trace &t = trace();
        std::lock_guard guard(t.lock);
        record(t, 'T', path, length);
    }
    return rc;
}

int close(int fd) {
    Trace &t = trace();
    if (t.fd >= 0) {
        std::lock_guard guard(t.lock);
        t.watched.erase(fd);
    }
    return real().close(fd);
}

int unlink(const char *path) {
    const int rc = real().unlink(path);
    Trace &t = trace();
    if (rc == 0 && t.fd >= 0) {
        const std::string full = absolute(path);
        std::lock_guard guard(t.lock);
        if (underRoot(t, full))
            record(t, 'U', full, 0);
    }
    return rc;
}

int rename(const char *from, const char *to) {
    const int rc = real().rename(from, to);
    Trace &t = trace();
    if (rc == 0 && t.fd >= 0) {
        const std::string a = absolute(from);
        const std::string b = absolute(to);
        std::lock_guard guard(t.lock);
        if (underRoot(t, a) || underRoot(t, b))
            record(t, 'R', a, 0, b.data(), b.size());
    }
    return rc;
}

} // extern "C"
