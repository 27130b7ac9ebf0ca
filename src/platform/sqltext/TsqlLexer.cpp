#include "TsqlLexer.h"

#include "Tsql.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace zeph::sqltext {
namespace {

bool isWordStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool isWordChar(char c) {
    return isWordStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '@';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

[[noreturn]] void syntax(std::string_view near) {
    throw TsqlError(tsqlerr::kSyntax, "Incorrect syntax near '" + std::string(near) + "'.");
}

class Lexer {
public:
    explicit Lexer(std::string_view text)
        : m_text(text) {}

    std::vector<TsqlToken> run() {
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (isSpace(c))
                ++m_at;
            else if (ahead(2) == "--")
                m_at = std::min(m_text.size(), m_text.find('\n', m_at));
            else if (ahead(2) == "/*")
                skipComment();
            else if (c == '\'')
                quoted(TsqlToken::String, m_at, '\'', false);
            else if ((c == 'N' || c == 'n') && m_text.substr(m_at + 1, 1) == "'")
                quoted(TsqlToken::String, m_at + 1, '\'', true);
            else if (c == '[')
                quoted(TsqlToken::Name, m_at, ']', false);
            else if (c == '"')
                quoted(TsqlToken::Name, m_at, '"', false);
            else if (c == '0' && (ahead(2) == "0x" || ahead(2) == "0X"))
                binary();
            else if (isDigit(c) ||
                     (c == '.' && m_at + 1 < m_text.size() && isDigit(m_text[m_at + 1])))
                number();
            else if (c == '@')
                variable();
            else if (isWordStart(c))
                push(TsqlToken::Word, wordEnd(m_at + 1));
            else
                op();
        }
        m_tokens.push_back({TsqlToken::End, {}, m_text.size(), m_text.size()});
        return std::move(m_tokens);
    }

private:
    std::string_view ahead(std::size_t n) const { return m_text.substr(m_at, n); }

    std::size_t wordEnd(std::size_t from) const {
        while (from < m_text.size() && isWordChar(m_text[from]))
            ++from;
        return from;
    }

    void push(TsqlToken::Kind kind, std::size_t end) {
        m_tokens.push_back({kind, std::string(m_text.substr(m_at, end - m_at)), m_at, end});
        m_at = end;
    }

    // Comments nest in T-SQL.
    void skipComment() {
        int depth = 0;
        std::size_t j = m_at;
        do {
            if (j + 1 >= m_text.size())
                throw TsqlError(113, "Missing end comment mark '*/'.");
            if (m_text.substr(j, 2) == "/*") {
                ++depth;
                j += 2;
            } else if (m_text.substr(j, 2) == "*/") {
                --depth;
                j += 2;
            } else {
                ++j;
            }
        } while (depth > 0);
        m_at = j;
    }

    // A quoted run from `open` (on its opening quote) to just after its closing quote; a doubled
    // closing quote stands for itself.
    void quoted(TsqlToken::Kind kind, std::size_t open, char close, bool national) {
        std::string value;
        for (std::size_t j = open + 1; j < m_text.size(); ++j) {
            if (m_text[j] != close) {
                value += m_text[j];
            } else if (j + 1 < m_text.size() && m_text[j + 1] == close) {
                value += close;
                ++j;
            } else {
                m_tokens.push_back({kind, std::move(value), m_at, j + 1, national});
                m_at = j + 1;
                return;
            }
        }
        if (close == '\'')
            throw TsqlError(105,
                            "Unclosed quotation mark after the character string '" + value + "'.");
        syntax(value);
    }

    void binary() {
        std::size_t end = m_at + 2;
        while (end < m_text.size() && std::isxdigit(static_cast<unsigned char>(m_text[end])))
            ++end;
        if (end < m_text.size() && isWordChar(m_text[end]))
            syntax(m_text.substr(m_at, end + 1 - m_at));
        m_tokens.push_back(
            {TsqlToken::Binary, std::string(m_text.substr(m_at + 2, end - m_at - 2)), m_at, end});
        m_at = end;
    }

    void number() {
        std::size_t end = digitsEnd(m_at);
        if (end < m_text.size() && m_text[end] == '.')
            end = digitsEnd(end + 1);
        if (end < m_text.size() && (m_text[end] == 'e' || m_text[end] == 'E')) {
            std::size_t e = end + 1;
            if (e < m_text.size() && (m_text[e] == '+' || m_text[e] == '-'))
                ++e;
            if (e < m_text.size() && isDigit(m_text[e]))
                end = digitsEnd(e);
        }
        push(TsqlToken::Number, end);
    }

    std::size_t digitsEnd(std::size_t from) const {
        while (from < m_text.size() && isDigit(m_text[from]))
            ++from;
        return from;
    }

    void variable() {
        const std::size_t nameStart = m_at + (ahead(2) == "@@" ? 2 : 1);
        const std::size_t end = wordEnd(nameStart);
        if (end == nameStart)
            syntax("@");
        push(nameStart == m_at + 2 ? TsqlToken::SystemVariable : TsqlToken::Variable, end);
    }

    void op() {
        static constexpr std::array<std::string_view, 6> pairs = {"<=", ">=", "<>",
                                                                  "!=", "!<", "!>"};
        if (std::find(pairs.begin(), pairs.end(), ahead(2)) != pairs.end())
            push(TsqlToken::Op, m_at + 2);
        else if (std::string_view("(),.*+-/%=<>&|^~;").find(m_text[m_at]) != std::string_view::npos)
            push(TsqlToken::Op, m_at + 1);
        else
            syntax(ahead(1));
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    std::vector<TsqlToken> m_tokens;
};

} // namespace

std::vector<TsqlToken> lexTsql(std::string_view text) {
    return Lexer(text).run();
}

} // namespace zeph::sqltext
