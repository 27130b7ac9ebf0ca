#include "Recordset.h"

#include "AdoErrors.h"
#include "Command.h"
#include "FieldIndex.h"

#include <algorithm>
#include <cassert>

namespace zeph::db {
namespace {

// A column searched this often without an index gets one: the answers stay the same, the
// searches stop scanning. Small sets are scanned for ever.
constexpr unsigned kAutoIndexScans = 8;
constexpr std::size_t kAutoIndexRows = 1000;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

struct Criterion {
    std::string_view column;
    std::string_view key;
    bool matchesNothing = false; // "Column=NULL"
    std::string number;          // the key of a number criterion
};

// "Column='value'", "[Column] = 'value'", "Column=42". The quoted value is taken as it stands
// between its first and its last quote, so a value holding a quote is still found.
Criterion parseCriterion(std::string_view text) {
    auto eq = text.find('=');
    if (eq == std::string_view::npos)
        throwAdo(adoerr::kInvalidArgument);
    Criterion c;
    c.column = trim(text.substr(0, eq));
    std::string_view value = trim(text.substr(eq + 1));
    if (c.column.empty() || value.empty())
        throwAdo(adoerr::kInvalidArgument);
    char last = c.column.back();
    if (last == '<' || last == '>' || last == '!')
        throwAdo(adoerr::kInvalidArgument); // only equality is offered
    if (c.column.size() >= 2 && c.column.front() == '[' && c.column.back() == ']')
        c.column = c.column.substr(1, c.column.size() - 2);

    char quote = value.front();
    if (quote == '\'' || quote == '#') {
        if (value.size() < 2 || value.back() != quote)
            throwAdo(adoerr::kInvalidArgument);
        c.key = value.substr(1, value.size() - 2);
        return c;
    }
    if (equalsIgnoreCase(value, "NULL")) {
        c.matchesNothing = true;
        return c;
    }
    try {
        c.number = searchKey(DbValue(valueDouble(DbValue(std::string(value)))));
    } catch (const Error &) {
        throwAdo(adoerr::kInvalidArgument);
    }
    return c;
}

} // namespace

// --- Connection --------------------------------------------------------------------------------

void Connection::Open(const std::string &connectionText) {
    if (m_handle)
        throwAdo(adoerr::kObjectOpen);
    m_handle = m_database->connect(connectionText);
}

const std::shared_ptr<IDbConnection> &Connection::handle() const {
    if (!m_handle)
        throwAdo(adoerr::kObjectClosed);
    return m_handle;
}

// --- Field -------------------------------------------------------------------------------------

const std::string &Field::Name() const {
    m_rs->requireColumn(m_column);
    return m_rs->m_columns[m_column].name;
}
const DbValue &Field::Value() const {
    return m_rs->value(m_column);
}
Field &Field::operator=(const DbValue &value) {
    m_rs->assign(m_column, value);
    return *this;
}
void Field::Optimize(bool on) {
    m_rs->setOptimize(m_column, on);
}
bool Field::Optimize() const {
    return m_rs->optimized(m_column);
}

// --- Recordset: life -----------------------------------------------------------------------------

Recordset::Recordset(IDatabase &database)
    : m_database(&database) {}
Recordset::Recordset() = default;
Recordset::~Recordset() = default;
Recordset::Recordset(Recordset &&) noexcept = default;
Recordset &Recordset::operator=(Recordset &&) noexcept = default;

void Recordset::CursorLocation(CursorLocationEnum location) {
    if (m_open)
        throwAdo(adoerr::kObjectOpen);
    m_location = location;
}

void Recordset::Open(const std::string &sql, const std::string &connectionText,
                     CursorTypeEnum cursorType, LockTypeEnum lockType,
                     const std::vector<DbValue> &params) {
    if (m_open)
        throwAdo(adoerr::kObjectOpen);
    if (!m_database)
        throwAdo(adoerr::kIllegalOperation);
    std::shared_ptr<IDbConnection> connection = m_database->connect(connectionText);
    DbRowSet rows = connection->query(sql, params, lockType == adLockReadOnly);
    openRows(std::move(connection), std::move(rows), cursorType, lockType);
}

void Recordset::Open(const std::string &sql, const Connection &connection,
                     CursorTypeEnum cursorType, LockTypeEnum lockType,
                     const std::vector<DbValue> &params) {
    if (m_open)
        throwAdo(adoerr::kObjectOpen);
    std::shared_ptr<IDbConnection> handle = connection.handle();
    DbRowSet rows = handle->query(sql, params, lockType == adLockReadOnly);
    openRows(std::move(handle), std::move(rows), cursorType, lockType);
}

void Recordset::Open(Command &command, CursorTypeEnum cursorType, LockTypeEnum lockType) {
    if (m_open)
        throwAdo(adoerr::kObjectOpen);
    std::optional<DbRowSet> rows = command.run(lockType == adLockReadOnly);
    if (!rows)
        return; // the procedure returned no rows: the set stays closed
    openRows(command.connection(), std::move(*rows), cursorType, lockType);
}

void Recordset::openRows(std::shared_ptr<IDbConnection> connection, DbRowSet rows,
                         CursorTypeEnum cursor, LockTypeEnum lock) {
    reset();
    m_connection = std::move(connection);
    m_columns = std::move(rows.columns);
    m_rows = std::move(rows.rows);
    m_cut = rows.cut;
    for (auto &row : m_rows)
        row.resize(m_columns.size()); // a short row from a backend reads as NULLs
    for (std::size_t c = 0; c < m_columns.size(); ++c) {
        if (!m_columns[c].hidden)
            m_fields.push_back(c);
    }
    m_cursorType = cursor;
    m_lockType = lock;
    if (lock != adLockReadOnly && !rows.updateTarget.empty() && !rows.keyColumns.empty()) {
        // Every key column must be among the columns, or rows could not be found again.
        std::vector<std::size_t> keys;
        for (const auto &name : rows.keyColumns) {
            auto it = std::find_if(m_columns.begin(), m_columns.end(), [&](const DbColumn &c) {
                return equalsIgnoreCase(c.name, name);
            });
            if (it == m_columns.end()) {
                keys.clear();
                break;
            }
            keys.push_back(static_cast<std::size_t>(it - m_columns.begin()));
        }
        if (!keys.empty()) {
            m_target = std::move(rows.updateTarget);
            m_keyColumns = std::move(keys);
        }
    }
    m_indexes.resize(m_columns.size());
    m_explicitIndex.assign(m_columns.size(), false);
    m_scans.assign(m_columns.size(), 0);
    m_position = 0;
    m_open = true;
}

void Recordset::reset() {
    m_open = false;
    m_cut = false;
    m_connection.reset();
    m_columns.clear();
    m_fields.clear();
    m_rows.clear();
    m_position = 0;
    m_target.clear();
    m_keyColumns.clear();
    m_edit = adEditNone;
    m_buffer.clear();
    m_changed.clear();
    m_indexes.clear();
    m_explicitIndex.clear();
    m_scans.clear();
}

void Recordset::Close() {
    if (!m_open)
        return;
    if (m_edit != adEditNone)
        throwAdo(adoerr::kIllegalOperation);
    reset();
}

// --- Recordset: position -------------------------------------------------------------------------

void Recordset::requireOpen() const {
    if (!m_open)
        throwAdo(adoerr::kObjectClosed);
}

void Recordset::requireCurrent() const {
    requireOpen();
    if (m_edit != adEditAdd && m_position >= m_rows.size())
        throwAdo(adoerr::kNoCurrentRecord);
}

void Recordset::leaveRow() {
    if (m_edit != adEditNone)
        Update();
}

void Recordset::MoveFirst() {
    requireOpen();
    leaveRow();
    m_position = 0;
    // As ADO does: a set without rows has no first row to move to. Callers that walk a table
    // from its first row learn of an empty table here (the template and class-of-service lists
    // report it).
    if (m_rows.empty())
        throwAdo(adoerr::kNoCurrentRecord);
}

void Recordset::MoveNext() {
    requireOpen();
    leaveRow();
    if (m_position >= m_rows.size())
        throwAdo(adoerr::kNoCurrentRecord);
    ++m_position;
}

// A closed set has no rows: its end is reached, so a reading loop over a set that failed to
// open ends at once.
bool Recordset::Eof() const {
    return !m_open || (m_edit != adEditAdd && m_position >= m_rows.size());
}

bool Recordset::Bof() const {
    return !m_open || (m_edit != adEditAdd && m_rows.empty());
}

long Recordset::RecordCount() const {
    requireOpen();
    return static_cast<long>(m_rows.size());
}

// --- Recordset: fields ---------------------------------------------------------------------------

std::optional<std::size_t> Recordset::findColumn(std::string_view name) const {
    for (std::size_t c : m_fields) {
        if (equalsIgnoreCase(m_columns[c].name, name))
            return c;
    }
    return std::nullopt;
}

std::size_t Recordset::column(std::string_view name) const {
    requireOpen();
    auto c = findColumn(name);
    if (!c)
        throwAdo(adoerr::kItemNotFound);
    return *c;
}

Field Recordset::Fields(std::string_view name) {
    return Field(this, column(name));
}

Field Recordset::Fields(std::size_t index) {
    requireOpen();
    if (index >= m_fields.size())
        throwAdo(adoerr::kItemNotFound);
    return Field(this, m_fields[index]);
}

std::size_t Recordset::FieldCount() const {
    requireOpen();
    return m_fields.size();
}

bool Recordset::HasField(std::string_view name) const {
    return m_open && findColumn(name).has_value();
}

// A Field kept across a Close and a new Open may name a column the new rows do not have.
void Recordset::requireColumn(std::size_t column) const {
    requireOpen();
    if (column >= m_columns.size())
        throwAdo(adoerr::kItemNotFound);
}

const DbValue &Recordset::value(std::size_t column) const {
    requireColumn(column);
    requireCurrent();
    if (m_edit != adEditNone) {
        assert(m_buffer.size() == m_columns.size() && "an edited row holds every column");
        return m_buffer[column];
    }
    assert(m_rows[m_position].size() == m_columns.size() && "every row holds every column");
    return m_rows[m_position][column];
}

// --- Recordset: search ---------------------------------------------------------------------------

void Recordset::Find(std::string_view criterion) {
    requireOpen();
    Criterion c = parseCriterion(criterion);
    std::size_t col = column(c.column);
    leaveRow();
    if (c.matchesNothing) {
        m_position = m_rows.size();
        return;
    }
    findKey(col, c.number.empty() ? c.key : std::string_view(c.number));
}

void Recordset::Find(std::string_view columnName, const DbValue &value) {
    std::size_t col = column(columnName);
    leaveRow();
    if (isNull(value)) {
        m_position = m_rows.size();
        return;
    }
    if (auto text = std::get_if<std::string>(&value))
        findKey(col, *text);
    else
        findKey(col, searchKey(value));
}

void Recordset::findKey(std::size_t col, std::string_view key) {
    if (m_position >= m_rows.size())
        return; // already at the end: nothing further to find
    if (!m_indexes[col] && ++m_scans[col] > kAutoIndexScans && m_rows.size() >= kAutoIndexRows)
        m_indexes[col] = std::make_unique<FieldIndex>(m_rows, col);
    if (const auto &index = m_indexes[col]) {
        auto row = index->findFrom(key, static_cast<std::uint32_t>(m_position));
        m_position = row ? *row : m_rows.size();
        return;
    }
    for (; m_position < m_rows.size(); ++m_position) {
        if (matchesKey(m_rows[m_position][col], key))
            return;
    }
}

void Recordset::setOptimize(std::size_t col, bool on) {
    requireColumn(col);
    if (on) {
        if (!m_indexes[col])
            m_indexes[col] = std::make_unique<FieldIndex>(m_rows, col);
    } else {
        m_indexes[col].reset();
        m_scans[col] = 0;
    }
    m_explicitIndex[col] = on;
}

bool Recordset::optimized(std::size_t col) const {
    requireColumn(col);
    return m_explicitIndex[col];
}

// --- Recordset: changes --------------------------------------------------------------------------

bool Recordset::Updatable() const {
    return m_open && !m_target.empty();
}

void Recordset::requireUpdatable() const {
    requireOpen();
    if (m_target.empty())
        throwAdo(adoerr::kNotUpdatable);
}

void Recordset::assign(std::size_t col, DbValue value) {
    requireColumn(col);
    requireUpdatable();
    if (m_edit == adEditNone) {
        requireCurrent();
        m_buffer = m_rows[m_position];
        m_changed.assign(m_columns.size(), false);
        m_edit = adEditInProgress;
    }
    assert(m_buffer.size() == m_columns.size() && m_changed.size() == m_columns.size());
    m_buffer[col] = std::move(value);
    m_changed[col] = true;
}

void Recordset::AddNew() {
    requireUpdatable();
    leaveRow();
    m_buffer.assign(m_columns.size(), DbValue{});
    m_changed.assign(m_columns.size(), false);
    m_edit = adEditAdd;
}

void Recordset::CancelUpdate() {
    requireOpen();
    m_edit = adEditNone;
    m_buffer.clear();
    m_changed.clear();
}

void Recordset::Update() {
    requireOpen();
    if (m_edit == adEditNone)
        return;
    requireUpdatable();
    save(*m_connection);
}

void Recordset::Update(Connection &through) {
    requireOpen();
    if (m_edit == adEditNone)
        return;
    requireUpdatable();
    save(*through.handle());
}

void Recordset::save(IDbConnection &connection) {
    try {
        if (m_edit == adEditAdd)
            commitNewRow(connection);
        else
            commitChanges(connection);
    } catch (...) {
        // A failed save must not stay pending: the next move would try it again and again.
        CancelUpdate();
        throw;
    }
    CancelUpdate();
}

void Recordset::changedColumns(std::vector<std::string> &names,
                               std::vector<DbValue> &values) const {
    for (std::size_t c = 0; c < m_columns.size(); ++c) {
        if (m_changed[c]) {
            names.push_back(m_columns[c].name);
            values.push_back(m_buffer[c]);
        }
    }
}

void Recordset::commitChanges(IDbConnection &connection) {
    std::vector<std::string> names;
    std::vector<DbValue> values;
    changedColumns(names, values);
    if (names.empty())
        return;
    // The row is found by its key as the server holds it now, even when the change moves the key.
    assert(m_edit == adEditInProgress && m_position < m_rows.size());
    const auto &stored = m_rows[m_position];
    std::vector<std::string> keyNames;
    std::vector<DbValue> keyValues;
    for (std::size_t k : m_keyColumns) {
        keyNames.push_back(m_columns[k].name);
        keyValues.push_back(stored[k]);
    }
    connection.updateRow(m_target, keyNames, keyValues, names, values);
    // Only the changed values replace the row's own: a row of a table held for the whole
    // program is not made anew, so its other values stay where they were allocated.
    for (std::size_t c = 0; c < m_columns.size(); ++c) {
        if (m_changed[c])
            storeValue(m_position, c, std::move(m_buffer[c]));
    }
}

void Recordset::commitNewRow(IDbConnection &connection) {
    std::vector<std::string> names;
    std::vector<DbValue> values;
    changedColumns(names, values);
    std::vector<std::string> all;
    for (const auto &c : m_columns)
        all.push_back(c.name);
    auto stored = connection.insertRow(m_target, names, values, all);
    if (stored && stored->size() == m_columns.size())
        m_buffer = std::move(*stored); // defaults and generated keys as the server made them
    m_rows.emplace_back(m_columns.size());
    storeRow(m_rows.size() - 1, std::move(m_buffer));
    m_position = m_rows.size() - 1;
}

void Recordset::storeRow(std::size_t row, std::vector<DbValue> values) {
    assert(values.size() == m_columns.size() && "a stored row holds every column");
    for (std::size_t c = 0; c < m_columns.size(); ++c)
        storeValue(row, c, std::move(values[c]));
}

void Recordset::storeValue(std::size_t row, std::size_t col, DbValue value) {
    assert(row < m_rows.size() && col < m_columns.size() && col < m_indexes.size());
    DbValue &stored = m_rows[row][col];
    if (stored == value)
        return;
    if (m_indexes[col]) {
        const auto r = static_cast<std::uint32_t>(row);
        m_indexes[col]->remove(stored, r);
        m_indexes[col]->add(value, r);
    }
    stored = std::move(value);
}

} // namespace zeph::db
