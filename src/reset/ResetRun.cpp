#include "ResetRun.h"

#include "CreateNewGuid.h"
#include "DirectorySyncWait.h"
#include "ReCreation.h"

#include "RecoveryJournal.h"
#include "app/registry/RegistryAPI.h"
#include "db/AdoErrors.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace zeph {

std::string runLogNotWritten(const std::string &why) {
    return "the run log could not be written (" + why + ")";
}

std::string journalNotWritten(const std::string &why) {
    return "the recovery journal could not be written (" + why + ")";
}

ResetRun::ResetRun(Host &hostRef, db::modTarvoDB &tarvoDbRef, Logging &logRef, RunSettings settings)
    : host(hostRef)
    , tarvoDb(tarvoDbRef)
    , log(logRef)
    , m_settings(std::move(settings))
    , m_connection(*hostRef.database)
    , m_command(*hostRef.database)
    , m_querySet(*hostRef.database)
    , m_report([this](const std::string &text) {
        ++m_failures;
        line(text);
    }) {}

void ResetRun::noteUnfinished(const std::string &aliasOrObjectId) {
    m_unfinished.insert(upperAscii(aliasOrObjectId));
}

bool ResetRun::unfinishedEarlier(const std::string &alias, const std::string &objectId) const {
    return m_unfinished.count(upperAscii(alias)) || m_unfinished.count(upperAscii(objectId));
}

db::Recordset &ResetRun::subscriberRow() {
    const std::string &key = m_subscriber.rowKey();
    if (key.empty())
        throw Error(db::adoerr::kNoCurrentRecord, "the subscriber's row was not found");
    // The table is the program's, not the run's: the pages walk it too. Its current row is
    // taken only when it is still this subscriber's.
    db::Recordset &rs = tarvoDb.rsSubscribers();
    if (!rs.Eof() && db::matchesKey(rs["SubscriberObjectID"].Value(), key))
        return rs;
    if (!rs.Bof()) {
        rs.MoveFirst();
        rs.Find("SubscriberObjectID", DbValue(key));
    }
    if (rs.Eof())
        throw Error(db::adoerr::kNoCurrentRecord,
                    "the row of subscriber " + key +
                        " is no longer in the cached subscriber table");
    return rs;
}

void ResetRun::line(const std::string &text) {
    finishLogSync(); // the log's writer is the syncing thread's until its sync is done
    log.WriteLogLine(text);
    stopIfLogFailed();
}

void ResetRun::stopIfLogFailed() {
    if (!log.LogWriteProblem().empty())
        stop(runLogNotWritten(log.LogWriteProblem()));
}

void ResetRun::syncLog() {
    finishLogSync();
    log.SyncLogFile();
    stopIfLogFailed();
}

void ResetRun::startLogSync() {
    finishLogSync();
    if (!log.HasUnsyncedLines())
        return;
    m_logSyncing = true;
    m_syncThread.start([this] { log.SyncLogFile(); });
}

void ResetRun::finishLogSync() {
    if (!m_logSyncing)
        return;
    m_logSyncing = false;
    m_syncThread.wait(); // SyncLogFile keeps its failure instead of throwing it
    stopIfLogFailed();
}

bool ResetRun::makeChangesDurable() {
    if (!m_connection.IsOpen())
        return true; // each change went through a connection of its own, committed on its own
    return attempt([&] { m_connection.MakeDurable(); });
}

void ResetRun::beginChanges() {
    if (dryRun() || !m_connection.IsOpen() || m_changes)
        return;
    if (!attempt([&] { m_changes.emplace(m_connection); }))
        return;
    for (const std::string &ticket : std::exchange(m_ticketsToDelete, {}))
        DeleteDirectorySyncTicket(host, connectionText(), ticket, &m_connection);
}

bool ResetRun::commitChanges() {
    if (!m_changes)
        return true;
    const bool committed = attempt([&] { m_changes->commit(); });
    if (!committed)
        attempt([&] { m_changes->rollback(); });
    m_changes.reset();
    return committed;
}

