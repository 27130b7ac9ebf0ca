#pragma once
// What a reset leaves of a host, for comparing two hosts that were reset from copies of one:
// every row of its server's tables and the recordings and messages that are left. Ids the
// server made up during the reset (absent from the host before it) read as "<new>", and the
// columns that hold the time a row was written are left out, so that two correct resets of the
// same subscribers leave the same content.

#include <map>
#include <set>
#include <string>

namespace zeph::bench {

struct HostContent {
    /// Each table's rows as texts ("Column=value|..."), in no order.
    std::map<std::string, std::multiset<std::string>> rows;
    /// The recordings and mailbox files, by path inside the host.
    std::set<std::string> files;
};

/// Every id (a braced GUID, upper case) that the host's server holds.
std::set<std::string> idsOf(const std::string &hostFolder);

/// The host's content; the ids not in `known` read as "<new>".
HostContent hostContent(const std::string &hostFolder, const std::set<std::string> &known);

struct ContentDifference {
    /// Rows and files that one content holds and the other does not (or not as often).
    long count = 0;
    /// The first few of them, one a line.
    std::string sample;
};

ContentDifference difference(const HostContent &expected, const HostContent &actual);

} // namespace zeph::bench
