// The run lock on Windows: a byte-range lock far beyond the file's text, so that the text
// (the holder) stays readable by others while the lock is held. Windows drops the lock when
// the handle is closed or its process ends, however it ends.
#include "WideText.h"
#include "Win32.h"

#include "platform/Error.h"

#include <windows.h>

namespace zeph::win32 {

namespace {

constexpr DWORD kLockOffsetHigh = 0x7fffffff;

OVERLAPPED lockPlace() {
    OVERLAPPED place{};
    place.OffsetHigh = kLockOffsetHigh;
    return place;
}

bool truncateToEmpty(HANDLE file) {
    LARGE_INTEGER zero{};
    return ::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

class FileLock : public IRunLock {
public:
    explicit FileLock(HANDLE file)
        : m_file(file) {}
    ~FileLock() override {
        // The text goes first, so that a reader never takes a released lock's text for a
        // holder's.
        truncateToEmpty(m_file);
        OVERLAPPED place = lockPlace();
        ::UnlockFileEx(m_file, 0, 1, 0, &place);
        ::CloseHandle(m_file);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    HANDLE m_file;
};

Error lockError(const std::string &path, DWORD error) {
    return Error(errnum::kInternal,
                 "The server's run lock " + path + " cannot be taken: " + systemMessage(error));
}

std::string readHolder(HANDLE file) {
    std::string text;
    char buffer[512];
    DWORD n = 0;
    LARGE_INTEGER zero{};
    ::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    while (::ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0 && text.size() < 4096)
        text.append(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool writeHolder(HANDLE file, const std::string &text) {
    if (!truncateToEmpty(file))
        return false;
    DWORD written = 0;
    return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && ::FlushFileBuffers(file);
}

} // namespace

std::unique_ptr<IRunLock> takeFileLock(const std::string &path, const std::string &holder,
                                       std::string &heldBy) {
    const std::string native = toNativePath(path);
    HANDLE file = ::CreateFileW(widen(native).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw lockError(native, ::GetLastError());
    OVERLAPPED place = lockPlace();
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            heldBy = readHolder(file);
        ::CloseHandle(file);
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
            throw lockError(native, error);
        return nullptr;
    }
    auto lock = std::make_unique<FileLock>(file);
    if (!writeHolder(file, holder + " (process " + std::to_string(::GetCurrentProcessId()) + ")"))
        throw lockError(native, ::GetLastError());
    return lock;
}

} // namespace zeph::win32
