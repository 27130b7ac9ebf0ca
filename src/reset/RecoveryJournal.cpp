#include "RecoveryJournal.h"

#include "FailedRecords.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <set>
#include <utility>

namespace zeph {

namespace {

constexpr const char *kMagic = "zephrane-journal";
// Version 2 names the server; version 1 journals are read as belonging to no known server.
constexpr const char *kVersion = "2";
constexpr const char *kVersionWithoutServer = "1";
constexpr const char *kJournalPrefix = "Zephrane_Journal_";
// The largest journal read: a run of the most subscribers a selection holds writes far less,
// and a file of another kind given by mistake is never read whole into memory.
constexpr std::size_t kJournalMaxBytes = std::size_t{512} * 1024 * 1024;
// The last record of a journal that has nothing left to do: the start-up scan reads no further
// than this line. It names where it begins in the file, so that a mark copied or added to the
// end of another journal is not taken for that journal's own.
constexpr const char *kClosed = "closed";
// Every line a writer writes ends in CR LF.
constexpr std::size_t kLineEnd = 2;
// begin: number, the eight snapshot values, the template, then the saved extensions.
constexpr std::size_t kBeginFixedFields = 11;

std::uint32_t crc32(std::string_view text) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : text) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string hex8(std::uint32_t value) {
    std::array<char, 9> text{};
    std::snprintf(text.data(), text.size(), "%08x", value);
    return text.data();
}

std::string escapeField(const std::string &value) {
    std::string out;
    for (char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Splits a line into its unescaped fields; nothing for an escape the writer never makes.
std::optional<std::vector<std::string>> splitFields(std::string_view line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\') {
            if (++i == line.size())
                return std::nullopt;
            switch (line[i]) {
            case '\\':
                fields.back() += '\\';
                break;
            case 't':
                fields.back() += '\t';
                break;
            case 'n':
                fields.back() += '\n';
                break;
            case 'r':
                fields.back() += '\r';
                break;
            default:
                return std::nullopt;
            }
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string recordLine(const std::vector<std::string> &fields) {
    std::string text;
    for (const std::string &field : fields)
        text += (text.empty() ? "" : "\t") + escapeField(field);
    return text + "\t" + hex8(crc32(text));
}

// The fields of one line when its checksum holds.
std::optional<std::vector<std::string>> checkedFields(std::string_view line) {
    const std::size_t tab = line.rfind('\t');
    if (tab == std::string_view::npos || line.size() - tab - 1 != 8)
        return std::nullopt;
    if (hex8(crc32(line.substr(0, tab))) != line.substr(tab + 1))
        return std::nullopt;
    return splitFields(line.substr(0, tab));
}

bool parseNumber(const std::string &text, int &value) {
    if (text.empty() || text.size() > 6)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return value > 0;
}

// Applies one record to the file; an error text when it does not fit.
Status applyRecord(JournalFile &file, const std::vector<std::string> &f) {
    const std::string &kind = f[0];
    if (kind == "lists-owed" && f.size() == 1) {
        file.listSyncOwed = true;
        return done();
    }
    if (kind == "lists-done" && f.size() == 1) {
        file.listSyncOwed = false;
        return done();
    }
    if (kind == kClosed && (f.size() == 1 || f.size() == 2))
        return done(); // a mark for the scan: the records before it say all

    int number = 0;
    if (f.size() < 2 || !parseNumber(f[1], number))
        return fail("the record has no entry number");
    if (kind == "begin") {
        if (f.size() < kBeginFixedFields)
            return fail("the entry's opening record is short of values");
        if (number != static_cast<int>(file.entries.size()) + 1)
            return fail("entry " + std::to_string(number) + " is out of order");
        JournalEntry entry;
        entry.number = number;
        SubscriberSnapshot &s = entry.snapshot;
        s.ObjectID = f[2];
        s.Alias = f[3];
        s.CallHandlerObjectID = f[4];
        s.FirstName = f[5];
        s.LastName = f[6];
        s.DisplayName = f[7];
        s.DTMFAccessID = f[8];
        s.DirectoryID = f[9];
        entry.templateAlias = f[10];
        s.AlternateExtensions.assign(f.begin() + kBeginFixedFields, f.end());
        s.AlternateExtensionCount = static_cast<int>(s.AlternateExtensions.size());
        file.entries.push_back(std::move(entry));
        return done();
    }
    if (number > static_cast<int>(file.entries.size()))
        return fail("the record names entry " + std::to_string(number) +
                    ", which was never opened");
    JournalEntry &entry = file.entries[static_cast<std::size_t>(number - 1)];
    auto expect = [&](std::size_t count) { return f.size() == count; };
    if (kind == "removal-ticket" && expect(3)) {
        entry.removalTicket = f[2];
    } else if (kind == "cleaning" && expect(2)) {
        entry.cleaned = true;
    } else if (kind == "created" && expect(4)) {
        entry.created = IdentityMap{f[2], f[3]};
    } else if (kind == "creation-ticket" && expect(3)) {
        entry.creationTicket = f[2];
    } else if (kind == "finished" && expect(2)) {
        entry.finished = true;
    } else {
        return fail("unknown record '" + kind + "'");
    }
    return done();
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string fileNameOf(const std::string &path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string journalPath(const std::string &logPath) {
    return besideLogPath(logPath, kJournalPrefix, ".txt");
}

bool isJournalName(const std::string &fileName) {
    return fileName.rfind(kJournalPrefix, 0) == 0 && fileName.size() > 4 &&
           fileName.compare(fileName.size() - 4, 4, ".txt") == 0;
}

std::vector<const JournalEntry *> JournalFile::unfinished() const {
    std::vector<const JournalEntry *> list;
    for (const JournalEntry &entry : entries) {
        if (!entry.finished)
            list.push_back(&entry);
    }
    return list;
}

Result<JournalFile> readJournal(IFileSystem &files, const std::string &path) {
    const std::string shown = files.nativePath(path);
    const Result<std::string> text = files.readPlainFile(path, kJournalMaxBytes);
    if (!text)
        return fail("the recovery journal " + shown + " cannot be read: " + text.error());
    JournalFile file;
    file.path = path;
    file.size = text->size();
    const std::vector<std::string_view> lines = splitLines(*text);
    const bool endsWithBreak = !text->empty() && text->back() == '\n';
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const bool last = i + 1 == lines.size();
        auto damaged = [&](const std::string &what) {
            return fail("the recovery journal " + shown + " is damaged at line " +
                        std::to_string(i + 1) + ": " + what);
        };
        std::optional<std::vector<std::string>> fields = checkedFields(lines[i]);
        if (!fields) {
            // The program may have ended while writing its last line: that record was never
            // made sure of, so the step it announced was not taken either.
            if (last && !endsWithBreak) {
                file.tornTail = true;
                break;
            }
            return damaged("its checksum does not match");
        }
        if (i == 0) {
            if (fields->size() < 3 || (*fields)[0] != kMagic)
                return damaged("it is not a recovery journal");
            const std::string &version = (*fields)[1];
            if (version == kVersion && fields->size() == 4)
                file.server = (*fields)[3];
            else if (version != kVersionWithoutServer || fields->size() != 3)
                return damaged("its version " + version + " is not known");
            file.logPath = (*fields)[2];
            continue;
        }
        if (const Status applied = applyRecord(file, *fields); !applied)
            return damaged(applied.error());
    }
    if (lines.empty()) {
        JournalFile empty;
        empty.path = path;
        empty.tornTail = true;
        return empty;
    }
    return file;
}

void JournalScan::keepServer(const std::string &server) {
    std::vector<JournalFile> kept;
    for (JournalFile &journal : journals) {
        if (!journal.server.empty() && journal.server == server)
            kept.push_back(std::move(journal));
        else if (journal.needsRecovery())
            elsewhere.push_back(std::move(journal));
    }
    journals = std::move(kept);
}

bool JournalScan::needsAttention() const {
    if (!problems.empty() || !elsewhere.empty())
        return true;
    for (const JournalFile &journal : journals) {
        if (journal.needsRecovery())
            return true;
    }
    return false;
}

std::string JournalScan::warning(IFileSystem &files) const {
    if (!needsAttention())
        return {};
    std::string text = "A reset did not finish: these subscribers may have been removed and not "
                       "yet re-created.";
    for (const JournalFile &journal : journals) {
        if (!journal.needsRecovery())
            continue;
        text += "\r\nRun log " + files.nativePath(journal.logPath) + ":";
        for (const JournalEntry *entry : journal.unfinished())
            text +=
                " " + entry->snapshot.Alias + " (extension " + entry->snapshot.DTMFAccessID + ")";
        if (journal.listSyncOwed)
            text += " the synchronisation of all distribution lists, which puts the reset "
                    "subscribers back into their lists, was not asked for";
    }
    for (const JournalFile &journal : elsewhere)
        text += "\r\n" + elsewhereLine(files, journal);
    for (const std::string &problem : problems)
        text += "\r\n" + problem + "; it cannot be used to finish a reset";
    return text + "\r\nRun \"zephrane-cli --recover\" to finish them before resetting them again.";
}

std::string elsewhereLine(IFileSystem &files, const JournalFile &journal) {
    const std::string file = files.nativePath(journal.path);
    if (journal.server.empty())
        return "The recovery journal " + file +
               " was written before journals named their server, so it belongs to no known "
               "server: it is not applied unless named with \"zephrane-cli --recover --journal " +
               file + "\" on its own server.";
    return "The recovery journal " + file + " belongs to another server (" + journal.server +
           "): it is not applied here.";
}

// True when the journal's last line is its own closed mark: nothing in it is left to do, and
// the rest of it need not be read. A mark that does not begin where it says (added to the
// journal, or copied from another) or that names no place is not trusted: the journal is
// read whole.
bool endsClosed(IFileSystem &files, const std::string &path) {
    const std::optional<std::uint64_t> size = files.fileSize(path);
    std::optional<std::string> tail = files.readFileTail(path, 64);
    if (!size || !tail || tail->empty() || tail->back() != '\n' || tail->size() > *size)
        return false;
    std::string_view line(*tail);
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    const std::size_t newline = line.rfind('\n');
    if (newline == std::string_view::npos)
        return false; // the mark's beginning is not in the tail
    line.remove_prefix(newline + 1);
    const std::uint64_t begins = *size - (tail->size() - newline - 1);
    const std::optional<std::vector<std::string>> fields = checkedFields(line);
    return fields && fields->size() == 2 && (*fields)[0] == kClosed &&
           (*fields)[1] == std::to_string(begins);
}

JournalScan scanJournals(IFileSystem &files, const std::vector<std::string> &folders) {
    JournalScan scan;
    std::set<std::string> seen;
    for (const std::string &folder : folders) {
        if (folder.empty() || !seen.insert(folder).second || !files.folderExists(folder))
            continue;
        std::vector<FileEntry> entries;
        try {
            entries = files.listFiles(folder);
        } catch (const Error &e) {
            scan.problems.push_back("the logs folder " + files.nativePath(folder) +
                                    " cannot be searched for recovery journals (" +
                                    e.description() + ")");
            continue;
        }
        // Oldest first (their names carry the time their run began): an interrupted reset is
        // finished in the order the runs were made, whatever order the folder lists them in.
        std::sort(entries.begin(), entries.end(),
                  [](const FileEntry &a, const FileEntry &b) { return a.name < b.name; });
        for (const FileEntry &entry : entries) {
            if (!isJournalName(entry.name) || endsClosed(files, entry.path))
                continue;
            if (Result<JournalFile> journal = readJournal(files, entry.path))
                scan.journals.push_back(std::move(*journal));
            else
                scan.problems.push_back(journal.error());
        }
    }
    return scan;
}

bool journalMustBeKept(IFileSystem &files, const std::string &path) {
    if (!isJournalName(fileNameOf(path)) || endsClosed(files, path))
        return false;
    const Result<JournalFile> journal = readJournal(files, path);
    return !journal || journal->needsRecovery();
}

RecoveryJournal::RecoveryJournal(IFileSystem &files, std::string logPath, std::string server)
    : m_files(files)
    , m_path(journalPath(logPath))
    , m_logPath(std::move(logPath))
    , m_server(std::move(server)) {}

RecoveryJournal::RecoveryJournal(IFileSystem &files, const JournalFile &existing)
    : m_files(files)
    , m_path(existing.path)
    , m_logPath(existing.logPath)
    , m_server(existing.server)
    , m_size(existing.size)
    , m_lastEntry(static_cast<int>(existing.entries.size()))
    , m_tornTail(existing.tornTail)
    , m_resuming(true) {
    for (const JournalEntry *entry : existing.unfinished())
        m_open.insert(entry->number);
}

RecoveryJournal::~RecoveryJournal() {
    if (m_writer) {
        try {
            m_writer->close();
        } catch (const std::exception &) {
            // Every record is on disk already; closing adds nothing to keep.
        }
    }
}

Status RecoveryJournal::append(std::vector<std::string> fields, bool synced) {
    if (m_broken)
        return refused();
    Status written = done();
    const Result<void, Error> asked = caught([&] {
        if (Status opened = openFile(); !opened) {
            written = opened;
            return;
        }
        const std::string line = recordLine(fields);
        written = synced ? m_writer->writeLine(line) : m_writer->writeLineUnsynced(line);
        if (written)
            m_size += line.size() + kLineEnd;
    });
    if (!asked)
        return broken(asked.error().description());
    if (!written)
        return broken(written.error());
    m_unsynced = !synced;
    return done();
}

Status RecoveryJournal::openFile() {
    if (m_writer)
        return done();
    if (m_resuming) {
        m_writer = m_files.openTextFile(m_path, true);
        return done();
    }
    // A new journal is this run's alone: a file of its name is another run's.
    m_writer = m_files.createNewTextFile(m_path);
    if (!m_writer)
        return fail("File already exists");
    const std::string header = recordLine({kMagic, kVersion, m_logPath, m_server});
    if (Status written = m_writer->writeLine(header); !written)
        return written;
    m_size += header.size() + kLineEnd;
    return done();
}

Status RecoveryJournal::broken(const std::string &why) {
    m_broken = true;
    return fail(m_files.nativePath(m_path) + ": " + why);
}

Status RecoveryJournal::refused() {
    return fail("an earlier record could not be written");
}

Status RecoveryJournal::begin(const SubscriberSnapshot &s, const std::string &templateAlias,
                              const std::string &removalTicket, const std::string &creationTicket) {
    // Nothing of an earlier entry is handed out for this one, whether its records are written
    // or not.
    m_removalTicket = AnnouncedTicket{};
    m_creationTicket = AnnouncedTicket{};
    const int number = m_lastEntry + 1;
    std::vector<std::string> fields = {"begin",       std::to_string(number), s.ObjectID,
                                       s.Alias,       s.CallHandlerObjectID,  s.FirstName,
                                       s.LastName,    s.DisplayName,          s.DTMFAccessID,
                                       s.DirectoryID, templateAlias};
    const int saved =
        std::min<int>(s.AlternateExtensionCount, static_cast<int>(s.AlternateExtensions.size()));
    fields.insert(fields.end(), s.AlternateExtensions.begin(),
                  s.AlternateExtensions.begin() + saved);
    // With the tickets known already, every record reaches the disk with one sync: each ticket
    // is on disk before its step as before, and a ticket never asked for is found absent.
    if (Status begun = append(std::move(fields), false); !begun)
        return begun;
    m_lastEntry = m_entry = number;
    m_open.insert(number);
    if (!removalTicket.empty()) {
        if (Status recorded =
                append({"removal-ticket", std::to_string(m_entry), removalTicket}, false);
            !recorded)
            return recorded;
    }
    if (!creationTicket.empty()) {
        if (Status recorded =
                append({"creation-ticket", std::to_string(m_entry), creationTicket}, false);
            !recorded)
            return recorded;
    }
    if (Status synced = syncPending(); !synced)
        return synced;
    m_removalTicket.ticket = removalTicket;
    m_creationTicket.ticket = creationTicket;
    return done();
}

std::string RecoveryJournal::take(AnnouncedTicket &announced) {
    assert(!announced.taken && "a sync ticket is taken twice");
    announced.taken = true;
    return std::exchange(announced.ticket, std::string());
}

std::string RecoveryJournal::takeRemovalTicket() {
    return take(m_removalTicket);
}

std::string RecoveryJournal::takeCreationTicket() {
    return take(m_creationTicket);
}

Status RecoveryJournal::syncPending() {
    if (!m_unsynced)
        return done();
    if (m_broken || !m_writer)
        return refused();
    Status synced = done();
    if (const Result<void, Error> asked = caught([&] { synced = m_writer->sync(); }); !asked)
        return broken(asked.error().description());
    if (!synced)
        return broken("the records could not be made lasting (" + synced.error() + ")");
    m_unsynced = false;
    return done();
}

Status RecoveryJournal::removalTicket(const std::string &ticket) {
    return append({"removal-ticket", std::to_string(m_entry), ticket});
}

Status RecoveryJournal::cleaning() {
    return append({"cleaning", std::to_string(m_entry)}, false);
}

Status RecoveryJournal::created(const IdentityMap &ids, const std::string &creationTicket,
                                bool synced) {
    // The ticket is handed to the re-synchronisation even when its record fails: the
    // subscriber's reset goes on to its end, and the run stops after it.
    if (!creationTicket.empty())
        m_creationTicket.ticket = creationTicket;
    if (Status recorded =
            append({"created", std::to_string(m_entry), ids.newSubscriberId, ids.newCallHandlerId},
                   synced && creationTicket.empty());
        !recorded)
        return recorded;
    if (creationTicket.empty())
        return done();
    return this->creationTicket(creationTicket);
}

Status RecoveryJournal::creationTicket(const std::string &ticket) {
    return append({"creation-ticket", std::to_string(m_entry), ticket});
}

Status RecoveryJournal::finished(bool synced) {
    if (Status recorded = append({"finished", std::to_string(m_entry)}, synced); !recorded)
        return recorded;
    m_open.erase(m_entry);
    return done();
}

Status RecoveryJournal::listSyncOwed() {
    return append({"lists-owed"});
}

Status RecoveryJournal::listSyncDone() {
    if (Status recorded = append({"lists-done"}); !recorded)
        return recorded;
    // A journal with nothing left to do gets its closed mark, so that no later start-up reads
    // it whole. What is left is known from the records written, each on disk before it counted:
    // reading the file back would hold about a kilobyte a subscriber of a long run in memory
    // at once. The run lock keeps every other writer away from the file. A mark not made only
    // costs a later start-up that reading.
    if (m_open.empty() && !m_tornTail)
        (void)append({kClosed, std::to_string(m_size)});
    return done();
}

} // namespace zeph
