#include "ListOutput.h"

#include "select/CsvText.h"

#include <cstdio>

namespace zeph::cli {

namespace {

std::string tsvField(const std::string &text) {
    std::string field;
    field.reserve(text.size());
    for (char c : text) {
        if (c == '\t' || c == '\n' || c == '\r')
            field += ' ';
        else if (c != '\0')
            field += c;
    }
    return field;
}

// Quoted where the value holds a separator, a quote or a line break; a value a spreadsheet
// would run as a formula is written as text.
std::string csvField(const std::string &value) {
    const std::string text = inertCsvCell(value);
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string field = "\"";
    for (char c : text) {
        if (c == '"')
            field += '"';
        field += c;
    }
    return field + "\"";
}

void printSeparated(const Row &row, char separator, std::ostream &out) {
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0)
            out << separator;
        out << (separator == ',' ? csvField(row[i]) : tsvField(row[i]));
    }
    out << "\n";
}

void printJson(const Row &columns, const std::vector<Row> &rows, std::ostream &out) {
    out << "[";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out << (r == 0 ? "\n  {" : ",\n  {");
        for (std::size_t c = 0; c < columns.size(); ++c) {
            out << (c == 0 ? "" : ", ") << jsonString(columns[c]) << ": "
                << jsonString(c < rows[r].size() ? rows[r][c] : "");
        }
        out << "}";
    }
    out << (rows.empty() ? "]\n" : "\n]\n");
}

} // namespace

std::string jsonString(const std::string &text) {
    std::string literal = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            literal += '\\';
            literal += c;
        } else if (c == '\n') {
            literal += "\\n";
        } else if (c == '\r') {
            literal += "\\r";
        } else if (c == '\t') {
            literal += "\\t";
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            literal += escape;
        } else {
            literal += c;
        }
    }
    return literal + "\"";
}

void printRows(const Row &columns, const std::vector<Row> &rows, ListFormat format,
               std::ostream &out) {
    if (format == ListFormat::Json) {
        printJson(columns, rows, out);
        return;
    }
    const char separator = format == ListFormat::Csv ? ',' : '\t';
    printSeparated(columns, separator, out);
    for (const Row &row : rows)
        printSeparated(row, separator, out);
}

} // namespace zeph::cli
