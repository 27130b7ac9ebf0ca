#include "Logging.h"
#include "platform/AsciiText.h"

#include "app/Version.h"
#include "app/registry/RegistryAPI.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>

namespace zeph {

namespace {

const Where kGenerateWhere{"GenerateNewLogFileName", "Module", "Module1"};
const Where kCleanupWhere{"CleanupLogFiles", "Module", "Module1"};

constexpr const char *kStars = "*************************************************************";
constexpr const char *kDravikKey = "SYSTEM\\CurrentControlSet\\Services\\Dravik";

// The counts are 16-bit: at the top a further marker leaves them as they are.
void countUp(std::int16_t &count) {
    if (count < std::numeric_limits<std::int16_t>::max())
        ++count;
}

std::string fileNameOf(const std::string &path) {
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string twoDigits(int n) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", n);
    return buffer;
}

// Creates a folder unless it is there. Two programs started together may both find it missing:
// the one that loses the race to create it finds it made, which is as good.
void ensureFolder(IFileSystem &files, const std::string &path) {
    if (files.folderExists(path))
        return;
    try {
        files.createFolder(path);
    } catch (const Error &) {
        if (!files.folderExists(path))
            throw;
    }
}

// Creates a folder and every missing folder above it.
void createFolders(IFileSystem &files, const std::string &path) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/')
            continue;
        std::string prefix = path.substr(0, i);
        if (prefix.back() == ':')
            continue; // a drive ("C:") is not a folder to make
        ensureFolder(files, prefix);
    }
}

// The name with "_<n>" before its extension.
std::string withNameSuffix(const std::string &path, int n) {
    const std::size_t slash = path.find_last_of("\\/");
    const std::size_t dot = path.find_last_of('.');
    const std::size_t at =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? path.size() : dot;
    return path.substr(0, at) + "_" + std::to_string(n) + path.substr(at);
}

// A new log is made new, never cut from another's: when the name of its second is taken (a
// run started in the same second from the same program folder), the first free name with a
// suffix is used. The journal and failed-records file are named after the log, so they are
// the run's own as well.
std::unique_ptr<ITextFileWriter> openLogFile(IFileSystem &files, const std::string &path,
                                             bool append, std::string &written) {
    written = path;
    if (append)
        return files.openTextFile(path, true);
    constexpr int kNames = 1000;
    for (int n = 1; n <= kNames; ++n) {
        written = n == 1 ? path : withNameSuffix(path, n);
        if (std::unique_ptr<ITextFileWriter> file = files.createNewTextFile(written))
            return file;
    }
    throw Error(58, "File already exists: " + files.nativePath(path) + " and " +
                        std::to_string(kNames - 1) + " more names of its second");
}

} // namespace

std::string generalDateTime(const LocalTime &t) {
    int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    return std::to_string(t.month) + "/" + std::to_string(t.day) + "/" + std::to_string(t.year) +
           " " + std::to_string(hour12) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second) +
           (t.hour < 12 ? " AM" : " PM");
}

std::string logFileTimeStamp(const LocalTime &t) {
    char year[16];
    std::snprintf(year, sizeof year, "%04d", t.year);
    return year + twoDigits(t.month) + twoDigits(t.day) + "_" + twoDigits(t.hour) + "_" +
           twoDigits(t.minute) + "_" + twoDigits(t.second);
}

int calendarDaysBetween(const LocalTime &from, const LocalTime &to) {
    using namespace std::chrono;
    auto dayOf = [](const LocalTime &t) {
        return sys_days(year(t.year) / month(static_cast<unsigned>(t.month)) /
                        day(static_cast<unsigned>(t.day)));
    };
    return static_cast<int>((dayOf(to) - dayOf(from)).count());
}

Logging::Logging(Host &host, WorkStationInfo *workStationInfo)
    : m_host(host)
    , m_workStationInfo(workStationInfo) {}

Logging::~Logging() {
    CloseLogFile();
}

std::string Logging::logFolder() const {
    return m_host.programFolder + "\\logs";
}

