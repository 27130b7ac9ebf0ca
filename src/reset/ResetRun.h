#pragma once
// The context of one reset run, which every step shares: the run log, the one connection and
// command for the run's stored procedures, the one reusable query set (held through a
// ScopedQuery), the journal, the run's rule for an operation that fails (one "(error):" line in
// the log, then the next operation) and its stop policy; and the work object of the subscriber
// under way (SubscriberWork), made fresh for each one.

#include "ResetRequest.h"
#include "SubscriberWork.h"
#include "SyncThread.h"
#include "db/Command.h"
#include "db/Recordset.h"
#include "db/Transaction.h"
#include "db/modTarvoDB.h"
#include "log/Logging.h"
#include "platform/Error.h"
#include "platform/Host.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zeph {

class SubscriberGrid;
class RecoveryJournal;
class RegistryAPI;

/// The line that replaces a change in a dry run.
inline std::string dryRunLine(const std::string &what) {
    return "    (dry run) would " + what;
}

/// Where a failing operation of the run is reported from.
inline constexpr Where kResetWhere{"cmdResetSubscribers_Click", "Form", "frmResetSubscribers"};
/// Where the failures of the module procedures are reported from.
inline constexpr Where kMailboxWhere{"RemoveSubscriberMessages", "Module", "Module1"};
inline constexpr Where kSyncWaitWhere{"WaitForSyncToFinished", "Module", "Module1"};

/// The system's own words when the database cannot be used as the tool needs.
inline constexpr const char *kNoDatabaseRights =
    "Unable to open TarvoDB with necessary rights needed for this tool.  Make sure you are "
    "running this tool logged in as a member of the local admins group.";

/// The registry key and value that name the server's recording folder.
inline constexpr const char *kPradixKey = "SOFTWARE\\Ambrel\\Pradix\\1.0";
inline constexpr const char *kRootPathValue = "Root Path";

/// Something a run that changes the server needs and cannot do: the error line the run writes
/// for it and the reason the run gives for not going on.
struct MissingRight {
    std::string errorLine;
    std::string why;
};
/// What of the run's needs is missing, checked without changing anything: writing the server
/// database (a change taken back), the recordings folder, the mail store.
std::vector<MissingRight> missingRights(Host &host, const std::string &connectionText,
                                        const std::string &streamFilesRoot);
/// The server's recordings folder as a run finds it: "Root Path" followed by "Stream Files\";
/// a value that cannot be read counts as empty.
std::string streamFilesRoot(RegistryAPI &registry);

class ResetRun;

/// The rule of a subscriber's checks: a check that could not be made is not passed. Every
/// operation of the run that fails while the checks are made (a read, a query) is a check that
/// could not be made; a failure the rules let a reset go on after is read with readNotCounted.
class ChecksMade {
public:
    /// The checks begin.
    explicit ChecksMade(const ResetRun &run);
    /// True while no operation of the run has failed since the checks began.
    bool all() const;

private:
    const ResetRun &m_run;
    int m_failuresBefore;
};

/// Why a run stops when its log takes no more lines: "the run log could not be written (why)".
std::string runLogNotWritten(const std::string &why);
/// Why a run stops when its recovery journal takes no more records.
std::string journalNotWritten(const std::string &why);

/// What a run is started with, by whoever starts it (a reset, a recovery). The run reads it
/// and never changes it; a recovery alone takes up its journals one after the other.
struct RunSettings {
    /// What was asked for; its dryRun makes the run a dry run.
    ResetRequest request;
    /// A recovery finishes an interrupted reset: steps already taken find nothing left to do,
    /// which is then not an error.
    bool recovering = false;
    /// Where the run notes how far each subscriber's reset got; null in a dry run.
    RecoveryJournal *journal = nullptr;
};

class ResetRun {
public:
    ResetRun(Host &host, db::modTarvoDB &tarvoDb, Logging &log, RunSettings settings);
    ResetRun(const ResetRun &) = delete;
    ResetRun &operator=(const ResetRun &) = delete;

    Host &host;
    db::modTarvoDB &tarvoDb;
    Logging &log;

