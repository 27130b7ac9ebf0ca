#include "TsqlTranslation.h"

#include "platform/AsciiText.h"
#include "platform/sqltext/TsqlLexer.h"

#include <algorithm>
#include <cctype>

namespace zeph::tds {
namespace {

using Token = sqltext::TsqlToken;

[[noreturn]] void syntaxNear(std::string_view what) {
    throw TsqlError(tsqlerr::kSyntax, "Incorrect syntax near '" + std::string(what) + "'.");
}

// A batch's tokens without the lexer's closing End token: the translation reads to the last
// token itself.
std::vector<Token> lex(std::string_view text) {
    std::vector<Token> tokens = sqltext::lexTsql(text);
    tokens.pop_back();
    return tokens;
}

bool isSemicolon(const Token &t) {
    return t.kind == Token::Op && t.text == ";";
}

bool isWord(const Token &t, std::string_view word) {
    return t.kind == Token::Word && equalsIgnoreCase(t.text, word);
}

using Tokens = std::vector<Token>;

TsqlStatement of(StatementKind kind) {
    TsqlStatement s;
    s.kind = kind;
    return s;
}

class Translator {
public:
    Translator(std::string_view text, const std::vector<std::string> &parameters,
               const sqltext::TsqlCatalogue &catalogue)
        : m_text(text)
        , m_tokens(lex(text))
        , m_parameters(parameters)
        , m_catalogue(catalogue) {}

