// Files on Windows' own calls: no text-mode translation, durable lines (FlushFileBuffers), and
// read-only files deleted only when forced.
#include "WideText.h"
#include "Win32.h"

#include "platform/Error.h"

#include <filesystem>
#include <windows.h>

namespace zeph::win32 {

std::string toNativePath(const std::string &path) {
    std::string out = path;
    for (char &c : out) {
        if (c == '/')
            c = '\\';
    }
    return out;
}

namespace {

Error errorFromSystem(DWORD error, const std::string &path) {
    long number = errnum::kPathNotFound;
    if (error == ERROR_FILE_NOT_FOUND)
        number = errnum::kFileNotFound;
    else if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
             error == ERROR_SHARING_VIOLATION)
        number = errnum::kPermissionDenied;
    return Error(number, systemMessage(error) + ": " + path);
}

TimePoint toTimePoint(const FILETIME &time) {
    // FILETIME counts 100 ns ticks from 1601-01-01; the system clock counts from 1970-01-01.
    constexpr unsigned long long kTicksTo1970 = 116444736000000000ULL;
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    const auto since1970 = static_cast<long long>(ticks.QuadPart - kTicksTo1970);
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(
        std::chrono::duration<long long, std::ratio<1, 10000000>>(since1970)));
}

// The path made full, with "." and "..", drive and root prefixes resolved and every link
// that exists followed; empty when it cannot be.
std::filesystem::path resolved(const std::string &path) {
    std::error_code ec;
    if (path.empty())
        return {};
    const std::filesystem::path full = std::filesystem::absolute(widen(toNativePath(path)), ec);
    if (ec)
        return {};
    std::filesystem::path real = std::filesystem::weakly_canonical(full, ec);
    return ec ? std::filesystem::path() : real;
}

// Names of files and folders compare without letter case, as Windows does.
bool sameName(const std::filesystem::path &a, const std::filesystem::path &b) {
    const std::wstring &x = a.native();
    const std::wstring &y = b.native();
    return ::CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                  static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

DWORD attributesOf(const std::string &path) {
    return ::GetFileAttributesW(widen(toNativePath(path)).c_str());
}

bool writeAll(HANDLE file, const std::string &bytes) {
    const char *p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        if (!::WriteFile(file, p, chunk, &written, nullptr) || written == 0)
            return false;
        p += written;
        left -= written;
    }
    return true;
}

// Each line goes to the file's end in one write and is flushed to disk, so that a crash loses
// no line already logged. A line that cannot be written whole (a full disk) is cut off again,
// so the file ends with the last whole line, and the writer takes no more lines.
class Win32TextWriter : public ITextFileWriter {
public:
    explicit Win32TextWriter(HANDLE file)
        : m_file(file) {}
    ~Win32TextWriter() override { close(); }
    Win32TextWriter(const Win32TextWriter &) = delete;
    Win32TextWriter &operator=(const Win32TextWriter &) = delete;

    Status writeLine(const std::string &text) override {
        if (m_file == INVALID_HANDLE_VALUE)
            return fail(kWriterClosed);
        if (m_failed)
            return fail(kWriterStopped);
        LARGE_INTEGER start{};
        LARGE_INTEGER zero{};
        if (!::SetFilePointerEx(m_file, zero, &start, FILE_END))
            return stop(::GetLastError());
        if (!writeAll(m_file, text + "\r\n") || !::FlushFileBuffers(m_file)) {
            const DWORD error = ::GetLastError();
            if (::SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(m_file))
                ::FlushFileBuffers(m_file);
            return stop(error);
        }
        return done();
    }

    void close() override {
        if (m_file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_file);
            m_file = INVALID_HANDLE_VALUE;
        }
    }

private:
    // The writer takes no more lines, and says why in the system's words.
    Status stop(DWORD error) {
        m_failed = true;
        return fail(systemMessage(error));
    }

    HANDLE m_file;
    bool m_failed = false;
};

// Other programs may read, write and delete a file while it is open here, as on POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openForWriting(const std::string &native, DWORD disposition) {
    return ::CreateFileW(widen(native).c_str(), GENERIC_WRITE, kShareAll, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE openForReading(const std::string &native) {
    return ::CreateFileW(widen(native).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads up to count bytes from the file's current position; fewer when the file ends sooner
// (another program cut it meanwhile). False when the system refuses a read.
bool readUpTo(HANDLE file, std::size_t count, std::string &out) {
    out.resize(count);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t left = count - done;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD n = 0;
        if (!::ReadFile(file, out.data() + done, chunk, &n, nullptr))
            return false;
        if (n == 0)
            break;
        done += n;
    }
    out.resize(done);
    return true;
}

// The last bytes of an open file: its size is taken once and only what lies after size - bytes
// is read, so the cost does not grow with the file. A writer appending meanwhile adds nothing
// to what is read here.
std::optional<std::string> readTailOf(HANDLE file, std::size_t bytes) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size))
        return std::nullopt;
    const auto length = static_cast<unsigned long long>(size.QuadPart);
    const unsigned long long wanted = bytes < length ? bytes : length;
    LARGE_INTEGER from{};
    from.QuadPart = static_cast<LONGLONG>(length - wanted);
    if (!::SetFilePointerEx(file, from, nullptr, FILE_BEGIN))
        return std::nullopt;
    std::string tail;
    if (!readUpTo(file, static_cast<std::size_t>(wanted), tail))
        return std::nullopt;
    return tail;
}

