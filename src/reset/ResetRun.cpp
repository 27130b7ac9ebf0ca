#include "ResetRun.h"

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
