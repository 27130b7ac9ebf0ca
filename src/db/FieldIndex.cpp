#include "FieldIndex.h"

#include <algorithm>

namespace zeph::db {

FieldIndex::FieldIndex(const std::vector<std::vector<DbValue>> &rows, std::size_t column) {
    m_rows.reserve(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r)
        add(rows[r][column], static_cast<std::uint32_t>(r));
}

void FieldIndex::add(const DbValue &value, std::uint32_t row) {
    if (isNull(value))
        return;
    auto [it, inserted] = m_rows.try_emplace(searchKey(value));
    Rows &rows = it->second;
    if (inserted) {
        rows.first = row;
        return;
    }
    if (row < rows.first)
        std::swap(row, rows.first);
    rows.more.insert(std::lower_bound(rows.more.begin(), rows.more.end(), row), row);
}

void FieldIndex::remove(const DbValue &value, std::uint32_t row) {
    if (isNull(value))
        return;
    auto it = m_rows.find(searchKey(value));
    if (it == m_rows.end())
        return;
    Rows &rows = it->second;
    if (rows.first == row) {
        if (rows.more.empty()) {
            m_rows.erase(it);
            return;
        }
        rows.first = rows.more.front();
        rows.more.erase(rows.more.begin());
        return;
    }
    auto pos = std::lower_bound(rows.more.begin(), rows.more.end(), row);
    if (pos != rows.more.end() && *pos == row)
        rows.more.erase(pos);
}

std::optional<std::uint32_t> FieldIndex::findFrom(std::string_view key, std::uint32_t from) const {
    auto it = m_rows.find(key);
    if (it == m_rows.end())
        return std::nullopt;
    const Rows &rows = it->second;
    if (rows.first >= from)
        return rows.first;
    auto pos = std::lower_bound(rows.more.begin(), rows.more.end(), from);
    if (pos == rows.more.end())
        return std::nullopt;
    return *pos;
}

} // namespace zeph::db
