// A T-SQL SELECT read whole and written out as the stand-in's database runs it with SQL
// Server's meaning. Every expression is typed as SQL Server types it; where SQLite's meaning
// differs the text calls a tsql_* function of the database instead:
//
//   tsql_cast(x, type, length, scale, style, from)   CAST and CONVERT
//   tsql_datekey(x, from)      a date made comparable (its datetime2 text)
//   tsql_num(x, decimal)       a string beside a number, read as one (or error 245)
//   tsql_add(a, b)             '+' of values whose types only the values tell
//   tsql_arith(op, a, b)       '-', '*', '/', '%' (1/0 is error 8134)
//   tsql_len(x), tsql_like(x, pattern, escape), tsql_now(type)
//   tsql_dateadd(part, n, d, from), tsql_datediff(part, a, from, b, from),
//   tsql_datepart(part, d, from)
#include "Tsql.h"
#include "TsqlLexer.h"

#include "platform/AsciiText.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace zeph::sqltext {
namespace {

using Token = TsqlToken;

[[noreturn]] void syntax(std::string_view near) {
    throw TsqlError(tsqlerr::kSyntax, "Incorrect syntax near '" + std::string(near) + "'.");
}

// T-SQL's reserved words that a query may hold; none of them is a name unless quoted.
constexpr std::string_view kKeywords[] = {"ADD",     "ALL",     "AND",      "ANY",
                                          "AS",      "ASC",     "BETWEEN",  "BY",
                                          "CASE",    "CHECK",   "COLLATE",  "COLUMN",
                                          "CONVERT", "CREATE",  "CROSS",    "CURRENT_TIMESTAMP",
                                          "DELETE",  "DESC",    "DISTINCT", "DROP",
                                          "ELSE",    "END",     "ESCAPE",   "EXCEPT",
                                          "EXEC",    "EXECUTE", "EXISTS",   "FOR",
                                          "FROM",    "FULL",    "GROUP",    "HAVING",
                                          "IN",      "INNER",   "INSERT",   "INTERSECT",
                                          "INTO",    "IS",      "JOIN",     "LEFT",
                                          "LIKE",    "NOT",     "NULL",     "OF",
                                          "ON",      "OR",      "ORDER",    "OUTER",
                                          "OVER",    "PERCENT", "RIGHT",    "SELECT",
                                          "SET",     "SOME",    "TABLE",    "THEN",
                                          "TOP",     "UNION",   "UPDATE",   "VALUES",
                                          "WHEN",    "WHERE",   "WITH"};

bool isKeyword(const Token &t) {
    if (t.kind != Token::Word)
        return false;
    const std::string upper = upperAscii(t.text);
    return std::find(std::begin(kKeywords), std::end(kKeywords), upper) != std::end(kKeywords);
}

// Functions SQL Server has that the stand-in does not run: refused as not supported here,
// not as unknown.
constexpr std::string_view kServerFunctions[] = {
    "APP_NAME",    "ASCII",      "CEILING",       "CHAR",        "CHARINDEX",      "CHECKSUM",
    "CHOOSE",      "DATALENGTH", "DATEFROMPARTS", "DATENAME",    "DENSE_RANK",     "DIFFERENCE",
    "EOMONTH",     "FLOOR",      "FORMAT",        "GETUTCDATE",  "HASHBYTES",      "HOST_NAME",
    "ISDATE",      "ISNUMERIC",  "LAG",           "LEAD",        "NCHAR",          "NEWID",
    "NTILE",       "OBJECT_ID",  "OBJECT_NAME",   "PATINDEX",    "POWER",          "QUOTENAME",
    "RANK",        "REPLACE",    "REVERSE",       "ROUND",       "ROW_NUMBER",     "SERVERPROPERTY",
    "SIGN",        "SOUNDEX",    "SPACE",         "SQRT",        "SQUARE",         "STDEV",
    "STR",         "STRING_AGG", "STUFF",         "SUSER_SNAME", "SYSUTCDATETIME", "TRY_CAST",
    "TRY_CONVERT", "UNICODE",    "USER_NAME"};

std::string quotedText(std::string_view value) {
    std::string out = "'";
    for (char c : value) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

std::string quotedName(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

std::string typeCode(TsqlType t) {
    return std::to_string(static_cast<int>(t));
}

struct Expr {
    std::string sql;
    TsqlType type = TsqlType::Unknown;
    bool condition = false; // a predicate: true, false or unknown, not a value
    bool column = false;
};

TsqlType numericResult(TsqlType a, TsqlType b) {
    if (a == TsqlType::Float || b == TsqlType::Float)
        return TsqlType::Float;
    if (a == TsqlType::Decimal || b == TsqlType::Decimal)
        return TsqlType::Decimal;
    return TsqlType::Int;
}

class Reader {
public:
    Reader(std::string_view text, const TsqlCatalogue &catalogue)
        : m_tokens(lexTsql(text))
        , m_catalogue(catalogue) {}

    TsqlQuery run() {
        TsqlQuery q;
        q.sql = query();
        while (peek().kind == Token::Op && peek().text == ";")
            ++m_at;
        if (peek().kind != Token::End)
            near(peek());
        q.variables = std::move(m_variables);
        return q;
    }

private:
    const Token &peek(std::size_t ahead = 0) const {
        return m_tokens[std::min(m_at + ahead, m_tokens.size() - 1)];
    }
    const Token &take() {
        const Token &t = peek();
        if (t.kind == Token::End)
            near(t);
        ++m_at;
        return t;
    }
    bool isWord(const Token &t, std::string_view word) const {
        return t.kind == Token::Word && equalsIgnoreCase(t.text, word);
    }
    bool atWord(std::string_view word, std::size_t ahead = 0) const {
        return isWord(peek(ahead), word);
    }
    bool takeWord(std::string_view word) {
        if (!atWord(word))
            return false;
        ++m_at;
        return true;
    }
    bool atOp(std::string_view op, std::size_t ahead = 0) const {
        return peek(ahead).kind == Token::Op && peek(ahead).text == op;
    }
    bool takeOp(std::string_view op) {
        if (!atOp(op))
            return false;
        ++m_at;
        return true;
    }
    void expectOp(std::string_view op) {
        if (!takeOp(op))
            near(peek());
    }
    void expectWord(std::string_view word) {
        if (!takeWord(word))
            near(peek());
    }

    [[noreturn]] void near(const Token &t) const {
        if (t.kind == Token::End) {
            // SQL Server names the last thing it read.
            const Token &last = m_tokens.size() > 1 ? m_tokens[m_tokens.size() - 2] : t;
            if (last.kind == Token::End)
                syntax("");
            near(last);
        }
        if (isKeyword(t))
            throw TsqlError(tsqlerr::kSyntax,
                            "Incorrect syntax near the keyword '" + upperAscii(t.text) + "'.");
        syntax(t.kind == Token::Binary ? "0x" + t.text : t.text);
    }

    [[noreturn]] static void unsupported(const std::string &what) {
        throw TsqlError(tsqlerr::kUnsupported, what + " is not supported by this server.");
    }

    // --- statements ------------------------------------------------------------------------

    std::string query() {
        std::string sql;
        if (takeWord("WITH")) {
            sql = "WITH ";
            do {
                const Token &name = take();
                if ((name.kind != Token::Word || isKeyword(name)) && name.kind != Token::Name)
                    near(name);
                sql += quotedName(name.text);
                if (takeOp("(")) {
                    sql += " (";
                    do {
                        sql += columnAlias();
                        if (atOp(","))
                            sql += ", ";
                    } while (takeOp(","));
                    expectOp(")");
                    sql += ")";
                }
                expectWord("AS");
                expectOp("(");
                sql += " AS (" + query() + ")";
                expectOp(")");
                if (atOp(","))
                    sql += ", ";
            } while (takeOp(","));
            sql += " ";
        }
        std::string top;
        int terms = 0;
        bool anyTop = false;
        for (;;) {
            std::string termTop;
            sql += selectCore(termTop);
            ++terms;
            anyTop = anyTop || !termTop.empty();
            top = termTop;
            if (atWord("UNION") || atWord("EXCEPT") || atWord("INTERSECT")) {
                sql += " " + upperAscii(take().text);
                if (takeWord("ALL"))
                    sql += " ALL";
                sql += " ";
                continue;
            }
            break;
        }
        if (terms > 1 && anyTop)
            unsupported("TOP in a part of a UNION, EXCEPT or INTERSECT");
        if (atWord("ORDER")) {
            ++m_at;
            expectWord("BY");
            sql += " ORDER BY ";
            do {
                Expr e = value();
                sql += e.sql;
                if (takeWord("DESC"))
                    sql += " DESC";
                else
                    takeWord("ASC");
                if (atOp(","))
                    sql += ", ";
            } while (takeOp(","));
            if (takeWord("OFFSET")) {
                if (!top.empty())
                    throw TsqlError(10741, "A TOP can not be used in the same query or sub-query "
                                           "as a OFFSET.");
                const std::string offset = value().sql;
                if (!takeWord("ROWS"))
                    expectWord("ROW");
                std::string fetch = "-1";
                if (takeWord("FETCH")) {
                    if (!takeWord("NEXT"))
                        expectWord("FIRST");
                    fetch = value().sql;
                    if (!takeWord("ROWS"))
                        expectWord("ROW");
                    expectWord("ONLY");
                }
                sql += " LIMIT " + fetch + " OFFSET " + offset;
            }
        }
        if (!top.empty())
            sql += " LIMIT " + top;
        return sql;
    }

    std::string selectCore(std::string &top) {
        if (atOp("("))
            unsupported("A parenthesized query part");
        expectWord("SELECT");
        std::string sql = "SELECT ";
        if (takeWord("DISTINCT"))
            sql += "DISTINCT ";
        else
            takeWord("ALL");
        if (takeWord("TOP")) {
            if (takeOp("(")) {
                top = value().sql;
                expectOp(")");
            } else {
                const Token &n = take();
                if (n.kind != Token::Number && n.kind != Token::Variable)
                    near(n);
                top = n.kind == Token::Variable ? variable(n.text) : n.text;
            }
            if (atWord("PERCENT"))
                unsupported("TOP ... PERCENT");
            if (atWord("WITH") && atWord("TIES", 1))
                unsupported("TOP ... WITH TIES");
        }
        do {
            sql += selectItem();
            if (atOp(","))
                sql += ", ";
        } while (takeOp(","));
        if (atWord("INTO"))
            near(peek());
        if (takeWord("FROM")) {
            sql += " FROM ";
            do {
                sql += tableReference();
                if (atOp(","))
                    sql += ", ";
            } while (takeOp(","));
        }
        if (takeWord("WHERE"))
            sql += " WHERE " + condition("WHERE").sql;
        if (atWord("GROUP")) {
            ++m_at;
            expectWord("BY");
            sql += " GROUP BY ";
            do {
                sql += value().sql;
                if (atOp(","))
                    sql += ", ";
            } while (takeOp(","));
        }
        if (takeWord("HAVING"))
            sql += " HAVING " + condition("HAVING").sql;
        return sql;
    }

    std::string columnAlias() {
        const Token &t = take();
        if ((t.kind == Token::Word && !isKeyword(t)) || t.kind == Token::Name ||
            t.kind == Token::String)
            return quotedName(t.text);
        near(t);
    }

    std::string selectItem() {
        if (takeOp("*"))
            return "*";
        // name.* and name.name.*
        {
            std::size_t ahead = 0;
            while ((peek(ahead).kind == Token::Word || peek(ahead).kind == Token::Name) &&
                   atOp(".", ahead + 1))
                ahead += 2;
            if (ahead > 0 && atOp("*", ahead)) {
                std::string sql;
                for (std::size_t i = 0; i < ahead; i += 2) {
                    const Token &part = take();
                    ++m_at; // "."
                    sql += (part.kind == Token::Name ? quotedName(part.text) : part.text) + ".";
                }
                ++m_at; // "*"
                // Only the last name (the table or its alias) counts in the database's text.
                const std::size_t lastDot = sql.rfind('.', sql.size() - 2);
                return (lastDot == std::string::npos ? sql : sql.substr(lastDot + 1)) + "*";
            }
        }
        // alias = expression
        if (((peek().kind == Token::Word && !isKeyword(peek())) || peek().kind == Token::Name ||
             peek().kind == Token::String) &&
            atOp("=", 1)) {
            const std::string alias = quotedName(take().text);
            ++m_at;
            return value().sql + " AS " + alias;
        }
        const Expr e = value();
        if (takeWord("AS"))
            return e.sql + " AS " + columnAlias();
        if ((peek().kind == Token::Word && !isKeyword(peek())) || peek().kind == Token::Name ||
            peek().kind == Token::String)
            return e.sql + " AS " + columnAlias();
        // A column keeps its name; an expression has none on SQL Server (never the text the
        // database runs in its place).
        return e.column ? e.sql : e.sql + " AS \"\"";
    }

    std::string tableReference() {
        std::string sql = tablePrimary();
        for (;;) {
            std::string join;
            if (takeWord("JOIN")) {
                join = " JOIN ";
            } else if (atWord("INNER") && atWord("JOIN", 1)) {
                m_at += 2;
                join = " INNER JOIN ";
            } else if ((atWord("LEFT") || atWord("RIGHT") || atWord("FULL"))) {
                const std::string kind = upperAscii(take().text);
                takeWord("OUTER");
                expectWord("JOIN");
                join = " " + kind + " OUTER JOIN ";
            } else if (atWord("CROSS")) {
                ++m_at;
                if (atWord("APPLY"))
                    unsupported("CROSS APPLY");
                expectWord("JOIN");
                sql += " CROSS JOIN " + tablePrimary();
                continue;
            } else if (atWord("OUTER") && atWord("APPLY", 1)) {
                unsupported("OUTER APPLY");
            } else {
                return sql;
            }
            sql += join + tablePrimary();
            expectWord("ON");
            sql += " ON " + condition("ON").sql;
        }
    }

    std::string tableAlias() {
        if (takeWord("AS"))
            return " AS " + columnAlias();
        if ((peek().kind == Token::Word && !isKeyword(peek()) && !atWord("OFFSET") &&
             !atWord("CROSS") && !atWord("APPLY")) ||
            peek().kind == Token::Name)
            return " AS " + columnAlias();
        return {};
    }

    std::string tablePrimary() {
        if (takeOp("(")) {
            if (!atWord("SELECT") && !atWord("WITH"))
                near(peek());
            std::string sql = "(" + query() + ")";
            expectOp(")");
            const std::string alias = tableAlias();
            if (alias.empty())
                near(peek());
            return sql + alias;
        }
        std::vector<Token> parts;
        std::string written;
        for (;;) {
            if (atOp(".")) { // an empty part: TarvoDb..Subscriber
                parts.push_back({Token::Word, ""});
                written += ".";
                ++m_at;
                continue;
            }
            const Token &part = take();
            if ((part.kind != Token::Word || isKeyword(part)) && part.kind != Token::Name)
                near(part);
            parts.push_back(part);
            written += part.text;
            if (!takeOp("."))
                break;
            written += ".";
        }
        const std::string name = parts.back().text;
        if (atOp("("))
            throw TsqlError(tsqlerr::kInvalidObject, "Invalid object name '" + written + "'.");
        // The server holds one database, TarvoDb, whose objects are in dbo.
        bool elsewhere = parts.size() > 4 || startsWith(name, "sqlite_") ||
                         startsWith(name, "pragma_") || name.empty();
        if (parts.size() >= 2 && !parts[parts.size() - 2].text.empty() &&
            !equalsIgnoreCase(parts[parts.size() - 2].text, "dbo"))
            elsewhere = true;
        if (parts.size() >= 3 && !parts[parts.size() - 3].text.empty() &&
            !equalsIgnoreCase(parts[parts.size() - 3].text, "TarvoDb"))
            elsewhere = true;
        if (parts.size() == 4 && !parts[0].text.empty())
            elsewhere = true; // another server
        if (elsewhere)
            throw TsqlError(tsqlerr::kInvalidObject, "Invalid object name '" + written + "'.");
        std::string sql = quotedName(name) + tableAlias();
        if (atWord("WITH") && atOp("(", 1)) {
            // Table hints (NOLOCK ...): the stand-in's reads never wait for a writer anyway.
            m_at += 2;
            while (!atOp(")"))
                take();
            ++m_at;
        }
        return sql;
    }

    static bool startsWith(std::string_view text, std::string_view prefix) {
        return text.size() >= prefix.size() &&
               equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
    }

    std::string variable(const std::string &name) {
        m_variables.push_back(name);
        return "?";
    }

    // --- conditions ------------------------------------------------------------------------

    Expr condition(std::string_view context) {
        Expr e = orCondition();
        if (!e.condition)
            throw TsqlError(
                tsqlerr::kNotCondition,
                "An expression of non-boolean type specified in a context where a "
                "condition is expected, near '" +
                    std::string(peek().kind == Token::End ? std::string(context) : peek().text) +
                    "'.");
        return e;
    }

    Expr orCondition() {
        Expr e = andCondition();
        while (atWord("OR")) {
            ++m_at;
            Expr r = andCondition();
            requireCondition(e, r);
            e.sql = "(" + e.sql + " OR " + r.sql + ")";
        }
        return e;
    }

    Expr andCondition() {
        Expr e = notCondition();
        while (atWord("AND")) {
            ++m_at;
            Expr r = notCondition();
            requireCondition(e, r);
            e.sql = "(" + e.sql + " AND " + r.sql + ")";
        }
        return e;
    }

    void requireCondition(const Expr &a, const Expr &b) const {
        if (!a.condition || !b.condition)
            throw TsqlError(tsqlerr::kNotCondition,
                            "An expression of non-boolean type specified in a context where a "
                            "condition is expected, near '" +
                                (peek().kind == Token::End ? std::string(")") : peek().text) +
                                "'.");
    }

    Expr notCondition() {
        if (takeWord("NOT")) {
            Expr e = notCondition();
            requireCondition(e, e);
            e.sql = "NOT " + e.sql;
            return e;
        }
        return predicate();
    }

    Expr predicate() {
        if (takeWord("EXISTS")) {
            expectOp("(");
            Expr e{"EXISTS (" + query() + ")", TsqlType::Int, true};
            expectOp(")");
            return e;
        }
        if (atOp("(") && !atWord("SELECT", 1) && !atWord("WITH", 1)) {
            // "(" begins a condition in parentheses or a value's: try the condition first.
            const std::size_t at = m_at;
            const std::size_t variables = m_variables.size();
            try {
                ++m_at;
                Expr e = orCondition();
                if (e.condition && takeOp(")")) {
                    e.sql = "(" + e.sql + ")";
                    return e;
                }
            } catch (const TsqlError &) {
            }
            m_at = at;
            m_variables.resize(variables);
        }
        Expr left = value();
        bool negated = false;
        if (atWord("NOT") && (atWord("LIKE", 1) || atWord("IN", 1) || atWord("BETWEEN", 1))) {
            ++m_at;
            negated = true;
        }
        const std::string no = negated ? "NOT " : "";
        if (peek().kind == Token::Op) {
            static const std::array<std::string_view, 9> comparisons = {"=",  "<>", "!=", "<", ">",
                                                                        "<=", ">=", "!<", "!>"};
            const std::string op = peek().text;
            if (std::find(comparisons.begin(), comparisons.end(), op) != comparisons.end()) {
                ++m_at;
                if (atWord("ALL") || atWord("ANY") || atWord("SOME"))
                    unsupported("A comparison with " + upperAscii(peek().text));
                Expr right = value();
                return compare(left, op, right);
            }
        }
        if (takeWord("IS")) {
            const bool isNot = takeWord("NOT");
            expectWord("NULL");
            return {left.sql + (isNot ? " IS NOT NULL" : " IS NULL"), TsqlType::Int, true};
        }
        if (takeWord("LIKE")) {
            const Token &patternToken = peek();
            const bool plainPattern = patternToken.kind == Token::String &&
                                      patternToken.text.find('[') == std::string::npos;
            Expr pattern = value();
            std::string escape;
            if (takeWord("ESCAPE"))
                escape = value().sql;
            if (plainPattern && !atOp("+"))
                return {"(" + left.sql + " " + no + "LIKE " + pattern.sql +
                            (escape.empty() ? "" : " ESCAPE " + escape) + ")",
                        TsqlType::Int, true};
            return {"(" + no + "tsql_like(" + left.sql + ", " + pattern.sql + ", " +
                        (escape.empty() ? "NULL" : escape) + "))",
                    TsqlType::Int, true};
        }
        if (takeWord("BETWEEN")) {
            Expr low = additive();
            expectWord("AND");
            Expr high = additive();
            const Expr a = compare(left, ">=", low);
            const Expr b = compare(left, "<=", high);
            return {"(" + no + "(" + a.sql + " AND " + b.sql + "))", TsqlType::Int, true};
        }
        if (takeWord("IN")) {
            expectOp("(");
            std::string list;
            if (atWord("SELECT") || atWord("WITH")) {
                list = query();
                if (isDateType(left.type))
                    unsupported("IN (SELECT ...) with a date");
            } else {
                do {
                    Expr item = value();
                    if (isDateType(left.type) || isDateType(item.type)) {
                        if (!list.empty())
                            list += ", ";
                        list += dateKey(item);
                    } else {
                        if (!list.empty())
                            list += ", ";
                        list += numericSide(item, left).sql;
                    }
                } while (takeOp(","));
            }
            expectOp(")");
            const std::string l = isDateType(left.type) ? dateKey(left) : left.sql;
            return {"(" + l + " " + no + "IN (" + list + "))", TsqlType::Int, true};
        }
        if (negated || (peek().kind == Token::Word && !isKeyword(peek())))
            near(peek()); // GLOB, REGEXP, MATCH ...: no operator of SQL Server's
        return left;
    }

    std::string dateKey(const Expr &e) {
        if (e.type == TsqlType::Null)
            return "NULL";
        return "tsql_datekey(" + e.sql + ", " + typeCode(e.type) + ")";
    }

    // A string beside a number is read as a number, as SQL Server converts it.
    Expr numericSide(const Expr &e, const Expr &other) {
        if (isNumericType(other.type) && (e.type == TsqlType::Text)) {
            const bool decimal = other.type != TsqlType::Int;
            return {"tsql_num(" + e.sql + ", " + (decimal ? "1" : "0") + ")",
                    decimal ? TsqlType::Decimal : TsqlType::Int};
        }
        return e;
    }

    Expr compare(const Expr &left, std::string op, const Expr &right) {
        if (op == "!=")
            op = "<>";
        else if (op == "!<")
            op = ">=";
        else if (op == "!>")
            op = "<=";
        if (left.condition || right.condition)
            syntax(op);
        if (isDateType(left.type) || isDateType(right.type))
            return {dateKey(left) + " " + op + " " + dateKey(right), TsqlType::Int, true};
        const Expr l = numericSide(left, right);
        const Expr r = numericSide(right, left);
        return {l.sql + " " + op + " " + r.sql, TsqlType::Int, true};
    }

    // --- values ----------------------------------------------------------------------------

    Expr value() {
        Expr e = additive();
        if (e.condition)
            syntax("=");
        return e;
    }

    Expr additive() {
        Expr e = multiplicative();
        for (;;) {
            if (peek().kind != Token::Op)
                return e;
            const std::string op = peek().text;
            if (op != "+" && op != "-" && op != "&" && op != "|" && op != "^")
                return e;
            ++m_at;
            const Expr r = multiplicative();
            e = binary(e, op[0], r);
        }
    }

    Expr multiplicative() {
        Expr e = unary();
        for (;;) {
            if (peek().kind != Token::Op)
                return e;
            const std::string op = peek().text;
            if (op != "*" && op != "/" && op != "%")
                return e;
            ++m_at;
            const Expr r = unary();
            e = binary(e, op[0], r);
        }
    }

    Expr binary(const Expr &a, char op, const Expr &b) {
        const bool numeric = isNumericType(a.type) && isNumericType(b.type);
        if (a.type == TsqlType::Null || b.type == TsqlType::Null)
            return {"NULL", a.type == TsqlType::Null ? b.type : a.type};
        if (op == '&' || op == '|' || op == '^') {
            if ((a.type != TsqlType::Int && a.type != TsqlType::Unknown) ||
                (b.type != TsqlType::Int && b.type != TsqlType::Unknown))
                throw TsqlError(402, std::string("The data types of the operands are "
                                                 "incompatible in the ") +
                                         (op == '&'   ? "'&'"
                                          : op == '|' ? "'|'"
                                                      : "'^'") +
                                         " operator.");
            const std::string x = "tsql_num(" + a.sql + ", 0)", y = "tsql_num(" + b.sql + ", 0)";
            if (op == '^')
                return {"((" + x + " | " + y + ") - (" + x + " & " + y + "))", TsqlType::Int};
            return {"(" + x + " " + op + " " + y + ")", TsqlType::Int};
        }
        if (isDateType(a.type) || isDateType(b.type)) {
            const Expr &date = isDateType(a.type) ? a : b;
            const Expr &days = isDateType(a.type) ? b : a;
            if ((op != '+' && op != '-') || (op == '-' && !isDateType(a.type)) ||
                (isDateType(a.type) && isDateType(b.type)) || !isNumericType(days.type) ||
                date.type == TsqlType::Date || date.type == TsqlType::DateTime2)
                throw TsqlError(tsqlerr::kBadOperand,
                                "Operand data type " +
                                    std::string(date.type == TsqlType::Date        ? "date"
                                                : date.type == TsqlType::DateTime2 ? "datetime2"
                                                                                   : "datetime") +
                                    " is invalid for " + (op == '+' ? "add" : "subtract") +
                                    " operator.");
            return {"tsql_dateadd('day', " + std::string(op == '-' ? "-" : "") + "(" + days.sql +
                        "), " + date.sql + ", " + typeCode(date.type) + ")",
                    date.type};
        }
        if (op == '+' && a.type == TsqlType::Text && b.type == TsqlType::Text)
            return {"(" + a.sql + " || " + b.sql + ")", TsqlType::Text};
        if (numeric && op != '/' && op != '%' && a.type == TsqlType::Int && b.type == TsqlType::Int)
            return {"tsql_arith('" + std::string(1, op) + "', " + a.sql + ", " + b.sql + ")",
                    TsqlType::Int};
        if (numeric && op != '/' && op != '%')
            return {"(" + a.sql + " " + op + " " + b.sql + ")", numericResult(a.type, b.type)};
        TsqlType type = TsqlType::Unknown;
        if (numeric)
            type = numericResult(a.type, b.type);
        else if (isNumericType(a.type) || isNumericType(b.type))
            type = isNumericType(a.type) ? a.type : b.type;
        if (op == '+')
            return {"tsql_add(" + a.sql + ", " + b.sql + ")",
                    a.type == TsqlType::Binary && b.type == TsqlType::Binary ? TsqlType::Binary
                                                                             : type};
        return {"tsql_arith('" + std::string(1, op) + "', " + a.sql + ", " + b.sql + ")", type};
    }

    Expr unary() {
        if (atOp("-") || atOp("+") || atOp("~")) {
            const char op = take().text[0];
            Expr e = unary();
            if (op == '+')
                return e;
            if (op == '~')
                return {"(~tsql_num(" + e.sql + ", 0))", TsqlType::Int};
            if (isNumericType(e.type))
                return {"(-" + e.sql + ")", e.type};
            return {"tsql_arith('-', 0, " + e.sql + ")", TsqlType::Unknown};
        }
        Expr e = primary();
        if (atWord("COLLATE"))
            unsupported("COLLATE");
        return e;
    }

    Expr primary() {
        const Token &t = take();
        switch (t.kind) {
        case Token::Number: {
            if (t.text.find_first_of("eE") != std::string::npos)
                return {t.text, TsqlType::Float};
            if (t.text.find('.') != std::string::npos)
                return {t.text, TsqlType::Decimal};
            if (t.text.size() > 18)
                return {t.text + ".0", TsqlType::Decimal};
            return {t.text, TsqlType::Int};
        }
        case Token::String:
            return {quotedText(t.text), TsqlType::Text};
        case Token::Binary: {
            std::string hex = t.text;
            if (hex.size() % 2)
                hex.insert(0, "0");
            return {"X'" + hex + "'", TsqlType::Binary};
        }
        case Token::Variable:
            return {variable(t.text), TsqlType::Unknown};
        case Token::SystemVariable:
            if (!equalsIgnoreCase(t.text, "@@SERVERNAME"))
                unsupported(t.text);
            return {variable("@@SERVERNAME"), TsqlType::Text};
        case Token::Op:
            if (t.text == "(") {
                if (atWord("SELECT") || atWord("WITH")) {
                    Expr e{"(" + query() + ")", TsqlType::Unknown};
                    expectOp(")");
                    return e;
                }
                Expr e = additive();
                expectOp(")");
                e.sql = "(" + e.sql + ")";
                return e;
            }
            near(t);
        case Token::Name:
            return column(t);
        case Token::Word:
            break;
        default:
            near(t);
        }
        const std::string word = upperAscii(t.text);
        if (word == "NULL")
            return {"NULL", TsqlType::Null};
        if (word == "CASE")
            return caseExpression();
        if (word == "CURRENT_TIMESTAMP")
            return {"tsql_now(" + typeCode(TsqlType::DateTime) + ")", TsqlType::DateTime};
        if (word == "CONVERT" || word == "CAST") {
            expectOp("(");
            return word == "CAST" ? castRest() : convertRest();
        }
        if (atOp("("))
            return function(t);
        if (isKeyword(t))
            near(t);
        return column(t);
    }

    Expr column(const Token &first) {
        std::vector<std::string> parts{first.kind == Token::Name ? quotedName(first.text)
                                                                 : first.text};
        std::string last = first.text;
        while (atOp(".") && (peek(1).kind == Token::Word || peek(1).kind == Token::Name)) {
            ++m_at;
            const Token &part = take();
            if (atOp("("))
                throw TsqlError(4121, "Cannot find either column \"" + first.text +
                                          "\" or the user-defined function or aggregate \"" +
                                          first.text + "." + part.text +
                                          "\", or the name is ambiguous.");
            parts.push_back(part.kind == Token::Name ? quotedName(part.text) : part.text);
            last = part.text;
        }
        // table.column: what the database names; a schema before the table is dropped.
        std::string sql = parts.back();
        if (parts.size() >= 2)
            sql = parts[parts.size() - 2] + "." + sql;
        return {sql, m_catalogue.columnType(last), false, true};
    }

    Expr caseExpression() {
        std::string sql = "CASE";
        bool simple = false;
        Expr subject;
        if (!atWord("WHEN")) {
            subject = value();
            simple = true;
        }
        TsqlType type = TsqlType::Null;
        bool mixed = false;
        std::vector<Expr> results;
        while (takeWord("WHEN")) {
            if (simple)
                sql += " WHEN " + compare(subject, "=", value()).sql;
            else
                sql += " WHEN " + condition("THEN").sql;
            expectWord("THEN");
            results.push_back(value());
            sql += " THEN " + results.back().sql;
        }
        if (results.empty())
            near(peek());
        if (takeWord("ELSE")) {
            results.push_back(value());
            sql += " ELSE " + results.back().sql;
        }
        expectWord("END");
        for (const Expr &r : results) {
            if (r.type == TsqlType::Null)
                continue;
            if (type == TsqlType::Null)
                type = r.type;
            else if (type != r.type)
                mixed = true;
        }
        return {sql + " END", mixed ? TsqlType::Unknown : type};
    }

    TsqlTarget typeName() {
        const Token &name = take();
        if (name.kind != Token::Word && name.kind != Token::Name)
            near(name);
        int length = -1, scale = -1;
        if (takeOp("(")) {
            if (takeWord("MAX")) {
                length = 0;
            } else {
                const Token &n = take();
                if (n.kind != Token::Number ||
                    n.text.find_first_not_of("0123456789") != std::string::npos ||
                    n.text.size() > 9)
                    near(n);
                length = std::stoi(n.text);
                if (takeOp(",")) {
                    const Token &s = take();
                    if (s.kind != Token::Number ||
                        s.text.find_first_not_of("0123456789") != std::string::npos ||
                        s.text.size() > 2)
                        near(s);
                    scale = std::stoi(s.text);
                }
            }
            expectOp(")");
        }
        return targetOf(name.text, length, scale);
    }

    Expr cast(const Expr &e, const TsqlTarget &to) {
        if (e.type == TsqlType::Null)
            return {"NULL", to.type};
        return {"tsql_cast(" + e.sql + ", '" + to.name + "', " + std::to_string(to.length) + ", " +
                    std::to_string(to.scale) + ", " + std::to_string(to.style) + ", " +
                    typeCode(e.type) + ")",
                to.type};
    }

    Expr castRest() {
        Expr e = value();
        expectWord("AS");
        const TsqlTarget to = typeName();
        expectOp(")");
        return cast(e, to);
    }

    Expr convertRest() {
        TsqlTarget to = typeName();
        expectOp(",");
        Expr e = value();
        if (takeOp(",")) {
            const Token &style = take();
            if (style.kind != Token::Number ||
                style.text.find_first_not_of("0123456789") != std::string::npos ||
                style.text.size() > 3)
                near(style);
            to.style = std::stoi(style.text);
        }
        expectOp(")");
        return cast(e, to);
    }

    std::vector<Expr> arguments() {
        std::vector<Expr> args;
        expectOp("(");
        if (takeOp(")"))
            return args;
        do {
            args.push_back(value());
        } while (takeOp(","));
        expectOp(")");
        return args;
    }

    static void argumentCount(const std::string &name, const std::vector<Expr> &args,
                              std::size_t least, std::size_t most) {
        if (args.size() < least || args.size() > most)
            throw TsqlError(174, "The " + lowerAscii(name) + " function requires " +
                                     std::to_string(least) + " argument(s).");
    }

    std::string datePartName() {
        const Token &part = take();
        if (part.kind != Token::Word)
            near(part);
        (void)dateAddProbe(part.text); // an unknown part is refused here, not while running
        return quotedText(lowerAscii(part.text));
    }

    static bool dateAddProbe(const std::string &part) {
        datePart(part, TsqlValue::null(), TsqlType::DateTime);
        return true;
    }

    Expr function(const Token &nameToken) {
        const std::string name = upperAscii(nameToken.text);
        if (name == "COUNT") {
            expectOp("(");
            std::string sql = "count(";
            if (takeOp("*")) {
                sql += "*";
            } else {
                if (takeWord("DISTINCT"))
                    sql += "DISTINCT ";
                else
                    takeWord("ALL");
                sql += value().sql;
            }
            expectOp(")");
            noWindow();
            return {sql + ")", TsqlType::Int};
        }
        if (name == "SUM" || name == "MIN" || name == "MAX" || name == "AVG") {
            expectOp("(");
            std::string distinct;
            if (takeWord("DISTINCT"))
                distinct = "DISTINCT ";
            else
                takeWord("ALL");
            Expr e = value();
            expectOp(")");
            noWindow();
            if (isDateType(e.type) && (name == "SUM" || name == "AVG"))
                throw TsqlError(8117,
                                "Operand data type " +
                                    std::string(e.type == TsqlType::Date ? "date" : "datetime") +
                                    " is invalid for " + lowerAscii(name) + " operator.");
            if (name == "AVG" && e.type == TsqlType::Int) // the average of integers is one
                return {"CAST(avg(" + distinct + e.sql + ") AS INTEGER)", TsqlType::Int};
            return {lowerAscii(name) + "(" + distinct + e.sql + ")", e.type};
        }
        if (name == "DATEADD" || name == "DATEDIFF" || name == "DATEPART") {
            expectOp("(");
            const std::string part = datePartName();
            std::vector<Expr> args;
            while (takeOp(","))
                args.push_back(value());
            expectOp(")");
            if (name == "DATEPART") {
                argumentCount(name, args, 1, 1);
                return {"tsql_datepart(" + part + ", " + args[0].sql + ", " +
                            typeCode(args[0].type) + ")",
                        TsqlType::Int};
            }
            argumentCount(name, args, 2, 2);
            if (name == "DATEADD")
                return {"tsql_dateadd(" + part + ", " + args[0].sql + ", " + args[1].sql + ", " +
                            typeCode(args[1].type) + ")",
                        isDateType(args[1].type) ? args[1].type : TsqlType::DateTime};
            return {"tsql_datediff(" + part + ", " + args[0].sql + ", " + typeCode(args[0].type) +
                        ", " + args[1].sql + ", " + typeCode(args[1].type) + ")",
                    TsqlType::Int};
        }
        if (std::find(std::begin(kServerFunctions), std::end(kServerFunctions), name) !=
            std::end(kServerFunctions))
            unsupported("The function " + name);
        const std::vector<Expr> args = arguments();
        auto one = [&](const std::string &sqlName, TsqlType type) -> Expr {
            argumentCount(name, args, 1, 1);
            return {sqlName + "(" + args[0].sql + ")", type};
        };
        if (name == "LEN")
            return one("tsql_len", TsqlType::Int);
        if (name == "UPPER" || name == "LOWER" || name == "LTRIM" || name == "RTRIM" ||
            name == "TRIM")
            return one(lowerAscii(name), TsqlType::Text);
        if (name == "ABS") {
            argumentCount(name, args, 1, 1);
            return {"abs(tsql_num(" + args[0].sql + ", 1))",
                    isNumericType(args[0].type) ? args[0].type : TsqlType::Decimal};
        }
        if (name == "YEAR" || name == "MONTH" || name == "DAY") {
            argumentCount(name, args, 1, 1);
            return {"tsql_datepart('" + lowerAscii(name) + "', " + args[0].sql + ", " +
                        typeCode(args[0].type) + ")",
                    TsqlType::Int};
        }
        if (name == "GETDATE" || name == "SYSDATETIME") {
            argumentCount(name, args, 0, 0);
            const TsqlType type = name == "GETDATE" ? TsqlType::DateTime : TsqlType::DateTime2;
            return {"tsql_now(" + typeCode(type) + ")", type};
        }
        if (name == "DB_NAME") {
            argumentCount(name, args, 0, 0);
            return {variable("DB_NAME()"), TsqlType::Text};
        }
        if (name == "ISNULL") {
            argumentCount(name, args, 2, 2);
            Expr second = args[1];
            // The replacement takes the first value's type.
            if (args[0].type != TsqlType::Unknown && args[0].type != TsqlType::Null &&
                second.type != args[0].type && second.type != TsqlType::Null)
                second = cast(second, targetFor(args[0].type));
            return {"coalesce(" + args[0].sql + ", " + second.sql + ")",
                    args[0].type == TsqlType::Null ? second.type : args[0].type};
        }
        if (name == "COALESCE" || name == "NULLIF") {
            argumentCount(name, args, 2, name == "NULLIF" ? 2 : 1000);
            std::string sql = lowerAscii(name) + "(";
            TsqlType type = TsqlType::Null;
            for (std::size_t i = 0; i < args.size(); ++i) {
                sql += (i ? ", " : "") + args[i].sql;
                if (type == TsqlType::Null)
                    type = args[i].type;
            }
            return {sql + ")", type};
        }
        if (name == "CONCAT") {
            argumentCount(name, args, 2, 254);
            std::string sql = "(";
            for (std::size_t i = 0; i < args.size(); ++i)
                sql += (i ? " || " : "") + std::string("coalesce(") +
                       cast(args[i], targetOf("nvarchar", 0)).sql + ", '')";
            return {sql + ")", TsqlType::Text};
        }
        if (name == "SUBSTRING") {
            argumentCount(name, args, 3, 3);
            return {"substr(" + args[0].sql + ", tsql_num(" + args[1].sql + ", 0), tsql_num(" +
                        args[2].sql + ", 0))",
                    args[0].type == TsqlType::Binary ? TsqlType::Binary : TsqlType::Text};
        }
        if (name == "LEFT" || name == "RIGHT") {
            argumentCount(name, args, 2, 2);
            const std::string n = "tsql_num(" + args[1].sql + ", 0)";
            if (name == "LEFT")
                return {"substr(" + args[0].sql + ", 1, " + n + ")", TsqlType::Text};
            return {"substr(" + args[0].sql + ", -" + n + ", " + n + ")", TsqlType::Text};
        }
        if (name == "REPLICATE") {
            argumentCount(name, args, 2, 2);
            // n copies: the zeros of an n-byte blob's hex text, each pair made the text.
            const std::string n = "tsql_num(" + args[1].sql + ", 0)";
            return {"CASE WHEN " + n + " < 0 THEN NULL ELSE replace(hex(zeroblob(" + n +
                        ")), '00', " + cast(args[0], targetOf("varchar", 0)).sql + ") END",
                    TsqlType::Text};
        }
        if (name == "IIF") {
            unsupported("The function IIF");
        }
        if (name == "HAS_PERMS_BY_NAME") {
            // Answered by the server that runs the statement, which knows its grants.
            argumentCount(name, args, 3, 3);
            return {"HAS_PERMS_BY_NAME(" + args[0].sql + ", " + args[1].sql + ", " + args[2].sql +
                        ")",
                    TsqlType::Int};
        }
        throw TsqlError(tsqlerr::kNotFunction,
                        "'" + nameToken.text + "' is not a recognized built-in function name.");
    }

    void noWindow() {
        if (atWord("OVER"))
            unsupported("OVER");
    }

    static TsqlTarget targetFor(TsqlType type) {
        switch (type) {
        case TsqlType::Int:
            return targetOf("int");
        case TsqlType::Decimal:
            return targetOf("decimal", 38, 10);
        case TsqlType::Float:
            return targetOf("float");
        case TsqlType::Binary:
            return targetOf("varbinary", 0);
        case TsqlType::DateTime:
            return targetOf("datetime");
        case TsqlType::DateTime2:
            return targetOf("datetime2");
        case TsqlType::SmallDateTime:
            return targetOf("smalldatetime");
        case TsqlType::Date:
            return targetOf("date");
        default:
            return targetOf("nvarchar", 0);
        }
    }

    std::vector<Token> m_tokens;
    const TsqlCatalogue &m_catalogue;
    std::size_t m_at = 0;
    std::vector<std::string> m_variables;
};

} // namespace

TsqlType TsqlCatalogue::columnType(std::string_view name) const {
    const auto it = columns.find(upperAscii(name));
    return it == columns.end() ? TsqlType::Unknown : it->second;
}

TsqlQuery translateSelect(std::string_view text, const TsqlCatalogue &catalogue) {
    return Reader(text, catalogue).run();
}

std::optional<TsqlError>
serverErrorOf(std::string_view message, std::string_view statement,
              const std::function<bool(const std::string &, const std::string &)> &isPrimaryKey) {
    if (auto carried = carriedErrorOf(message))
        return carried;
    auto after = [&](std::string_view prefix) -> std::optional<std::string> {
        if (message.substr(0, prefix.size()) != prefix)
            return std::nullopt;
        return std::string(message.substr(prefix.size()));
    };
    auto unqualified = [](std::string name) {
        if (name.rfind("main.", 0) == 0)
            name.erase(0, 5);
        return name;
    };
    if (auto table = after("no such table: "))
        return TsqlError(tsqlerr::kInvalidObject,
                         "Invalid object name '" + unqualified(*table) + "'.");
    if (auto column = after("no such column: ")) {
        if (column->find('.') != std::string::npos)
            return TsqlError(4104,
                             "The multi-part identifier \"" + *column + "\" could not be bound.");
        return TsqlError(tsqlerr::kInvalidColumn, "Invalid column name '" + *column + "'.");
    }
    if (auto column = after("ambiguous column name: "))
        return TsqlError(209, "Ambiguous column name '" + *column + "'.");
    if (auto function = after("no such function: "))
        return TsqlError(tsqlerr::kNotFunction,
                         "'" + *function + "' is not a recognized built-in function name.");
    if (message.rfind("Could not find stored procedure", 0) == 0)
        return TsqlError(2812, std::string(message));
    const std::string verb = upperAscii(statement.empty() ? "INSERT" : statement);
    if (auto column = after("NOT NULL constraint failed: ")) {
        const std::size_t dot = column->find('.');
        const std::string table = dot == std::string::npos ? "" : column->substr(0, dot);
        const std::string name = dot == std::string::npos ? *column : column->substr(dot + 1);
        return TsqlError(515, "Cannot insert the value NULL into column '" + name +
                                  "', table 'TarvoDb.dbo." + table +
                                  "'; column does not allow nulls. " + verb + " fails.");
    }
    if (auto columns = after("UNIQUE constraint failed: ")) {
        // "T.a, T.b": the table and the key's columns.
        const std::size_t dot = columns->find('.');
        const std::string table = dot == std::string::npos ? "" : columns->substr(0, dot);
        std::string names;
        std::string first;
        std::size_t at = 0;
        while (at < columns->size()) {
            std::size_t comma = columns->find(", ", at);
            std::string part =
                columns->substr(at, comma == std::string::npos ? std::string::npos : comma - at);
            const std::size_t d = part.find('.');
            part = d == std::string::npos ? part : part.substr(d + 1);
            if (first.empty())
                first = part;
            names += "_" + part;
            at = comma == std::string::npos ? columns->size() : comma + 2;
        }
        const bool primary = isPrimaryKey && isPrimaryKey(table, first);
        return TsqlError(2627, std::string("Violation of ") +
                                   (primary ? "PRIMARY KEY constraint 'PK_" + table
                                            : "UNIQUE KEY constraint 'UQ_" + table + names) +
                                   "'. Cannot insert duplicate key in object 'dbo." + table + "'.");
    }
    if (message.find(": syntax error") != std::string_view::npos) {
        const std::size_t open = message.find('"');
        const std::size_t close = message.find('"', open + 1);
        if (open != std::string_view::npos && close != std::string_view::npos)
            return TsqlError(tsqlerr::kSyntax,
                             "Incorrect syntax near '" +
                                 std::string(message.substr(open + 1, close - open - 1)) + "'.");
    }
    return std::nullopt;
}

} // namespace zeph::sqltext