std::string Logging::fallbackLogFolder() const {
    return m_host.files->userDataFolder() + "/logs";
}

void Logging::showError(const std::string &text) {
    if (m_host.ui)
        m_host.ui->messageBox(text, MsgButtons::OK);
}

std::string Logging::GenerateNewLogFileName() {
    m_generatedFallbackPath.clear();
    m_generatedFallbackReason.clear();
    LocalTime now = m_host.clock->toLocal(m_host.clock->now());
    std::string name = "\\Zephrane_Log_" + logFileTimeStamp(now) + ".TXT";
    std::string folder = logFolder();
    const Result<void, Error> made = caught([&] { ensureFolder(*m_host.files, folder); });
    if (!made) {
        showError(errorReport(made.error().number(), made.error().description(), kGenerateWhere));
        return useFallbackFolder(name, made.error());
    }
    CleanupLogFiles();
    return folder + name;
}

// A destructive run must not go without a log: the user's own folder takes it instead.
std::string Logging::useFallbackFolder(const std::string &name, const Error &why) {
    std::string folder = fallbackLogFolder();
    std::string path = folder + name;
    m_generatedFallbackPath = path;
    IFileSystem &files = *m_host.files;
    if (const Result<void, Error> made = caught([&] { createFolders(files, folder); }); !made) {
        m_generatedFallbackReason = "The run log could be kept neither in " +
                                    files.nativePath(logFolder()) + " (" + why.description() +
                                    ") nor in " + files.nativePath(folder) + " (" +
                                    made.error().description() + ").";
        return path;
    }
    cleanupFolder(folder);
    m_generatedFallbackReason = "The run log could not be kept in " +
                                files.nativePath(logFolder()) + " (" + why.description() +
                                "), so it is in " + files.nativePath(folder) + ".";
    return path;
}

void Logging::CleanupLogFiles() {
    cleanupFolder(logFolder());
}

void Logging::cleanupFolder(const std::string &folder) {
    IFileSystem &files = *m_host.files;
    IClock &clock = *m_host.clock;
    if (!files.folderExists(folder))
        return;
    LocalTime today = clock.toLocal(clock.now());
    const auto report = [this](const std::string &text) { showError(text); };
    std::vector<FileEntry> entries;
    if (!trap(kCleanupWhere, report, [&] { entries = files.listFiles(folder); }))
        return;
    for (const FileEntry &entry : entries) {
        trap(kCleanupWhere, report, [&] {
            if (calendarDaysBetween(clock.toLocal(entry.lastModified), today) > kKeepDays &&
                !(m_purgeGuard && m_purgeGuard(entry.path)))
                files.deleteFile(entry.path, true);
        });
    }
}

void Logging::WriteLogHeader(const std::string &path, bool append) {
    CloseLogFile(); // a new header starts a new log; the last one is not left open
    m_writeProblem.clear();
    m_fallbackReason = (path == m_generatedFallbackPath) ? m_generatedFallbackReason : "";
    std::string written = path;
    const Result<void, Error> opened =
        caught([&] { m_file = openLogFile(*m_host.files, path, append, written); });
    if (!opened) {
        written = path;
        m_file = openFallback(path, append, opened.error(), written);
    }
    m_path = written;
    writeHeaderLines();
    // The header's own marker line does not count: the counts cover the run's lines alone.
    m_errorCount = 0;
    m_warningCount = 0;
}

std::unique_ptr<ITextFileWriter> Logging::openFallback(const std::string &path, bool append,
                                                       const Error &why, std::string &written) {
    IFileSystem &files = *m_host.files;
    std::string folder = fallbackLogFolder();
    std::string target = folder + "\\" + fileNameOf(path);
    std::string problem = "The run log could not be written to " + files.nativePath(path) + " (" +
                          why.description() + ")";
    if (files.nativePath(target) == files.nativePath(path)) {
        m_fallbackReason = problem + "; this run has no log.";
        return nullptr;
    }
    std::unique_ptr<ITextFileWriter> file;
    std::string opened = target;
    const Result<void, Error> made = caught([&] {
        createFolders(files, folder);
        file = openLogFile(files, target, append, opened);
    });
    if (!made) {
        m_fallbackReason = problem + " nor to " + files.nativePath(target) + " (" +
                           made.error().description() + "); this run has no log.";
        return nullptr;
    }
    m_fallbackReason = problem + ", so it is in " + files.nativePath(opened) + ".";
    written = opened;
    return file;
}

