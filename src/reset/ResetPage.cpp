#include "ResetPage.h"
#include "platform/AsciiText.h"

#include "RunLock.h"
#include "SubscriberReset.h"
#include "app/registry/RegistryAPI.h"
#include "select/SubscriberGrid.h"

#include <algorithm>
#include <cctype>

namespace zeph {

const char *const ResetPage::kHeading = "Reset Subscriber's Mailboxes";
const char *const ResetPage::kInstructions =
    "Press the \"Reset Subscribers\" button to start the subscriber reset process.  Since this is "
    "interacting with the external directory and message store it can take some time.  When the "
    "process is complete you'll be given an opportunity to review the output log and any errors "
    "that may have been encountered.";
const char *const ResetPage::kSkipCaption =
    "Skip call to resync all public distribution lists at end of reset process";
const char *const ResetPage::kResetCaption = "Reset Subscribers";
const char *const ResetPage::kProgressCaption = "Progress";
const char *const ResetPage::kCountCaption = "Subscribers Reset:";
const char *const ResetPage::kPreviousCaption = "<< Previous";
const char *const ResetPage::kNextCaption = "Next >>";
const char *const ResetPage::kHelpCaption = "Help";
const char *const ResetPage::kExitCaption = "Exit";
const char *const ResetPage::kConfirmation =
    "Restting subscirber mailboxes will result in all messages for those subscribers being lost "
    "with no way to recover them.  Are you sure you want to do this?";
const char *const ResetPage::kNothingWasReset = "Nothing was reset: ";
const char *const ResetPage::kDryRunLine =
    "** Dry run: nothing is changed; each change is logged as what the run would do **";

std::string RunOutcome::text() const {
    return std::to_string(reset) + " reset, " + std::to_string(resetWithErrors) +
           " reset with errors, " + std::to_string(skipped) + " skipped, " +
           std::to_string(notAttempted) + " not attempted";
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

// Marks the page as running for as long as the run lasts, also when it is left by an
// exception (the program ending).
class RunningFlag {
public:
    explicit RunningFlag(bool &flag)
        : m_flag(flag) {
        m_flag = true;
    }
    ~RunningFlag() { m_flag = false; }
    RunningFlag(const RunningFlag &) = delete;
    RunningFlag &operator=(const RunningFlag &) = delete;

private:
    bool &m_flag;
};

} // namespace

ResetPage::ResetPage(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb, Logging &log,
                     ResetInputs inputs)
    : m_host(host)
    , m_registry(registry)
    , m_tarvoDb(tarvoDb)
    , m_log(log)
    , m_inputs(std::move(inputs)) {
    // The run's times are the host's, as its log's are: a rehearsal on virtual time counts the
    // directory waits it stands for.
    progress.useClock(*host.clock);
}

void ResetPage::changed() {
    if (stateChanged)
        stateChanged();
}

void ResetPage::Form_Load() {
    if (m_loaded)
        return;
    m_loaded = true;
    // Hidden, the box stays unchecked, so every run then ends with the lists' synchronisation.
    chkSkipDLResynch.Visible = containsIgnoreCase(m_host.commandLine, "SkipDLSync");
    changed();
}

void ResetPage::cmdResetSubscribers_Click() {
    if (m_started || m_running)
        return;
    m_refusal.clear();
    const std::string &connection = m_tarvoDb.DbConnectionString();
    if (!dryRun) {
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
        std::string unnamed;
        nameServer(m_host, connection, m_server, unnamed);
    }
    m_started = true;
    m_stopRequested = false;
    RunningFlag runningFlag(m_running);
    FailedRecordsObserver observing(m_log, m_failedRecords);

    ResetRun run(m_host, m_tarvoDb, m_log, m_inputs);
    int rows = startRun(run);
    int row = 1;
    for (; row < rows && !run.stopped(); ++row) {
        const RowResult result = resetRow(run, row);
        if (result == RowResult::NotBegun)
            break;
        if (result == RowResult::Unticked)
            continue;
        ++ProgressBar.Value;
        progress.update(ProgressBar.Value, "");
        changed();
    }
    if (run.stopped())
        noteNotAttempted(run, row, rows);
    endRun(run, m_subscribersResetCount);
}

std::string ResetPage::templateText() const {
    const std::string alias = m_inputs.templateAlias ? m_inputs.templateAlias() : std::string();
    const std::string name = m_inputs.templateName ? m_inputs.templateName() : std::string();
    if (name.empty() || name == alias)
        return alias;
    // The list tells templates that share a name apart by the alias it shows after it.
    if (name.ends_with(" (" + alias + ")"))
        return name;
    return name + " (" + alias + ")";
}

ResetReview ResetPage::review(int listed) const {
    ResetReview review;
    try {
        const SubscriberGrid &grid = m_inputs.grid();
        review.criterion = m_inputs.selectionSource ? m_inputs.selectionSource() : std::string();
        review.templateText = templateText();
        const int alias = grid.ColIndex("Alias");
        const int name = grid.ColIndex("DisplayName");
        const int extension = grid.ColIndex("Extension");
        for (int row = 1; row < grid.Rows(); ++row) {
            if (!grid.isChecked(row))
                continue;
            ++review.count;
            if (static_cast<int>(review.rows.size()) < listed)
                review.rows.push_back(grid.TextMatrix(row, alias) + " - " +
                                      grid.TextMatrix(row, name) + ", " +
                                      grid.TextMatrix(row, extension));
        }
        review.more = review.count - static_cast<int>(review.rows.size());
    } catch (const std::exception &) {
        return {};
    }
    return review;
}

void ResetPage::requestStop() {
    if (!m_running || m_stopRequested.exchange(true))
        return;
    progress.stopping = true;
    changed();
}

bool ResetPage::readyToChange() {
    const std::string &connection = m_tarvoDb.DbConnectionString();
    std::string problem;
    m_runLock = takeServerRunLock(m_host, connection, problem);
    // The journal names its server: without the name it could be applied to another one.
    if (m_runLock && !nameServer(m_host, connection, m_server, problem))
        m_runLock.reset();
    if (m_runLock) {
        for (const MissingRight &missing :
             missingRights(m_host, connection, streamFilesRoot(m_registry)))
            problem += (problem.empty() ? "" : "; ") + missing.why;
        if (!problem.empty())
            m_runLock.reset();
    }
    if (m_runLock)
        return true;
    m_refusal = std::string(kNothingWasReset) + sentence(problem);
    return false;
}

std::string ResetPage::confirmationDetails() const {
    // Read as the run will read them; a page that cannot be read leaves the question alone.
    try {
        const int ticked = m_inputs.grid().checkedCount();
        return std::to_string(ticked) + (ticked == 1 ? " subscriber" : " subscribers") +
               " will be reset to the defaults of the template " + templateText() + ".";
    } catch (const std::exception &) {
        return {};
    }
}

int ResetPage::startRun(ResetRun &run) {
    m_host.ui->setBusy(true);
    busy = true;
    cmdPrevious.Enabled = false;
    cmdResetSubscribers.Enabled = false;
    cmdExit.Enabled = false;
    changed();

    m_log.WriteLogHeader(m_log.GenerateNewLogFileName(), false);
    // A run that changes the server keeps a record of every step, or takes none.
    if (!dryRun && !m_log.IsLogOpen())
        run.stop("the run has no log");
    else if (!m_log.LogWriteProblem().empty())
        run.stop("the run log could not be written (" + m_log.LogWriteProblem() + ")");
    run.dryRun = dryRun;
    if (dryRun) {
        run.line(kDryRunLine);
    } else {
        m_journal = std::make_unique<RecoveryJournal>(*m_host.files, m_log.LogFilePath(), m_server);
        run.journal = m_journal.get();
    }
    JournalScan scan = scanJournals(*m_host.files, {m_log.logFolder(), m_log.fallbackLogFolder()});
    scan.keepServer(m_server);
    NoteUnfinishedResets(run, scan);
    run.prepare(m_registry);
    if (!run.stopped())
        run.proveRights();

    // The grid's row count is read once, here; the rows themselves as the run reaches them.
    int rows = run.read<int>([&] { return m_inputs.grid().Rows(); });
    // The bar and the count go over the ticked rows only: those are the run's work.
    const int ticked = run.read<int>([&] { return m_inputs.grid().checkedCount(); });
    ProgressBar.Max = std::max(0, ticked);
    ProgressBar.Value = 0;
    progress.start(ProgressBar.Max);
    m_subscribersResetCount = 0;
    m_outcome = RunOutcome{};
    changed();
    return rows;
}

ResetPage::RowResult ResetPage::resetRow(ResetRun &run, int row) {
    std::string alias;
    std::string objectId;
    std::string extension;
    bool checked = false;
    run.attempt([&] {
        const SubscriberGrid &grid = m_inputs.grid();
        checked = grid.isChecked(row);
        if (checked) {
            alias = grid.TextMatrix(row, grid.ColIndex("Alias"));
            objectId = grid.TextMatrix(row, grid.ColIndex("ObjectID"));
            extension = grid.TextMatrix(row, grid.ColIndex("Extension"));
        }
    });
    if (!checked)
        return RowResult::Unticked;
    // Asked for between two subscribers only: the one under way has always been finished.
    if (m_stopRequested) {
        run.stop(kStoppedByRequest, ResetRun::StopKind::Requested);
        return RowResult::NotBegun;
    }
    progress.update(ProgressBar.Value, alias);
    changed();
    m_failedRecords.beginSubscriber(alias, extension);
    if (ResetSubscriber(run, alias, objectId)) {
        ++m_subscribersResetCount;
        ++(m_failedRecords.currentRecorded() ? m_outcome.resetWithErrors : m_outcome.reset);
        lblSubscribersAddedCount = std::to_string(m_subscribersResetCount);
        changed();
    } else {
        ++m_outcome.skipped;
        m_failedRecords.recordCurrent("skipped");
    }
    m_failedRecords.endSubscriber();
    return RowResult::Done;
}

void ResetPage::noteNotAttempted(ResetRun &run, int row, int rows) {
    const std::string reason = run.stoppedByRequest()
                                   ? "not attempted: the run was stopped by request"
                                   : "not attempted: the run stopped (" + run.stopReason() + ")";
    for (; row < rows; ++row) {
        // Read without the run's rule: the run is over, and a row that cannot be read is
        // still counted below from the ticked total.
        try {
            const SubscriberGrid &grid = m_inputs.grid();
            if (!grid.isChecked(row))
                continue;
            m_failedRecords.record(grid.TextMatrix(row, grid.ColIndex("Alias")),
                                   grid.TextMatrix(row, grid.ColIndex("Extension")), reason);
            ++m_outcome.notAttempted;
        } catch (const std::exception &) {
            continue;
        }
    }
}

void ResetPage::endRun(ResetRun &run, int subscribersReset) {
    m_stoppedByRequest = run.stoppedByRequest();
    // Stopped by a fault before the first subscriber's first change: a refusal, told as one.
    m_refusedBeforeAnyChange = !dryRun && run.stopped() && !m_stoppedByRequest && !run.listSyncOwed;
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
    m_cleanedNotReCreated = run.cleanedNotReCreated;
    run.writeEnd(chkSkipDLResynch.Value);
    m_log.CloseLogFile();
    // The run is over: its time stands still while the closing message waits for the operator.
    progress.finish();
    m_host.ui->setBusy(false);
    busy = false;
    changed();

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

    // One page shows one run: only Exit (and Help) stay usable.
    cmdExit.Enabled = true;
    changed();
}

// Beside the log, so that the two are found and purged together. A run without a log path has
// nowhere to put it; a file that cannot be written is told in the summary, not in the log,
// which is closed by now and whose lines and counts stay as they are.
void ResetPage::writeFailedRecords(ResetSummary &summary) {
    if (summary.logFilePath.empty()) {
        summary.failedRecordsProblem = "the run has no log to put it beside";
    } else {
        const std::string path = failedRecordsPath(summary.logFilePath);
        try {
            m_failedRecords.write(*m_host.files, path);
            summary.failedRecordsPath = path;
        } catch (const Error &e) {
            summary.failedRecordsProblem = e.description();
        } catch (const std::exception &e) {
            summary.failedRecordsProblem = e.what();
        }
    }
    // The page shows one run: its records go to the summary rather than being held twice.
    summary.failedRecords = m_failedRecords.takeRecords();
}

std::string ResetPage::closingMessage(int subscribersReset) const {
    const std::string counts = std::to_string(subscribersReset) + " subscribers reset.  " +
                               std::to_string(m_log.LogErrorCount()) + " error(s) encountered.";
    if (m_refusedBeforeAnyChange) {
        std::string text = std::string(kNothingWasReset) + sentence(m_stopReason) + "\r\n";
        if (!m_log.LogFallbackReason().empty())
            text += m_log.LogFallbackReason() + "\r\n";
        return text + "Press OK to view the output log now.";
    }
    std::string text;
    if (dryRun)
        text = "Dry run complete, nothing was changed: " + std::to_string(subscribersReset) +
               " subscribers would be reset.  " + std::to_string(m_log.LogErrorCount()) +
               " error(s) encountered.\r\n";
    else if (m_stoppedByRequest)
        text = "Subscriber mailbox reset process stopped by request, reset " + counts + "\r\n";
    else if (!m_stopReason.empty())
        text = "Subscriber mailbox reset process stopped early, reset " + counts + "\r\n";
    else
        text = "Subscriber mailbox reset process complete, reset " + counts + "\r\n";
    if (!dryRun && subscribersReset > 0)
        text += "NOTE: It may take a few minutes for the Recipient Update Service to complete "
                "creating new mailstores for the reset boxes.\r\n";
    // Each ticked subscriber once, so that the counts add up to the selection.
    if (!dryRun && (m_outcome.ticked() != m_outcome.reset || !m_stopReason.empty()))
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

void ResetPage::openLog() {
    const std::string &path = m_log.LogFilePath();
    if (path.empty() || !m_host.files->fileExists(path))
        return; // the closing message has said that this run has no log
    if (!m_host.shell->startProgram("notepad " + m_host.files->nativePath(path),
                                    WindowStyle::Normal))
        m_host.ui->messageBox("The run log could not be opened in a text viewer.  It is " +
                              m_host.files->nativePath(path));
}

void ResetPage::openDocument(const std::string &path, const char *what) {
    if (path.empty())
        return;
    const std::string native = m_host.files->nativePath(path);
    if (!m_host.shell->openDocument(native))
        m_host.ui->messageBox(std::string("The ") + what + " could not be opened.  It is " +
                              native);
}

void ResetPage::cmdOpenLog_Click() {
    if (m_summary)
        openDocument(m_summary->logFilePath, "run log");
}

void ResetPage::cmdOpenFailedRecords_Click() {
    if (m_summary)
        openDocument(m_summary->failedRecordsPath, "failed-records file");
}

void ResetPage::cmdOpenLogFolder_Click() {
    if (!m_summary)
        return;
    const std::string &log = m_summary->logFilePath;
    const auto slash = log.find_last_of("/\\");
    if (slash != std::string::npos)
        openDocument(log.substr(0, slash), "log folder");
}

} // namespace zeph
