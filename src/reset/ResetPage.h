#pragma once
// The reset page `frmResetSubscribers` without its window: the state of its controls, its
// load step, and the reset run behind "Reset Subscribers". The window (frmResetSubscribers)
// draws this state and forwards its clicks here.

#include "FailedRecords.h"
#include "RecoveryJournal.h"
#include "ResetRun.h"
#include "RunProgress.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace zeph {

class RegistryAPI;

/// A button's or check box's state.
struct ControlState {
    bool Enabled = true;
    bool Visible = true;
};

struct CheckBoxState : ControlState {
    bool Value = false; ///< checked
};

struct ProgressBarState {
    int Max = 100;
    int Value = 0;
};

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

/// What a run would reset, shown on the page before its button is pressed.
struct ResetReview {
    /// What the grid's rows came from; "" when unknown.
    std::string criterion;
    /// The ticked rows: the subscribers the run takes.
    int count = 0;
    /// The template as "Display Name (alias)".
    std::string templateText;
    /// The first ticked rows, "alias - display name, extension".
    std::vector<std::string> rows;
    /// Ticked rows beyond those listed.
    int more = 0;
};

class ResetPage {
public:
    static constexpr const char *kFormName = "frmResetSubscribers";
    static constexpr const char *kWindowCaption = "Zephrane";
    static const char *const kHeading;
    static const char *const kInstructions;
    static const char *const kSkipCaption;
    static const char *const kResetCaption;
    static const char *const kProgressCaption;
    static const char *const kCountCaption;
    static const char *const kPreviousCaption;
    static const char *const kNextCaption;
    static const char *const kHelpCaption;
    static const char *const kExitCaption;
    /// The question asked before anything is done.
    static const char *const kConfirmation;
    /// The first words of a refusal before any change.
    static const char *const kNothingWasReset;
    /// The first line after the log's header in a dry run.
    static const char *const kDryRunLine;

    ResetPage(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb, Logging &log,
              ResetInputs inputs);
    ResetPage(const ResetPage &) = delete;
    ResetPage &operator=(const ResetPage &) = delete;

    /// The load step, run once (the first time the page is shown): the skip check box shows
    /// only when the command line holds "SkipDLSync" (any case, anywhere).
    void Form_Load();
    bool loaded() const { return m_loaded; }

    /// Set before the run: read and check everything, change nothing (no question is asked).
    bool dryRun = false;

    /// Runs the whole reset after the operator's confirmation. One page runs at most once:
    /// after the first confirmed run the button stays disabled and further calls do nothing.
    void cmdResetSubscribers_Click();

    /// What a run started now would reset: the criterion, the ticked rows (the first
    /// `listed` of them by name), the template by name and alias. Read from the other pages'
    /// controls as the run will read them; a page that cannot be read gives an empty review.
    ResetReview review(int listed = 8) const;
    /// The template as the review and the question name it: "Display Name (alias)".
    std::string templateText() const;

    /// True while a run is under way: the window must then refuse to close, because ending the
    /// program between a subscriber's removal and its re-creation loses the subscriber.
    bool running() const { return m_running; }

    /// Asks the run under way to stop after the subscriber under way: that subscriber goes
    /// through all its steps and its journal entry is closed, no further subscriber is begun,
    /// and the run ends as any run does (the lists' synchronisation, the log's end, the
    /// summary), counting the rest as not attempted. Meant for a Stop button, Escape, closing
    /// the window or an interrupt: it only notes the request and returns at once, so it may be
    /// called from an event handler while the run is under way (or from another thread).
    /// Nothing happens when no run is under way.
    void requestStop();
    /// True once a stop has been asked for the run under way (or the last run).
    bool stopRequested() const { return m_stopRequested.load(); }
    /// True once a confirmed run has ended.
    bool finished() const { return m_summary.has_value(); }
    /// The last run's outcome; nothing before a run has ended.
    const std::optional<ResetSummary> &summary() const { return m_summary; }
    /// Why the last run did not start, told before the question: "Nothing was reset: " and
    /// the reason (another run holds the server's run lock, the database cannot be written,
    /// the recordings folder or the mail store cannot be reached); empty when it started. The
    /// page stays as it was, so the run can be started again.
    const std::string &refusal() const { return m_refusal; }

    /// The results panel's buttons, once a run has ended: each opens the run's log, its
    /// failed-records file or the folder that holds them with the desktop's default action;
    /// when that fails the path is told in a message.
    void cmdOpenLog_Click();
    void cmdOpenFailedRecords_Click();
    void cmdOpenLogFolder_Click();
    /// A path of the summary as this machine writes it (for showing it).
    std::string nativePath(const std::string &path) const { return m_host.files->nativePath(path); }

    // --- the window's controls ----------------------------------------------------------------
    ControlState cmdResetSubscribers;
    ControlState cmdPrevious;
    ControlState cmdNext{false, true};
    ControlState cmdHelp;
    ControlState cmdExit;
    /// Hidden and unchecked unless the command line asks for it; read once, at a run's end.
    CheckBoxState chkSkipDLResynch{{true, false}, false};
    /// Counts the ticked rows: Max is their number, Value those finished.
    ProgressBarState ProgressBar;
    /// The subscriber under way, its number among the ticked rows and the times.
    RunProgress progress;
    std::string lblSubscribersAddedCount = "0";
    /// The hourglass pointer is shown over the window.
    bool busy = false;

    /// Told after the controls' state changed (buttons, progress, count). The window repaints
    /// from the page on the next pass of the event loop, which the run gives after every log
    /// line and between the slices of its waits.
    std::function<void()> stateChanged;

private:
    void changed();
    /// Takes the server's run lock and checks what a run needs; false, with m_refusal set and
    /// nothing held, when the run cannot be made.
    bool readyToChange();
    /// The line under the question: how many subscribers, which template.
    std::string confirmationDetails() const;
    /// The start steps; returns the grid's row count (header row included).
    int startRun(ResetRun &run);
    enum class RowResult { Unticked, Done, NotBegun };
    /// Resets the row's subscriber when it is ticked; NotBegun when a stop was asked for.
    RowResult resetRow(ResetRun &run, int row);
    /// Records the ticked rows from `row` on as not attempted.
    void noteNotAttempted(ResetRun &run, int row, int rows);
    void endRun(ResetRun &run, int subscribersReset);
    void writeFailedRecords(ResetSummary &summary);
    std::string closingMessage(int subscribersReset) const;
    void openLog();
    void openDocument(const std::string &path, const char *what);

    Host &m_host;
    RegistryAPI &m_registry;
    db::modTarvoDB &m_tarvoDb;
    Logging &m_log;
    ResetInputs m_inputs;
    bool m_loaded = false;
    bool m_running = false;
    bool m_started = false;
    int m_subscribersResetCount = 0;
    RunOutcome m_outcome;
    std::atomic<bool> m_stopRequested{false};
    int m_cleanedNotReCreated = 0;
    std::string m_stopReason;
    bool m_stoppedByRequest = false;
    bool m_refusedBeforeAnyChange = false;
    std::optional<ResetSummary> m_summary;
    FailedRecords m_failedRecords;
    std::unique_ptr<RecoveryJournal> m_journal;
    std::unique_ptr<IRunLock> m_runLock;
    std::string m_refusal;
    // The server the run changes, as its journal names it.
    std::string m_server;
};

} // namespace zeph
