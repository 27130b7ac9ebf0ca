#pragma once
// The database as the host offers it. The core's record sets (src/db) sit on this; a backend
// (SQLite for the stand-in host, ODBC for a real server) implements it.
//
// Values never go into SQL text: every value is a bound parameter, written "?" in the text.

#include "QueryLimits.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace zeph {

/// A column value; std::monostate is NULL.
using DbValue = std::variant<std::monostate, std::int64_t, double, std::string>;

enum class DbParamType { Guid, Text, Integer };

/// A stored-procedure argument, addressed by its name with the leading "@".
struct DbParam {
    std::string name;
    DbParamType type = DbParamType::Text;
    DbValue value;
};

struct DbColumn {
    std::string name;
    /// A key column the backend fetched only so that rows can be saved back; not a field.
    bool hidden = false;
};

/// The rows of a query, fetched whole. When the rows can be saved back, updateTarget names the
/// table or view they are saved through and keyColumns the columns (of `columns`, compared
/// without letter case) that identify a row there. An empty updateTarget: the rows are read-only.
struct DbRowSet {
    std::vector<DbColumn> columns;
    std::vector<std::vector<DbValue>> rows;
    std::string updateTarget;
    std::vector<std::string> keyColumns;
    /// The statement had rows beyond DbQueryLimits::maxRows; they were not read.
    bool cut = false;
};

/// A change of the rows of a table that hold given values, made by one statement: the rows
/// whose `whereColumns` hold `whereValues` take `values` in `columns`. (A view's rows, changed
/// by its triggers, are not counted alike by every server.)
struct DbRowsChange {
    std::string target;
    std::vector<std::string> whereColumns;
    std::vector<DbValue> whereValues;
    std::vector<std::string> columns;
    std::vector<DbValue> values;
    /// Above 0: the rows are changed only when no more than this many hold the values; when
    /// more do, none is changed.
    std::int64_t atMost = 0;
};

/// A right a run needs on one object of the server: "EXECUTE" on a procedure, "UPDATE" or
/// "INSERT" on a table or view.
struct DbRight {
    std::string object;
    std::string permission;
};

class IDbConnection {
public:
    virtual ~IDbConnection() = default;
    /// Runs a query with positional parameters. With readOnly, a statement that would change
    /// anything is refused. Throws Error (number and description) on failure.
    virtual DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                           bool readOnly) = 0;
    /// Runs a read-only query and tells `row` each row's values as they are read, keeping
    /// none, so that a listing of any length needs the memory of one row; `row` returns false
    /// to stop the reading. A backend that cannot read one row at a time reads the rows whole
    /// first (the default). Throws Error on failure.
    virtual void readRows(const std::string &sql, const std::vector<DbValue> &params,
                          const std::function<bool(const std::vector<DbValue> &)> &row) {
        const DbRowSet rows = query(sql, params, true);
        for (const auto &values : rows.rows) {
            if (!row(values))
                return;
        }
    }
    /// Runs a read-only query within limits (see DbQueryLimits). Throws Error on failure.
    virtual DbRowSet queryWithin(const std::string &sql, const std::vector<DbValue> &params,
                                 const DbQueryLimits &limits) = 0;
    /// Saves changed columns of one row, found by its key values as they were read.
    /// Throws Error on failure, also when no row has that key.
    virtual void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                           const std::vector<DbValue> &keyValues,
                           const std::vector<std::string> &columns,
                           const std::vector<DbValue> &values) = 0;
    /// Makes `change` with one statement and returns how many rows it changed; finding no row
    /// (or more than change.atMost) is no failure. Throws Error on failure, and then no row is
    /// changed.
    virtual std::int64_t updateWhere(const DbRowsChange &change) = 0;
    /// Adds one row. Returns the stored row read back for `readBack` (columns of the target),
    /// or nothing when the backend cannot find the new row again. Throws Error on failure.
    virtual std::optional<std::vector<DbValue>>
    insertRow(const std::string &target, const std::vector<std::string> &columns,
              const std::vector<DbValue> &values, const std::vector<std::string> &readBack) = 0;
    /// Calls a stored procedure with arguments by name; arguments not given take the
    /// procedure's defaults. Returns the procedure's result rows, if it returns any.
    virtual std::optional<DbRowSet> callProcedure(const std::string &name,
                                                  const std::vector<DbParam> &args) = 0;
    /// Groups the changes that follow into one transaction, so that a step of many rows costs
    /// one commit. A backend that does not group them keeps each change its own (the default).
    /// Throws Error on failure.
    virtual void beginTransaction() {}
    /// Makes the grouped changes lasting. Throws Error when they could not be, also when the
    /// server had already taken them back (a failure that ends the transaction).
    virtual void commitTransaction() {}
    /// Takes back the grouped changes; nothing when no transaction is open.
    virtual void rollbackTransaction() {}
    /// Makes every change committed so far, through any connection of this program, lasting:
    /// a power loss after this returns loses none. A backend whose every commit is lasting
    /// does nothing (the default). Throws Error when they could not be made so.
    virtual void makeDurable() {}
    /// Where the backend makes sure before a request that the database is still the one it
    /// opened (a file not moved, removed or replaced since), it does so from now on only before
    /// the first request after checkPlaceNext(): a run asks once a subscriber, not once a
    /// request. A backend that needs no such check ignores both (the default).
    virtual void checkPlaceWhenAsked() {}
    virtual void checkPlaceNext() {}
    /// Proves that this connection may change the database: makes a change and takes it back,
    /// so that nothing is left of it. Throws Error (why not) when it may not.
    virtual void proveWritable() = 0;
    /// Proves that this connection has each of `rights`, changing nothing. Throws Error (which
    /// right is missing) when it has not. A backend whose rights are those of a file proves
    /// that it may write it (the default).
    virtual void proveRights(const std::vector<DbRight> &rights) {
        static_cast<void>(rights);
        proveWritable();
    }
};

/// The server's run lock, held for as long as this object lives. It also ends with whatever
/// holds it on the server's side (the process, the connection's session), so a run that is
/// killed never blocks the next one for good.
class IRunLock {
public:
    virtual ~IRunLock() = default;
};

class IDatabase {
public:
    virtual ~IDatabase() = default;
    /// Opens a connection described by a connection text. Throws Error on failure.
    virtual std::unique_ptr<IDbConnection> connect(const std::string &connectionText) = 0;
    /// Takes the server's run lock: one run that changes the server at a time. `holder` names
    /// the run that asks (user, computer, program, since when); the backend may add what it
    /// knows of the holder (its process). When another run holds the lock: nothing, with that
    /// run's holder text in `heldBy` (empty when it has not named itself yet). Never waits.
    /// Throws Error when the lock cannot be asked for. On SQL Server this is an application
    /// lock owned by the connection's session (sp_getapplock), held by a connection of its own.
    virtual std::unique_ptr<IRunLock> takeRunLock(const std::string &connectionText,
                                                  const std::string &holder,
                                                  std::string &heldBy) = 0;
    /// The name of the server and database the connection text reaches, the same for every
    /// run and program, so that a run's recovery journal is never applied to another server:
    /// on SQL Server its server and database name ("SRV1/TarvoDb"); on the stand-in the server
    /// id kept in its database. Throws Error when it cannot be read.
    virtual std::string serverName(const std::string &connectionText) = 0;
};

} // namespace zeph
