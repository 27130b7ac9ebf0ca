#include "RegFile.h"

#include "platform/TextEncoding.h"

#include <algorithm>
#include <cstdio>

namespace zeph::sim::regfile {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::uint32_t kTypeText = 1;
constexpr std::uint32_t kTypeExpandText = 2;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeNumber = 4;
constexpr std::uint32_t kTypeMultiText = 7;
// regedit keeps hex lines within 80 columns, continuing them with "\" and two
// blanks.
constexpr std::size_t kHexLineWidth = 80;

// ---- characters
// -------------------------------------------------------------------------

// Decodes one UTF-8 sequence at s[i]; false (and one byte consumed) when it is
// not valid.
bool decodeUtf8(std::string_view s, std::size_t &i, char32_t &cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        ++i;
        return false;
    }
    if (i + length > s.size()) {
        ++i;
        return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return false;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return false;
    }
    i += length;
    return true;
}

// The registry compares names without letter case. This folds the letters of
// the Latin, Greek and Cyrillic alphabets, which covers the names a server's
// registry holds.
char32_t foldCase(char32_t c) {
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 0x20;
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return (c % 2 == 0) ? c + 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c % 2 == 1) ? c + 1 : c;
    if (c == 0x178)
        return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2)
        return c + 0x20;
    if (c >= 0x410 && c <= 0x42F)
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    return c;
}

std::string folded(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        char32_t cp = 0;
        if (decodeUtf8(s, i, cp))
            appendUtf8(out, foldCase(cp));
        else
            out.append(s.substr(start, i - start)); // kept as it is, compared byte for byte
    }
    return out;
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) {
    return trimLeft(trimRight(s));
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && folded(s.substr(0, prefix.size())) == folded(prefix);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to `maxDigits` hexadecimal digits and nothing else.
bool parseHex(std::string_view s, std::size_t maxDigits, std::uint32_t &value) {
    if (s.empty() || s.size() > maxDigits)
        return false;
    value = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0)
            return false;
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return true;
}

// ---- the file's text
// --------------------------------------------------------------------

// The file's bytes as UTF-8 text.
bool decodeFile(std::string_view bytes, std::string &text, ParseError &error) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
        error = {1, "UTF-16 big-endian text is not supported; save the file as "
                    "UTF-16LE or UTF-8"};
        return false;
    }
    if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
        const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.data()) + 2;
        const std::size_t size = bytes.size() - 2;
        int line = 1;
        for (std::size_t i = 0; i + 1 < size; i += 2) {
            const char32_t unit = data[i] | (data[i + 1] << 8);
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
                const char32_t low = data[i + 2] | (data[i + 3] << 8);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    i += 2;
                    continue;
                }
            }
            if (unit >= 0xD800 && unit <= 0xDFFF) {
                error = {line, "the UTF-16 text holds a broken character (unpaired surrogate)"};
                return false;
            }
            if (unit == '\n')
                ++line;
            appendUtf8(text, unit);
        }
        if (size % 2 != 0) {
            error = {line, "the UTF-16 text ends in half a character"};
            return false;
        }
        return true;
    }
    if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF)
        bytes.remove_prefix(3);
    int line = 1;
    for (std::size_t i = 0; i < bytes.size();) {
        if (bytes[i] == '\n')
            ++line;
        char32_t cp = 0;
        if (!decodeUtf8(bytes, i, cp)) {
            error = {line, "the text is neither valid UTF-8 nor UTF-16LE with a "
                           "byte-order mark"};
            return false;
        }
    }
    text.assign(bytes);
    return true;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// ---- parsing
// ----------------------------------------------------------------------------

class Parser {
public:
    Parser(std::vector<std::string_view> lines, Document &doc)
        : m_lines(std::move(lines))
        , m_doc(doc) {}

    bool run(ParseError &error) {
        if (!readHeader())
            return fail(error);
        for (++m_index; m_index < m_lines.size(); ++m_index) {
            const std::string_view line = trim(m_lines[m_index]);
            if (line.empty())
                continue;
            bool ok = true;
            if (line.front() == ';')
                m_comments.emplace_back(line);
            else if (line.front() == '[')
                ok = readKey(line);
            else if (line.front() == '"' || line.front() == '@')
                ok = readValue(line);
            else
                ok = problem("this line is neither a [key], a \"value\"=data line nor "
                             "a ; comment");
            if (!ok)
                return fail(error);
        }
        m_doc.trailingComments = std::move(m_comments);
        return true;
    }

private:
    bool fail(ParseError &error) {
        error = {static_cast<int>(m_index) + 1, m_message};
        return false;
    }

    bool problem(std::string message) {
        m_message = std::move(message);
        return false;
    }