void ResetRun::deleteAnsweredTickets() {
    if (m_ticketsToDelete.empty())
        return;
    beginChanges();
    if (!m_changes) {
        for (const std::string &ticket : std::exchange(m_ticketsToDelete, {}))
            DeleteDirectorySyncTicket(host, connectionText(), ticket, nullptr);
    }
    commitChanges();
}

void ResetRun::stop(const std::string &why, StopKind kind) {
    if (!m_stopReason.empty())
        return;
    m_stopReason = why;
    m_stopKind = kind;
}

void ResetRun::refuseWrites(const std::string &why) {
    if (!m_writesRefused.empty())
        return;
    m_writesRefused = why.empty() ? std::string("no reason given") : why;
    stop("the server refused a write (" + m_writesRefused +
         "); nothing more is changed until it takes writes again");
}

void ResetRun::stopSubscriber(const std::string &why) {
    if (!recovering())
        stop(why);
}

void ResetRun::serverAnswered(bool answered) {
    m_unansweredInARow = answered ? 0 : m_unansweredInARow + 1;
    if (m_unansweredInARow >= kUnansweredLimit)
        stop("the server has stopped answering: the first query of " +
             std::to_string(m_unansweredInARow) + " subscribers in a row failed");
}

void ResetRun::prepare(RegistryAPI &registry) {
    attempt([&] {
        m_streamFilesRoot = regText(registry.QueryValue(HKEY_LOCAL_MACHINE, kPradixKey,
                                                        kRootPathValue, REG_SZ, std::string()));
    });
    // Plain concatenation: the value is taken to end with a backslash.
    m_streamFilesRoot += "Stream Files\\";
    attempt([&] {
        m_connection.Open(connectionText());
        // Made sure of once a subscriber (ResetSubscriber), not at every request.
        m_connection.CheckPlaceWhenAsked();
        m_command.ActiveConnection(m_connection);
        m_command.CommandType(db::adCmdStoredProc);
    });
    prepareQueries();
}

void ResetRun::prepareQueries() {
    attempt([&] { m_querySet.CursorLocation(db::adUseClient); });
}

