#pragma once
// The recovery journal: beside each run log, a file that holds, for every subscriber the run
// is about to remove, what re-creating it needs, and how far its reset got. A reset deletes
// before it re-creates; if the program dies in between, the journal is what brings the
// subscriber back (see Recovery.h).
//
// One record per line, fields separated by tabs (tabs, line breaks and backslashes escaped),
// the last field a CRC-32 of the rest, so that a damaged line is told from a sound one. Every
// record is on disk before the step it announces is taken.

#include "ResetRun.h"
#include "platform/Result.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zeph {

class IFileSystem;
class ITextFileWriter;

/// The journal of a run log, in the log's folder: "Zephrane_Log_<stamp>.TXT" gives
/// "Zephrane_Journal_<stamp>.txt".
std::string journalPath(const std::string &logPath);
/// True for a file name that journalPath gives.
bool isJournalName(const std::string &fileName);

/// One subscriber's entry.
struct JournalEntry {
    int number = 0;
    /// The subscriber as captured before anything was changed, saved alternate extensions
    /// included.
    SubscriberSnapshot snapshot;
    std::string templateAlias;
    /// The sync ticket of the removal, once the run was about to remove the subscriber.
    std::string removalTicket;
    /// The run was about to remove the subscriber's recordings and messages: once it was, the
    /// reset must be finished even when the subscriber itself was never removed.
    bool cleaned = false;
    /// The ids the re-created subscriber came back with, once known.
    IdentityMap created;
    /// The sync ticket of the re-synchronisation, once the run was about to ask for it.
    std::string creationTicket;
    bool finished = false;
};

struct JournalFile {
    std::string path;
    /// The run log the journal belongs to.
    std::string logPath;
    /// The server the run changed (IDatabase::serverName); empty in a journal written before
    /// journals named their server, which belongs to no known server.
    std::string server;
    std::vector<JournalEntry> entries;
    /// The last line was cut short (the program ended while writing it); it is not counted.
    bool tornTail = false;
    /// The file's size in bytes when it was read.
    std::size_t size = 0;
    /// The run changed subscribers and has not yet asked for the final synchronisation of the
    /// distribution lists, which puts the reset subscribers back into their lists.
    bool listSyncOwed = false;

    std::vector<const JournalEntry *> unfinished() const;
    /// True while an entry is unfinished or the lists' synchronisation is owed.
    bool needsRecovery() const { return listSyncOwed || !unfinished().empty(); }
};

/// Reads a journal. Fails with a text that names the file and the line when the file cannot be
/// read or a line is damaged.
Result<JournalFile> readJournal(IFileSystem &files, const std::string &path);

/// The journals in a folder: each one read, or its problem.
struct JournalScan {
    /// The journals of the server the program is connected to (all of them until
    /// keepServer is called).
    std::vector<JournalFile> journals;
    /// Journals of other servers, or of no known server, that still have work in them: told
    /// about, never applied.
    std::vector<JournalFile> elsewhere;
    std::vector<std::string> problems;
    /// Keeps in `journals` only those of `server`; the others that still have work in them go
    /// to `elsewhere`.
    void keepServer(const std::string &server);
    /// True when some journal has an unfinished entry or could not be read.
    bool needsAttention() const;
    /// What the programs tell at start: which subscribers of which log are unfinished, which
    /// journals are damaged, and what to do. Empty when nothing needs attention.
    std::string warning(IFileSystem &files) const;
};
JournalScan scanJournals(IFileSystem &files, const std::vector<std::string> &folders);
/// The line that tells of a journal of another server or of no known server.
std::string elsewhereLine(IFileSystem &files, const JournalFile &journal);

/// True when the file is a journal that still has unfinished entries or cannot be read: the
/// purge of old logs must keep it.
bool journalMustBeKept(IFileSystem &files, const std::string &path);

class RecoveryJournal {
public:
    /// A new journal for a run log on the named server; the file is made with the first entry.
    RecoveryJournal(IFileSystem &files, std::string logPath, std::string server);
    /// Further records for an existing journal (recovery).
    RecoveryJournal(IFileSystem &files, const JournalFile &existing);
    ~RecoveryJournal();
    RecoveryJournal(const RecoveryJournal &) = delete;
    RecoveryJournal &operator=(const RecoveryJournal &) = delete;