    bool readHeader() {
        while (m_index < m_lines.size() && trim(m_lines[m_index]).empty())
            ++m_index;
        if (m_index < m_lines.size() && trim(m_lines[m_index]) == kHeader)
            return true;
        if (m_index == m_lines.size())
            m_index = 0;
        return problem("the file must begin with the line \"" + std::string(kHeader) + "\"");
    }

    bool readKey(std::string_view line) {
        if (line.back() != ']')
            return problem("a key line must end with ]");
        const std::string_view inner = line.substr(1, line.size() - 2);
        if (!inner.empty() && inner.front() == '-')
            return problem("deleting keys with [-...] lines is not supported");
        const std::string_view root = inner.substr(0, inner.find('\\'));
        if (!namesEqual(root, kMachineRoot)) {
            return problem("only keys under HKEY_LOCAL_MACHINE are kept; this key is under " +
                           std::string(root));
        }
        const std::string path =
            normaliseKeyPath(root.size() < inner.size() ? inner.substr(root.size()) : "");
        if (std::string why = keyPathProblem(path); !why.empty())
            return problem(why);
        m_key = &m_doc.section(path);
        for (auto &comment : m_comments)
            m_key->comments.push_back(std::move(comment));
        m_comments.clear();
        return true;
    }

    // "text" with \\ and \" escapes, starting at s[pos]; pos ends after the
    // closing quote.
    bool readQuoted(std::string_view s, std::size_t &pos, std::string &out) {
        for (++pos; pos < s.size(); ++pos) {
            const char c = s[pos];
            if (c == '"') {
                ++pos;
                return true;
            }
            if (c == '\\') {
                if (pos + 1 >= s.size() || (s[pos + 1] != '\\' && s[pos + 1] != '"'))
                    return problem("inside quotes a backslash must be written \\\\ and a "
                                   "quote \\\"");
                ++pos;
            }
            out += s[pos];
        }
        return problem("the quoted text has no closing quote");
    }

    bool readValue(std::string_view line) {
        if (!m_key)
            return problem("a value line comes before the first [key] line");
        std::size_t pos = 0;
        std::string name;
        if (line.front() == '@')
            pos = 1;
        else if (!readQuoted(line, pos, name))
            return false;
        std::string_view rest = trimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=')
            return problem("expected = after the value's name");
        rest = trimLeft(rest.substr(1));

        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (!rest.empty() && rest.front() == '"') {
            std::size_t at = 0;
            std::string text;
            if (!readQuoted(rest, at, text))
                return false;
            if (!trim(rest.substr(at)).empty())
                return problem("unexpected text after the closing quote");
            type = kTypeText;
            data = utf8ToUtf16le(text);
            data.push_back(0);
            data.push_back(0);
        } else if (rest == "-") {
            return problem("deleting values with =- is not supported");
        } else if (startsWithNoCase(rest, "dword:")) {
            std::uint32_t number = 0;
            if (!parseHex(trim(rest.substr(6)), 8, number))
                return problem("dword: must be followed by 1 to 8 hexadecimal digits");
            type = kTypeNumber;
            for (int i = 0; i < 4; ++i)
                data.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
        } else if (startsWithNoCase(rest, "hex")) {
            if (!readHex(rest.substr(3), type, data))
                return false;
        } else {
            return problem("the value's data must be \"text\", dword:, hex: or hex(type):");
        }
        m_key->setValue(name, type, std::move(data));
        if (Value *value = m_key->findValue(name)) {
            for (auto &comment : m_comments)
                value->comments.push_back(std::move(comment));
        }
        m_comments.clear();
        return true;
    }

    // After "hex": ":" or "(type):", then bytes separated by commas; a line
    // ending in a backslash continues on the next line.
    bool readHex(std::string_view rest, std::uint32_t &type, std::vector<std::uint8_t> &data) {
        type = kTypeBinary;
        if (!rest.empty() && rest.front() == '(') {
            const std::size_t close = rest.find(')');
            if (close == std::string_view::npos || !parseHex(rest.substr(1, close - 1), 8, type))
                return problem("hex( must be followed by a hexadecimal type number and )");
            rest = rest.substr(close + 1);
        }
        if (rest.empty() || rest.front() != ':')
            return problem("expected : after hex or hex(type)");
        std::string list(trimRight(rest.substr(1)));
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (m_index + 1 >= m_lines.size())
                return problem("the hex data continues past the end of the file");
            ++m_index;
            list += trim(m_lines[m_index]);
        }
        const std::string_view all = trim(list);
        if (all.empty())
            return true;
        std::size_t start = 0;
        while (start <= all.size()) {
            std::size_t comma = all.find(',', start);
            if (comma == std::string_view::npos)
                comma = all.size();
            const std::string_view item = trim(all.substr(start, comma - start));
            std::uint32_t byte = 0;
            if (item.empty() && comma == all.size())
                break; // a trailing comma
            if (!parseHex(item, 2, byte))
                return problem("hex data must be bytes of two hexadecimal digits, separated by "
                               "commas");
            data.push_back(static_cast<std::uint8_t>(byte));
            start = comma + 1;
        }
        return true;
    }

    std::vector<std::string_view> m_lines;
    Document &m_doc;
    std::size_t m_index = 0;
    Key *m_key = nullptr;
    std::vector<std::string> m_comments;
    std::string m_message;
};

