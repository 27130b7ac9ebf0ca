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

void appendSeparated(const Row &row, char separator, std::string &line) {
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0)
            line += separator;
        line += separator == ',' ? csvField(row[i]) : tsvField(row[i]);
    }
    line += '\n';
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
    RowPrinter printer(columns, format, out);
    for (const Row &row : rows)
        printer.row(row);
    printer.finish();
}

RowPrinter::RowPrinter(Row columns, ListFormat format, std::ostream &out)
    : m_columns(std::move(columns))
    , m_format(format)
    , m_out(out) {
    if (m_format == ListFormat::Json) {
        m_out << "[";
        return;
    }
    appendSeparated(m_columns, m_format == ListFormat::Csv ? ',' : '\t', m_line);
    m_out << m_line;
}

void RowPrinter::row(const Row &cells) {
    m_line.clear();
    if (m_format == ListFormat::Json) {
        m_line += m_rows == 0 ? "\n  {" : ",\n  {";
        for (std::size_t c = 0; c < m_columns.size(); ++c) {
            if (c > 0)
                m_line += ", ";
            m_line += jsonString(m_columns[c]);
            m_line += ": ";
            m_line += jsonString(c < cells.size() ? cells[c] : std::string());
        }
        m_line += '}';
    } else {
        appendSeparated(cells, m_format == ListFormat::Csv ? ',' : '\t', m_line);
    }
    ++m_rows;
    m_out << m_line;
}

void RowPrinter::finish() {
    if (m_format == ListFormat::Json)
        m_out << (m_rows == 0 ? "]\n" : "\n]\n");
    m_out.flush();
}

} // namespace zeph::cli