    /// What was asked for. A recovery asks for no template: each entry names its own
    /// (beginSubscriber).
    const ResetRequest &request() const { return m_settings.request; }
    /// A dry run reads and checks everything and changes nothing: each change is replaced by
    /// one log line that says what it would do.
    bool dryRun() const { return m_settings.request.dryRun; }
    /// A recovery finishes an interrupted reset: steps already taken find nothing left to do,
    /// which is then not an error.
    bool recovering() const { return m_settings.recovering; }
    /// Where the run notes how far each subscriber's reset got; null in a dry run.
    RecoveryJournal *journal() const { return m_settings.journal; }
    /// A recovery goes through the journals one at a time: the one it takes up now (null when
    /// it is between two, or done).
    void takeUpJournal(RecoveryJournal *journal) { m_settings.journal = journal; }

    /// The server's recording folder: "Root Path" followed by "Stream Files\"; read by prepare.
    const std::string &streamFilesRoot() const { return m_streamFilesRoot; }
    /// The run's one connection: its queries and commands go through it, so that they share one
    /// open database and the statements prepared on it. Closed when it could not be opened;
    /// each query then makes a connection of its own and reports its own failure.
    db::Connection &connection() { return m_connection; }
    /// The command for the run's own stored procedures (removal, the lists' synchronisation).
    db::Command &command() { return m_command; }

    /// A fresh work object for the next subscriber, to be created again from the template
    /// `templateAlias`: nothing of the one before reaches it.
    SubscriberWork &beginSubscriber(std::string templateAlias) {
        m_subscriber = SubscriberWork{std::move(templateAlias)};
        return m_subscriber;
    }
    /// The subscriber under way.
    SubscriberWork &subscriber() { return m_subscriber; }
    /// The cached subscriber table standing on the row of the subscriber under way, the one its
    /// look-up found: put back on that row when anything moved the table since. Throws (3021)
    /// when the look-up found no row, or when the row is no longer in the table.
    db::Recordset &subscriberRow();

    /// Notes a subscriber (its alias or ObjectID) whose last reset did not finish: resetting it
    /// again before that reset is finished would lose its old identity.
    void noteUnfinished(const std::string &aliasOrObjectId);
    /// True when the subscriber's last reset did not finish.
    bool unfinishedEarlier(const std::string &alias, const std::string &objectId) const;

    /// True once the journal holds that this run owes the lists' synchronisation.
    bool listSyncOwed() const { return m_listSyncOwed; }
    /// The journal holds it now.
    void oweListSync() { m_listSyncOwed = true; }
    /// The sync ticket the subscriber's removal sends: the one its journal entry announced, or
    /// one made now and recorded before it is used. Taken once a subscriber.
    std::string takeRemovalTicket();
    /// The sync ticket the subscriber's re-synchronisation sends: the one its journal entry or
    /// its creation's record announced, or one made now and recorded before it is used. Taken
    /// once a subscriber.
    std::string takeCreationTicket();
    /// A new sync ticket; one that cannot be made is reported by the run's rule and is empty.
    std::string newTicket();

    /// Makes the run log's lines so far durable; a log that cannot be synced stops the run.
    void syncLog();
    /// Starts making the run log's lines so far durable on the run's syncing thread, so that
    /// the disk's wait for them overlaps another (the database's); finishLogSync() waits for
    /// it. The log takes no line meanwhile: line() waits for the sync first.
    void startLogSync();
    /// Waits for the sync startLogSync() began, if any; a log that could not be synced stops
    /// the run.
    void finishLogSync();
    /// Threads the run started for its syncs (one at most, however many subscribers).
    int syncThreadsStarted() const { return m_syncThread.threadsStarted(); }
    /// Makes every change committed so far durable on the server; false (reported) when it
    /// could not be.
    bool makeChangesDurable();

    /// The run's end lines: the distribution lists' synchronisation (started, skipped by
    /// request, not needed by a run stopped before its first change, or in a dry run what
    /// would be done) and the completion time. When the run owed
    /// the synchronisation and it was asked for (or skipped by request), the journal is told.
    /// True when it was asked for or skipped by request.
    bool writeEnd(bool skipListSync);

