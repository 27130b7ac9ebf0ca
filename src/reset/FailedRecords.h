#pragma once
// The run's failed-records file: beside the run log, a subscriber list in the CSV import's
// format that names every subscriber the run skipped or that logged an error, with its first
// error line as the reason. After fixing the causes the administrator imports exactly these
// subscribers again. The file is written as the run goes: each record is appended when it is
// made, so a run that ends abruptly leaves the records of the subscribers that failed so far.

#include "platform/Result.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zeph {

class IFileSystem;
class ITextFileWriter;

/// The failed-records file of a run log, in the log's folder: "Zephrane_Log_<stamp>.TXT"
/// gives "Zephrane_Failed_<stamp>.csv".
std::string failedRecordsPath(const std::string &logPath);
/// A file that belongs to a run log, in the log's folder: the log's name with its
/// "Zephrane_Log_" prefix replaced by `prefix` and its extension by `extension`.
std::string besideLogPath(const std::string &logPath, const char *prefix, const char *extension);

/// A value as a field of the file: the import splits at every "," and ends lines at CR, so
/// commas become ";" and line breaks and tabs blanks; leading and trailing blanks go.
std::string failedRecordsField(const std::string &text);

class FailedRecords {
public:
    static constexpr const char *kHeader = "alias,extension,reason";

    FailedRecords();
    ~FailedRecords();
    FailedRecords(const FailedRecords &) = delete;
    FailedRecords &operator=(const FailedRecords &) = delete;

    struct Record {
        std::string alias;
        std::string extension;
        std::string reason;
    };

    /// A subscriber's reset begins: the log lines that follow are its own.
    void beginSubscriber(const std::string &alias, const std::string &extension);
    /// Its reset has ended: later lines belong to no subscriber.
    void endSubscriber();
    /// True when the current (or just ended) subscriber has a record.
    bool currentRecorded() const { return m_currentRecorded; }
    /// Records the current subscriber with `reason` unless a line has recorded it already.
    void recordCurrent(const std::string &reason);
    /// Records a subscriber the run did not reach.
    void record(const std::string &alias, const std::string &extension, const std::string &reason);
    /// One run log line as it is written. The first line of the current subscriber that holds
    /// the error marker (in any letter case) makes it a record.
    void observe(const std::string &line);

    const std::vector<Record> &records() const { return m_records; }
    /// The records, taken out: none are left.
    std::vector<Record> takeRecords() { return std::exchange(m_records, {}); }
    /// The file's lines: the header, then one line per record in the run's order.
    std::vector<std::string> lines() const;
    /// Makes the file, new, at `path` with its header and the records made so far; every
    /// record made after is appended to it at once (it survives the program being killed).
    /// Throws zeph::Error when the file cannot be made or written.
    void open(IFileSystem &files, const std::string &path);
    /// Makes the records appended since the last sync durable; nothing when there are none.
    void sync();
    /// Syncs and closes the file. A file that missed a record is deleted: it would not name
    /// every failed subscriber. Fails with why the file is not (or no longer) complete.
    Status close();
    /// Empty while every record made since open() is in the file; otherwise why one is not.
    const std::string &problem() const { return m_problem; }

private:
    void add(Record record);
    void fail(const std::string &why);
    /// Done while every record made since open() is in the file.
    Status whole() const;
    static std::string ioError(IFileSystem &files, const std::string &path, const Status &why);

    IFileSystem *m_files = nullptr;
    std::unique_ptr<ITextFileWriter> m_file;
    std::string m_path;
    std::string m_problem;
    bool m_unsynced = false;
    bool m_inSubscriber = false;
    bool m_currentRecorded = false;
    Record m_current;
    std::vector<Record> m_records;
};

} // namespace zeph
