#include "RecoveryPage.h"

#include "RunLock.h"
#include "db/modTarvoDB.h"
#include "log/Logging.h"
#include "platform/AsciiText.h"
#include "platform/Host.h"

namespace zeph {

std::string RecoveryPage::question(std::size_t subscribers) {
    return "Recover " + std::to_string(subscribers) +
           " subscriber(s) as listed above now?  Finishing a reset deletes the subscriber's "
           "messages and recordings as the reset would have done.";
}

RecoveryPage::RecoveryPage(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb, Logging &log,
                           std::function<JournalScan()> scan)
    : m_host(host)
    , m_registry(registry)
    , m_tarvoDb(tarvoDb)
    , m_log(log)
    , m_scan(std::move(scan)) {
    progress.useClock(*host.clock);
}

void RecoveryPage::survey() {
    JournalScan scan = m_scan();
    problems = scan.problems;
    elsewhere.clear();
    for (const JournalFile &journal : scan.elsewhere)
        elsewhere.push_back(elsewhereLine(*m_host.files, journal));
    m_open.clear();
    subscribers = 0;
    syncsOwed = 0;
    for (JournalFile &journal : scan.journals) {
        if (!journal.needsRecovery())
            continue;
        subscribers += journal.unfinished().size();
        syncsOwed += journal.listSyncOwed ? 1 : 0;
        m_open.push_back(std::move(journal));
    }
    // The plan points into m_open, which stays as it is from here on.
    m_plan = planRecovery(m_host, m_tarvoDb, m_open, m_acceptChanged);
    plan = describeRecoveryPlan(*m_host.files, m_plan);
    changedSubscribers.clear();
    for (const RecoveryPlanEntry &planned : m_plan) {
        if (planned.action != RecoveryAction::Hold)
            continue;
        std::string line = planned.entry->snapshot.Alias + ":";
        for (const std::string &difference : planned.differences)
            line += (line.ends_with(':') ? " " : "; ") + difference;
        changedSubscribers.push_back(line);
    }
    for (const JournalFile &journal : m_open)
        if (journal.listSyncOwed)
            plan += "The run of " + m_host.files->nativePath(journal.logPath) +
                    " owes the synchronisation of all distribution lists: it is asked for at "
                    "the end.\n";
}

std::string RecoveryPage::nativePath(const std::string &path) const {
    return m_host.files->nativePath(path);
}

bool RecoveryPage::look() {
    lockHolder.clear();
    const Result<std::unique_ptr<IRunLock>> lock =
        takeServerRunLock(m_host, m_tarvoDb.DbConnectionString());
    if (!lock) {
        // Another run is under way: its open entries are its own work, not unfinished ones.
        const std::optional<std::string> heldBy =
            runLockHeldElsewhere(m_host, m_tarvoDb.DbConnectionString());
        lockHolder = heldBy ? resetRunningNow(*heldBy) : lock.error();
        return false;
    }
    survey();
    if (stateChanged)
        stateChanged();
    return subscribers > 0 || syncsOwed > 0 || !problems.empty();
}

bool RecoveryPage::cmdRecover_Click() {
    refusal.clear();
    if (!recoverEnabled())
        return false;
    if (m_host.ui->messageBox(question(subscribers), MsgButtons::YesNo, MsgIcon::Warning) !=
        MsgAnswer::Yes)
        return false;
    const Result<std::unique_ptr<IRunLock>> lock =
        takeServerRunLock(m_host, m_tarvoDb.DbConnectionString());
    if (!lock) {
        refusal = lock.error();
        m_host.ui->messageBox(refusal, MsgButtons::OK, MsgIcon::Warning);
        return false;
    }
    // What is recovered is what the server and the journals show now.
    survey();
    if (!problems.empty() || (subscribers == 0 && syncsOwed == 0)) {
        refusal = problems.empty() ? "Nothing is left to recover." : problems.front();
        if (stateChanged)
            stateChanged();
        m_host.ui->messageBox(refusal, MsgButtons::OK, MsgIcon::Information);
        return false;
    }
    const auto previous = m_log.lineObserver();
    m_log.setLineObserver([this, previous](const std::string &line) {
        if (previous)
            previous(line);
        if (stateChanged)
            stateChanged();
    });
    m_host.ui->setBusy(true);
    m_running = true;
    m_stopRequested = false;
    if (stateChanged)
        stateChanged();
    // Put back however the recovery is left (the program ending unwinds through here).
    struct Restore {
        RecoveryPage &page;
        std::function<void(const std::string &)> observer;
        ~Restore() {
            page.m_running = false;
            page.m_host.ui->setBusy(false);
            page.m_log.setLineObserver(observer);
        }
    } restore{*this, previous};
    progress.start(static_cast<int>(m_plan.size()));
    summary = recoverInterruptedResets(
        m_host, m_registry, m_tarvoDb, m_log, m_open, m_plan, false, "",
        [this](int done, const RecoveryPlanEntry &next) {
            progress.update(done, m_stopRequested ? "" : next.entry->snapshot.Alias);
            if (stateChanged)
                stateChanged();
            return m_stopRequested;
        });
    progress.update(progress.total() - summary->entriesLeft, "");
    progress.finish();
    if (stateChanged)
        stateChanged();
    m_host.ui->messageBox(summary->closingMessage, MsgButtons::OK,
                          summary->errorCount == 0 &&
                                  (summary->stopReason.empty() || summary->stoppedByRequest)
                              ? MsgIcon::Information
                              : MsgIcon::Warning);
    return true;
}

void RecoveryPage::requestStop() {
    if (!m_running || m_stopRequested)
        return;
    m_stopRequested = true;
    progress.stopping = true;
    if (stateChanged)
        stateChanged();
}

bool RecoveryPage::cmdAcceptChanged_Click() {
    if (!acceptChangedEnabled())
        return false;
    std::string question = "These subscribers were changed since their reset was interrupted:\n";
    for (const std::string &changed : changedSubscribers)
        question += "\n" + changed;
    question += "\n\nRecover them anyway, as if they were unchanged?  A subscriber that was "
                "never removed then has its entry closed without a reset; any other has its "
                "reset finished, and its messages and recordings are deleted as the reset would "
                "have done.  Nothing is changed until Recover is pressed.";
    if (m_host.ui->messageBox(question, MsgButtons::YesNo, MsgIcon::Warning) != MsgAnswer::Yes)
        return false;
    for (const RecoveryPlanEntry &planned : m_plan)
        if (planned.action == RecoveryAction::Hold)
            m_acceptChanged.insert(upperAscii(planned.entry->snapshot.Alias));
    // Planned again, read only: what Recover will do now, with the changes accepted.
    survey();
    if (stateChanged)
        stateChanged();
    return true;
}

} // namespace zeph
