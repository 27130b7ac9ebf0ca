#include "ResetRun.h"

#include "ReCreation.h"

#include "RecoveryJournal.h"
#include "app/registry/RegistryAPI.h"

#include <algorithm>
#include <future>
#include <system_error>

namespace zeph {

ResetRun::ResetRun(Host &hostRef, db::modTarvoDB &tarvoDbRef, Logging &logRef,
                   ResetRequest requestRef)
    : host(hostRef)
    , tarvoDb(tarvoDbRef)
    , log(logRef)
    , request(std::move(requestRef))
    , connection(*hostRef.database)
    , command(*hostRef.database)
    , querySet(*hostRef.database)
    , m_report([this](const std::string &text) {
        ++m_failures;
        line(text);
    }) {}

void ResetRun::line(const std::string &text) {
    log.WriteLogLine(text);
    if (!log.LogWriteProblem().empty())
        stop("the run log could not be written (" + log.LogWriteProblem() + ")");
}

void ResetRun::syncLog() {
    log.SyncLogFile();
    if (!log.LogWriteProblem().empty())
        stop("the run log could not be written (" + log.LogWriteProblem() + ")");
}

bool ResetRun::withLogSynced(const std::function<bool()> &write) {
    if (!log.HasUnsyncedLines())
        return write();
    // Two files' syncs wait for the disk at the same time rather than one after the other;
    // nothing else touches the log until its sync is done. A machine that cannot start the
    // thread (no memory or threads left) has them done one after the other.
    std::future<void> logSynced;
    try {
        logSynced = std::async(std::launch::async, [this] { log.SyncLogFile(); });
    } catch (const std::system_error &) {
        syncLog();
        return write();
    }
    bool written = false;
    try {
        written = write();
    } catch (...) {
        logSynced.wait();
        throw;
    }
    logSynced.get();
    if (!log.LogWriteProblem().empty())
        stop("the run log could not be written (" + log.LogWriteProblem() + ")");
    return written;
}

bool ResetRun::makeChangesDurable() {
    if (!connection.IsOpen())
        return true; // each change went through a connection of its own, committed on its own
    return attempt([&] { connection.MakeDurable(); });
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
    if (!recovering)
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
        StreamFilesRoot = regText(registry.QueryValue(HKEY_LOCAL_MACHINE, kPradixKey,
                                                      kRootPathValue, REG_SZ, std::string()));
    });
    // Plain concatenation: the value is taken to end with a backslash.
    StreamFilesRoot += "Stream Files\\";
    attempt([&] {
        connection.Open(connectionText());
        command.ActiveConnection(connection);
        command.CommandType(db::adCmdStoredProc);
    });
    attempt([&] { querySet.CursorLocation(db::adUseClient); });
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

// Why the database cannot be changed through a new connection; empty when it can.
std::string unwritableDatabase(Host &host, const std::string &connectionText) {
    try {
        host.database->connect(connectionText)->proveRights(runRights());
        return {};
    } catch (const Error &e) {
        return e.description();
    } catch (const std::exception &e) {
        return e.what();
    }
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
    for (const MissingRight &missing : missingRights(host, connectionText(), StreamFilesRoot)) {
        line(dryRun ? foreseen(missing.errorLine) : missing.errorLine);
        if (!dryRun)
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
    if (const std::string problem = unwritableDatabase(host, connectionText); !problem.empty())
        missing.push_back(
            {"(error) the server database cannot be written (" + problem + ")",
             "the server database cannot be written (" + problem + ").  " + kNoDatabaseRights});
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
    } else if (stopped() && !listSyncOwed && !dryRun) {
        // A run stopped before its first change left every membership as it was.
        line("** No subscriber was changed: no synchronization of the distribution lists is "
             "needed **");
        settled = true;
    } else if (dryRun) {
        line("** (dry run) would start synchronization of all distribution lists **");
    } else {
        line("** Starting synchronization of all distribution lists - application will not wait "
             "for this to complete **");
        settled = attempt([&] {
            command.CommandText("sp_SqlDirectorySync");
            command.AppendParameter("@SyncDistributionList", db::adInteger, 1);
            command.Execute();
        });
        // The journal is told that the lists were put back only once that change is on disk:
        // a power loss after its record must not leave the reset subscribers out of them.
        settled = settled && makeChangesDurable();
    }
    if (settled && listSyncOwed)
        journalRecord(
            [](RecoveryJournal &j, std::string &problem) { return j.listSyncDone(problem); });
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

bool ResetRun::journalRecord(const std::function<bool(RecoveryJournal &, std::string &)> &record) {
    if (!journal)
        return true;
    // The log's lines up to the step are on disk with the journal's record of it.
    std::string problem;
    if (withLogSynced([&] { return record(*journal, problem); }))
        return true;
    line("(error) the recovery journal could not be written (" + problem + ")");
    stop("the recovery journal could not be written (" + problem + ")");
    return false;
}

bool ResetRun::openQuery(const std::string &sql, const std::vector<DbValue> &params,
                         db::LockTypeEnum lock) {
    return attempt([&] {
        if (connection.IsOpen())
            querySet.Open(sql, connection, db::adOpenKeyset, lock, params);
        else
            querySet.Open(sql, connectionText(), db::adOpenKeyset, lock, params);
    });
}

long ResetRun::queryRowCount() {
    // A closed set is a query that gave nothing: its failure, if any, is already reported.
    if (!querySet.IsOpen())
        return 0;
    return read<long>([&] { return querySet.RecordCount(); });
}

bool ResetRun::queryOnRow() {
    if (!querySet.IsOpen())
        return false;
    return read<bool>([&] { return !querySet.Eof(); });
}

bool ResetRun::queryMoveNext() {
    return attempt([&] { querySet.MoveNext(); });
}

void ResetRun::closeQuery() {
    if (!attempt([&] { querySet.Close(); })) {
        // A change that could not be saved must not keep the set from the next query.
        try {
            querySet.CancelUpdate();
            querySet.Close();
        } catch (const std::exception &) {
            // Nothing more can be done with it; the next Open reports its own failure.
        }
    }
}

} // namespace zeph
