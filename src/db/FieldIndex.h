#pragma once
// A hash index over one column of a record set: the rows holding each search key, in row order.
// A forward search from a row is one hash look-up plus, for a key held by several rows, a binary
// search among them.

#include "DbValues.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zeph::db {

class FieldIndex {
public:
    /// Indexes `column` of every row.
    FieldIndex(const std::vector<std::vector<DbValue>> &rows, std::size_t column);

    void add(const DbValue &value, std::uint32_t row);
    void remove(const DbValue &value, std::uint32_t row);
    /// The first row at or after `from` whose value matches `key` (see matchesKey).
    std::optional<std::uint32_t> findFrom(std::string_view key, std::uint32_t from) const;

private:
    /// The rows of one key, ascending. Most keys have one row, kept without a heap block.
    struct Rows {
        std::uint32_t first = 0;
        std::vector<std::uint32_t> more;
    };
    std::unordered_map<std::string, Rows, KeyHash, KeyEqual> m_rows;
};

} // namespace zeph::db
