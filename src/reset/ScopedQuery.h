#pragma once
// One query of a reset run, opened into the run's one query set for as long as the scope lasts.
// The run has a single set: a query left open would make the next one fail ("object open"), so
// the set is opened by the constructor and closed by the destructor, whichever way the step
// leaves (its end, an early return, an exception).

#include "db/Command.h"
#include "db/Recordset.h"
#include "platform/Database.h"

#include <string>
#include <vector>

namespace zeph {

class ResetRun;

class ScopedQuery {
public:
    /// Opens `sql` on the run's connection; the values replace the "?" of the text in order. A
    /// failure is reported by the run's rule and leaves the scope without rows.
    ScopedQuery(ResetRun &run, const std::string &sql, const std::vector<DbValue> &params,
                db::LockTypeEnum lock);
    /// Opens the rows that the command (a stored procedure on the run's connection) gives.
    ScopedQuery(ResetRun &run, db::Command &command, db::LockTypeEnum lock);
    /// Closes the set; a failure is reported, and a pending change is dropped so that the set
    /// can be used again.
    ~ScopedQuery();
    ScopedQuery(const ScopedQuery &) = delete;
    ScopedQuery &operator=(const ScopedQuery &) = delete;

    /// False when the query failed (its failure is reported).
    bool opened() const { return m_opened; }
    /// The row count; 0 when the query failed or gave no rows.
    long rowCount();
    /// True while the set stands on a row. A set that can no longer be read has none.
    bool onRow();
    /// Moves to the next row; false when the set cannot be advanced.
    bool moveNext();
    /// Calls `each` with the set on each of its rows in turn, until none is left or the set
    /// cannot be advanced.
    template <class Each> void forEachRow(Each &&each) {
        for (bool more = onRow(); more; more = moveNext() && onRow())
            each(rows());
    }
    /// The set, standing on its current row.
    db::Recordset &rows();

private:
    ResetRun &m_run;
    bool m_opened = false;
};

} // namespace zeph
