#pragma once
// The recovery page without its window: at start, when this server has resets that did not
// finish (a subscriber removed and not created again, an owed synchronisation of the
// distribution lists), what the recovery found on the server and will do, and the Recover
// button that does it with the checks, log and run lock of every run that changes the server.

#include "Recovery.h"
#include "RecoveryJournal.h"
#include "RunProgress.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zeph {

class Logging;
class RegistryAPI;
struct Host;
namespace db {
class modTarvoDB;
}

class RecoveryPage {
public:
    static constexpr const char *kFormName = "frmRecovery";
    /// The question before the recovery changes anything.
    static std::string question(std::size_t subscribers);

    /// `scan` reads the recovery journals of this server (both logs folders).
    RecoveryPage(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb, Logging &log,
                 std::function<JournalScan()> scan);

    /// Looks at the journals and the server, changing nothing: true when there is something
    /// to recover (the page is then to be shown). Taken under the server's run lock, so that
    /// the entries of a run under way in another program are not taken for unfinished ones;
    /// when the lock is held, `lockHolder` says by whom and nothing is listed.
    bool look();

    /// Recover: asks, then takes the run lock, reads the journals and the server again (they
    /// may have changed since the page was drawn) and finishes every entry as the plan says.
    /// True when the recovery ran.
    bool cmdRecover_Click();

    /// Stop: the recovery under way finishes the subscriber under way (its journal entry is
    /// closed) and begins no other; the entries left stay open in their journals for the next
    /// recovery. Only notes the request and returns at once, so it may be called from an
    /// event handler while the recovery runs. Nothing happens when none runs.
    void requestStop();
    bool stopRequested() const { return m_stopRequested; }

    /// Accept Changed: the subscribers held because they were changed since their reset was
    /// interrupted (changedAliases) are named with their differences in a question; on Yes the
    /// plan is made again with their changes accepted, so that Recover finishes them as they
    /// are on the server now (what "--recover --accept-changed ALIAS" does for each). True
    /// when they were accepted.
    bool cmdAcceptChanged_Click();

    // --- the page's state ---------------------------------------------------------------------
    /// What was found and what will be done, one entry after another (the text the
    /// terminal's --recover prints before its question).
    std::string plan;
    /// Damaged journals: the recovery refuses to run until they are dealt with.
    std::vector<std::string> problems;
    /// Journals of other servers in the shared logs folders, named once.
    std::vector<std::string> elsewhere;
    /// Who holds the server's run lock, when another run holds it.
    std::string lockHolder;
    /// Unfinished subscribers found.
    std::size_t subscribers = 0;
    /// The subscribers held because they were changed since their journal entry was written,
    /// and not accepted: "ALIAS: what differs".
    std::vector<std::string> changedSubscribers;
    /// Runs that owe the synchronisation of all distribution lists.
    std::size_t syncsOwed = 0;
    /// How far the recovery has got: entry N of M, the subscriber under way, the times.
    RunProgress progress;
    /// The recovery's outcome once it ran.
    std::optional<RecoverySummary> summary;
    /// Why a Recover press did not run (the lock is held, a journal became damaged, nothing
    /// is left to recover); empty when it ran.
    std::string refusal;
    /// True while the recovery runs: the window must not close then.
    bool running() const { return m_running; }
    bool recoverEnabled() const {
        return !summary && !m_running && lockHolder.empty() && problems.empty() &&
               (subscribers || syncsOwed);
    }
    bool stopEnabled() const { return m_running && !m_stopRequested; }
    bool acceptChangedEnabled() const { return recoverEnabled() && !changedSubscribers.empty(); }
    /// A path as this machine writes it (for showing it).
    std::string nativePath(const std::string &path) const;
    /// Told after the page's state changed, and after every log line of the recovery.
    std::function<void()> stateChanged;

private:
    /// Reads journals and server: fills the state; keeps the journals that need recovery.
    void survey();

    Host &m_host;
    RegistryAPI &m_registry;
    db::modTarvoDB &m_tarvoDb;
    Logging &m_log;
    std::function<JournalScan()> m_scan;
    std::vector<JournalFile> m_open;
    std::vector<RecoveryPlanEntry> m_plan;
    /// The aliases (upper case) whose changes the operator accepted.
    std::set<std::string> m_acceptChanged;
    bool m_running = false;
    bool m_stopRequested = false;
};

} // namespace zeph
