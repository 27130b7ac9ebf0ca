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
    m_records.push_back(Record{m_current.alias, m_current.extension, reason});
}

void FailedRecords::record(const std::string &alias, const std::string &extension,
                           const std::string &reason) {
    m_records.push_back(Record{alias, extension, reason});
}

void FailedRecords::observe(const std::string &line) {
    if (!m_inSubscriber || m_currentRecorded || !holdsErrorMarker(line))
        return;
    m_currentRecorded = true;
    m_records.push_back(Record{m_current.alias, m_current.extension, line});
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

void FailedRecords::write(IFileSystem &files, const std::string &path) const {
    // One write for the whole file: the writer makes each call durable, which costs a few
    // milliseconds, so a run with thousands of failures pays it once rather than per line.
    // The text is built in place, at its final size: a long run's records are held a second
    // time only once, not as lines and not in the doubling of a growing text.
    std::size_t size = std::string_view(kHeader).size();
    for (const Record &r : m_records)
        size += 2 + recordLine(r).size();
    std::string text;
    text.reserve(size);
    text = kHeader;
    for (const Record &r : m_records)
        text.append("\r\n").append(recordLine(r));
    // The name belongs to this run's log, which was made new; a file already there is not ours.
    std::unique_ptr<ITextFileWriter> file = files.createNewTextFile(path);
    if (!file)
        throw Error(58, "File already exists: " + files.nativePath(path));
    const bool written = file->writeLine(text);
    file->close();
    if (!written)
        throw Error(57, "Device I/O error: " + files.nativePath(path));
}

} // namespace zeph
