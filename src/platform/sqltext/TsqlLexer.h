#pragma once
// T-SQL text read into its words, names, literals and operators, once for every reader of it:
// the query translation (a SELECT given SQL Server's meaning) and the stand-in server's batch
// translation (statements, EXEC and its arguments, text passed through to the database).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::sqltext {

struct TsqlToken {
    enum Kind { Word, Name, String, Binary, Number, Variable, SystemVariable, Op, End } kind;
    std::string text;      // a word as written; a string's or a name's value; an operator
    std::size_t begin = 0; // where it starts in the text (an N'...' string at its N)
    std::size_t end = 0;   // just after it
    bool national = false; // N'...'
};

/// The tokens of `text`, the last of them an End token. Throws TsqlError, with SQL Server's
/// number and words, for an unclosed quotation or comment and a character T-SQL has no use for.
std::vector<TsqlToken> lexTsql(std::string_view text);

} // namespace zeph::sqltext
