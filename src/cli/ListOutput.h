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

/// A JSON string literal of UTF-8 text.
std::string jsonString(const std::string &text);

} // namespace zeph::cli