    const std::string &path() const { return m_path; }

    /// Opens a new entry for the subscriber. Fails, saying why, when the record could not be
    /// made sure of: the subscriber must then not be touched.
    /// With a removal and a creation ticket, their records follow at once: all of them, and
    /// the records written before without a sync of their own, are on disk with one sync. The
    /// tickets are then announced: the steps that use them take them, each once.
    Status begin(const SubscriberSnapshot &snapshot, const std::string &templateAlias,
                 const std::string &removalTicket, const std::string &creationTicket = {});
    /// Further records go to an existing entry (recovery); it has no ticket announced.
    void resume(int entryNumber) {
        m_entry = entryNumber;
        m_removalTicket = AnnouncedTicket{};
        m_creationTicket = AnnouncedTicket{};
    }

    // The current entry's sync tickets, recorded ahead of the steps that send them with their
    // requests so that one sync serves several records. Each is handed out once: a second
    // request would send a ticket the directory has answered already, which is a fault of the
    // code (stopped in the test build).
    /// The removal's ticket announced with the entry; empty when none was, and the removal then
    /// makes its own and records it (removalTicket).
    std::string takeRemovalTicket();
    /// The re-synchronisation's ticket announced with the entry or with the creation's record;
    /// empty when none was, and the re-synchronisation then makes its own and records it
    /// (creationTicket).
    std::string takeCreationTicket();
    /// The re-synchronisation's ticket announced and not yet taken; empty when there is none.
    const std::string &announcedCreationTicket() const { return m_creationTicket.ticket; }

    // Records of the current entry. Each fails, saying why, when it could not be written; the
    // journal then takes no more records (a half line must not be followed by others).
    Status removalTicket(const std::string &ticket);
    /// The recordings and messages are removed next. Not synced on its own: it reaches the
    /// disk with the next synced record, and at once the file system's cache, which a program
    /// that dies does not lose.
    Status cleaning();
    /// With a creation ticket, its record follows at once (both on disk with one sync), and the
    /// ticket is announced for the re-synchronisation. Unsynced, the records reach the disk with
    /// the next synced one (see `synced` below).
    Status created(const IdentityMap &ids, const std::string &creationTicket, bool synced = true);
    Status creationTicket(const std::string &ticket);
    /// Unsynced, the entry's end reaches the disk with the next entry's beginning, the run's
    /// end or syncPending(): a record that stands for changes already on disk only saves a
    /// later recovery from finding the entry finished by itself.
    Status finished(bool synced = true);
    /// Makes the records written without a sync of their own durable; done at once when there
    /// are none.
    Status syncPending();
    /// The run owes the lists' synchronisation (written before its first change) / has asked
    /// for it or was told to skip it.
    Status listSyncOwed();
    Status listSyncDone();

private:
    /// Unsynced, the record reaches the disk with the next synced one.
    Status append(std::vector<std::string> fields, bool synced = true);
    /// Makes the file with its first line on the first record (or opens an existing journal).
    Status openFile();
    /// The file and the reason as the failure, and no later record is written (one that is
    /// might follow a record that never reached the disk).
    Status broken(const std::string &why);
    /// A record asked for after the journal broke.
    static Status refused();

    IFileSystem &m_files;
    std::string m_path;
    std::string m_logPath;
    std::string m_server;
    std::unique_ptr<ITextFileWriter> m_writer;
    /// The file's size in bytes: where the next record begins.
    std::uint64_t m_size = 0;
    int m_entry = 0;
    int m_lastEntry = 0;
    /// The entries begun and not yet finished, in this file: those of an existing journal and
    /// those this object began. Each record that changes it is on disk before it is changed.
    std::set<int> m_open;
    struct AnnouncedTicket {
        std::string ticket;
        bool taken = false;
    };
    static std::string take(AnnouncedTicket &announced);
    AnnouncedTicket m_removalTicket;
    AnnouncedTicket m_creationTicket;
    /// An existing journal whose last line was cut short is never marked closed.
    bool m_tornTail = false;
    bool m_broken = false;
    // Records were written since the last sync.
    bool m_unsynced = false;
    // Records go to an existing journal, not to a new one.
    bool m_resuming = false;
};

} // namespace zeph
