#include "ResetJob.h"

#include "SubscriberReset.h"
#include "app/ScopeGuards.h"
#include "app/registry/RegistryAPI.h"

#include <algorithm>

namespace zeph {

std::string RunOutcome::text() const {
    return std::to_string(reset) + " reset, " + std::to_string(resetWithErrors) +
           " reset with errors, " + std::to_string(skipped) + " skipped, " +
           std::to_string(notAttempted) + " not attempted";
}

std::string templateText(const ResetRequest &request) {
    const std::string &alias = request.templateAlias;
    const std::string &name = request.templateName;
    if (name.empty() || name == alias)
        return alias;
    // The list tells templates that share a name apart by the alias it shows after it.
    if (name.ends_with(" (" + alias + ")"))
        return name;
    return name + " (" + alias + ")";
}

namespace {

constexpr const char *kStoppedByRequest = "stopped by request";

// Shows the run log's lines to the failed records first and then to the log's own observer
// (the terminal program prints them) for as long as the run lasts, also when it is left by an
// exception (the program ending); the log's observer is then put back as it was.
class FailedRecordsObserver {
public:
    FailedRecordsObserver(Logging &log, FailedRecords &records)
        : m_log(log)
        , m_previous(log.lineObserver()) {
        m_log.setLineObserver([&records, next = m_previous](const std::string &line) {
            records.observe(line);
            if (next)
                next(line);
        });
    }
    ~FailedRecordsObserver() { m_log.setLineObserver(m_previous); }
    FailedRecordsObserver(const FailedRecordsObserver &) = delete;
    FailedRecordsObserver &operator=(const FailedRecordsObserver &) = delete;

private:
    Logging &m_log;
    std::function<void(const std::string &)> m_previous;
};

// A reason as the end of a sentence: the system's own texts end with their full stop already.
std::string sentence(const std::string &reason) {
    return reason.ends_with('.') ? reason : reason + ".";
}

} // namespace

ResetJob::ResetJob(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb, Logging &log)
    : m_host(host)
    , m_registry(registry)
    , m_tarvoDb(tarvoDb)
    , m_log(log) {
    // The run's times are the host's, as its log's are: a rehearsal on virtual time counts the
    // directory waits it stands for.
    progress.useClock(*host.clock);
}

void ResetJob::changed() {
    if (stateChanged)
        stateChanged();
}

void ResetJob::setPhase(Phase phase) {
    m_phase = phase;
    changed();
}

void ResetJob::run(const ResetRequest &request) {
    if (m_started || m_running)
        return;
    m_request = request;
    m_refusal.clear();
    const std::string &connection = m_tarvoDb.DbConnectionString();
    if (!m_request.dryRun) {
        // Before the question: a run that cannot be made is refused before the operator is
        // asked to agree to it, and leaves no trace (no log, no journal, no change).
        if (!readyToChange()) {
            m_host.ui->messageBox(m_refusal, MsgButtons::OK, MsgIcon::Critical);
            return;
        }
        if (m_host.ui->askDestructive(kConfirmation, confirmationDetails()) != MsgAnswer::Yes) {
            m_runLock.reset();
            return;
        }
    } else {
        // A dry run deletes nothing, so there is nothing to confirm.
        // Nothing is journaled: a server that cannot be named is named nowhere.
        if (const Result<std::string> server = nameServer(m_host, connection))
            m_server = *server;
    }
    m_started = true;
    m_stopRequested = false;
    // Marked as running for as long as the run lasts, also when it is left by an exception
    // (the program ending).
    const SaveAndRestore runningFlag(m_running, true);
    FailedRecordsObserver observing(m_log, m_failedRecords);

    ResetRun run(m_host, m_tarvoDb, m_log, openRun());
    startRun(run);
    std::size_t next = 0;
    for (; next < m_request.subscribers.size() && !run.stopped(); ++next) {
        const SelectedSubscriber &subscriber = m_request.subscribers[next];
        if (resetOne(run, subscriber) == RowResult::NotBegun)
            break;
        ++m_done;
        progress.update(m_done, "");
        changed();
    }
    if (run.stopped())
        noteNotAttempted(run, next);
    endRun(run);
}

void ResetJob::requestStop() {
    if (!m_running || m_stopRequested.exchange(true))
        return;
    progress.stopping = true;
    changed();
}

bool ResetJob::readyToChange() {
    const std::string &connection = m_tarvoDb.DbConnectionString();
    m_runLock.reset();
    const Status ready = lockServer(connection);
    if (ready)
        return true;
    m_runLock.reset();
    m_refusal = std::string(kNothingWasReset) + sentence(ready.error());
    return false;
}

Status ResetJob::lockServer(const std::string &connection) {
    Result<std::unique_ptr<IRunLock>> lock = takeServerRunLock(m_host, connection);
    if (!lock)
        return lock.failure();
    m_runLock = std::move(*lock);
    // The journal names its server: without the name it could be applied to another one.
    const Result<std::string> server = nameServer(m_host, connection);
    if (!server)
        return server.failure();
    m_server = *server;
    std::string lacking;
    for (const MissingRight &missing :
         missingRights(m_host, connection, streamFilesRoot(m_registry)))
        lacking += (lacking.empty() ? "" : "; ") + missing.why;
    if (!lacking.empty())
        return fail(lacking);
    return zeph::done();
}

std::string ResetJob::confirmationDetails() const {
    const auto count = m_request.subscribers.size();
    return std::to_string(count) + (count == 1 ? " subscriber" : " subscribers") +
           " will be reset to the defaults of the template " + templateText(m_request) + ".";
}

RunSettings ResetJob::openRun() {
    m_host.ui->setBusy(true);
    m_total = static_cast<int>(m_request.subscribers.size());
    m_done = 0;
    m_subscribersResetCount = 0;
    m_outcome = RunOutcome{};
    setPhase(Phase::Running);

    m_log.WriteLogHeader(m_log.GenerateNewLogFileName(), false);
    openFailedRecords();
    RunSettings settings;
    settings.request = m_request;
    // The journal lies beside the log it belongs to; a dry run has none.
    if (!m_request.dryRun) {
        m_journal = std::make_unique<RecoveryJournal>(*m_host.files, m_log.LogFilePath(), m_server);
        settings.journal = m_journal.get();
    }
    return settings;
}

void ResetJob::startRun(ResetRun &run) {
    // A run that changes the server keeps a record of every step, or takes none.
    if (!m_request.dryRun && !m_log.IsLogOpen())
        run.stop("the run has no log");
    else if (!m_log.LogWriteProblem().empty())
        run.stop(runLogNotWritten(m_log.LogWriteProblem()));
    if (m_request.dryRun)
        run.line(kDryRunLine);
    JournalScan scan = scanJournals(*m_host.files, {m_log.logFolder(), m_log.fallbackLogFolder()});
    scan.keepServer(m_server);
    NoteUnfinishedResets(run, scan);
    run.prepare(m_registry);
    if (!run.stopped())
        run.proveRights();

    // The bar and the count go over the chosen subscribers: those are the run's work.
    progress.start(m_total);
    changed();
}

ResetJob::RowResult ResetJob::resetOne(ResetRun &run, const SelectedSubscriber &subscriber) {
    // Asked for between two subscribers only: the one under way has always been finished.
    if (m_stopRequested) {
        run.stop(kStoppedByRequest, ResetRun::StopKind::Requested);
        return RowResult::NotBegun;
    }
    progress.update(m_done, subscriber.alias);
    changed();
    m_failedRecords.beginSubscriber(subscriber.alias, subscriber.extension);
    if (ResetSubscriber(run, subscriber.alias, subscriber.objectId)) {
        ++m_subscribersResetCount;
        ++(m_failedRecords.currentRecorded() ? m_outcome.resetWithErrors : m_outcome.reset);
        changed();
    } else {
        ++m_outcome.skipped;
        m_failedRecords.recordCurrent("skipped");
    }
    m_failedRecords.endSubscriber();
    // With the subscriber's log lines, which are on disk by now.
    m_failedRecords.sync();
    return RowResult::Done;
}

void ResetJob::noteNotAttempted(ResetRun &run, std::size_t next) {
    const std::string reason = run.stoppedByRequest()
                                   ? "not attempted: the run was stopped by request"
                                   : "not attempted: the run stopped (" + run.stopReason() + ")";
    for (; next < m_request.subscribers.size(); ++next) {
        const SelectedSubscriber &subscriber = m_request.subscribers[next];
        m_failedRecords.record(subscriber.alias, subscriber.extension, reason);
        ++m_outcome.notAttempted;
    }
}

void ResetJob::endRun(ResetRun &run) {
    const bool dryRun = m_request.dryRun;
    m_stoppedByRequest = run.stoppedByRequest();
    // Stopped by a fault before the first subscriber's first change: a refusal, told as one.
    m_refusedBeforeAnyChange =
        !dryRun && run.stopped() && !m_stoppedByRequest && !run.listSyncOwed();
    if (m_stoppedByRequest) {
        // Not an error: the operator's choice, said in the log and in the closing message.
        run.line("** The run was stopped by request after the subscriber under way; " +
                 std::to_string(m_outcome.notAttempted) + " subscriber(s) not attempted **");
        m_stopReason = run.stopReason();
    } else if (run.stopped()) {
        // Said in the log, where it can still be written, and in the closing message.
        run.line("(error) The run stopped before resetting every subscriber: " +
                 sentence(run.stopReason()));
        m_stopReason = run.stopReason();
    }
    m_cleanedNotReCreated = run.cleanedNotReCreated();
    run.writeEnd(skipListSyncAtEnd ? skipListSyncAtEnd() : m_request.skipListSync);
    m_log.CloseLogFile();
    // The run is over: its time stands still while the closing message waits for the operator.
    progress.finish();
    m_host.ui->setBusy(false);
    setPhase(Phase::Closing);

    const int subscribersReset = m_subscribersResetCount;
    ResetSummary summary;
    summary.subscribersReset = subscribersReset;
    summary.outcome = m_outcome;
    summary.stoppedByRequest = m_stoppedByRequest;
    summary.refusedBeforeAnyChange = m_refusedBeforeAnyChange;
    summary.cleanedNotReCreated = m_cleanedNotReCreated;
    summary.errorCount = m_log.LogErrorCount();
    summary.logFilePath = m_log.LogFilePath();
    summary.logFallbackReason = m_log.LogFallbackReason();
    summary.closingMessage = closingMessage(subscribersReset);
    summary.dryRun = dryRun;
    summary.stopReason = m_stopReason;
    if (m_journal && m_host.files->fileExists(m_journal->path()))
        summary.journalPath = m_journal->path();
    m_journal.reset();
    writeFailedRecords(summary);
    // The run's changes are over: another run may start while the closing message is open.
    m_runLock.reset();
    m_summary = summary;
    MsgAnswer answer = m_host.ui->messageBox(summary.closingMessage, MsgButtons::OKCancel);
    m_summary->viewLog = answer == MsgAnswer::OK;
    if (m_summary->viewLog)
        openLog();
    setPhase(Phase::Finished);
}

// Beside the log, so that the two are found and purged together; made as the run begins and
// written as it goes. A run without a log path has nowhere to put it; a file that cannot be
// written is told in the summary, not in the log, whose lines and counts stay as they are.
void ResetJob::openFailedRecords() {
    m_failedRecordsPath.clear();
    m_failedRecordsProblem.clear();
    if (m_log.LogFilePath().empty()) {
        m_failedRecordsProblem = "the run has no log to put it beside";
        return;
    }
    const std::string path = failedRecordsPath(m_log.LogFilePath());
    try {
        m_failedRecords.open(*m_host.files, path);
        m_failedRecordsPath = path;
    } catch (const Error &e) {
        m_failedRecordsProblem = e.description();
    } catch (const std::exception &e) {
        m_failedRecordsProblem = e.what();
    }
}

void ResetJob::writeFailedRecords(ResetSummary &summary) {
    if (!m_failedRecordsPath.empty()) {
        if (const Status closed = m_failedRecords.close(); closed)
            summary.failedRecordsPath = m_failedRecordsPath;
        else
            m_failedRecordsProblem = closed.error();
    }
    summary.failedRecordsProblem = m_failedRecordsProblem;
    // The page shows one run: its records go to the summary rather than being held twice.
    summary.failedRecords = m_failedRecords.takeRecords();
}

std::string ResetJob::closingMessage(int subscribersReset) const {
    const std::string counts = std::to_string(subscribersReset) + " subscribers reset.  " +
                               std::to_string(m_log.LogErrorCount()) + " error(s) encountered.";
    if (m_refusedBeforeAnyChange) {
        std::string text = std::string(kNothingWasReset) + sentence(m_stopReason) + "\r\n";
        if (!m_log.LogFallbackReason().empty())
            text += m_log.LogFallbackReason() + "\r\n";
        return text + "Press OK to view the output log now.";
    }
    std::string text;
    if (m_request.dryRun)
        text = "Dry run complete, nothing was changed: " + std::to_string(subscribersReset) +
               " subscribers would be reset.  " + std::to_string(m_log.LogErrorCount()) +
               " error(s) encountered.\r\n";
    else if (m_stoppedByRequest)
        text = "Subscriber mailbox reset process stopped by request, reset " + counts + "\r\n";
    else if (!m_stopReason.empty())
        text = "Subscriber mailbox reset process stopped early, reset " + counts + "\r\n";
    else
        text = "Subscriber mailbox reset process complete, reset " + counts + "\r\n";
    if (!m_request.dryRun && subscribersReset > 0)
        text += "NOTE: It may take a few minutes for the Recipient Update Service to complete "
                "creating new mailstores for the reset boxes.\r\n";
    // Each ticked subscriber once, so that the counts add up to the selection.
    if (!m_request.dryRun && (m_outcome.ticked() != m_outcome.reset || !m_stopReason.empty()))
        text +=
            "Of " + std::to_string(m_outcome.ticked()) + " ticked: " + m_outcome.text() + ".\r\n";
    // Beside the count, which holds every subscriber that got past its checks: those of them
    // that lost their recordings or messages and are not back.
    if (m_cleanedNotReCreated > 0)
        text += std::to_string(m_cleanedNotReCreated) +
                " subscriber(s) cleaned (recordings and messages removed) but not created again; "
                "\"zephrane-cli --recover\" finishes them." +
                "\r\n";
    if (!m_stopReason.empty() && !m_stoppedByRequest)
        text +=
            "The run stopped before resetting every subscriber: " + sentence(m_stopReason) + "\r\n";
    // The operator must be able to find the log when it is not where it is always kept.
    if (!m_log.LogFallbackReason().empty())
        text += m_log.LogFallbackReason() + "\r\n";
    return text + "Press OK to view the output log now.";
}

void ResetJob::openLog() {
    const std::string &path = m_log.LogFilePath();
    if (path.empty() || !m_host.files->fileExists(path))
        return; // the closing message has said that this run has no log
    if (!m_host.shell->startProgram("notepad " + m_host.files->nativePath(path),
                                    WindowStyle::Normal))
        m_host.ui->messageBox("The run log could not be opened in a text viewer.  It is " +
                              m_host.files->nativePath(path));
}

} // namespace zeph
