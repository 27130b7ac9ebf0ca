#include "FailedRecords.h"
#include "platform/AsciiText.h"

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "select/CsvText.h"

#include <algorithm>
#include <memory>
#include <string_view>

namespace zeph {

namespace {

constexpr const char *kLogPrefix = "Zephrane_Log_";
constexpr const char *kFailedPrefix = "Zephrane_Failed_";

// The log counts a line as an error line by the same test: the marker anywhere, any case.
bool holdsErrorMarker(std::string_view line) {
    return containsIgnoreCase(line, "(error)");
}

} // namespace

std::string besideLogPath(const std::string &logPath, const char *prefix, const char *extension) {
    const std::size_t slash = logPath.find_last_of("\\/");
    const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    std::string name = logPath.substr(nameAt);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    if (name.rfind(kLogPrefix, 0) == 0)
        name = prefix + name.substr(std::string_view(kLogPrefix).size());
    else
        name = prefix + name;
    return logPath.substr(0, nameAt) + name + extension;
}

std::string failedRecordsPath(const std::string &logPath) {
    return besideLogPath(logPath, kFailedPrefix, ".csv");
}

std::string failedRecordsField(const std::string &text) {
    std::string field = text;
    for (char &c : field) {
        if (c == ',')
            c = ';';
        else if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    }
    const std::size_t first = field.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return field.substr(first, field.find_last_not_of(' ') - first + 1);
}

FailedRecords::FailedRecords() = default;

FailedRecords::~FailedRecords() {
    if (m_file)
        m_file->close();
}

void FailedRecords::beginSubscriber(const std::string &alias, const std::string &extension) {
    m_inSubscriber = true;
    m_currentRecorded = false;
    m_current = Record{alias, extension, {}};
}

void FailedRecords::endSubscriber() {
    m_inSubscriber = false;
}

void FailedRecords::recordCurrent(const std::string &reason) {
    if (m_currentRecorded)
        return;
    m_currentRecorded = true;
    add(Record{m_current.alias, m_current.extension, reason});
}

void FailedRecords::record(const std::string &alias, const std::string &extension,
                           const std::string &reason) {
    add(Record{alias, extension, reason});
}

void FailedRecords::observe(const std::string &line) {
    if (!m_inSubscriber || m_currentRecorded || !holdsErrorMarker(line))
        return;
    m_currentRecorded = true;
    add(Record{m_current.alias, m_current.extension, line});
}

namespace {

// Each field also made inert for a spreadsheet that opens the file; the import drops the text
// marker again, so the file still selects the same subscribers.
std::string recordLine(const FailedRecords::Record &r) {
    return inertCsvCell(failedRecordsField(r.alias)) + "," +
           inertCsvCell(failedRecordsField(r.extension)) + "," +
           inertCsvCell(failedRecordsField(r.reason));
}

} // namespace

std::vector<std::string> FailedRecords::lines() const {
    std::vector<std::string> out{kHeader};
    out.reserve(m_records.size() + 1);
    for (const Record &r : m_records)
        out.push_back(recordLine(r));
    return out;
}

void FailedRecords::add(Record record) {
    m_records.push_back(std::move(record));
    if (!m_file || !m_problem.empty())
        return;
    // Without waiting for the disk: the line is in the file once the call returns, so a killed
    // program loses none; the disk has it at the next sync, at the subscriber's end.
    if (const Status written = m_file->writeLineUnsynced(recordLine(m_records.back())); written)
        m_unsynced = true;
    else
        fail(ioError(*m_files, m_path, written));
}

std::string FailedRecords::ioError(IFileSystem &files, const std::string &path, const Status &why) {
    return "Device I/O error: " + files.nativePath(path) + " (" + why.error() + ")";
}

void FailedRecords::fail(const std::string &why) {
    if (m_problem.empty())
        m_problem = why;
}

void FailedRecords::open(IFileSystem &files, const std::string &path) {
    // The name belongs to this run's log, which was made new; a file already there is not ours.
    std::unique_ptr<ITextFileWriter> file = files.createNewTextFile(path);
    if (!file)
        throw Error(58, "File already exists: " + files.nativePath(path));
    m_files = &files;
    m_path = path;
    m_problem.clear();
    Status written = file->writeLineUnsynced(kHeader);
    for (std::size_t i = 0; written && i < m_records.size(); ++i)
        written = file->writeLineUnsynced(recordLine(m_records[i]));
    m_file = std::move(file);
    m_unsynced = true;
    if (!written) {
        fail(ioError(files, path, written));
        throw Error(57, close().error());
    }
}

void FailedRecords::sync() {
    if (!m_file || !m_unsynced || !m_problem.empty())
        return;
    m_unsynced = false;
    if (const Status synced = m_file->sync(); !synced)
        fail(ioError(*m_files, m_path, synced));
}

Status FailedRecords::close() {
    if (!m_file)
        return whole();
    sync();
    m_file->close();
    m_file.reset();
    if (!m_problem.empty()) {
        try {
            m_files->deleteFile(m_path, false);
        } catch (const std::exception &) {
            // Said by the problem already: the file is not to be used.
        }
    }
    return whole();
}

Status FailedRecords::whole() const {
    if (m_problem.empty())
        return done();
    return zeph::fail(m_problem);
}

} // namespace zeph
