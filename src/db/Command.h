#pragma once
// Commands in ADO's vocabulary: a stored procedure with arguments set by name, or a query text.
//
//     Command cmd(database);
//     cmd.ActiveConnection(DbConnectionString);
//     cmd.CommandType(adCmdStoredProc);
//     cmd.CommandText("sp_DeleteSubscriber");
//     cmd.AppendParameter("@SubscriberObjectID", adGUID, objectId);
//     cmd.AppendParameter("@DirectorySync", adInteger, 1);
//     cmd.Execute();
//
// Arguments the command does not name take the procedure's defaults; all are input arguments.

#include "Recordset.h"

#include <functional>
#include <string>
#include <vector>

namespace zeph::db {

enum CommandTypeEnum { adCmdText = 1, adCmdStoredProc = 4 };
enum DataTypeEnum { adInteger = 3, adGUID = 72, adVarChar = 200 };

class Command {
public:
    explicit Command(IDatabase &database);

    /// Makes the command's own connection from a connection text.
    void ActiveConnection(const std::string &connectionText);
    /// Runs the command on an open connection.
    void ActiveConnection(const Connection &connection);

    void CommandType(CommandTypeEnum type) { m_type = type; }
    CommandTypeEnum CommandType() const { return m_type; }
    /// The procedure name or the query text. A new text drops the arguments appended so far, so
    /// that one command can call several procedures in turn.
    void CommandText(std::string text);
    const std::string &CommandText() const { return m_text; }

    /// Appends an input argument. The value is converted to the type: adInteger takes a whole
    /// number (or its text), adVarChar text (numbers as decimal text), adGUID a GUID text with
    /// or without braces. NULL passes as NULL. A value that does not convert throws 3421.
    /// For a query text the arguments replace its "?" in the order appended; names are ignored.
    void AppendParameter(const std::string &name, DataTypeEnum type, const DbValue &value);
    void AppendParameter(const std::string &name, DataTypeEnum type, const std::string &value) {
        AppendParameter(name, type, DbValue(value));
    }
    void AppendParameter(const std::string &name, DataTypeEnum type, const char *value) {
        AppendParameter(name, type, DbValue(std::string(value)));
    }
    void AppendParameter(const std::string &name, DataTypeEnum type, std::int64_t value) {
        AppendParameter(name, type, DbValue(value));
    }
    void AppendParameter(const std::string &name, DataTypeEnum type, int value) {
        AppendParameter(name, type, DbValue(std::int64_t{value}));
    }
    void ClearParameters() { m_params.clear(); }

    /// Limits for a query text that an operator wrote: seconds it may run (0: none), rows read
    /// at most (0: all; Recordset::MoreThanMaxRecords() tells when there were more), the
    /// longest value and all data in bytes, and a check asked while it runs (false stops it).
    /// A stopped query throws an Error for which stoppedByLimits() is true.
    void CommandTimeout(int seconds) { m_limits.timeoutSeconds = seconds; }
    void MaxRecords(std::size_t rows) { m_limits.maxRows = rows; }
    void MaxValueBytes(std::size_t bytes) { m_limits.maxValueBytes = bytes; }
    void MaxTotalBytes(std::size_t bytes) { m_limits.maxTotalBytes = bytes; }
    void WhileRunning(std::function<bool()> keepGoing) {
        m_limits.keepGoing = std::move(keepGoing);
    }
    const std::vector<DbParam> &Parameters() const { return m_params; }

    /// Runs the command. Returns its rows as a read-only set, or a closed set when the procedure
    /// returns none. `recordsAffected` receives -1 (not known). A query text must not change data.
    Recordset Execute(long *recordsAffected = nullptr);

private:
    friend class Recordset;
    /// Runs the command for a record set: its rows (none for a procedure without a result) and
    /// the connection they came through.
    std::optional<DbRowSet> run(bool readOnly);
    const std::shared_ptr<IDbConnection> &connection() const;

    IDatabase *m_database;
    std::shared_ptr<IDbConnection> m_connection;
    CommandTypeEnum m_type = adCmdText;
    std::string m_text;
    std::vector<DbParam> m_params;
    DbQueryLimits m_limits;
};

} // namespace zeph::db
