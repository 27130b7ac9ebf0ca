#include "CsvUnmatched.h"

#include "CsvText.h"

namespace zeph {

void CsvUnmatchedLines::add(long lineNumber) {
    ++m_count;
    if (m_listed.size() < kListed)
        m_listed.push_back(lineNumber);
}

std::string CsvUnmatchedLines::message() const {
    std::string text = "Lines of the CSV file that matched no subscriber (the header is line 1): ";
    for (std::size_t i = 0; i < m_listed.size(); ++i)
        text += (i == 0 ? "" : ", ") + std::to_string(m_listed[i]);
    const long more = m_count - static_cast<long>(m_listed.size());
    if (more > 0)
        text += " and " + std::to_string(more) + " more";
    return text + ".";
}

bool namesSubscriber(std::string_view line, int aliasColumn, int extensionColumn) {
    const auto fields = splitFields(line);
    auto holdsValue = [&](int column) {
        return column >= 0 && static_cast<std::size_t>(column) < fields.size() &&
               !trimSpaces(fields[static_cast<std::size_t>(column)]).empty();
    };
    return holdsValue(aliasColumn) || holdsValue(extensionColumn);
}

} // namespace zeph