    std::vector<TsqlStatement> run() {
        std::vector<TsqlStatement> statements;
        while (m_at < m_tokens.size()) {
            if (isSemicolon(m_tokens[m_at])) {
                ++m_at;
                continue;
            }
            statements.push_back(statement());
        }
        return statements;
    }

private:
    const Token *peek(std::size_t ahead = 0) const {
        return m_at + ahead < m_tokens.size() ? &m_tokens[m_at + ahead] : nullptr;
    }
    const Token &take() {
        if (m_at >= m_tokens.size())
            syntaxNear(m_tokens.empty() ? std::string_view() : m_tokens.back().text);
        return m_tokens[m_at++];
    }
    bool takeWord(std::string_view word) {
        if (peek() && isWord(*peek(), word)) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool atStatementEnd() const { return !peek() || isSemicolon(*peek()); }

    int parameterNumber(const Token &variable) const {
        for (std::size_t p = 0; p < m_parameters.size(); ++p) {
            if (equalsIgnoreCase(m_parameters[p], variable.text))
                return static_cast<int>(p + 1);
        }
        throw TsqlError(tsqlerr::kUndeclared,
                        "Must declare the scalar variable \"" + variable.text + "\".");
    }

    TsqlStatement statement() {
        const Token &first = take();
        if (first.kind != Token::Word)
            syntaxNear(first.text);
        const std::string keyword = upperAscii(first.text);
        if (keyword == "SET")
            return setOption();
        if (keyword == "BEGIN") {
            if (!takeWord("TRAN") && !takeWord("TRANSACTION"))
                syntaxNear("BEGIN");
            skipTransactionName();
            return of(StatementKind::BeginTransaction);
        }
        if (keyword == "COMMIT" || keyword == "ROLLBACK")
            return endTransaction(keyword);
        if (keyword == "IF")
            return ifTransactionOpen();
        if (keyword == "EXEC" || keyword == "EXECUTE")
            return exec();
        if (keyword == "SELECT" || keyword == "WITH")
            return select(first);
        if (keyword == "INSERT" || keyword == "UPDATE" || keyword == "DELETE" ||
            (keyword == "CREATE" && peek() && isWord(*peek(), "TABLE")))
            return query(first);
        syntaxNear(first.text);
    }

    TsqlStatement setOption() {
        TsqlStatement s = of(StatementKind::SetOption);
        const Token &option = take();
        if (option.kind != Token::Word)
            syntaxNear(option.text);
        s.option = upperAscii(option.text);
        if (s.option == "TRANSACTION") {
            // SET TRANSACTION ISOLATION LEVEL <level words>
            while (!atStatementEnd() && !isWord(*peek(), "SET"))
                ++m_at;
            return s;
        }
        static const char *const known[] = {"IMPLICIT_TRANSACTIONS",
                                            "TEXTSIZE",
                                            "ANSI_NULLS",
                                            "ANSI_WARNINGS",
                                            "ANSI_PADDING",
                                            "ANSI_NULL_DFLT_ON",
                                            "CONCAT_NULL_YIELDS_NULL",
                                            "QUOTED_IDENTIFIER",
                                            "ARITHABORT",
                                            "NOCOUNT",
                                            "XACT_ABORT",
                                            "LOCK_TIMEOUT",
                                            "DATEFORMAT",
                                            "LANGUAGE",
                                            "DATEFIRST",
                                            "CURSOR_CLOSE_ON_COMMIT",
                                            "NUMERIC_ROUNDABORT"};
        if (std::none_of(std::begin(known), std::end(known),
                         [&](const char *k) { return s.option == k; }))
            throw TsqlError(tsqlerr::kUnsupported,
                            "SET option " + s.option + " is not supported by this server.");
        const Token &value = take();
        s.on = isWord(value, "ON");
        return s;
    }

    // A transaction's name, unless the next word begins the next statement.
    void skipTransactionName() {
        static const char *const starts[] = {"SET",     "BEGIN",  "COMMIT", "ROLLBACK", "IF",
                                             "SELECT",  "INSERT", "UPDATE", "DELETE",   "EXEC",
                                             "EXECUTE", "WITH",   "CREATE"};
        const Token *next = peek();
        if (!next || (next->kind != Token::Word && next->kind != Token::Name))
            return;
        if (next->kind == Token::Word &&
            std::any_of(std::begin(starts), std::end(starts),
                        [&](const char *word) { return isWord(*next, word); }))
            return;
        ++m_at;
    }

    TsqlStatement endTransaction(const std::string &keyword) {
        if (!takeWord("TRAN") && !takeWord("TRANSACTION"))
            takeWord("WORK");
        else
            skipTransactionName();
        return of(keyword == "COMMIT" ? StatementKind::Commit : StatementKind::Rollback);
    }

    // IF @@TRANCOUNT > 0 COMMIT|ROLLBACK [TRAN]: what a client library sends to end a
    // transaction that may or may not be open.
    TsqlStatement ifTransactionOpen() {
        const Token &variable = take();
        if (variable.kind != Token::SystemVariable ||
            !equalsIgnoreCase(variable.text, "@@TRANCOUNT"))
            throw TsqlError(tsqlerr::kUnsupported, "IF is supported only as IF @@TRANCOUNT > 0 "
                                                   "COMMIT or ROLLBACK by this server.");
        const Token &greater = take();
        const Token &zero = take();
        if (greater.text != ">" || zero.text != "0")
            syntaxNear(greater.text);
        const Token &keyword = take();
        if (!isWord(keyword, "COMMIT") && !isWord(keyword, "ROLLBACK"))
            syntaxNear(keyword.text);
        TsqlStatement s = endTransaction(upperAscii(keyword.text));
        s.ifOpen = true;
        return s;
    }

    std::string objectName() {
        std::string name;
        for (;;) {
            const Token &part = take();
            if (part.kind != Token::Word && part.kind != Token::Name)
                syntaxNear(part.text);
            name += part.text;
            if (!peek() || peek()->text != ".")
                return name;
            name += take().text;
        }
    }

    TsqlStatement exec() {
        TsqlStatement s = of(StatementKind::Exec);
        if (peek() && peek()->kind == Token::Variable)
            throw TsqlError(tsqlerr::kUnsupported,
                            "EXEC @variable = ... is not supported by this server.");
        s.procedure = objectName();
        while (!atStatementEnd()) {
            if (!s.arguments.empty() && take().text != ",")
                syntaxNear(m_tokens[m_at - 1].text);
            const Token &name = take();
            if (name.kind != Token::Variable || take().text != "=")
                throw TsqlError(tsqlerr::kUnsupported,
                                "Procedure arguments are taken by name only (@Name = value).");
            s.arguments.push_back(argument(name.text));
        }
        return s;
    }

    ExecArgument argument(const std::string &name) {
        ExecArgument arg;
        arg.name = name;
        bool negative = false;
        if (peek() && peek()->text == "-") {
            negative = true;
            ++m_at;
        }
        const Token &value = take();
        if (value.kind == Token::Variable && !negative) {
            arg.parameter = parameterNumber(value);
        } else if (value.kind == Token::String && !negative) {
            arg.literal = value.text;
        } else if (isWord(value, "NULL") && !negative) {
            arg.literal = DbValue();
        } else if (value.kind == Token::Number &&
                   value.text.find_first_not_of("0123456789") == std::string::npos &&
                   value.text.size() <= 18) {
            const std::int64_t n = std::stoll(value.text);
            arg.literal = negative ? -n : n;
        } else {
            syntaxNear(value.text);
        }
        if (peek() && (isWord(*peek(), "OUTPUT") || isWord(*peek(), "OUT")))
            throw TsqlError(tsqlerr::kUnsupported,
                            "OUTPUT arguments are not supported by this server.");
        return arg;
    }

    // A query, read whole and given SQL Server's meaning.
    TsqlStatement select(const Token &first) {
        std::size_t end = first.end;
        while (!atStatementEnd())
            end = take().end;
        TsqlStatement s = of(StatementKind::Query);
        const sqltext::TsqlQuery q =
            sqltext::translateSelect(m_text.substr(first.begin, end - first.begin), m_catalogue);
        s.sql = q.sql;
        for (const std::string &variable : q.variables) {
            if (variable == "@@SERVERNAME")
                s.parameters.push_back(serverValue::kServerName);
            else if (variable == "DB_NAME()")
                s.parameters.push_back(serverValue::kDatabaseName);
            else
                s.parameters.push_back(parameterNumber(Token{Token::Variable, variable}));
        }
        return s;
    }

    // Everything up to the statement's end, in the dialect both databases share. A comment
    // between two tokens is written as a space: the database does not nest comments as T-SQL
    // does, and would read what follows an inner "*/" as text to run.
    TsqlStatement query(const Token &first) {
        TsqlStatement s = of(StatementKind::Query);
        std::size_t written = first.begin;
        const auto write = [&](std::size_t begin, std::size_t end, std::string_view text) {
            const std::string_view between = m_text.substr(written, begin - written);
            const bool blank = between.find_first_not_of(" \t\r\n\f\v") == std::string_view::npos;
            s.sql.append(blank ? between : std::string_view(" ")).append(text);
            written = end;
        };
        write(first.begin, first.end, source(first));
        while (!atStatementEnd()) {
            const Token &t = take();
            if (t.kind == Token::Variable) {
                s.parameters.push_back(parameterNumber(t));
                write(t.begin, t.end, "?");
            } else if (t.kind == Token::SystemVariable) {
                if (!equalsIgnoreCase(t.text, "@@SERVERNAME"))
                    throw TsqlError(tsqlerr::kUnsupported,
                                    t.text + " is not supported by this server.");
                s.parameters.push_back(serverValue::kServerName);
                write(t.begin, t.end, "?");
            } else if (isWord(t, "DB_NAME") && peek() && peek()->text == "(" && peek(1) &&
                       peek(1)->text == ")") {
                m_at += 2;
                s.parameters.push_back(serverValue::kDatabaseName);
                write(t.begin, m_tokens[m_at - 1].end, "?");
            } else if (t.kind == Token::String && t.national) {
                write(t.begin, t.end, m_text.substr(t.begin + 1, t.end - t.begin - 1));
            } else if (t.kind == Token::Word && (startsWithIgnoreCase(t.text, "sqlite_") ||
                                                 startsWithIgnoreCase(t.text, "pragma_"))) {
                throw TsqlError(208, "Invalid object name '" + t.text + "'.");
            } else {
                write(t.begin, t.end, source(t));
            }
        }
        return s;
    }

    std::string_view source(const Token &t) const {
        return m_text.substr(t.begin, t.end - t.begin);
    }

    static bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
        return text.size() >= prefix.size() &&
               equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
    }

    std::string_view m_text;
    Tokens m_tokens;
    const std::vector<std::string> &m_parameters;
    const sqltext::TsqlCatalogue &m_catalogue;
    std::size_t m_at = 0;
};

} // namespace

std::vector<std::string> declaredParameters(std::string_view declarations) {
    std::vector<std::string> names;
    const Tokens tokens = lex(declarations);
    int depth = 0;
    bool expectName = true;
    for (const Token &t : tokens) {
        if (t.text == "(")
            ++depth;
        else if (t.text == ")")
            --depth;
        else if (t.text == "," && depth == 0)
            expectName = true;
        else if (expectName) {
            if (t.kind != Token::Variable)
                syntaxNear(t.text);
            names.push_back(t.text);
            expectName = false;
        }
    }
    return names;
}

std::vector<TsqlStatement> translate(std::string_view text,
                                     const std::vector<std::string> &parameters,
                                     const sqltext::TsqlCatalogue *catalogue) {
    static const sqltext::TsqlCatalogue none;
    return Translator(text, parameters, catalogue ? *catalogue : none).run();
}

} // namespace zeph::tds
