#include "SubscriberGrid.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <cctype>

namespace zeph {

namespace {} // namespace

SubscriberGrid::SubscriberGrid()
    : m_columns{{
          {"", "", 270, true},
          {"Selected", "", 255, false},
          {"Alias", "Alias", 1500, false},
          {"DisplayName", "Display Name", 2340, false},
          {"FirstName", "First Name", 1305, false},
          {"LastName", "Last Name", 1500, false},
          {"Extension", "Extension", 1020, false},
          {"HomeServer", "Home Server", 1665, false},
          {"COS", "COS", 960, false},
          {"LegacyMailbox", "Legacy Mailbox", 1275, false},
          {"RemoteNodeID", "Remote Node ID", 1380, false},
          {"HandlerObjectID", "HandlerObjectID", 960, true},
          {"ObjectID", "ObjectID", 960, true},
      }}
    , m_selectedColumn(ColIndex("Selected")) {}

void SubscriberGrid::setRows(int rows) {
    rows = std::max(rows, 1);
    if (rows >= Rows())
        return;
    m_rows.resize(static_cast<std::size_t>(rows - 1));
    Row = std::min(Row, Rows() - 1);
    if (m_redraw && m_listener)
        m_listener->gridReset();
    else
        m_pending = true;
}

void SubscriberGrid::setRowLimit(int limit) {
    m_rowLimit = std::clamp(limit, 0, kMaxSubscriberRows);
}

int SubscriberGrid::ColIndex(std::string_view key) const {
    for (int c = 0; c < kColumnCount; ++c) {
        if (!m_columns[static_cast<std::size_t>(c)].key.empty() &&
            equalsIgnoreCase(m_columns[static_cast<std::size_t>(c)].key, key))
            return c;
    }
    return -1;
}

void SubscriberGrid::setHeaderText(int col, const std::string &text) {
    if (col < 0 || col >= kColumnCount)
        return;
    m_columns[static_cast<std::size_t>(col)].header = text;
    if (m_listener)
        m_listener->gridHeaderChanged();
}

bool SubscriberGrid::AddItem(const std::string &firstCell) {
    if (full())
        return false;
    GridRow newRow;
    newRow.cells[0] = firstCell;
    m_rows.push_back(std::move(newRow));
    Row = Rows() - 1;
    if (m_redraw && m_listener)
        m_listener->gridRowsAppended(Row, Row);
    else
        m_pending = true;
    return true;
}

std::string SubscriberGrid::TextMatrix(int row, int col) const {
    if (col < 0 || col >= kColumnCount)
        return {};
    if (row == 0)
        return m_columns[static_cast<std::size_t>(col)].header;
    if (!validRow(row))
        return {};
    if (col == m_selectedColumn)
        return isChecked(row) ? "1" : "0";
    return m_rows[static_cast<std::size_t>(row - 1)].cells[static_cast<std::size_t>(col)];
}

void SubscriberGrid::setTextMatrix(int row, int col, const std::string &text) {
    if (row == 0) {
        setHeaderText(col, text);
        return;
    }
    if (!validRow(row) || col < 0 || col >= kColumnCount || col == m_selectedColumn)
        return;
    m_rows[static_cast<std::size_t>(row - 1)].cells[static_cast<std::size_t>(col)] = text;
    changed(row, row);
}

bool SubscriberGrid::isChecked(int row) const {
    return validRow(row) && m_rows[static_cast<std::size_t>(row - 1)].selected;
}

void SubscriberGrid::setChecked(int row, bool checked) {
    if (!validRow(row))
        return;
    m_rows[static_cast<std::size_t>(row - 1)].selected = checked;
    changed(row, row);
}

void SubscriberGrid::cellClicked() {
    if (Col >= 2 && validRow(Row))
        setChecked(Row, !isChecked(Row));
}

bool SubscriberGrid::mayEdit(int row, int col) const {
    return validRow(row) && col == m_selectedColumn;
}

void SubscriberGrid::afterEdit() {
    Row = 0;
    Col = 0;
}

void SubscriberGrid::selectAll() {
    for (auto &r : m_rows)
        r.selected = true;
    if (!m_rows.empty())
        changed(1, Rows() - 1);
}

void SubscriberGrid::deselectAll() {
    for (auto &r : m_rows)
        r.selected = false;
    if (!m_rows.empty())
        changed(1, Rows() - 1);
}

void SubscriberGrid::setCheckedRows(const std::vector<int> &rows, bool checked) {
    int first = Rows();
    int last = 0;
    for (const int row : rows) {
        if (!validRow(row))
            continue;
        m_rows[static_cast<std::size_t>(row - 1)].selected = checked;
        first = std::min(first, row);
        last = std::max(last, row);
    }
    if (last >= first)
        changed(first, last);
}

int SubscriberGrid::firstCheckedRow() const {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].selected)
            return static_cast<int>(i) + 1;
    }
    return 0;
}

int SubscriberGrid::checkedCount() const {
    return static_cast<int>(
        std::count_if(m_rows.begin(), m_rows.end(), [](const auto &r) { return r.selected; }));
}

void SubscriberGrid::setRedraw(bool on) {
    m_redraw = on;
    if (on && m_pending) {
        m_pending = false;
        if (m_listener)
            m_listener->gridReset();
    }
}

void SubscriberGrid::changed(int first, int last) {
    if (m_redraw && m_listener)
        m_listener->gridRowsChanged(first, last);
    else
        m_pending = true;
}

std::vector<SelectedSubscriber> SubscriberGrid::tickedSubscribers() const {
    std::vector<SelectedSubscriber> subscribers;
    const int alias = ColIndex("Alias");
    const int name = ColIndex("DisplayName");
    const int extension = ColIndex("Extension");
    const int objectId = ColIndex("ObjectID");
    for (int row = 1; row < Rows(); ++row) {
        if (isChecked(row))
            subscribers.push_back({TextMatrix(row, alias), TextMatrix(row, name),
                                   TextMatrix(row, extension), TextMatrix(row, objectId)});
    }
    return subscribers;
}

} // namespace zeph
