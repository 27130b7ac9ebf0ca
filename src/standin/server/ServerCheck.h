#pragma once
// The server's invariants, checked over a whole database.

#include <string>
#include <vector>

struct sqlite3;

namespace zeph::sqlite::server {

/// One text per violation, "<kind>: <which rows>"; empty when every invariant holds.
/// At most kMaxPerKind violations of one kind are listed, then one line with the rest's count.
std::vector<std::string> checkInvariants(sqlite3 *db);

inline constexpr int kMaxPerKind = 50;

} // namespace zeph::sqlite::server
