#pragma once
// Files and folders. Paths may be written with backslashes, as the system writes them; the
// backend reads them with its own separator.

#include "Clock.h"
#include "Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zeph {

struct FileEntry {
    std::string name; // file name only
    std::string path; // full path
    TimePoint lastModified;
};

/// Why a file is not read: it holds more than the most that is read of it.
inline std::string tooLargeProblem(std::size_t maxBytes) {
    constexpr std::size_t kMB = 1024 * 1024;
    return "it is larger than " +
           (maxBytes >= kMB ? std::to_string(maxBytes / kMB) + " MB"
                            : std::to_string(maxBytes) + " bytes") +
           ", the most that is read of it";
}

/// A text file open for writing line by line. A call that fails says why in the system's words
/// ("No space left on device"); the caller names the file. After a line that could not be
/// written whole the writer takes no more: the file ends with its last whole line, and a later
/// line would follow a gap.
class ITextFileWriter {
public:
    virtual ~ITextFileWriter() = default;
    /// Writes the text followed by CR LF and makes sure it has reached the file before
    /// returning.
    virtual Status writeLine(const std::string &text) = 0;
    /// Writes the text followed by CR LF without waiting for the disk: once it returns, the
    /// line survives the program being killed, and a power loss only after sync().
    virtual Status writeLineUnsynced(const std::string &text) { return writeLine(text); }
    /// Makes every line written so far durable.
    virtual Status sync() { return done(); }
    virtual void close() = 0;
};

/// What a writer answers once a line could not be written, or after it was closed.
inline constexpr const char *kWriterStopped = "an earlier line could not be written";
inline constexpr const char *kWriterClosed = "the file is closed";

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    virtual bool fileExists(const std::string &path) = 0;
    virtual bool folderExists(const std::string &path) = 0;
    /// Creates one folder (its parent must exist). Throws Error on failure.
    virtual void createFolder(const std::string &path) = 0;
    /// The plain files directly in a folder (no sub-folders). Throws Error on failure.
    virtual std::vector<FileEntry> listFiles(const std::string &folder) = 0;
    /// Deletes a file; with force also a read-only one. Throws Error on failure.
    virtual void deleteFile(const std::string &path, bool force) = 0;
    /// Opens a text file for writing, creating it, cutting it to empty or appending.
    /// Throws Error on failure.
    virtual std::unique_ptr<ITextFileWriter> openTextFile(const std::string &path, bool append) = 0;
    /// Creates a new text file for writing, in one step with the check that the name is free,
    /// so that two programs never write one file. Nothing when a file of that name exists.
    /// Throws Error on any other failure.
    virtual std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) = 0;
    /// The whole content of a file, or nothing when it cannot be read.
    virtual std::optional<std::string> readFile(const std::string &path) = 0;
    /// The whole content of a file the operator named: a plain file (not a folder, a device or
    /// a pipe, which is never waited on) of at most maxBytes; why not, otherwise.
    virtual Result<std::string> readPlainFile(const std::string &path, std::size_t maxBytes) = 0;
    /// At most the last `bytes` bytes of a file, or nothing when it cannot be read: a look at
    /// how a file ends that costs the same however long the file grew.
    virtual std::optional<std::string> readFileTail(const std::string &path, std::size_t bytes) {
        std::optional<std::string> all = readFile(path);
        if (all && all->size() > bytes)
            all->erase(0, all->size() - bytes);
        return all;
    }
    /// True when `path` is `folder` itself or lies below it once both are made full and ".",
    /// "..", drive and root prefixes and every link that exists are resolved, as this file
    /// system reaches them; false when either cannot be resolved. The wall that keeps a
    /// deletion inside the folder it belongs to.
    virtual bool liesInside(const std::string &path, const std::string &folder) = 0;
    /// The size of a file in bytes, or nothing when it cannot be read.
    virtual std::optional<std::uint64_t> fileSize(const std::string &path) {
        std::optional<std::string> all = readFile(path);
        if (!all)
            return std::nullopt;
        return all->size();
    }
    /// The path as this OS writes it (separators converted), for showing to people.
    virtual std::string nativePath(const std::string &path) = 0;
    /// A folder of the user's own where the program may write when its own folder is not
    /// writable (for example the run logs); it may not exist yet.
    virtual std::string userDataFolder() = 0;
};

enum class WindowStyle { Normal, MinimizedFocus, Hidden };

class IShell {
public:
    virtual ~IShell() = default;
    /// Starts a command line without waiting for it. False when it cannot be started.
    virtual bool startProgram(const std::string &commandLine, WindowStyle style) = 0;
    /// Opens a document or address with the desktop's default action. False on failure.
    virtual bool openDocument(const std::string &address) = 0;
};

class IHttp {
public:
    virtual ~IHttp() = default;
    /// The body of a page fetched over HTTP, at most maxBytes of it, or nothing on failure.
    virtual std::optional<std::string> fetchUrl(const std::string &url, const std::string &agent,
                                                std::size_t maxBytes) = 0;
};

} // namespace zeph
