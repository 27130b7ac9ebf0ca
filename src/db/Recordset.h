#pragma once
// Record sets in ADO's vocabulary, over the host's database (platform/Database.h).
//
// A record set holds all its rows in memory once open, whatever its cursor place: a client-side
// one is the classic in-memory set, a server-side one behaves the same for its users (they only
// walk and search it). Fields are found by name without regard to letter case. Values reach the
// server only as bound parameters: the SQL text carries "?" where a value goes.
//
//     Recordset rs(database);
//     rs.CursorLocation(adUseClient);
//     rs.Open("SELECT * FROM vw_Subscriber WHERE Alias=?", DbConnectionString, adOpenKeyset,
//             adLockOptimistic, {alias});
//     while (!rs.Eof()) { ... rs["StreamPath"] = Null; rs.Update(); rs.MoveNext(); }
//
// Errors are zeph::Error with ADO's numbers (see AdoErrors.h) or the backend's.

#include "DbValues.h"
#include "platform/Database.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::db {

enum CursorLocationEnum { adUseServer = 2, adUseClient = 3 };
enum CursorTypeEnum { adOpenForwardOnly = 0, adOpenKeyset = 1 };
enum LockTypeEnum { adLockReadOnly = 1, adLockOptimistic = 3 };
enum ObjectStateEnum { adStateClosed = 0, adStateOpen = 1 };
enum EditModeEnum { adEditNone = 0, adEditInProgress = 1, adEditAdd = 2 };

class Command;
class FieldIndex;
class Recordset;

/// An open connection to the database, shareable by record sets and commands.
class Connection {
public:
    explicit Connection(IDatabase &database)
        : m_database(&database) {}
    /// Connects with a connection text ("Driver={SQL Server};server=;database=TarvoDb").
    void Open(const std::string &connectionText);
    void Close() { m_handle.reset(); }
    bool IsOpen() const { return m_handle != nullptr; }
    /// One transaction for the changes that follow, through this connection and the record
    /// sets and commands opened on it. Each throws (3704) while closed.
    void BeginTrans() { handle()->beginTransaction(); }
    void CommitTrans() { handle()->commitTransaction(); }
    void RollbackTrans() { handle()->rollbackTransaction(); }
    /// Changes the rows that hold given values with one statement; the rows changed (see
    /// IDbConnection::updateWhere).
    std::int64_t UpdateWhere(const DbRowsChange &change) { return handle()->updateWhere(change); }
    /// Makes every change committed so far lasting on disk (see IDbConnection::makeDurable).
    void MakeDurable() { handle()->makeDurable(); }
    /// The database's place is made sure of before the first request after CheckPlaceNext()
    /// only, not before each (see IDbConnection::checkPlaceWhenAsked).
    void CheckPlaceWhenAsked() { handle()->checkPlaceWhenAsked(); }
    void CheckPlaceNext() { handle()->checkPlaceNext(); }
    /// The backend connection; throws (3704) while closed.
    const std::shared_ptr<IDbConnection> &handle() const;

private:
    IDatabase *m_database;
    std::shared_ptr<IDbConnection> m_handle;
};

/// One field of a record set's current row. A light handle: valid while its record set lives
/// and stays open (after a Close it refuses to work).
class Field {
public:
    Field(const Field &) = default;
    const std::string &Name() const;
    /// The value at the current row (the pending one while the row is being edited).
    /// Throws 3021 when there is no current row.
    const DbValue &Value() const;
    bool IsNull() const { return isNull(Value()); }
    /// The value as text (numbers in plain decimal); NULL throws (94, "Invalid use of Null").
    std::string Text() const { return valueText(Value()); }
    /// The value as a number; NULL throws 94, text that is no number throws 13.
    std::int64_t Long() const { return valueLong(Value()); }
    double Double() const { return valueDouble(Value()); }

    /// Sets the value of the current row; Update saves it. Throws 3251 on a read-only set.
    Field &operator=(const DbValue &value);
    Field &operator=(const std::string &text) { return *this = DbValue(text); }
    Field &operator=(const char *text) { return *this = DbValue(std::string(text)); }
    Field &operator=(std::int64_t n) { return *this = DbValue(n); }
    Field &operator=(int n) { return *this = DbValue(std::int64_t{n}); }
    /// Copies the other field's value (as `rs["A"] = other["B"]`), not the handle.
    // A field copied onto itself keeps its value.
    // NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
    Field &operator=(const Field &other) { return *this = other.Value(); }

    /// The field's "Optimize" property: true builds a hash index on it, so that a Find on this
    /// field is a look-up instead of a scan; false drops the index.
    void Optimize(bool on);
    bool Optimize() const;

private:
    friend class Recordset;
    Field(Recordset *rs, std::size_t column)
        : m_rs(rs)
        , m_column(column) {}
    Recordset *m_rs;
    std::size_t m_column;
};

class Recordset {
public:
    /// A record set whose Open(sql, connectionText, ...) connects to `database`.
    explicit Recordset(IDatabase &database);
    /// A record set that can be opened only on a Connection or a Command.
    Recordset();
    ~Recordset();
    Recordset(Recordset &&) noexcept;
    Recordset &operator=(Recordset &&) noexcept;
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;

    /// Cursor place; set before Open (default adUseServer).
    void CursorLocation(CursorLocationEnum location);
    CursorLocationEnum CursorLocation() const { return m_location; }

