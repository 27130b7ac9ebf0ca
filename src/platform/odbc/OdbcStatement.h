#pragma once
// One ODBC statement: values bound as parameters ("?" in the text, never pasted into it), run
// once, its rows read forward into a record set.

#include "OdbcCall.h"
#include "platform/Database.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace zeph::odbc {

/// How long one statement may run before the driver gives up (ADO's command time limit).
inline constexpr SQLULEN kQueryTimeoutSeconds = 30;

class Statement {
public:
    /// timeoutSeconds: how long the driver lets it run (0: no limit).
    explicit Statement(SQLHDBC connection, SQLULEN timeoutSeconds = kQueryTimeoutSeconds);

    /// Binds values by position (1-based). The buffers live as long as the statement.
    void bind(const std::vector<DbValue> &values);
    /// Binds procedure arguments by position, each as its declared type.
    void bind(const std::vector<DbParam> &args);

    /// Runs the text once. A statement that changed no rows is no failure.
    void execute(const std::string &sql);
    /// The columns of the current result (0: it has no rows to read).
    SQLSMALLINT columnCount();
    /// The names of the current result's columns.
    std::vector<std::string> columnNames();
    /// Reads the current result to its end; its first `hidden` columns are marked hidden. Within
    /// limits, the reading stops after limits.maxRows rows (DbRowSet::cut) and a value or all
    /// data beyond the byte limits stops it with an error.
    DbRowSet fetchAll(std::size_t hidden, const DbQueryLimits &limits = {});
    /// Reads the current result one row at a time, telling `row` each row's values, until its
    /// end (true) or until `row` says false (false: the rest is never read).
    bool fetchEach(const std::function<bool(const std::vector<DbValue> &)> &row);
    /// The rows the statement changed, as the driver tells it (-1 when it does not).
    SQLLEN rowCount();
    /// Goes on to the next result; false when there is none. Errors the server raised after
    /// the first result are thrown here.
    bool nextResult();
    /// Every remaining result read and dropped, so that an error among them is not lost.
    void drain();
    /// The one table every column of the current result comes from, as the driver tells it;
    /// empty when it does not tell or the columns come from more than one.
    std::string baseTable();

    SQLHSTMT get() const { return m_stmt.get(); }
    /// Asks the driver to stop the statement's running call, from another thread. Some drivers
    /// drop the statement's cursor when they cancel, so this never meets the reading's own
    /// closing of the cursor (which would free it twice).
    void cancel();

private:
    struct ColumnInfo {
        std::string name;
        SQLSMALLINT type = 0;
    };
    std::vector<ColumnInfo> describe();
    void bindOne(SQLUSMALLINT position, const DbValue &value, SQLSMALLINT sqlType);
    DbValue readValue(SQLUSMALLINT column, SQLSMALLINT sqlType, ReadBudget &budget);
    std::string readText(SQLUSMALLINT column, bool &isNull, ReadBudget &budget);

    Handle m_stmt;
    std::mutex m_closing;
    // Parameter buffers: reserved before binding, so they never move while bound.
    std::vector<std::basic_string<SQLWCHAR>> m_texts;
    std::vector<std::int64_t> m_integers;
    std::vector<double> m_doubles;
    std::vector<SQLLEN> m_lengths;
};

} // namespace zeph::odbc