class Win32FileSystem : public IFileSystem {
public:
    bool fileExists(const std::string &path) override {
        const DWORD a = attributesOf(path);
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    bool folderExists(const std::string &path) override {
        const DWORD a = attributesOf(path);
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    void createFolder(const std::string &path) override {
        const std::string native = toNativePath(path);
        if (!::CreateDirectoryW(widen(native).c_str(), nullptr))
            throw errorFromSystem(::GetLastError(), native);
    }

    std::vector<FileEntry> listFiles(const std::string &folder) override {
        std::string native = toNativePath(folder);
        while (native.size() > 1 && native.back() == '\\')
            native.pop_back();
        WIN32_FIND_DATAW found{};
        HANDLE search = ::FindFirstFileW(widen(native + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND && folderExists(native))
                return {};
            throw errorFromSystem(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error,
                                  native);
        }
        std::vector<FileEntry> files;
        do {
            if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
                continue;
            const std::string name = narrow(found.cFileName);
            files.push_back({name, native + "\\" + name, toTimePoint(found.ftLastWriteTime)});
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
        return files;
    }

    void deleteFile(const std::string &path, bool force) override {
        const std::string native = toNativePath(path);
        const std::wstring wide = widen(native);
        const DWORD a = ::GetFileAttributesW(wide.c_str());
        if (a == INVALID_FILE_ATTRIBUTES)
            throw errorFromSystem(::GetLastError(), native);
        if (a & FILE_ATTRIBUTE_READONLY) {
            // A read-only file is refused unless forced; forcing clears the attribute first,
            // since Windows deletes no read-only file.
            if (!force)
                throw Error(errnum::kPermissionDenied, "Permission denied: " + native);
            if (!::SetFileAttributesW(wide.c_str(), a & ~DWORD(FILE_ATTRIBUTE_READONLY)))
                throw errorFromSystem(::GetLastError(), native);
        }
        if (!::DeleteFileW(wide.c_str()))
            throw errorFromSystem(::GetLastError(), native);
    }

    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &path, bool append) override {
        const std::string native = toNativePath(path);
        HANDLE file = openForWriting(native, append ? OPEN_ALWAYS : CREATE_ALWAYS);
        if (file == INVALID_HANDLE_VALUE)
            throw errorFromSystem(::GetLastError(), native);
        return std::make_unique<Win32TextWriter>(file);
    }

    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        const std::string native = toNativePath(path);
        HANDLE file = openForWriting(native, CREATE_NEW);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                return nullptr;
            throw errorFromSystem(error, native);
        }
        return std::make_unique<Win32TextWriter>(file);
    }

    std::optional<std::string> readFile(const std::string &path) override {
        Result<std::optional<std::string>> read = readWholeFile(toNativePath(path));
        if (!read)
            return std::nullopt;
        return std::move(read).value();
    }

    Result<std::string> readPlainFile(const std::string &path, std::size_t maxBytes) override {
        const std::string native = toNativePath(path);
        const DWORD a = attributesOf(native);
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
            return fail("it is a folder");
        HANDLE file = openForReading(native);
        if (file == INVALID_HANDLE_VALUE)
            return fail(systemMessage(::GetLastError()));
        std::string problem;
        std::string content;
        LARGE_INTEGER size{};
        if (::GetFileType(file) != FILE_TYPE_DISK)
            problem = "it is not a plain file (a device or a pipe)";
        else if (!::GetFileSizeEx(file, &size))
            problem = systemMessage(::GetLastError());
        else if (static_cast<unsigned long long>(size.QuadPart) > maxBytes)
            problem = tooLargeProblem(maxBytes);
        else if (!readUpTo(file, static_cast<std::size_t>(size.QuadPart) + 1, content))
            problem = systemMessage(::GetLastError());
        else if (content.size() > static_cast<std::size_t>(size.QuadPart))
            problem = "it grew while it was read";
        ::CloseHandle(file);
        if (!problem.empty())
            return fail(problem);
        return content;
    }

    std::optional<std::uint64_t> fileSize(const std::string &path) override {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(widen(toNativePath(path)).c_str(), GetFileExInfoStandard,
                                    &data))
            return std::nullopt;
        return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    std::optional<std::string> readFileTail(const std::string &path, std::size_t bytes) override {
        HANDLE file = openForReading(toNativePath(path));
        if (file == INVALID_HANDLE_VALUE)
            return std::nullopt;
        std::optional<std::string> tail = readTailOf(file, bytes);
        ::CloseHandle(file);
        return tail;
    }

    bool liesInside(const std::string &path, const std::string &folder) override {
        const std::filesystem::path p = resolved(path);
        const std::filesystem::path f = resolved(folder);
        if (p.empty() || f.empty())
            return false;
        auto pi = p.begin();
        for (const std::filesystem::path &part : f) {
            if (part.empty())
                continue; // a trailing separator
            if (pi == p.end() || !sameName(*pi, part))
                return false;
            ++pi;
        }
        return true;
    }

