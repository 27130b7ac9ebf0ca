#pragma once
// The selection grid `myGrid`: a header row and one row per subscriber, with a check box that
// says whether the subscriber is to be reset. Columns are addressed by key (letter case
// ignored). Windows draw it through a GridListener; the reset run reads it directly.

#include "SubscriberSelection.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zeph {

struct GridColumn {
    std::string key;    // "" for the row-number column
    std::string header; // header text
    int width = 0;      // twips
    bool hidden = false;
};

/// Told about every change so that a view can follow without copying rows.
class GridListener {
public:
    virtual ~GridListener() = default;
    /// Everything may have changed (rows removed, redraw resumed).
    virtual void gridReset() = 0;
    /// Subscriber rows first..last (grid row numbers) were appended.
    virtual void gridRowsAppended(int first, int last) = 0;
    /// Cells of rows first..last changed (texts or check boxes).
    virtual void gridRowsChanged(int first, int last) = 0;
    /// A header text changed.
    virtual void gridHeaderChanged() = 0;
};

class SubscriberGrid {
public:
    static constexpr int kColumnCount = 13;
    /// Subscriber rows are counted with 16-bit signed counters by the hand-over and the run.
    static constexpr int kMaxSubscriberRows = 32767;

    SubscriberGrid();

    // --- the grid's operations, as the selection logic uses them ----------------------------
    /// Rows including the header row (1 when empty).
    int Rows() const { return static_cast<int>(m_rows.size()) + 1; }
    /// Only shrinking is supported: setRows(1) removes every subscriber row.
    void setRows(int rows);
    int Cols() const { return kColumnCount; }
    /// Column number by key, letter case ignored; -1 when no column has the key.
    int ColIndex(std::string_view key) const;
    const GridColumn &column(int col) const { return m_columns.at(static_cast<std::size_t>(col)); }
    void setHeaderText(int col, const std::string &text);

    /// Appends a subscriber row whose column 0 holds `firstCell`; the new row is unchecked and
    /// becomes the current row. False (nothing added) when the grid is full.
    bool AddItem(const std::string &firstCell);
    bool full() const { return static_cast<int>(m_rows.size()) >= m_rowLimit; }
    /// The most subscriber rows the grid takes: kMaxSubscriberRows, or fewer when a caller
    /// (a test, a trial) lowers it. Values outside 0..kMaxSubscriberRows are clamped.
    void setRowLimit(int limit);
    int rowLimit() const { return m_rowLimit; }

    /// Cell text; row 0 is the header. Out-of-range cells read as "" and ignore writes.
    std::string TextMatrix(int row, int col) const;
    void setTextMatrix(int row, int col, const std::string &text);
    /// The "Selected" check box of a subscriber row.
    bool isChecked(int row) const;
    void setChecked(int row, bool checked);

    int Row = 0; ///< current row
    int Col = 0; ///< current column

    // --- selection changes ------------------------------------------------------------------
    /// A click on a cell, after which Row and Col name it: toggles the row's check box when
    /// the cell is a text cell of a subscriber row.
    void cellClicked();
    /// Whether the cell may be edited: only the check box column.
    bool mayEdit(int row, int col) const;
    /// After the operator changed a check box.
    void afterEdit();
    void selectAll();
    void deselectAll();
    /// Ticks or unticks the given subscriber rows (those a filtered view shows); told as one
    /// change. Rows outside the grid are passed over.
    void setCheckedRows(const std::vector<int> &rows, bool checked);
    /// The first subscriber row whose box is checked, or 0 when none is.
    int firstCheckedRow() const;
    int checkedCount() const;
    /// The ticked rows as subscribers to reset, in the grid's order.
    std::vector<SelectedSubscriber> tickedSubscribers() const;

    // --- drawing ----------------------------------------------------------------------------
    /// While redraw is off, changes are collected and told as one reset when it comes back on.
    void setRedraw(bool on);
    bool redraw() const { return m_redraw; }
    void setListener(GridListener *listener) { m_listener = listener; }

private:
    struct GridRow {
        std::array<std::string, kColumnCount> cells;
        bool selected = false;
    };
    bool validRow(int row) const { return row >= 1 && row < Rows(); }
    void changed(int first, int last);

    std::vector<GridColumn> m_columns;
    std::vector<GridRow> m_rows;
    int m_selectedColumn;
    int m_rowLimit = kMaxSubscriberRows;
    GridListener *m_listener = nullptr;
    bool m_redraw = true;
    bool m_pending = false;
};

} // namespace zeph