    /// Runs a query on a new connection made from the connection text. With adLockOptimistic the
    /// rows can be changed and added when the query reads a single table or view; otherwise the
    /// set is read-only and the server refuses any statement that would change data.
    /// `params` replace the "?" of the text, in order. Throws 3705 when already open.
    void Open(const std::string &sql, const std::string &connectionText,
              CursorTypeEnum cursorType = adOpenForwardOnly, LockTypeEnum lockType = adLockReadOnly,
              const std::vector<DbValue> &params = {});
    /// The same on an open connection.
    void Open(const std::string &sql, const Connection &connection,
              CursorTypeEnum cursorType = adOpenForwardOnly, LockTypeEnum lockType = adLockReadOnly,
              const std::vector<DbValue> &params = {});
    /// Runs a command (a stored procedure or a text) and holds its rows; with adLockOptimistic
    /// they can be saved back when the command's result names where they come from.
    void Open(Command &command, CursorTypeEnum cursorType = adOpenForwardOnly,
              LockTypeEnum lockType = adLockReadOnly);

    /// Releases the rows and the connection. Closing a closed set does nothing. Throws 3219
    /// (and stays open) while a changed row waits for Update.
    void Close();
    ObjectStateEnum State() const { return m_open ? adStateOpen : adStateClosed; }
    bool IsOpen() const { return m_open; }

    /// Moving away from a row with pending changes saves them first (as Update).
    void MoveFirst();
    /// Throws 3021 when already at the end.
    void MoveNext();
    /// True past the last row, and for a closed set (it has no rows).
    bool Eof() const;
    /// True for a set without rows (this layer never moves before the first row).
    bool Bof() const;
    /// The number of rows (also for a forward-only or server-side set).
    long RecordCount() const;
    /// The current row's position, 0-based; RecordCount() at the end.
    std::size_t AbsolutePosition() const { return m_position; }
    /// True when the command's MaxRecords stopped the reading: the query had more rows.
    bool MoreThanMaxRecords() const { return m_cut; }

    /// Field by name (letter case ignored); a missing name throws 3265.
    Field Fields(std::string_view name);
    Field operator[](std::string_view name) { return Fields(name); }
    Field operator[](std::size_t index) { return Fields(index); }
    /// Field by position, 0-based; out of range throws 3265.
    Field Fields(std::size_t index);
    std::size_t FieldCount() const;
    bool HasField(std::string_view name) const;

    /// Searches forward from the current row (inclusive) for the first row matching a criterion
    /// "Column='value'" (or "Column=number"); the value is everything between the first quote
    /// and the last, taken as it stands. Text compares without letter case. No match leaves the
    /// set at its end. Throws 3001 for a criterion of another form, 3265 for an unknown column.
    void Find(std::string_view criterion);
    /// The same with the column and value given apart.
    void Find(std::string_view column, const DbValue &value);

    /// Starts a new row; assign its fields, then Update inserts it. Throws 3251 on a read-only set.
    void AddNew();
    /// Saves the current row's pending changes (or inserts the new row). When the save fails the
    /// changes are dropped (the row keeps what the server has) and the error is thrown.
    void Update();
    /// The same through another open connection, so that the change joins what is done there
    /// (its transaction); the set keeps the saved values as Update does.
    void Update(Connection &through);
    /// Drops the current row's pending changes.
    void CancelUpdate();
    EditModeEnum EditMode() const { return m_edit; }
    /// True when rows can be changed and added.
    bool Updatable() const;

private:
    friend class Field;
    friend class Command;

    void openRows(std::shared_ptr<IDbConnection> connection, DbRowSet rows, CursorTypeEnum cursor,
                  LockTypeEnum lock);
    void requireOpen() const;
    void requireCurrent() const;
    void requireUpdatable() const;
    void leaveRow();
    std::size_t column(std::string_view name) const;
    void requireColumn(std::size_t column) const;
    std::optional<std::size_t> findColumn(std::string_view name) const;
    const DbValue &value(std::size_t column) const;
    void assign(std::size_t column, DbValue value);
    void setOptimize(std::size_t column, bool on);
    bool optimized(std::size_t column) const;
    void findKey(std::size_t column, std::string_view key);
    /// The names and pending values of the columns changed in the edit buffer.
    void changedColumns(std::vector<std::string> &names, std::vector<DbValue> &values) const;
    void save(IDbConnection &connection);
    void commitChanges(IDbConnection &connection);
    void commitNewRow(IDbConnection &connection);
    void storeRow(std::size_t row, std::vector<DbValue> values);
    void storeValue(std::size_t row, std::size_t col, DbValue value);
    void reset();

    IDatabase *m_database = nullptr;
    CursorLocationEnum m_location = adUseServer;
    CursorTypeEnum m_cursorType = adOpenForwardOnly;
    LockTypeEnum m_lockType = adLockReadOnly;
    bool m_open = false;
    bool m_cut = false;

    std::shared_ptr<IDbConnection> m_connection;
    std::vector<DbColumn> m_columns;   // every column the backend returned
    std::vector<std::size_t> m_fields; // the visible ones, in order
    std::vector<std::vector<DbValue>> m_rows;
    std::size_t m_position = 0; // == m_rows.size() at the end
    std::string m_target;       // where rows are saved; "" when read-only
    std::vector<std::size_t> m_keyColumns;

    EditModeEnum m_edit = adEditNone;
    std::vector<DbValue> m_buffer; // the row being edited or added
    std::vector<bool> m_changed;

    std::vector<std::unique_ptr<FieldIndex>> m_indexes; // per column; null when none
    std::vector<bool> m_explicitIndex;                  // set through Optimize
    std::vector<unsigned> m_scans;                      // scanning searches per column
};

} // namespace zeph::db
