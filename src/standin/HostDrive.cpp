#include "HostDrive.h"

#include "FileRegistry.h"
#include "SimHost.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/Native.h"
#include "standin/server/StandInServer.h"

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace zeph::sim {

namespace {

// Backslashes as this OS writes them.
std::string slashes(std::string path) {
    for (char &c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

// True when `path` (full, this OS's form) is `folder` or lies below it, after resolving "."
// and ".." and the links that exist.
bool isInside(const std::string &path, const std::string &folder) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    const fs::path f = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    auto pi = p.begin();
    for (auto fi = f.begin(); fi != f.end(); ++fi, ++pi) {
        if (fi->empty() && std::next(fi) == f.end())
            break; // a trailing separator
        if (pi == p.end() || *pi != *fi)
            return false;
    }
    return true;
}

// A path the host can reach: on its drive or a full path of this OS, either of them inside the
// host folder once "..", "." and links are resolved ("C:\..\other" is not on the host).
std::string outsideProblem(const std::string &hostFolder, const std::string &path) {
    if (std::optional<std::string> inside = onHostDrive(hostFolder, path))
        return isInside(*inside, hostFolder) ? std::string() : path;
    const std::string native = slashes(path);
    // A full path: "/a/b" here, also "D:/a/b" on Windows.
    if (native.empty() || !fs::path(native).has_root_directory() || isInside(native, hostFolder))
        return {};
    return path;
}

// On Windows the host's drive letter is also one of the machine's drives. A full path of the
// machine that lies in the host folder itself, the program's folder or the user's data folder
// names that place, not one on the host's drive (logs go beside the program, a test's program
// folder lies in its host folder).
bool isMachinePlace(const std::string &path, const std::vector<std::string> &ownFolders) {
    const std::string native = slashes(path);
    if (!fs::path(native).is_absolute())
        return false;
    for (const std::string &own : ownFolders) {
        const std::string folder = slashes(own);
        if (!folder.empty() && fs::path(folder).is_absolute() && isInside(native, folder))
            return true;
    }
    return false;
}

std::string registryRootPath(const std::string &hostFolder) {
    auto registry = makeFileRegistry(registryPath(hostFolder), nullptr);
    auto value =
        registry->queryValue(RegRoot::LocalMachine, "SOFTWARE\\Ambrel\\Pradix\\1.0", "Root Path");
    if (!value)
        return {};
    std::string text(value->data.begin(), value->data.end());
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

// The first recording the database names by a full path outside the host folder.
std::string recordingOutside(const std::string &hostFolder) {
    for (const std::string &path : sqlite::fullPathRecordings(databasePath(hostFolder))) {
        if (std::string outside = outsideProblem(hostFolder, path); !outside.empty())
            return outside;
    }
    return {};
}

class HostFileSystem : public IFileSystem {
public:
    HostFileSystem(std::string hostFolder, std::unique_ptr<IFileSystem> machine)
        : m_folder(std::move(hostFolder))
        , m_machine(std::move(machine)) {}

    bool fileExists(const std::string &path) override { return m_machine->fileExists(at(path)); }
    bool folderExists(const std::string &path) override {
        return m_machine->folderExists(at(path));
    }
    void createFolder(const std::string &path) override { m_machine->createFolder(at(path)); }
    std::vector<FileEntry> listFiles(const std::string &folder) override {
        return m_machine->listFiles(at(folder));
    }
    // A path on the host's drive that leads out of the host folder ("C:\..\x", a link to
    // elsewhere) names no file of this host: nothing outside the folder is deleted for it.
    void deleteFile(const std::string &path, bool force) override {
        const std::string target = at(path);
        if (target != path && !m_machine->liesInside(target, m_folder))
            throw Error(errnum::kPermissionDenied,
                        "Permission denied: " + path + " leads out of the stand-in host folder");
        m_machine->deleteFile(target, force);
    }
    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &path, bool append) override {
        return m_machine->openTextFile(at(path), append);
    }
    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        return m_machine->createNewTextFile(at(path));
    }
    std::optional<std::string> readFile(const std::string &path) override {
        return m_machine->readFile(at(path));
    }
    Result<std::string> readPlainFile(const std::string &path, std::size_t maxBytes) override {
        return m_machine->readPlainFile(at(path), maxBytes);
    }
    std::optional<std::string> readFileTail(const std::string &path, std::size_t bytes) override {
        return m_machine->readFileTail(at(path), bytes);
    }
    bool liesInside(const std::string &path, const std::string &folder) override {
        return m_machine->liesInside(at(path), at(folder));
    }
    std::optional<std::uint64_t> fileSize(const std::string &path) override {
        return m_machine->fileSize(at(path));
    }
    std::string nativePath(const std::string &path) override {
        return m_machine->nativePath(at(path));
    }
    std::string userDataFolder() override { return m_machine->userDataFolder(); }

private:
    std::string at(const std::string &path) const {
        std::optional<std::string> inside = onHostDrive(m_folder, path);
        // The user's data folder is asked for each time: it follows the environment.
        if (!inside ||
            isMachinePlace(path, {m_folder, m_programFolder, m_machine->userDataFolder()}))
            return path;
        return *inside;
    }

    std::string m_folder;
    std::unique_ptr<IFileSystem> m_machine;
    std::string m_programFolder = native::executableFolder();
};

} // namespace

std::optional<std::string> onHostDrive(const std::string &hostFolder, const std::string &path) {
    if (path.size() < 3 || asciiUpper(path[0]) != 'C' || path[1] != ':' ||
        (path[2] != '\\' && path[2] != '/'))
        return std::nullopt;
    return hostFolder + "/" + slashes(path.substr(3));
}

std::unique_ptr<IFileSystem> makeHostFileSystem(std::string hostFolder,
                                                std::unique_ptr<IFileSystem> machine) {
    return std::make_unique<HostFileSystem>(std::move(hostFolder), std::move(machine));
}

Status hostSelfContained(const std::string &hostFolder) {
    const std::string fix =
        " Write it on the host's drive " + std::string(kHostDrive) +
        ", which is the host folder (for example \"Root Path\"=\"C:\\\\Pradix\\\\\" "
        "in registry.reg), or make a new host with zephrane-sim init.";
    if (std::string root = outsideProblem(hostFolder, registryRootPath(hostFolder)); !root.empty())
        return fail("the recordings folder \"Root Path\" of the stand-in host " + hostFolder +
                    " is " + root + ", outside the host folder (a copy of another host?): a " +
                    "reset here would delete that folder's recordings." + fix);
    if (std::string file = recordingOutside(hostFolder); !file.empty())
        return fail("the database of the stand-in host " + hostFolder + " names the recording " +
                    file + ", outside the host folder (a copy of a host made by an older " +
                    "version?): a reset here would delete it. Make a new host with zephrane-sim "
                    "init.");
    return done();
}

} // namespace zeph::sim
