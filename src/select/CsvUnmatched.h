#pragma once
// The lines of a CSV subscriber list that matched no subscriber, kept by line number so that
// the operator can find them in the file; told in one message after the import's summary.

#include <string>
#include <string_view>
#include <vector>

namespace zeph {

class CsvUnmatchedLines {
public:
    /// Line numbers listed in the message; the rest are only counted.
    static constexpr std::size_t kListed = 50;

    /// Notes a line of the file (the header is line 1) that matched no subscriber.
    void add(long lineNumber);
    bool empty() const { return m_count == 0; }
    long count() const { return m_count; }
    const std::vector<long> &listed() const { return m_listed; }
    /// The message: the first kListed line numbers, then how many more there are.
    std::string message() const;

private:
    std::vector<long> m_listed;
    long m_count = 0;
};

/// True when a data line names a subscriber at all: it holds a value other than blanks in the
/// alias or the extension column. An empty line or one with empty fields names nobody.
bool namesSubscriber(std::string_view line, int aliasColumn, int extensionColumn);

} // namespace zeph