// ---- writing
// ----------------------------------------------------------------------------

// A text value that the "text" form holds exactly: UTF-16 with one terminating
// zero at the end and no other zero, no line break and no broken character.
bool plainText(const Value &value, std::string &text) {
    const auto &d = value.data;
    if (value.type != kTypeText || d.size() < 2 || d.size() % 2 != 0 || d[d.size() - 2] != 0 ||
        d[d.size() - 1] != 0)
        return false;
    for (std::size_t i = 0; i + 2 < d.size(); i += 2) {
        const char32_t unit = d[i] | (d[i + 1] << 8);
        if (unit == 0 || unit == '\r' || unit == '\n')
            return false;
    }
    text = utf16leToUtf8(d.data(), d.size() - 2);
    // A broken surrogate would come back as U+FFFD: only an exact round trip is
    // plain text.
    return utf8ToUtf16le(text) == std::vector<std::uint8_t>(d.begin(), d.end() - 2);
}

void writeHex(std::string &out, std::string line, const std::vector<std::uint8_t> &data) {
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::string item{digits[data[i] >> 4], digits[data[i] & 0xF]};
        if (i + 1 < data.size())
            item += ',';
        if (line.size() + item.size() + 1 > kHexLineWidth && i > 0) {
            out += line + "\\\r\n";
            line = "  ";
        }
        line += item;
    }
    out += line + "\r\n";
}

void writeValue(std::string &out, const Value &value) {
    for (const auto &comment : value.comments)
        out += comment + "\r\n";
    const std::string name = value.name.empty() ? std::string("@") : quoted(value.name);
    std::string text;
    if (plainText(value, text)) {
        out += name + "=" + quoted(text) + "\r\n";
    } else if (value.type == kTypeNumber && value.data.size() == 4) {
        char number[16];
        const std::uint32_t n = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                (static_cast<std::uint32_t>(value.data[3]) << 24);
        std::snprintf(number, sizeof number, "%08x", n);
        out += name + "=dword:" + number + "\r\n";
    } else if (value.type == kTypeBinary) {
        writeHex(out, name + "=hex:", value.data);
    } else {
        char type[16];
        std::snprintf(type, sizeof type, "%x", value.type);
        writeHex(out, name + "=hex(" + type + "):", value.data);
    }
}

} // namespace

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// ---- keys and values
// --------------------------------------------------------------------

Value *Key::findValue(std::string_view name) {
    if (m_valueAt.size() != values.size())
        indexValues(); // values was filled or emptied directly
    const auto at = m_valueAt.find(folded(name));
    return at == m_valueAt.end() ? nullptr : &values[at->second];
}

void Key::setValue(std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
    if (Value *value = findValue(name)) {
        value->type = type;
        value->data = std::move(data);
        return;
    }
    Value value;
    value.name = std::string(name);
    value.type = type;
    value.data = std::move(data);
    m_valueAt.emplace(folded(name), values.size());
    values.push_back(std::move(value));
}

bool Key::removeValue(std::string_view name) {
    const Value *value = findValue(name);
    if (!value)
        return false;
    values.erase(values.begin() + (value - values.data()));
    indexValues();
    return true;
}

void Key::indexValues() {
    m_valueAt.clear();
    for (std::size_t i = 0; i < values.size(); ++i)
        m_valueAt.emplace(folded(values[i].name), i);
}

Key *Document::findKey(std::string_view path) {
    if (m_sectionAt.size() != keys.size())
        indexSections(); // keys was filled or emptied directly
    const auto at = m_sectionAt.find(folded(path));
    return at == m_sectionAt.end() ? nullptr : &keys[at->second];
}

bool Document::keyExists(std::string_view path) const {
    if (path.empty())
        return true;
    if (m_sectionAt.size() != keys.size()) {
        // Indexes are a cache: a document whose keys were set directly is searched.
        return std::any_of(keys.begin(), keys.end(),
                           [&](const Key &key) { return isWithin(key.path, path); });
    }
    return m_existing.count(folded(path)) != 0;
}

Key &Document::section(std::string_view path) {
    if (Key *key = findKey(path))
        return *key;
    Key key;
    key.path = std::string(path);
    // Nothing below the key has a section: it goes at the end, as a file read
    // from top to bottom adds it.
    if (!keyExists(path)) {
        m_sectionAt.emplace(folded(path), keys.size());
        noteExisting(path);
        keys.push_back(std::move(key));
        return keys.back();
    }
    auto at = keys.begin();
    while (at != keys.end() && !isWithin(at->path, path))
        ++at;
    at = keys.insert(at, std::move(key));
    const std::size_t place = static_cast<std::size_t>(at - keys.begin());
    indexSections();
    return keys[place];
}

