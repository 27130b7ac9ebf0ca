#pragma once
// The run log: one plain-text file per reset run, in the "logs" folder beside the program,
// with a fixed header, one line per call, and counts of the lines that carry an error or a
// warning marker. One instance serves the whole process; one log file is open at a time.

#include "app/host/WorkStationInfo.h"
#include "platform/Error.h"
#include "platform/Host.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zeph {

/// The system's general date-time format: short date, a blank, long time, as a US-English
/// system writes them ("12/5/2026 2:07:09 PM").
std::string generalDateTime(const LocalTime &t);
/// The log file's time stamp: "yyyymmdd_hh_mm_ss" with the hour 00 to 23.
std::string logFileTimeStamp(const LocalTime &t);
/// Calendar-day boundaries from `from` to `to` (negative when `to` is earlier); the time of
/// day does not count.
int calendarDaysBetween(const LocalTime &from, const LocalTime &to);

class Logging {
public:
    /// Log files older than this many calendar days are purged.
    static constexpr int kKeepDays = 30;

    /// `workStationInfo` is the program's shared one, read for the header's user line; without
    /// it the log makes its own from the host on first use.
    explicit Logging(Host &host, WorkStationInfo *workStationInfo = nullptr);
    ~Logging();
    Logging(const Logging &) = delete;
    Logging &operator=(const Logging &) = delete;

    /// The full path of a new log file named by the current time, in the program folder's
    /// "logs" folder (created when missing, then purged). Does not create the file. When that
    /// folder cannot be made, the failure is shown and the path leads to the user's own logs
    /// folder instead (see LogFallbackReason).
    std::string GenerateNewLogFileName();
    /// Deletes the files of the program folder's "logs" folder last changed more than 30
    /// calendar days ago; each failure is shown and the purge goes on.
    void CleanupLogFiles();
    /// Opens the file (appending or cut to empty), writes the header, then sets both counts to
    /// 0 and stores the path. When the file cannot be opened there, the log goes to the user's
    /// own logs folder under the same name. Reports nothing.
    void WriteLogHeader(const std::string &path, bool append);
    /// Counts the line's markers, writes the line (in the file when the call returns, so that a
    /// killed program loses none; on disk at the next SyncLogFile) and lets the user interface
    /// handle its pending events once. Reports nothing.
    void WriteLogLine(const std::string &text);
    /// Makes the lines written so far durable, so that a power loss loses none of them. A
    /// failure is kept as the log's write problem (LogWriteProblem). Nothing without a log.
    void SyncLogFile();
    /// True while lines written since the last sync may not be on disk yet.
    bool HasUnsyncedLines() const { return m_file && m_writeProblem.empty() && m_unsynced; }
    /// Closes the log file; does nothing when none is open.
    void CloseLogFile();

    std::int16_t LogErrorCount() const { return m_errorCount; }
    std::int16_t LogWarningCount() const { return m_warningCount; }
    /// Where the log last opened by WriteLogHeader is (or was meant to be); empty until then.
    const std::string &LogFilePath() const { return m_path; }
    /// Empty while the run's log is where the system keeps it; otherwise one sentence that
    /// says why it is elsewhere and where, or that there is no log at all. For the run's
    /// closing message.
    const std::string &LogFallbackReason() const { return m_fallbackReason; }
    /// Empty while every line given since the last header reached the log file; otherwise why
    /// a line did not (the log then takes no further lines: it ends with its last whole line).
    const std::string &LogWriteProblem() const { return m_writeProblem; }
    /// True from a header that could be written until CloseLogFile.
    bool IsLogOpen() const { return m_file != nullptr; }

    /// Told every line WriteLogLine writes (header lines included), after the file has it and
    /// before the user interface's pass; the terminal program prints the lines this way.
    void setLineObserver(std::function<void(const std::string &)> observer) {
        m_lineObserver = std::move(observer);
    }
    /// The observer set last (empty when none), so that another one can be put in front of it.
    const std::function<void(const std::string &)> &lineObserver() const { return m_lineObserver; }

    /// Told each file the purge of old logs would delete; a file it answers true for is kept
    /// (a recovery journal that still has work in it must outlive its month).
    void setPurgeGuard(std::function<bool(const std::string &path)> keep) {
        m_purgeGuard = std::move(keep);
    }

    /// The program folder's logs folder, as the system writes it.
    std::string logFolder() const;
    /// The user's own logs folder, used when the program folder's cannot be.
    std::string fallbackLogFolder() const;

private:
    void showError(const std::string &text);
    void cleanupFolder(const std::string &folder);
    std::string useFallbackFolder(const std::string &name, const Error &why);
    std::unique_ptr<ITextFileWriter> openFallback(const std::string &path, bool append,
                                                  const Error &why, std::string &written);
    void writeHeaderLines();
    std::string loggedInUser();
    std::string dravikAccount();

    Host &m_host;
    WorkStationInfo *m_workStationInfo;
    std::unique_ptr<WorkStationInfo> m_ownWorkStationInfo;
    std::unique_ptr<ITextFileWriter> m_file;
    std::function<void(const std::string &)> m_lineObserver;
    std::function<bool(const std::string &)> m_purgeGuard;
    std::int16_t m_errorCount = 0;
    std::int16_t m_warningCount = 0;
    std::string m_path;
    std::string m_fallbackReason;
    std::string m_writeProblem;
    // Lines were written since the last sync.
    bool m_unsynced = false;
    // The last name GenerateNewLogFileName gave in the user's folder, and why.
    std::string m_generatedFallbackPath;
    std::string m_generatedFallbackReason;
};

} // namespace zeph
