#include "CsvText.h"

#include "platform/TextEncoding.h"

#include <array>
#include <cstdint>

namespace zeph {

namespace {

// Windows-1252 from 0x80 to 0x9F; the five unassigned bytes keep their own code point, as the
// system's conversion does.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Decodes one code point of valid UTF-8 at `i` and moves past it.
char32_t nextCodePoint(std::string_view s, std::size_t &i) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    ++i;
    for (int k = 0; k < extra && i < s.size(); ++k, ++i)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    return cp;
}

char32_t foldCase(char32_t cp) {
    if (cp >= 'A' && cp <= 'Z')
        return cp + 0x20;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)
        return cp + 0x20;
    return cp;
}

} // namespace

bool isValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        int extra;
        char32_t cp;
        char32_t minimum;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1, cp = b & 0x1F, minimum = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2, cp = b & 0x0F, minimum = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3, cp = b & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(extra) >= s.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

std::string
decodeAnsiText(std::string_view bytes,
               const std::function<std::optional<std::string>(std::string_view)> &systemCodePage) {
    if (isValidUtf8(bytes)) {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
            bytes.remove_prefix(3);
        return std::string(bytes);
    }
    if (systemCodePage) {
        if (std::optional<std::string> text = systemCodePage(bytes))
            return std::move(*text);
    }
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b <= 0x9F)
            appendUtf8(out, kCp1252High[b - 0x80]);
        else
            appendUtf8(out, b);
    }
    return out;
}

std::size_t characterCount(std::string_view utf8) {
    std::size_t n = 0;
    for (char ch : utf8) {
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80)
            ++n;
    }
    return n;
}

std::string_view trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

namespace {

// The characters that make a spreadsheet read a cell as a formula, and the text marker.
bool startsActive(std::string_view text) {
    return !text.empty() &&
           std::string_view("=+-@\t\r'").find(text.front()) != std::string_view::npos;
}

} // namespace

std::string inertCsvCell(std::string_view value) {
    std::string cell;
    cell.reserve(value.size() + 1);
    for (char c : value) {
        if (c != '\0')
            cell += c;
    }
    if (startsActive(cell))
        cell.insert(cell.begin(), '\'');
    return cell;
}

std::string_view csvCellValue(std::string_view cell) {
    cell = trimSpaces(cell);
    if (cell.size() >= 2 && cell.front() == '\'' && startsActive(cell.substr(1)))
        cell.remove_prefix(1);
    return cell;
}

bool sameTextIgnoringCase(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (foldCase(nextCodePoint(a, i)) != foldCase(nextCodePoint(b, j)))
            return false;
    }
    return i == a.size() && j == b.size();
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const auto comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

bool LineReader::next(std::string_view &line) {
    if (atEnd())
        return false;
    const auto end = m_text.find_first_of("\r\n", m_pos);
    if (end == std::string_view::npos) {
        line = m_text.substr(m_pos);
        m_pos = m_text.size();
        return true;
    }
    line = m_text.substr(m_pos, end - m_pos);
    m_pos = end + 1;
    // CR LF is one line end; LF CR is two (an empty line between).
    if (m_text[end] == '\r' && m_pos < m_text.size() && m_text[m_pos] == '\n')
        ++m_pos;
    return true;
}

CsvColumns findCsvColumns(std::string_view header, std::string_view extensionName) {
    CsvColumns columns;
    const auto fields = splitFields(header);
    const std::string_view extension = trimSpaces(extensionName);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string_view name = trimSpaces(fields[i]);
        if (columns.alias < 0 && sameTextIgnoringCase(name, "alias"))
            columns.alias = static_cast<int>(i);
        if (columns.extension < 0 && sameTextIgnoringCase(name, extension))
            columns.extension = static_cast<int>(i);
    }
    return columns;
}

} // namespace zeph
