#pragma once
// The reset page `frmResetSubscribers` without its window: the state of its controls, its
// load step, and "Reset Subscribers", which makes the reset request from what the other pages
// hand over and this page's own controls, and runs it. The window (frmResetSubscribers) draws
// this state and forwards its clicks here.

#include "ResetJob.h"

#include <functional>
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
    static constexpr const char *kConfirmation = ResetJob::kConfirmation;
    /// The first words of a refusal before any change.
    static constexpr const char *kNothingWasReset = ResetJob::kNothingWasReset;
    /// The first line after the log's header in a dry run.
    static constexpr const char *kDryRunLine = ResetJob::kDryRunLine;

    /// What the other pages hand over: the template, the subscribers chosen, the alternate
    /// extensions' choice. It may throw zeph::Error when a page is gone.
    using HandOver = std::function<ResetRequest()>;

    ResetPage(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb, Logging &log,
              HandOver handOver);
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
    /// The request a press of the button makes now: what the other pages hand over, with this
    /// page's check box and dry run. Throws zeph::Error when a page is gone.
    ResetRequest request() const;

    /// What a run started now would reset: the criterion, the ticked rows (the first
    /// `listed` of them by name), the template by name and alias. Read as the run will read
    /// them; a page that cannot be read gives an empty review.
    ResetReview review(int listed = 8) const;
    /// The template as the review and the question name it: "Display Name (alias)".
    std::string templateText() const;

    /// True while a run is under way: the window must then refuse to close, because ending the
    /// program between a subscriber's removal and its re-creation loses the subscriber.
    bool running() const { return m_job.running(); }

    /// Asks the run under way to stop after the subscriber under way: that subscriber goes
    /// through all its steps and its journal entry is closed, no further subscriber is begun,
    /// and the run ends as any run does (the lists' synchronisation, the log's end, the
    /// summary), counting the rest as not attempted. Meant for a Stop button, Escape, closing
    /// the window or an interrupt: it only notes the request and returns at once, so it may be
    /// called from an event handler while the run is under way (or from another thread).
    /// Nothing happens when no run is under way.
    void requestStop() { m_job.requestStop(); }
    /// True once a stop has been asked for the run under way (or the last run).
    bool stopRequested() const { return m_job.stopRequested(); }
    /// True once a confirmed run has ended.
    bool finished() const { return m_job.finished(); }
    /// The last run's outcome; nothing before a run has ended.
    const std::optional<ResetSummary> &summary() const { return m_job.summary(); }
    /// Why the last run did not start, told before the question: "Nothing was reset: " and
    /// the reason (another run holds the server's run lock, the database cannot be written,
    /// the recordings folder or the mail store cannot be reached); empty when it started. The
    /// page stays as it was, so the run can be started again.
    const std::string &refusal() const { return m_job.refusal(); }

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
    const RunProgress &progress;
    std::string lblSubscribersAddedCount = "0";
    /// The hourglass pointer is shown over the window.
    bool busy = false;

    /// Told after the controls' state changed (buttons, progress, count). The window repaints
    /// from the page on the next pass of the event loop, which the run gives after every log
    /// line and between the slices of its waits.
    std::function<void()> stateChanged;

private:
    void changed();
    /// The controls as the run stands.
    void followRun();
    void openDocument(const std::string &path, const char *what);

    Host &m_host;
    HandOver m_handOver;
    ResetJob m_job;
    bool m_loaded = false;
};

} // namespace zeph