    /// Tells the host that a changing step is done (a stand-in host may end the program
    /// there, to prove recovery).
    void reached(const std::string &step) const;
    /// Writes one journal record; a record that cannot be written is an error line, and this
    /// subscriber's reset goes on (it is removed by then: stopping would lose more), but the run
    /// stops after it. True when it was written or there is no journal.
    bool journalRecord(const std::function<Status(RecoveryJournal &)> &record);

    const std::string &connectionText() const { return tarvoDb.DbConnectionString(); }

    /// The run's start: streamFilesRoot from the registry, the command and the query set made
    /// ready. Each failure is reported by the run's rule.
    void prepare(RegistryAPI &registry);
    /// Makes the query set ready without the rest of prepare (a run that only reads).
    void prepareQueries();
    /// Before the first change, proves what the run must be able to do: write the database
    /// (a change taken back), reach the recordings folder and the mail store. Each that fails
    /// is an error line and stops the run, so that nothing is changed; a dry run writes the
    /// lines as foreseen and goes on. Call after prepare.
    void proveRights();
    /// An error line of the real run as a dry run writes it when it foresees it.
    std::string foreseen(const std::string &errorLine) const;

    /// Writes one run log line. A line that does not reach the log stops the run: no
    /// destructive step may go without its record.
    void line(const std::string &text);
    /// The journal took no record: an "(error)" line that says why (`lineEnd` after it), and
    /// a stop before the next change, which no recovery could finish without the record.
    void journalFailed(const std::string &why, const std::string &lineEnd = "");

    /// Why a run ends before its last subscriber.
    enum class StopKind {
        /// Something the run needs failed (its log, its journal, the server).
        Fault,
        /// The operator asked for it (Stop, closing the window, an interrupt): asked only
        /// between two subscribers, so every subscriber begun is finished.
        Requested,
    };
    /// Ends the run before the next subscriber's first change; the first reason given is kept,
    /// with its kind.
    void stop(const std::string &why, StopKind kind = StopKind::Fault);
    /// The subscriber under way could not be brought to its end, for a reason of its own. A
    /// reset stops (a server that did not take this subscriber's changes would break the next
    /// ones too); a recovery leaves this entry open and goes on with the next, each of which
    /// is compared with the server on its own.
    void stopSubscriber(const std::string &why);
    /// Why the run stops; empty while it goes on.
    const std::string &stopReason() const { return m_stopReason; }
    bool stopped() const { return !m_stopReason.empty(); }
    /// True when the run stops because the operator asked for it (and nothing failed first).
    bool stoppedByRequest() const { return stopped() && m_stopKind == StopKind::Requested; }

    /// How many operations of the run failed so far: a subscriber whose checks raised the
    /// count was not checked, and is not changed (ChecksMade).
    int failureCount() const { return m_failures; }
    /// Subscribers in a row whose first query the server did not answer before the run takes
    /// the server for gone and stops.
    static constexpr int kUnansweredLimit = 3;
    /// Tells whether the server answered a subscriber's first query.
    void serverAnswered(bool answered);

    /// Runs one operation; when it fails, its "(error):" line goes to the run log and the
    /// caller goes on. True when the operation finished. A failure by which the server refuses
    /// writes for a reason of its own also stops the run (see writesRefused).
    template <class Step> bool attempt(Step &&step) {
        return trap(kResetWhere, m_report, [&] {
            try {
                step();
            } catch (const Error &e) {
                if (e.writeRefused())
                    refuseWrites(e.description());
                throw;
            }
        });
    }

    /// True once the server refused a write for a reason of its own (its disk or file full,
    /// read-only, its storage failing, a lock not granted in time): every further change would
    /// be refused as well, so the subscriber under way takes no further step and the run stops.
    bool writesRefused() const { return !m_writesRefused.empty(); }
    /// Notes such a refusal (the server's own words) and stops the run.
    void refuseWrites(const std::string &why);
    /// Subscribers whose recordings or messages were removed and that were not created again.
    int cleanedNotReCreated() const { return m_cleanedNotReCreated; }
    void noteCleanedNotReCreated() { ++m_cleanedNotReCreated; }
    /// Reads a value; a failed read is reported and leaves `fallback`.
    template <class T, class Read> T read(Read &&readValue, T fallback = T{}) {
        T value = fallback;
        attempt([&] { value = readValue(); });
        return value;
    }

