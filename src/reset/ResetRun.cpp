#include "ResetRun.h"

#include "RecoveryJournal.h"
#include "app/registry/RegistryAPI.h"

namespace zeph {

ResetRun::ResetRun(Host &hostRef, db::modTarvoDB &tarvoDbRef, Logging &logRef,
                   ResetInputs inputsRef)
    : host(hostRef)
    , tarvoDb(tarvoDbRef)
    , log(logRef)
    , inputs(std::move(inputsRef))
    , command(*hostRef.database)
    , querySet(*hostRef.database)
    , m_report([this](const std::string &text) { line(text); }) {}

void ResetRun::prepare(RegistryAPI &registry) {
    attempt([&] {
        StreamFilesRoot = regText(registry.QueryValue(HKEY_LOCAL_MACHINE, kPradixKey,
                                                      kRootPathValue, REG_SZ, std::string()));
    });
    // Plain concatenation: the value is taken to end with a backslash.
    StreamFilesRoot += "Stream Files\\";
    attempt([&] {
        command.ActiveConnection(connectionText());
        command.CommandType(db::adCmdStoredProc);
    });
    attempt([&] { querySet.CursorLocation(db::adUseClient); });
}

bool ResetRun::writeEnd(bool skipListSync) {
    line("");
    bool settled = skipListSync;
    if (skipListSync) {
        line("** Skipping synchronization of all distribution lists by request **");
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
    }
    if (settled && listSyncOwed)
        journalRecord(
            [](RecoveryJournal &j, std::string &problem) { return j.listSyncDone(problem); });
    line("");
    line("** Subscriber mailbox reset process complete at " +
         generalDateTime(host.clock->toLocal(host.clock->now())));
    return settled;
}

void ResetRun::reached(const std::string &step) const {
    if (host.stepReached)
        host.stepReached(step);
}

bool ResetRun::journalRecord(const std::function<bool(RecoveryJournal &, std::string &)> &record) {
    if (!journal)
        return true;
    std::string problem;
    if (record(*journal, problem))
        return true;
    line("(error) the recovery journal could not be written (" + problem + ")");
    return false;
}

void ResetRun::openQuery(const std::string &sql, const std::vector<DbValue> &params,
                         db::LockTypeEnum lock) {
    attempt([&] { querySet.Open(sql, connectionText(), db::adOpenKeyset, lock, params); });
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
