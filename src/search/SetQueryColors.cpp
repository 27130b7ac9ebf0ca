#include "SetQueryColors.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <vector>

namespace zeph::search {

namespace {

// The editor's keyword list: one text of 169 words separated by single blanks.
constexpr std::string_view kKeywordList =
    "ADD EXCEPT PERCENT ALL EXEC PLAN ALTER EXECUTE PRECISION AND EXISTS PRIMARY ANY "
    "EXIT PRINT AS FETCH PROC ASC FILE PROCEDURE AUTHORIZATION FILLFACTOR PUBLIC BACKUP "
    "FOR RAISERROR BEGIN FOREIGN READ BETWEEN FREETEXT READTEXT BREAK FREETEXTTABLE "
    "RECONFIGURE BROWSE FROM REFERENCES BULK FULL REPLICATION BY FUNCTION RESTORE "
    "CASCADE GOTO RESTRICT CASE GRANT RETURN CHECK GROUP REVOKE CHECKPOINT HAVING RIGHT "
    "CLOSE HOLDLOCK ROLLBACK CLUSTERED IDENTITY ROWCOUNT COALESCE IDENTITY_INSERT "
    "ROWGUIDCOL COLLATE IDENTITYCOL RULE COLUMN IF SAVE COMMIT IN SCHEMA COMPUTE INDEX "
    "SELECT CONSTRAINT INNER SESSION_USER CONTAINS INSERT SET CONTAINSTABLE INTERSECT "
    "SETUSER CONTINUE INTO SHUTDOWN CONVERT IS SOME CREATE JOIN STATISTICS CROSS KEY "
    "SYSTEM_USER CURRENT KILL TABLE CURRENT_DATE LEFT TEXTSIZE CURRENT_TIME LIKE THEN "
    "CURRENT_TIMESTAMP LINENO TO CURRENT_USER LOAD TOP CURSOR NATIONAL TRAN DATABASE "
    "NOCHECK TRANSACTION NOT DECLARE NULL TSEQUAL DEFAULT NULLIF UNION DELETE OF UNIQUE "
    "DENY OFF UPDATE DESC OFFSETS UPDATETEXT DISK ON USE DISTINCT OPEN USER DISTRIBUTED "
    "OPENDATASOURCE VALUES DOUBLE OPENQUERY VARYING DROP OPENROWSET VIEW DUMMY OPENXML "
    "WAITFOR DUMP OPTION WHEN ELSE OR WHERE END ORDER WHILE ERRLVL OUTER WITH ESCAPE "
    "OVER WRITETEXT";

constexpr std::size_t kLongestKeyword = 17; // CURRENT_TIMESTAMP

struct Keywords {
    std::vector<std::string_view> inOrder;
    std::vector<std::string_view> sorted; // for look-ups
};

const Keywords &keywords() {
    static const Keywords words = [] {
        Keywords k;
        std::size_t start = 0;
        while (start < kKeywordList.size()) {
            std::size_t blank = std::min(kKeywordList.find(' ', start), kKeywordList.size());
            k.inOrder.push_back(kKeywordList.substr(start, blank - start));
            start = blank + 1;
        }
        k.sorted = k.inOrder;
        std::sort(k.sorted.begin(), k.sorted.end());
        return k;
    }();
    return words;
}

// A byte that starts a character; UTF-8 continuation bytes do not.
constexpr bool startsCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

// Blanks split words, and so does each half of a CR LF line break (read as two blanks).
bool isSeparator(std::string_view text, std::size_t i) {
    char c = text[i];
    if (c == ' ')
        return true;
    if (c == '\r')
        return i + 1 < text.size() && text[i + 1] == '\n';
    if (c == '\n')
        return i > 0 && text[i - 1] == '\r';
    return false;
}

// Upper-cases each keyword of the text in place; returns the keywords' runs.
std::vector<ColorRun> colorKeywords(std::string &text) {
    std::vector<ColorRun> runs;
    std::size_t i = 0;
    int position = 0; // editor offset of text[i]
    while (i < text.size()) {
        if (isSeparator(text, i)) {
            ++i;
            ++position;
            continue;
        }
        std::size_t begin = i;
        int beginPosition = position;
        for (; i < text.size() && !isSeparator(text, i); ++i) {
            if (startsCharacter(text[i]))
                ++position;
        }
        std::string_view word(text.data() + begin, i - begin);
        if (isQueryKeyword(word)) {
            // Keywords are plain ASCII, so the word's bytes are its characters.
            for (std::size_t k = begin; k < i; ++k)
                text[k] = asciiUpper(text[k]);
            runs.push_back({beginPosition, static_cast<int>(word.size()), kKeywordColor});
        }
    }
    return runs;
}

// Pairs the apostrophes first with second, third with fourth, ...; an unmatched last one
// stays black.
std::vector<ColorRun> colorStrings(std::string_view text) {
    std::vector<ColorRun> runs;
    int position = 0;
    int open = -1;
    for (char c : text) {
        if (c == '\'') {
            if (open < 0) {
                open = position;
            } else {
                runs.push_back({open, position - open + 1, kStringColor});
                open = -1;
            }
        }
        if (startsCharacter(c))
            ++position;
    }
    return runs;
}

bool inside(const ColorRun &inner, const ColorRun &outer) {
    return inner.start >= outer.start && inner.start + inner.length <= outer.start + outer.length;
}

// Strings are coloured after the keywords, so a keyword inside a string ends up red. A keyword
// holds no apostrophe, hence it lies either wholly inside a string or wholly outside.
std::vector<ColorRun> mergeRuns(const std::vector<ColorRun> &keywords,
                                const std::vector<ColorRun> &strings) {
    std::vector<ColorRun> merged;
    merged.reserve(keywords.size() + strings.size());
    auto append = [&merged](const ColorRun &run) {
        if (!merged.empty()) {
            ColorRun &last = merged.back();
            if (last.color == run.color && last.start + last.length == run.start) {
                last.length += run.length; // a doubled apostrophe joins two strings
                return;
            }
        }
        merged.push_back(run);
    };
    std::size_t s = 0;
    for (const ColorRun &keyword : keywords) {
        while (s < strings.size() && strings[s].start + strings[s].length <= keyword.start)
            append(strings[s++]);
        if (s < strings.size() && inside(keyword, strings[s]))
            continue;
        append(keyword);
    }
    while (s < strings.size())
        append(strings[s++]);
    return merged;
}

} // namespace

std::span<const std::string_view> queryKeywords() {
    return keywords().inOrder;
}

bool isQueryKeyword(std::string_view word) {
    if (word.empty() || word.size() > kLongestKeyword)
        return false;
    char upper[kLongestKeyword];
    for (std::size_t i = 0; i < word.size(); ++i)
        upper[i] = asciiUpper(word[i]);
    const auto &sorted = keywords().sorted;
    return std::binary_search(sorted.begin(), sorted.end(), std::string_view(upper, word.size()));
}

int editorLength(std::string_view text) {
    return static_cast<int>(std::count_if(text.begin(), text.end(), startsCharacter));
}

QueryColors SetQueryColors(std::string_view text, int caret) {
    QueryColors result;
    result.text.assign(text);
    std::vector<ColorRun> keywords = colorKeywords(result.text);
    result.runs = mergeRuns(keywords, colorStrings(result.text));
    result.caret = std::clamp(caret, 0, editorLength(result.text));
    return result;
}

std::string toEditorLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string toWidgetLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

EditorOffsetMap::EditorOffsetMap(std::string_view editorText) {
    m_widget.reserve(editorText.size() + 1);
    int widget = 0;
    for (std::size_t i = 0; i < editorText.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(editorText[i]);
        if (!startsCharacter(editorText[i]))
            continue;
        m_widget.push_back(widget);
        if (c == '\r' && i + 1 < editorText.size() && editorText[i + 1] == '\n') {
            // The CR LF pair is one line break in the widget; its middle maps to its start.
            m_widget.push_back(widget);
            ++i;
            widget += 1;
        } else {
            widget += (c >= 0xF0) ? 2 : 1; // four-byte UTF-8 characters take a surrogate pair
        }
    }
    m_widget.push_back(widget);
}

int EditorOffsetMap::toWidget(int editorOffset) const {
    int last = static_cast<int>(m_widget.size()) - 1;
    return m_widget[static_cast<std::size_t>(std::clamp(editorOffset, 0, last))];
}

int EditorOffsetMap::toEditor(int widgetOffset) const {
    auto it = std::lower_bound(m_widget.begin(), m_widget.end(), widgetOffset);
    if (it == m_widget.end())
        return static_cast<int>(m_widget.size()) - 1;
    return static_cast<int>(it - m_widget.begin());
}

} // namespace zeph::search
