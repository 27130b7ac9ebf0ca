#include "SqlText.h"

#include <algorithm>
#include <array>
#include <vector>

namespace zeph::sqltext {
namespace {

enum class Kind { Word, Name, Literal, Punct };

struct Token {
    Kind kind;
    std::string text; // a quoted name without its quotes
    std::size_t end;  // offset just after the token
    int depth;        // parentheses around it
};

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// Splits SQL into tokens, skipping blanks and comments. Unterminated quotes end the text.
std::vector<Token> tokenize(std::string_view sql) {
    std::vector<Token> tokens;
    int depth = 0;
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (i < n) {
        char c = sql[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            auto close = sql.find("*/", i + 2);
            i = close == std::string_view::npos ? n : close + 2;
        } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
            char closing = c == '[' ? ']' : c;
            std::string text;
            std::size_t j = i + 1;
            for (; j < n; ++j) {
                if (sql[j] == closing) {
                    if (closing != ']' && j + 1 < n && sql[j + 1] == closing) {
                        text += closing;
                        ++j;
                        continue;
                    }
                    break;
                }
                text += sql[j];
            }
            i = std::min(j + 1, n);
            tokens.push_back({c == '\'' ? Kind::Literal : Kind::Name, text, i, depth});
        } else if (isWordChar(c)) {
            std::size_t j = i;
            while (j < n && isWordChar(sql[j]))
                ++j;
            tokens.push_back({Kind::Word, std::string(sql.substr(i, j - i)), j, depth});
            i = j;
        } else {
            if (c == ')')
                --depth;
            tokens.push_back({Kind::Punct, std::string(1, c), i + 1, depth});
            if (c == '(')
                ++depth;
            ++i;
        }
    }
    return tokens;
}

bool is(const Token &t, std::string_view word) {
    if (t.kind != Kind::Word || t.text.size() != word.size())
        return false;
    return std::equal(t.text.begin(), t.text.end(), word.begin(), [](char a, char b) {
        return (a >= 'a' && a <= 'z' ? a - 'a' + 'A' : a) == b;
    });
}

template <std::size_t N> bool isAny(const Token &t, const std::array<std::string_view, N> &words) {
    return std::any_of(words.begin(), words.end(), [&](std::string_view w) { return is(t, w); });
}

constexpr std::array<std::string_view, 8> kAggregates = {
    "COUNT", "SUM", "MIN", "MAX", "AVG", "TOTAL", "GROUP_CONCAT", "STRING_AGG"};
// Words that may follow the single source (after its alias) in an updatable query.
constexpr std::array<std::string_view, 3> kTrailing = {"WHERE", "ORDER", "LIMIT"};
// Words that make a query read-only wherever they stand outside parentheses.
constexpr std::array<std::string_view, 6> kReadOnlyWords = {"GROUP",     "HAVING", "UNION",
                                                            "INTERSECT", "EXCEPT", "WINDOW"};
// Words that cannot be an alias after the source.
constexpr std::array<std::string_view, 16> kNotAlias = {
    "WHERE", "ORDER", "LIMIT", "GROUP", "HAVING", "UNION", "INTERSECT", "EXCEPT",
    "JOIN",  "INNER", "LEFT",  "RIGHT", "FULL",   "CROSS", "NATURAL",   "WINDOW"};

bool isName(const Token &t) {
    return t.kind == Kind::Word || t.kind == Kind::Name;
}

} // namespace

std::optional<QueryShape> singleSourceSelect(std::string_view sql) {
    std::vector<Token> all = tokenize(sql);
    // Only what stands outside parentheses decides the shape; a sub-query in a condition is fine.
    std::vector<const Token *> top;
    for (const auto &t : all) {
        if (t.depth == 0)
            top.push_back(&t);
    }
    while (!top.empty() && top.back()->kind == Kind::Punct && top.back()->text == ";")
        top.pop_back();
    if (top.empty() || !is(*top[0], "SELECT"))
        return std::nullopt;

    QueryShape shape;
    std::size_t i = 1;
    shape.selectListOffset = top[0]->end;
    if (i < top.size() && is(*top[i], "DISTINCT"))
        return std::nullopt; // a row may stand for several
    if (i < top.size() && is(*top[i], "ALL"))
        shape.selectListOffset = top[i++]->end;

    // The select list up to FROM: no aggregate and no window function.
    for (; i < top.size() && !is(*top[i], "FROM"); ++i) {
        if (is(*top[i], "OVER"))
            return std::nullopt;
        if (isAny(*top[i], kAggregates) && i + 1 < top.size() && top[i + 1]->text == "(")
            return std::nullopt;
    }
    if (i >= top.size() || ++i >= top.size() || !isName(*top[i]))
        return std::nullopt;
    shape.source = top[i++]->text;
    if (i + 1 < top.size() && top[i]->kind == Kind::Punct && top[i]->text == ".") {
        // schema.name: only the main database holds the server's objects.
        if (shape.source != "main" || !isName(*top[i + 1]))
            return std::nullopt;
        shape.source = top[i + 1]->text;
        i += 2;
    }
    if (i < top.size() && is(*top[i], "AS"))
        i += 2;
    else if (i < top.size() && isName(*top[i]) && !isAny(*top[i], kNotAlias))
        ++i;
    if (i < top.size() && !isAny(*top[i], kTrailing))
        return std::nullopt; // a join, a second source, or something not understood
    for (; i < top.size(); ++i) {
        if (isAny(*top[i], kReadOnlyWords))
            return std::nullopt;
    }
    return shape;
}

std::string quoteName(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    quoted += '"';
    return quoted;
}

std::string insertText(const std::string &target, const std::vector<std::string> &columns) {
    std::string sql = "INSERT INTO " + quoteName(target);
    if (columns.empty())
        return sql + " DEFAULT VALUES";
    std::string names;
    std::string marks;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        names += (i ? ", " : "") + quoteName(columns[i]);
        marks += i ? ", ?" : "?";
    }
    return sql + " (" + names + ") VALUES (" + marks + ")";
}

std::string updateSetText(const std::string &target, const std::vector<std::string> &columns) {
    std::string sql = "UPDATE " + quoteName(target) + " SET ";
    for (std::size_t i = 0; i < columns.size(); ++i)
        sql += (i ? ", " : "") + quoteName(columns[i]) + " = ?";
    return sql;
}

std::string updateWhereText(const std::string &target, const std::vector<std::string> &columns,
                            const std::vector<std::string> &whereColumns, bool guarded) {
    std::string where;
    for (const std::string &column : whereColumns)
        where += (where.empty() ? " WHERE " : " AND ") + quoteName(column) + " = ?";
    std::string sql = updateSetText(target, columns) + where;
    if (guarded)
        sql += " AND (SELECT COUNT(*) FROM " + quoteName(target) + where + ") <= ?";
    return sql;
}

} // namespace zeph::sqltext
