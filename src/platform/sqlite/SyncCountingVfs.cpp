#include "SyncCountingVfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>

namespace zeph::sqlite {
namespace {

// What the files of one folder were asked for.
struct Counts {
    long syncs = 0;
    long commits = 0;
};

// A counted file: this header, then the file of the layer below.
struct CountedFile {
    sqlite3_file base;
    sqlite3_file *real;
    Counts *counts;
    bool writeAheadLog;
};

// A frame of the write-ahead log begins with a header of its own, written on its own: the
// page's number, then for the last frame of a transaction (its commit) the database's size in
// pages after it, for any other frame zero (big-endian 32-bit numbers).
constexpr int kFrameHeaderBytes = 24;

bool isCommitFrameHeader(const void *data, int bytes) {
    if (bytes != kFrameHeaderBytes)
        return false;
    const auto *header = static_cast<const unsigned char *>(data);
    return (header[4] | header[5] | header[6] | header[7]) != 0;
}

std::mutex g_mutex;
std::map<std::string, Counts> g_countsByFolder; // nodes stay put, so files keep their counts
sqlite3_vfs *g_real = nullptr;
sqlite3_vfs g_counting;
sqlite3_io_methods g_methods;

sqlite3_file *real(sqlite3_file *f) {
    return reinterpret_cast<CountedFile *>(f)->real;
}

// Windows names files with either separator: the counts are kept and asked for with '/'.
std::string slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string folderOf(const char *name) {
    if (!name)
        return {};
    const std::string path = slashed(name);
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int countedSync(sqlite3_file *f, int flags) {
    auto *file = reinterpret_cast<CountedFile *>(f);
    {
        std::lock_guard lock(g_mutex);
        ++file->counts->syncs;
    }
    return file->real->pMethods->xSync(file->real, flags);
}

int countedClose(sqlite3_file *f) {
    sqlite3_file *below = real(f);
    const int rc = below->pMethods ? below->pMethods->xClose(below) : SQLITE_OK;
    f->pMethods = nullptr;
    return rc;
}

// Every other call goes to the file below as it is.
void passOnTheRest() {
    g_methods.xRead = [](sqlite3_file *f, void *p, int n, sqlite3_int64 at) {
        return real(f)->pMethods->xRead(real(f), p, n, at);
    };
    g_methods.xWrite = [](sqlite3_file *f, const void *p, int n, sqlite3_int64 at) {
        auto *file = reinterpret_cast<CountedFile *>(f);
        const int rc = file->real->pMethods->xWrite(file->real, p, n, at);
        if (rc == SQLITE_OK && file->writeAheadLog && isCommitFrameHeader(p, n)) {
            std::lock_guard lock(g_mutex);
            ++file->counts->commits;
        }
        return rc;
    };
    g_methods.xTruncate = [](sqlite3_file *f, sqlite3_int64 size) {
        return real(f)->pMethods->xTruncate(real(f), size);
    };
    g_methods.xFileSize = [](sqlite3_file *f, sqlite3_int64 *size) {
        return real(f)->pMethods->xFileSize(real(f), size);
    };
    g_methods.xLock = [](sqlite3_file *f, int l) { return real(f)->pMethods->xLock(real(f), l); };
    g_methods.xUnlock = [](sqlite3_file *f, int l) {
        return real(f)->pMethods->xUnlock(real(f), l);
    };
    g_methods.xCheckReservedLock = [](sqlite3_file *f, int *out) {
        return real(f)->pMethods->xCheckReservedLock(real(f), out);
    };
    g_methods.xFileControl = [](sqlite3_file *f, int op, void *arg) {
        return real(f)->pMethods->xFileControl(real(f), op, arg);
    };
    g_methods.xSectorSize = [](sqlite3_file *f) { return real(f)->pMethods->xSectorSize(real(f)); };
    g_methods.xDeviceCharacteristics = [](sqlite3_file *f) {
        return real(f)->pMethods->xDeviceCharacteristics(real(f));
    };
    g_methods.xShmMap = [](sqlite3_file *f, int page, int size, int extend, void volatile **p) {
        return real(f)->pMethods->xShmMap(real(f), page, size, extend, p);
    };
    g_methods.xShmLock = [](sqlite3_file *f, int offset, int n, int flags) {
        return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
    };
    g_methods.xShmBarrier = [](sqlite3_file *f) { real(f)->pMethods->xShmBarrier(real(f)); };
    g_methods.xShmUnmap = [](sqlite3_file *f, int drop) {
        return real(f)->pMethods->xShmUnmap(real(f), drop);
    };
    g_methods.xFetch = [](sqlite3_file *f, sqlite3_int64 at, int n, void **p) {
        return real(f)->pMethods->xFetch(real(f), at, n, p);
    };
    g_methods.xUnfetch = [](sqlite3_file *f, sqlite3_int64 at, void *p) {
        return real(f)->pMethods->xUnfetch(real(f), at, p);
    };
}

int countedOpen(sqlite3_vfs *, const char *name, sqlite3_file *f, int flags, int *outFlags) {
    auto *file = reinterpret_cast<CountedFile *>(f);
    file->real = reinterpret_cast<sqlite3_file *>(file + 1);
    file->real->pMethods = nullptr;
    const int rc = g_real->xOpen(g_real, name, file->real, flags, outFlags);
    if (!file->real->pMethods) {
        f->pMethods = nullptr;
        return rc;
    }
    {
        std::lock_guard lock(g_mutex);
        file->counts = &g_countsByFolder[folderOf(name)];
    }
    file->writeAheadLog = (flags & SQLITE_OPEN_WAL) != 0;
    // The layer below decides which calls exist (the version of its methods).
    static std::once_flag versions;
    std::call_once(versions, [&] { g_methods.iVersion = file->real->pMethods->iVersion; });
    f->pMethods = &g_methods;
    return rc;
}

} // namespace

void countDatabaseSyncs() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        g_real = sqlite3_vfs_find(nullptr);
        if (!g_real)
            throw std::runtime_error("SQLite has no file layer to count the syncs of");
        g_methods.xClose = countedClose;
        g_methods.xSync = countedSync;
        passOnTheRest();
        g_counting = *g_real;
        g_counting.zName = "zeph-sync-count";
        g_counting.szOsFile = static_cast<int>(sizeof(CountedFile)) + g_real->szOsFile;
        g_counting.xOpen = countedOpen;
        g_counting.pNext = nullptr;
        if (sqlite3_vfs_register(&g_counting, 1) != SQLITE_OK)
            throw std::runtime_error("the sync counter cannot be installed in SQLite");
    });
}

namespace {

// One count of every folder at or below `under`, added up.
long sumUnder(const std::string &under, long Counts::*count) {
    const std::string folder = slashed(under);
    std::lock_guard lock(g_mutex);
    long total = 0;
    for (const auto &[path, counts] : g_countsByFolder) {
        if (path.compare(0, folder.size(), folder) == 0)
            total += counts.*count;
    }
    return total;
}

} // namespace

long databaseSyncsUnder(const std::string &under) {
    return sumUnder(under, &Counts::syncs);
}

long databaseCommitsUnder(const std::string &under) {
    return sumUnder(under, &Counts::commits);
}

} // namespace zeph::sqlite
