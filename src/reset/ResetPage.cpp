#include "ResetPage.h"
#include "platform/AsciiText.h"

#include "platform/Error.h"

#include <algorithm>

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

ResetPage::ResetPage(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb, Logging &log,
                     HandOver handOver)
    : progress(m_job.progress)
    , m_host(host)
    , m_handOver(std::move(handOver))
    , m_job(host, registry, tarvoDb, log) {
    m_job.stateChanged = [this] {
        followRun();
        changed();
    };
    // The check box stays usable while the run is under way: the run reads it at its end.
    m_job.skipListSyncAtEnd = [this] { return chkSkipDLResynch.Value; };
}

void ResetPage::changed() {
    if (stateChanged)
        stateChanged();
}

void ResetPage::followRun() {
    const ResetJob::Phase phase = m_job.phase();
    if (phase == ResetJob::Phase::Waiting)
        return;
    busy = phase == ResetJob::Phase::Running;
    // One page shows one run: only Exit (and Help) stay usable once it has ended.
    cmdPrevious.Enabled = false;
    cmdResetSubscribers.Enabled = false;
    cmdExit.Enabled = phase == ResetJob::Phase::Finished;
    ProgressBar.Max = m_job.total();
    ProgressBar.Value = m_job.done();
    lblSubscribersAddedCount = std::to_string(m_job.subscribersReset());
}

void ResetPage::Form_Load() {
    if (m_loaded)
        return;
    m_loaded = true;
    // Hidden, the box stays unchecked, so every run then ends with the lists' synchronisation.
    chkSkipDLResynch.Visible = containsIgnoreCase(m_host.commandLine, "SkipDLSync");
    changed();
}

ResetRequest ResetPage::request() const {
    ResetRequest request = m_handOver ? m_handOver() : ResetRequest{};
    request.skipListSync = chkSkipDLResynch.Value;
    request.dryRun = dryRun;
    return request;
}

void ResetPage::cmdResetSubscribers_Click() {
    if (m_job.running() || m_job.phase() != ResetJob::Phase::Waiting)
        return;
    ResetRequest asked;
    try {
        asked = request();
    } catch (const Error &e) {
        // A page that is gone hands nothing over: nothing is run.
        m_host.ui->messageBox(e.description(), MsgButtons::OK, MsgIcon::Critical);
        return;
    }
    m_job.run(asked);
}

std::string ResetPage::templateText() const {
    try {
        return zeph::templateText(request());
    } catch (const std::exception &) {
        return {};
    }
}

ResetReview ResetPage::review(int listed) const {
    ResetReview review;
    try {
        const ResetRequest asked = request();
        review.criterion = asked.selectionSource;
        review.templateText = zeph::templateText(asked);
        for (const SelectedSubscriber &subscriber : asked.subscribers) {
            ++review.count;
            if (static_cast<int>(review.rows.size()) < listed)
                review.rows.push_back(subscriber.alias + " - " + subscriber.displayName + ", " +
                                      subscriber.extension);
        }
        review.more = review.count - static_cast<int>(review.rows.size());
    } catch (const std::exception &) {
        return {};
    }
    return review;
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
    if (summary())
        openDocument(summary()->logFilePath, "run log");
}

void ResetPage::cmdOpenFailedRecords_Click() {
    if (summary())
        openDocument(summary()->failedRecordsPath, "failed-records file");
}

void ResetPage::cmdOpenLogFolder_Click() {
    if (!summary())
        return;
    const std::string &log = summary()->logFilePath;
    const auto slash = log.find_last_of("/\\");
    if (slash != std::string::npos)
        openDocument(log.substr(0, slash), "log folder");
}

} // namespace zeph