void Document::indexSections() {
    m_sectionAt.clear();
    m_existing.clear();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        m_sectionAt.emplace(folded(keys[i].path), i);
        noteExisting(keys[i].path);
    }
}

// The key and every parent of it exist.
void Document::noteExisting(std::string_view path) {
    std::string key = folded(path);
    while (!key.empty() && m_existing.insert(key).second) {
        const auto slash = key.rfind('\\');
        key.resize(slash == std::string::npos ? 0 : slash);
    }
}

// ---- the file
// ---------------------------------------------------------------------------

bool parse(std::string_view bytes, Document &doc, ParseError &error) {
    doc = Document();
    std::string text;
    if (!decodeFile(bytes, text, error))
        return false;
    Parser parser(splitLines(text), doc);
    if (!parser.run(error)) {
        doc = Document();
        return false;
    }
    return true;
}

std::string write(const Document &doc) {
    std::string out(kHeader);
    out += "\r\n\r\n";
    for (const auto &key : doc.keys) {
        for (const auto &comment : key.comments)
            out += comment + "\r\n";
        out += "[" + std::string(kMachineRoot);
        if (!key.path.empty())
            out += "\\" + key.path;
        out += "]\r\n";
        for (const auto &value : key.values)
            writeValue(out, value);
        out += "\r\n";
    }
    for (const auto &comment : doc.trailingComments)
        out += comment + "\r\n";
    return out;
}

// ---- names and paths
// --------------------------------------------------------------------

std::string normaliseKeyPath(std::string_view subKey) {
    std::string path;
    std::size_t start = 0;
    while (start <= subKey.size()) {
        std::size_t end = subKey.find('\\', start);
        if (end == std::string_view::npos)
            end = subKey.size();
        if (end > start) {
            if (!path.empty())
                path += '\\';
            path.append(subKey.substr(start, end - start));
        }
        start = end + 1;
    }
    return path;
}

std::string keyPathProblem(std::string_view path) {
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view name = path.substr(start, end - start);
        std::size_t characters = 0;
        for (std::size_t i = 0; i < name.size(); ++characters) {
            char32_t cp = 0;
            if (!decodeUtf8(name, i, cp))
                return "a key name must be valid UTF-8 text";
            if (cp == 0 || cp == '\r' || cp == '\n')
                return "a key name cannot hold a line break or a zero character";
        }
        if (characters > kMaxKeyNameLength)
            return "a key name is longer than 255 characters";
        start = end + 1;
    }
    return {};
}

std::string valueNameProblem(std::string_view name) {
    for (std::size_t i = 0; i < name.size();) {
        char32_t cp = 0;
        if (!decodeUtf8(name, i, cp))
            return "a value name must be valid UTF-8 text";
        if (cp == 0 || cp == '\r' || cp == '\n')
            return "a value name cannot hold a line break or a zero character";
    }
    return {};
}

bool namesEqual(std::string_view a, std::string_view b) {
    if (a.size() == b.size() && a == b)
        return true;
    return folded(a) == folded(b);
}

bool isWithin(std::string_view path, std::string_view parent) {
    if (parent.empty())
        return true;
    const std::string p = folded(path);
    const std::string q = folded(parent);
    return p == q || (p.size() > q.size() && p.compare(0, q.size(), q) == 0 && p[q.size()] == '\\');
}

// ---- data
// -------------------------------------------------------------------------------

bool isTextType(std::uint32_t type) {
    return type == kTypeText || type == kTypeExpandText || type == kTypeMultiText;
}

std::vector<std::uint8_t> ansiData(const Value &value) {
    if (!isTextType(value.type))
        return value.data;
    const std::string text = utf16leToUtf8(value.data.data(), value.data.size());
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> storedData(std::uint32_t type, const std::vector<std::uint8_t> &ansi) {
    if (!isTextType(type))
        return ansi;
    return utf8ToUtf16le(
        std::string_view(reinterpret_cast<const char *>(ansi.data()), ansi.size()));
}

std::vector<std::uint8_t> utf8ToUtf16le(std::string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    const auto unit = [&](char32_t u) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        if (!decodeUtf8(text, i, cp))
            cp = kReplacement;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

std::string utf16leToUtf8(const std::uint8_t *data, std::size_t size) {
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        char32_t cp = data[i] | (data[i + 1] << 8);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < size) {
            const char32_t low = data[i + 2] | (data[i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = kReplacement;
        appendUtf8(out, cp);
    }
    return out;
}

} // namespace zeph::sim::regfile
