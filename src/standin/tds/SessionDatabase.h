#pragma once
// The stand-in database as one TDS session sees it: its own handle on the database file, the
// session's transaction, queries and changes, the server's stored procedures, the system
// procedures a client library calls (the catalogue's, and sp_getapplock and sp_releaseapplock
// on the stand-in's run lock), and the server's numbers for failures.

#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/sqltext/Tsql.h"
#include "standin/server/StandInServer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zeph::tds {

/// What a statement gave: rows (when it reads) and the number of rows it read or changed.
struct StatementResult {
    std::optional<DbRowSet> rows;
    std::int64_t count = 0;
    int returnStatus = 0;
    /// The columns of `rows` that hold byte strings.
    std::vector<bool> binaryColumns;
};

/// A failure as SQL Server numbers it, with the message the client shows.
struct ServerFailure {
    int number = 0;
    std::string text;
};

/// SQL Server's error number for a failure the stand-in numbered as its client would see it,
/// so that a client library gives the same kind of failure back.
int serverErrorNumber(long clientNumber);
/// The same for a failure as thrown: a write the database file refused for a reason of its own
/// gets the number SQL Server gives such a refusal (a lock not granted in time, a read-only
/// database, a failed write of a database file), which its clients take as such.
int serverErrorNumber(const Error &error);

class SessionDatabase {
public:
    /// Opens the database file. Throws Error when it cannot be opened.
    SessionDatabase(std::string path, sqlite::ServerContext context, std::string lockHolder);
    ~SessionDatabase();
    SessionDatabase(const SessionDatabase &) = delete;
    SessionDatabase &operator=(const SessionDatabase &) = delete;

    /// Told the rows of a result that is too long to hold whole, in parts as they are read:
    /// `first` with the first part, whose columns are the result's. `binary` tells the columns
    /// that have held a byte string so far. It may throw to stop the statement.
    using RowParts =
        std::function<void(const DbRowSet &part, const std::vector<bool> &binary, bool first)>;

    /// Runs one statement in the shared dialect with positional values; `binary` tells the
    /// values that are byte strings. Throws Error, or TsqlError for a failure SQL Server numbers
    /// (a missing table, a duplicate key ...). With `parts`, a result longer than a bound is
    /// given to it in parts as it is read (the result's `rows` are then empty, its count says
    /// how many there were); a shorter one comes whole as without.
    StatementResult query(const std::string &sql, const std::vector<DbValue> &values,
                          const std::vector<bool> &binary = {}, const RowParts &parts = {});
    /// The database's column types, for translating T-SQL queries. Throws Error.
    const sqltext::TsqlCatalogue &catalogue();
    /// Calls a procedure with arguments by name (system procedures first). Throws Error.
    StatementResult call(const std::string &name, const std::vector<DbParam> &args);
    /// Calls a procedure whose arguments came by position, in the order it declares them;
    /// nothing when the server has no procedure of that name. Throws Error.
    std::optional<StatementResult> callByPosition(const std::string &name,
                                                  const std::vector<DbValue> &values);

    /// The server's name (@@SERVERNAME): the stand-in server's id, which every program that
    /// reaches this server, in process or over TDS, learns from its database. Throws Error.
    std::string serverName();

    /// `stopWanted` is asked every so many steps of a running statement; when it says yes the
    /// statement stops at once with an error (its transaction's earlier work stays as it was).
    void watch(std::function<bool()> stopWanted);

    bool inTransaction() const { return m_inTransaction; }
    /// Begins a transaction. Throws Error.
    void begin();
    /// Commits or rolls back the open transaction. Throws Error.
    void end(bool commit);

private:
    StatementResult appLock(const DbValue &resource, const DbValue &mode, const DbValue &owner);
    StatementResult appUnlock();
    /// Begins the database's transaction of an open one for a statement that reads only
    /// (`reading`) or writes; a first write after reads takes the write lock.
    void beginPending(bool reading);
    /// Makes the session's commits so far lasting on disk. Throws Error.
    void flushLog();

    std::string m_path;
    sqlite::ServerContext m_context;
    std::string m_lockHolder;
    struct Handle;
    std::unique_ptr<Handle> m_handle;
    std::unique_ptr<IRunLock> m_runLock;
    int m_runLockCount = 0;
    bool m_inTransaction = false;
    std::string m_serverName;
    std::function<bool()> m_stopWanted;
    std::optional<sqltext::TsqlCatalogue> m_catalogue;
    bool m_begun = false;     // the database's transaction of the open one has begun
    bool m_writing = false;   // ... and holds the write lock
    bool m_unflushed = false; // a commit of this session's is not yet synced
};

} // namespace zeph::tds