    std::string nativePath(const std::string &path) override { return toNativePath(path); }

    std::string userDataFolder() override {
        std::string data = environment("LOCALAPPDATA");
        if (data.empty())
            data = environment("APPDATA");
        if (data.empty())
            data = environment("TEMP");
        return data + "\\zephrane";
    }
};

} // namespace

Result<std::optional<std::string>> readWholeFile(const std::string &path) {
    HANDLE file = openForReading(path);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return std::optional<std::string>();
        return fail(systemMessage(code));
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            const DWORD code = ::GetLastError();
            ::CloseHandle(file);
            return fail(systemMessage(code));
        }
        if (n == 0)
            break;
        content.append(buffer, n);
    }
    ::CloseHandle(file);
    return std::optional<std::string>(std::move(content));
}

Status writeFileAtomically(const std::string &path, const std::string &content) {
    // Messages name the file as the caller did.
    const std::string temp = path + ".new";
    const std::wstring wideTemp = widen(toNativePath(temp));
    HANDLE file = ::CreateFileW(wideTemp.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fail("cannot write " + temp + ": " + systemMessage(::GetLastError()));
    const bool written = writeAll(file, content) && ::FlushFileBuffers(file);
    const DWORD code = written ? 0 : ::GetLastError();
    ::CloseHandle(file);
    if (!written) {
        ::DeleteFileW(wideTemp.c_str());
        return fail("cannot write " + temp + ": " + systemMessage(code));
    }
    if (!::MoveFileExW(wideTemp.c_str(), widen(toNativePath(path)).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveCode = ::GetLastError();
        ::DeleteFileW(wideTemp.c_str());
        return fail("cannot replace " + path + ": " + systemMessage(moveCode));
    }
    return done();
}

std::optional<std::string> codePageText(std::string_view bytes, unsigned int codePage) {
    if (bytes.empty())
        return std::string();
    const int size = static_cast<int>(bytes.size());
    const int wide =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (wide <= 0)
        return std::nullopt;
    std::wstring text(static_cast<std::size_t>(wide), L'\0');
    if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, text.data(),
                              wide) != wide)
        return std::nullopt;
    return narrow(text);
}

std::optional<std::string> ansiCodePageText(std::string_view bytes) {
    // A system whose code page is UTF-8 has no other: bytes that are not UTF-8 are read as the
    // description's Windows-1252.
    const UINT codePage = ::GetACP();
    if (codePage == CP_UTF8 || bytes.size() > 0x7FFFFFFF)
        return std::nullopt;
    return codePageText(bytes, codePage);
}

std::optional<std::string> codePageBytes(std::string_view text, unsigned int codePage) {
    if (text.size() > 0x7FFFFFFF)
        return std::nullopt;
    const std::wstring wide = widen(std::string(text));
    if (wide.empty())
        return std::string();
    const int size = static_cast<int>(wide.size());
    // No best fit: "?" says a character is missing where a look-alike would pass for it. Some
    // code pages take neither the flag nor a replacement of the caller's: then their own.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    const char *missing = "?";
    int n = ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, missing, nullptr);
    if (n <= 0) {
        flags = 0;
        missing = nullptr;
        n = ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, missing, nullptr);
    }
    if (n <= 0)
        return std::nullopt;
    std::string out(static_cast<std::size_t>(n), '\0');
    if (::WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), n, missing,
                              nullptr) != n)
        return std::nullopt;
    return out;
}

std::optional<std::string> ansiCodePageBytes(std::string_view text) {
    const UINT codePage = ::GetACP();
    if (codePage == CP_UTF8)
        return std::nullopt;
    return codePageBytes(text, codePage);
}

Status createPrivateFolder(const std::string &path) {
    const std::wstring wide = widen(toNativePath(path));
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(wide).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent, ec);
    if (ec)
        return fail("cannot create " + narrow(parent.native()) + ": " + ec.message());
    if (!::CreateDirectoryW(wide.c_str(), nullptr))
        return fail("cannot create " + path + ": " + systemMessage(::GetLastError()));
    return done();
}

Status checkPrivateFolder(const std::string &path) {
    const DWORD a = attributesOf(path);
    if (a == INVALID_FILE_ATTRIBUTES)
        return fail(systemMessage(::GetLastError()));
    if (a & FILE_ATTRIBUTE_REPARSE_POINT)
        return fail("it is a link (a reparse point)");
    if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return fail("it is not a folder");
    return done();
}

std::string fileIdentity(const std::string &path) {
    // Opened for no access at all, so that a file others hold open is read too.
    HANDLE file = ::CreateFileW(widen(toNativePath(path)).c_str(), 0, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool read = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!read)
        return {};
    const unsigned long long index =
        (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return "volume " + std::to_string(info.dwVolumeSerialNumber) + ", file " +
           std::to_string(index);
}

std::unique_ptr<IFileSystem> makeFileSystem() {
    return std::make_unique<Win32FileSystem>();
}

} // namespace zeph::win32
