#pragma once
// The rows --list and --list-templates print, in the format asked for.

#include "CliOptions.h"

#include <ostream>
#include <string>
#include <vector>

namespace zeph::cli {

using Row = std::vector<std::string>;

/// Tab- or comma-separated with the column names as the first row, or one JSON array holding
/// one object per row keyed by column name. A CSV field holding a comma, a quote or a line
/// break is quoted; tabs and line breaks in a TSV field become blanks, so that each row
/// stays one line.
void printRows(const Row &columns, const std::vector<Row> &rows, ListFormat format,
               std::ostream &out);

/// The same output written row by row as the rows come, none of them kept: the header when
/// made, each row as it is told, the end by finish (the same bytes as printRows).
class RowPrinter {
public:
    RowPrinter(Row columns, ListFormat format, std::ostream &out);
    void row(const Row &cells);
    void finish();

private:
    Row m_columns;
    ListFormat m_format;
    std::ostream &m_out;
    std::size_t m_rows = 0;
    std::string m_line;
};

/// A JSON string literal of UTF-8 text.
std::string jsonString(const std::string &text);

} // namespace zeph::cli