namespace {

// The rights a reset uses: the server's procedures it calls and the tables and views whose
// rows it changes (the fix-ups' tables among them).
std::vector<DbRight> runRights() {
    std::vector<DbRight> rights;
    for (const char *procedure :
         {"sp_DeleteSubscriber", "sp_CreateSubscriber", "sp_ModifySubscriber",
          "sp_DeleteDirectorySyncTicket", "sp_SqlDirectorySync"})
        rights.push_back({procedure, "EXECUTE"});
    for (const char *table : {"vw_Subscriber", "Subscriber", "MessagingRule", "DTMFAccessID"})
        rights.push_back({table, "UPDATE"});
    rights.push_back({"DTMFAccessID", "INSERT"});
    for (const std::string &table : fixUpTables()) {
        if (std::none_of(rights.begin(), rights.end(), [&](const DbRight &r) {
                return r.object == table && r.permission == "UPDATE";
            }))
            rights.push_back({table, "UPDATE"});
    }
    return rights;
}

// The database can be changed through a new connection; or why not.
Status databaseWritable(Host &host, const std::string &connectionText) {
    const Result<void, Error> proved =
        caught([&] { host.database->connect(connectionText)->proveRights(runRights()); });
    if (!proved)
        return failureOf(proved.error());
    return done();
}

bool mailStoreReachable(Host &host) {
    try {
        return host.mail && host.mail->createSession() != nullptr;
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace

std::string ResetRun::foreseen(const std::string &errorLine) const {
    return errorLine + " (foreseen by the dry run)";
}

void ResetRun::proveRights() {
    for (const MissingRight &missing : missingRights(host, connectionText(), m_streamFilesRoot)) {
        line(dryRun() ? foreseen(missing.errorLine) : missing.errorLine);
        if (!dryRun())
            stop(missing.why);
    }
}

std::string streamFilesRoot(RegistryAPI &registry) {
    std::string root;
    try {
        root = regText(registry.QueryValue(HKEY_LOCAL_MACHINE, kPradixKey, kRootPathValue, REG_SZ,
                                           std::string()));
    } catch (const std::exception &) {
        // Without the value the folder below is not found, which is then the reason given.
    }
    return root + "Stream Files\\";
}

std::vector<MissingRight> missingRights(Host &host, const std::string &connectionText,
                                        const std::string &streamFilesRoot) {
    std::vector<MissingRight> missing;
    if (const Status writable = databaseWritable(host, connectionText); !writable)
        missing.push_back(
            {"(error) the server database cannot be written (" + writable.error() + ")",
             "the server database cannot be written (" + writable.error() + ").  " +
                 kNoDatabaseRights});
    const std::string recordings = host.files->nativePath(streamFilesRoot);
    bool reachable = false;
    try {
        reachable = host.files->folderExists(streamFilesRoot);
    } catch (const std::exception &) {
    }
    if (!reachable)
        missing.push_back({"(error) the recordings folder " + recordings + " cannot be reached",
                           "the recordings folder " + recordings + " cannot be reached"});
    if (!mailStoreReachable(host))
        missing.push_back({"(error) the mail store cannot be reached: no mail session can be made",
                           "the mail store cannot be reached"});
    return missing;
}

bool ResetRun::writeEnd(bool skipListSync) {
    line("");
    bool settled = skipListSync;
    if (skipListSync) {
        line("** Skipping synchronization of all distribution lists by request **");
    } else if (stopped() && !m_listSyncOwed && !dryRun()) {
        // A run stopped before its first change left every membership as it was.
        line("** No subscriber was changed: no synchronization of the distribution lists is "
             "needed **");
        settled = true;
    } else if (dryRun()) {
        line("** (dry run) would start synchronization of all distribution lists **");
    } else {
        line("** Starting synchronization of all distribution lists - application will not wait "
             "for this to complete **");
        // The last subscriber's answered ticket goes with the request.
        beginChanges();
        settled = attempt([&] {
            m_command.CommandText("sp_SqlDirectorySync");
            m_command.AppendParameter("@SyncDistributionList", db::adInteger, 1);
            m_command.Execute();
        });
        settled = commitChanges() && settled;
        // The journal is told that the lists were put back only once that change is on disk:
        // a power loss after its record must not leave the reset subscribers out of them.
        settled = settled && makeChangesDurable();
    }
    if (!dryRun())
        deleteAnsweredTickets();
    if (settled && m_listSyncOwed)
        journalRecord([](RecoveryJournal &j) { return j.listSyncDone(); });
    // The last entry's end, when nothing synced the journal after it.
    if (journal()) {
        if (const Status synced = journal()->syncPending(); !synced)
            line("(error) " + journalNotWritten(synced.error()));
    }
    line("");
    line("** Subscriber mailbox reset process complete at " +
         generalDateTime(host.clock->toLocal(host.clock->now())));
    syncLog();
    return settled;
}

void ResetRun::reached(const std::string &step) const {
    if (host.stepReached)
        host.stepReached(step);
}

bool ResetRun::journalRecord(const std::function<Status(RecoveryJournal &)> &record) {
    if (!journal())
        return true;
    // The journal alone is read by a recovery: the log's lines need not be on disk with it.
    const Status recorded = record(*journal());
    if (!recorded)
        journalFailed(recorded.error());
    return recorded.ok();
}

void ResetRun::journalFailed(const std::string &why, const std::string &lineEnd) {
    line("(error) " + journalNotWritten(why) + lineEnd);
    stop(journalNotWritten(why));
}

std::string ResetRun::newTicket() {
    std::string ticket;
    attempt([&] { ticket = CreateNewGuid(*host.guids); });
    return ticket;
}

std::string ResetRun::takeRemovalTicket() {
    std::string ticket = journal() ? journal()->takeRemovalTicket() : std::string();
    if (ticket.empty()) {
        ticket = newTicket();
        journalRecord([&](RecoveryJournal &j) { return j.removalTicket(ticket); });
    }
    return ticket;
}

std::string ResetRun::takeCreationTicket() {
    std::string ticket = journal() ? journal()->takeCreationTicket() : std::string();
    if (ticket.empty()) {
        ticket = newTicket();
        journalRecord([&](RecoveryJournal &j) { return j.creationTicket(ticket); });
    }
    return ticket;
}

} // namespace zeph
