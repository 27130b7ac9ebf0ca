#pragma once
// SQL text shared by the database backends.
//
// What a query text reads from, so that its rows can be saved back: the system's updatable
// queries read one table or view ("SELECT * FROM X WHERE ...", "Select * from X order by ...").
// Anything else (joins, several sources, grouping, DISTINCT, compound selects, aggregates) is
// read-only.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::sqltext {

struct QueryShape {
    /// The single table or view the rows come from, as written (unquoted).
    std::string source;
    /// Where the select list starts (after "SELECT" and an optional "ALL"); hidden key columns
    /// are put there.
    std::size_t selectListOffset = 0;
};

/// The shape of a single-source SELECT; nothing for any other statement.
std::optional<QueryShape> singleSourceSelect(std::string_view sql);

/// A name quoted for SQL text: "name" with inner quotes doubled (SQLite, and SQL Server with
/// quoted identifiers on, as every ODBC connection has them).
std::string quoteName(std::string_view name);

/// "INSERT INTO target (c1, c2) VALUES (?, ?)", or "... DEFAULT VALUES" without columns.
std::string insertText(const std::string &target, const std::vector<std::string> &columns);
/// "UPDATE target SET c1 = ?, c2 = ?" (the caller adds the key condition).
std::string updateSetText(const std::string &target, const std::vector<std::string> &columns);
/// "UPDATE target SET c1 = ?, c2 = ? WHERE w1 = ? AND w2 = ?": the rows that hold the values
/// of `whereColumns` take new values. Guarded, the change is made only when no more rows than
/// a number hold them: " AND (SELECT COUNT(*) FROM target WHERE w1 = ? AND w2 = ?) <= ?"
/// follows, so the values of `whereColumns` are bound twice, then the number.
std::string updateWhereText(const std::string &target, const std::vector<std::string> &columns,
                            const std::vector<std::string> &whereColumns, bool guarded);

} // namespace zeph::sqltext
