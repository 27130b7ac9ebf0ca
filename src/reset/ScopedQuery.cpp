#include "ScopedQuery.h"

#include "ResetRun.h"

#include <cassert>

namespace zeph {

ScopedQuery::ScopedQuery(ResetRun &run, const std::string &sql, const std::vector<DbValue> &params,
                         db::LockTypeEnum lock)
    : m_run(run) {
    assert(!run.m_queryInScope && "the run's query set is already in a scope");
    run.m_queryInScope = true;
    m_opened = run.attempt([&] {
        if (run.connection().IsOpen())
            run.m_querySet.Open(sql, run.connection(), db::adOpenKeyset, lock, params);
        else
            run.m_querySet.Open(sql, run.connectionText(), db::adOpenKeyset, lock, params);
    });
}

ScopedQuery::ScopedQuery(ResetRun &run, db::Command &command, db::LockTypeEnum lock)
    : m_run(run) {
    assert(!run.m_queryInScope && "the run's query set is already in a scope");
    run.m_queryInScope = true;
    m_opened = run.attempt([&] { run.m_querySet.Open(command, db::adOpenKeyset, lock); });
}

ScopedQuery::~ScopedQuery() {
    db::Recordset &set = m_run.m_querySet;
    if (!m_run.attempt([&] { set.Close(); })) {
        // A change that could not be saved must not keep the set from the next query.
        try {
            set.CancelUpdate();
            set.Close();
        } catch (const std::exception &) {
            // Nothing more can be done with it; the next Open reports its own failure.
        }
    }
    m_run.m_queryInScope = false;
}

long ScopedQuery::rowCount() {
    // A closed set is a query that gave nothing: its failure, if any, is already reported.
    if (!m_run.m_querySet.IsOpen())
        return 0;
    return m_run.read<long>([&] { return m_run.m_querySet.RecordCount(); });
}

bool ScopedQuery::onRow() {
    if (!m_run.m_querySet.IsOpen())
        return false;
    return m_run.read<bool>([&] { return !m_run.m_querySet.Eof(); });
}

bool ScopedQuery::moveNext() {
    return m_run.attempt([&] { m_run.m_querySet.MoveNext(); });
}

db::Recordset &ScopedQuery::rows() {
    return m_run.m_querySet;
}

} // namespace zeph