void Logging::writeHeaderLines() {
    LocalTime now = m_host.clock->toLocal(m_host.clock->now());
    WriteLogLine("");
    WriteLogLine(kStars);
    WriteLogLine("Running " + m_host.exeName + " version: " + ownVersionText());
    WriteLogLine("");
    WriteLogLine("Logged in user=" + loggedInUser());
    WriteLogLine("Dravik service account=" + dravikAccount());
    WriteLogLine("Search for '(error)' or '(warning)' to find logged errors and warnings during "
                 "the import process.");
    WriteLogLine("");
    WriteLogLine(kStars);
    WriteLogLine("");
    WriteLogLine("Starting process at:" + generalDateTime(now));
    WriteLogLine("");
}

std::string Logging::loggedInUser() {
    if (!m_workStationInfo && m_host.workstation) {
        m_ownWorkStationInfo = std::make_unique<WorkStationInfo>(*m_host.workstation);
        m_workStationInfo = m_ownWorkStationInfo.get();
    }
    if (!m_workStationInfo)
        return "\\";
    return m_workStationInfo->Domain() + "\\" + m_workStationInfo->UserName();
}

std::string Logging::dravikAccount() {
    std::string account;
    const Result<void, Error> read = caught([&] {
        if (!m_host.registry)
            return;
        RegistryAPI registry(*m_host.registry);
        account = regText(registry.QueryValue(HKEY_LOCAL_MACHINE, kDravikKey, "ObjectName", REG_SZ,
                                              std::string()));
    });
    // An account that cannot be read is an empty one in the header; the run goes on.
    return read ? account : std::string();
}

void Logging::WriteLogLine(const std::string &text) {
    std::string lower = lowerAscii(text);
    if (lower.find("(error)") != std::string::npos)
        countUp(m_errorCount);
    if (lower.find("(warning)") != std::string::npos)
        countUp(m_warningCount);
    if (m_file && m_writeProblem.empty()) {
        // The line is in the file once written; it reaches the disk with the next sync. After
        // the first line that could not be written no more are: the log ends with its last
        // whole line, and the run learns of the loss through LogWriteProblem.
        // The file holds the line in the system's ANSI code page, as plain text there is read.
        std::optional<std::string> encoded;
        if (m_host.ansiBytes)
            encoded = m_host.ansiBytes(text);
        Status written = done();
        const Result<void, Error> wrote =
            caught([&] { written = m_file->writeLineUnsynced(encoded ? *encoded : text); });
        m_unsynced = true;
        if (!wrote)
            m_writeProblem = wrote.error().description();
        else if (!written)
            m_writeProblem = "a line could not be written to " + m_host.files->nativePath(m_path) +
                             " (" + written.error() + ")";
    }
    if (m_lineObserver)
        m_lineObserver(text);
    if (m_host.ui)
        m_host.ui->doEvents();
}

void Logging::SyncLogFile() {
    if (!m_file || !m_writeProblem.empty() || !m_unsynced)
        return;
    m_unsynced = false;
    Status synced = done();
    const Result<void, Error> asked = caught([&] { synced = m_file->sync(); });
    if (!asked)
        m_writeProblem = asked.error().description();
    else if (!synced)
        m_writeProblem = "the log " + m_host.files->nativePath(m_path) + " could not be synced (" +
                         synced.error() + ")";
}

void Logging::CloseLogFile() {
    if (!m_file)
        return;
    SyncLogFile();
    // What the close could lose the sync above has put on disk or kept as the write problem.
    (void)caught([&] { m_file->close(); });
    m_file.reset();
}

} // namespace zeph