    /// Reads a value whose failure the run's rules let a subscriber's reset go on after: it is
    /// reported as any failure, but not counted as a check that could not be made.
    template <class T, class Read> T readNotCounted(Read &&readValue, T fallback = T{}) {
        T value = fallback;
        trap(
            kResetWhere, [this](const std::string &text) { line(text); },
            [&] { value = readValue(); });
        return value;
    }

    /// Runs `step` (the changes of one changing step) as one transaction on the run's
    /// connection: one commit for all its rows. A commit that fails is reported by the run's
    /// rule; a step that throws leaves none of its rows behind. Within the run's open
    /// transaction (beginChanges) the step's rows join it. Without the run's connection each
    /// change stays its own.
    template <class Step> void inOneTransaction(Step &&step) {
        if (m_changes) {
            step();
            return;
        }
        std::optional<db::Transaction> transaction;
        if (!dryRun() && m_connection.IsOpen())
            attempt([&] { transaction.emplace(m_connection); });
        step();
        if (transaction && !attempt([&] { transaction->commit(); }))
            attempt([&] { transaction->rollback(); });
    }

    /// Opens the run's transaction for the changes that follow, unless one is open. A
    /// subscriber's changes take two: its removal (its recordings' paths and the removal
    /// itself), committed before the directory is waited for; and its creation with its old
    /// ids, extensions, fix-ups and the directory's request, so that a subscriber is never
    /// found created and not given back its ids. The answered tickets of ticketsToDelete are
    /// deleted in it first. Nothing in a dry run or without the run's connection, where each
    /// change stays its own.
    void beginChanges();
    /// Commits the run's transaction, if one is open. A commit that fails is reported by the
    /// run's rule and its changes are taken back. False when it failed.
    bool commitChanges();
    /// Takes back the run's open transaction, if any.
    void dropChanges() { m_changes.reset(); }
    /// True while the run's transaction is open.
    bool changesOpen() const { return m_changes.has_value(); }
    /// Where the directory's answered sync tickets go to be deleted with the run's next
    /// transaction rather than in a commit of their own; null without the run's connection,
    /// where each is deleted at once.
    std::vector<std::string> *ticketsToDeleteLater() {
        return m_connection.IsOpen() ? &m_ticketsToDelete : nullptr;
    }
    /// Deletes the tickets of ticketsToDelete now, in one transaction.
    void deleteAnsweredTickets();

    /// The reporter of the run's rule, for code that reports through a function.
    const std::function<void(const std::string &)> &reporter() const { return m_report; }

private:
    friend class ScopedQuery;
    // A log that took no more lines stops the run.
    void stopIfLogFailed();
    RunSettings m_settings;
    std::string m_streamFilesRoot;
    db::Connection m_connection;
    db::Command m_command;
    // The one query set: every query of a subscriber's reset is opened into it by a ScopedQuery,
    // one at a time.
    db::Recordset m_querySet;
    // True while a ScopedQuery holds the query set.
    bool m_queryInScope = false;
    SubscriberWork m_subscriber;
    std::set<std::string> m_unfinished;
    bool m_listSyncOwed = false;
    int m_cleanedNotReCreated = 0;
    std::vector<std::string> m_ticketsToDelete;
    // Its job syncs the log; the thread is joined when the run ends.
    SyncThread m_syncThread;
    // The run's open transaction; taken back when the run ends with it open.
    std::optional<db::Transaction> m_changes;
    bool m_logSyncing = false;
    std::function<void(const std::string &)> m_report;
    std::string m_stopReason;
    StopKind m_stopKind = StopKind::Fault;
    std::string m_writesRefused;
    int m_failures = 0;
    int m_unansweredInARow = 0;
};

} // namespace zeph

namespace zeph {

inline ChecksMade::ChecksMade(const ResetRun &run)
    : m_run(run)
    , m_failuresBefore(run.failureCount()) {}

inline bool ChecksMade::all() const {
    return m_run.failureCount() == m_failuresBefore;
}

} // namespace zeph
