#pragma once
// One reset run from its request to its summary: the refusal of a run that cannot be made, the
// question, the subscribers in turn with the failed records and the journal, the end with the
// lists' synchronisation, the closing message. The wizard's reset page and the terminal program
// run it alike; it reads nothing but its request.

#include "FailedRecords.h"
#include "RecoveryJournal.h"
#include "ResetRequest.h"
#include "ResetRun.h"
#include "RunLock.h"
#include "RunProgress.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zeph {

class RegistryAPI;

/// What became of the ticked subscribers of a run; each is counted once.
struct RunOutcome {
    /// Taken through every step without an error line.
    int reset = 0;
    /// Taken through every step, with at least one error line on the way.
    int resetWithErrors = 0;
    /// Left untouched by its checks (not found, no directory account, a conflict, ...).
    int skipped = 0;
    /// Not reached: the run stopped before it.
    int notAttempted = 0;

    int ticked() const { return reset + resetWithErrors + skipped + notAttempted; }
    /// "2 reset, 1 reset with errors, 1 skipped, 3 not attempted".
    std::string text() const;
};

/// What a finished run leaves for its caller (the terminal program prints it).
struct ResetSummary {
    /// Taken through the reset (with or without errors): outcome.reset + outcome.resetWithErrors.
    int subscribersReset = 0;
    RunOutcome outcome;
    /// Of those, the subscribers whose recordings or messages were removed and that were not
    /// created again (their journal entries keep them for the recovery).
    int cleanedNotReCreated = 0;
    int errorCount = 0;
    std::string logFilePath;
    /// Empty while the log is in the program folder's logs folder; otherwise why and where.
    std::string logFallbackReason;
    /// The closing message as shown.
    std::string closingMessage;
    /// The operator chose to view the log.
    bool viewLog = false;
    /// The failed-records file beside the log; empty when it could not be written.
    std::string failedRecordsPath;
    /// Why the failed-records file could not be written; empty when it was.
    std::string failedRecordsProblem;
    /// Every ticked subscriber not cleanly reset (skipped, reset with errors, not attempted),
    /// as the file lists them.
    std::vector<FailedRecords::Record> failedRecords;
    /// The run's recovery journal; empty when no subscriber was removed (or a dry run).
    std::string journalPath;
    bool dryRun = false;
    /// Why the run stopped before its last subscriber (its log or journal could not be
    /// written, the server stopped answering, or a right it needs is missing); empty when it
    /// went through its list.
    std::string stopReason;
    /// The run stopped because the operator asked for it (stopReason then says so too).
    bool stoppedByRequest = false;
    /// The run stopped before its first change (a right it needs went missing after the
    /// question): nothing was reset, and the closing message says so first.
    bool refusedBeforeAnyChange = false;
};

class ResetJob {
public:
    /// The question asked before anything is done.
    static constexpr const char *kConfirmation =
        "Restting subscirber mailboxes will result in all messages for those subscribers being "
        "lost with no way to recover them.  Are you sure you want to do this?";
    /// The first words of a refusal before any change.
    static constexpr const char *kNothingWasReset = "Nothing was reset: ";
    /// The first line after the log's header in a dry run.
    static constexpr const char *kDryRunLine =
        "** Dry run: nothing is changed; each change is logged as what the run would do **";

    /// Where the job stands: before its run, under way, ended with its closing message still
    /// to be answered, finished.
    enum class Phase { Waiting, Running, Closing, Finished };

    ResetJob(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb, Logging &log);
    ResetJob(const ResetJob &) = delete;
    ResetJob &operator=(const ResetJob &) = delete;

    /// Runs the request after the operator's confirmation (a dry run asks nothing). One job runs
    /// at most once: after the first confirmed run further calls do nothing. A run that cannot
    /// be made is refused before the question (see refusal) and may be asked for again.
    void run(const ResetRequest &request);

    Phase phase() const { return m_phase; }
    /// True while a run is under way: ending the program between a subscriber's removal and its
    /// re-creation loses the subscriber.
    bool running() const { return m_running; }
    /// Asks the run under way to stop after the subscriber under way: that subscriber goes
    /// through all its steps and its journal entry is closed, no further subscriber is begun,
    /// and the run ends as any run does (the lists' synchronisation, the log's end, the
    /// summary), counting the rest as not attempted. It only notes the request and returns at
    /// once, so it may be called from an event handler while the run is under way (or from
    /// another thread). Nothing happens when no run is under way.
    void requestStop();
    bool stopRequested() const { return m_stopRequested.load(); }
    /// True once a confirmed run has ended.
    bool finished() const { return m_summary.has_value(); }
    /// The last run's outcome; nothing before a run has ended.
    const std::optional<ResetSummary> &summary() const { return m_summary; }
    /// Why the last run did not start, told before the question: "Nothing was reset: " and the
    /// reason; empty when it started.
    const std::string &refusal() const { return m_refusal; }

    /// The subscribers of the run under way (or the last), those finished so far and those
    /// reset so far.
    int total() const { return m_total; }
    int done() const { return m_done; }
    int subscribersReset() const { return m_subscribersResetCount; }
    /// The subscriber under way, its number and the times.
    RunProgress progress;

    /// Told after the run's state changed (phase, progress, counts). The run gives the event
    /// loop a pass after every log line and between the slices of its waits.
    std::function<void()> stateChanged;
    /// Asked at the run's end whether the lists' synchronisation is left out, for a check box
    /// that may change while the run is under way; without it the request says.
    std::function<bool()> skipListSyncAtEnd;

private:
    void changed();
    void setPhase(Phase phase);
    bool readyToChange();
    // Takes the server's run lock, names the server and checks the run's rights; why not.
    Status lockServer(const std::string &connection);
    std::string confirmationDetails() const;
    /// The run's records opened (its log, its failed records, its journal) and what the run is
    /// started with.
    RunSettings openRun();
    void startRun(ResetRun &run);
    enum class RowResult { Done, NotBegun };
    RowResult resetOne(ResetRun &run, const SelectedSubscriber &subscriber);
    void noteNotAttempted(ResetRun &run, std::size_t next);
    void endRun(ResetRun &run);
    void openFailedRecords();
    void writeFailedRecords(ResetSummary &summary);
    std::string closingMessage(int subscribersReset) const;
    void openLog();

    Host &m_host;
    RegistryAPI &m_registry;
    db::modTarvoDB &m_tarvoDb;
    Logging &m_log;
    ResetRequest m_request;
    Phase m_phase = Phase::Waiting;
    bool m_running = false;
    bool m_started = false;
    int m_total = 0;
    int m_done = 0;
    int m_subscribersResetCount = 0;
    RunOutcome m_outcome;
    std::atomic<bool> m_stopRequested{false};
    int m_cleanedNotReCreated = 0;
    std::string m_stopReason;
    bool m_stoppedByRequest = false;
    bool m_refusedBeforeAnyChange = false;
    std::optional<ResetSummary> m_summary;
    FailedRecords m_failedRecords;
    std::string m_failedRecordsPath;
    std::string m_failedRecordsProblem;
    std::unique_ptr<RecoveryJournal> m_journal;
    std::unique_ptr<IRunLock> m_runLock;
    std::string m_refusal;
    // The server the run changes, as its journal names it.
    std::string m_server;
};

} // namespace zeph
