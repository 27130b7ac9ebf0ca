#include "RecoveryPage.h"

#include "RunLock.h"
#include "db/modTarvoDB.h"
#include "log/Logging.h"
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
    , m_scan(std::move(scan)) {}

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
    m_plan = planRecovery(m_host, m_tarvoDb, m_open, {});
    plan = describeRecoveryPlan(*m_host.files, m_plan);
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
    std::string refused;
    const std::unique_ptr<IRunLock> lock =
        takeServerRunLock(m_host, m_tarvoDb.DbConnectionString(), refused);
    if (!lock) {
        // Another run is under way: its open entries are its own work.
        lockHolder = refused;
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
    const std::unique_ptr<IRunLock> lock =
        takeServerRunLock(m_host, m_tarvoDb.DbConnectionString(), refusal);
    if (!lock) {
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
    summary = recoverInterruptedResets(m_host, m_registry, m_tarvoDb, m_log, m_open, m_plan, false);
    if (stateChanged)
        stateChanged();
    m_host.ui->messageBox(summary->closingMessage, MsgButtons::OK,
                          summary->errorCount == 0 && summary->stopReason.empty()
                              ? MsgIcon::Information
                              : MsgIcon::Warning);
    return true;
}

} // namespace zeph
