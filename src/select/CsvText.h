#pragma once
// Reading a subscriber list file: its bytes as text, its lines, its fields and its header.
//
// The file is plain text as a Windows server writes it: UTF-8, or the system's ANSI code page
// when the bytes are not valid UTF-8 (Windows-1252 where the system has none). A line ends with CR
// LF, a CR alone or a LF alone (files written on this OS end their lines with LF). Fields are
// separated by "," with no quoting.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeph {

/// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
/// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

/// The file's text as UTF-8: the bytes as they are when they are valid UTF-8 (a leading byte-order
/// mark dropped), otherwise read in the system's ANSI code page by `systemCodePage` (the host's
/// ansiText) when it is given and reads them, otherwise each byte read as Windows-1252.
std::string decodeAnsiText(
    std::string_view bytes,
    const std::function<std::optional<std::string>(std::string_view)> &systemCodePage = {});

/// Characters (code points) of a UTF-8 text.
std::size_t characterCount(std::string_view utf8);

/// The text without leading and trailing spaces (only the blank character, as the system trims).
std::string_view trimSpaces(std::string_view text);

/// A value as a cell of a CSV file that a spreadsheet may open, so that it cannot run as a
/// formula: a value beginning with "=", "+", "-", "@", a tab or a CR, or with the text marker
/// "'" itself, gets a leading "'", which a spreadsheet takes as "this cell is text" and does not
/// show. NUL characters are dropped.
std::string inertCsvCell(std::string_view value);

/// A cell of a subscriber list as the value it holds: trimmed of blanks, and without the text
/// marker "'" that inertCsvCell puts before a value (a "'" followed by "=", "+", "-", "@", a tab,
/// a CR or another "'").
std::string_view csvCellValue(std::string_view cell);

/// Equal when the texts differ at most in letter case (ASCII and Latin-1 letters).
bool sameTextIgnoringCase(std::string_view a, std::string_view b);

/// The fields of a line, split at every ","; an empty line has one empty field.
std::vector<std::string_view> splitFields(std::string_view line);

/// Walks the lines of a text the way the system reads them line by line.
class LineReader {
public:
    explicit LineReader(std::string_view text)
        : m_text(text) {}
    /// True when no line is left: the end of the text has been reached.
    bool atEnd() const { return m_pos >= m_text.size(); }
    /// The next line without its end; false (line untouched) at the end.
    bool next(std::string_view &line);

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

/// The columns a subscriber list's header names: -1 for a name it does not carry. For each name the
/// first column carrying it counts; names are trimmed and compared without case.
struct CsvColumns {
    int alias = -1;
    int extension = -1;
    bool any() const { return alias >= 0 || extension >= 0; }
};
CsvColumns findCsvColumns(std::string_view header, std::string_view extensionName);

} // namespace zeph
