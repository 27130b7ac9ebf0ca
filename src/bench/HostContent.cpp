#include "HostContent.h"

#include "platform/AsciiText.h"
#include "platform/Database.h"
#include "standin/SimHost.h"
#include "standin/server/ServerSql.h"

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace zeph::bench {
namespace {

namespace server = zeph::sqlite::server;

constexpr int kSampleLines = 12;

bool isGuidText(const std::string &s) {
    if (s.size() != 38 || s.front() != '{' || s.back() != '}')
        return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        const char c = s[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (dash ? c != '-' : !hex)
            return false;
    }
    return true;
}

std::string valueText(const DbValue &value) {
    return server::isNull(value) ? std::string("NULL") : server::asText(value);
}

// Each row of each table of the host's server, as column names and texts. The server's own
// identity tells hosts apart; it is no row a reset changes.
template <class Row> void eachRow(const std::string &hostFolder, Row &&row) {
    server::Connection db(sim::databasePath(hostFolder), false);
    const DbRowSet tables = server::queryRows(
        db.get(), "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
                  "'sqlite%' AND name <> 'zeph_ServerIdentity' ORDER BY name");
    for (const std::vector<DbValue> &table : tables.rows) {
        const std::string name = server::asText(table.at(0));
        const DbRowSet rows =
            server::queryRows(db.get(), "SELECT * FROM " + sqlite::quoteName(name));
        for (const std::vector<DbValue> &values : rows.rows)
            row(name, rows.columns, values);
    }
}

void addFilesBelow(const std::string &hostFolder, const std::string &folder,
                   std::set<std::string> &files) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file())
            files.insert(fs::relative(it->path(), hostFolder).generic_string());
    }
}

} // namespace

std::set<std::string> idsOf(const std::string &hostFolder) {
    std::set<std::string> ids;
    eachRow(hostFolder, [&](const std::string &, const std::vector<DbColumn> &,
                            const std::vector<DbValue> &values) {
        for (const DbValue &value : values) {
            const std::string text = valueText(value);
            if (isGuidText(text))
                ids.insert(upperAscii(text));
        }
    });
    return ids;
}

HostContent hostContent(const std::string &hostFolder, const std::set<std::string> &known) {
    HostContent content;
    eachRow(hostFolder, [&](const std::string &table, const std::vector<DbColumn> &columns,
                            const std::vector<DbValue> &values) {
        std::string text;
        for (std::size_t c = 0; c < values.size() && c < columns.size(); ++c) {
            const std::string &column = columns[c].name;
            if (column.find("Time") != std::string::npos)
                continue;
            std::string shown = valueText(values[c]);
            if (isGuidText(shown) && !known.count(upperAscii(shown)))
                shown = "<new>";
            if (const std::size_t at = shown.find(hostFolder); at != std::string::npos)
                shown.replace(at, hostFolder.size(), "<host>");
            text += column + "=" + shown + "|";
        }
        content.rows[table].insert(text);
    });
    addFilesBelow(hostFolder, sim::defaultRootPath(hostFolder), content.files);
    addFilesBelow(hostFolder, sim::mailstorePath(hostFolder), content.files);
    return content;
}

ContentDifference difference(const HostContent &expected, const HostContent &actual) {
    ContentDifference found;
    auto note = [&found](const std::string &line) {
        if (found.count++ < kSampleLines)
            found.sample += line + "\n";
    };
    // What one side holds more often than the other.
    auto compare = [&](const std::string &table, const std::multiset<std::string> &a,
                       const std::multiset<std::string> &b) {
        for (auto it = a.begin(); it != a.end(); it = a.upper_bound(*it)) {
            const std::size_t inA = a.count(*it);
            const std::size_t inB = b.count(*it);
            if (inA > inB)
                note(table + ": only in the first: " + *it);
        }
        for (auto it = b.begin(); it != b.end(); it = b.upper_bound(*it)) {
            if (b.count(*it) > a.count(*it))
                note(table + ": only in the second: " + *it);
        }
    };
    static const std::multiset<std::string> none;
    for (const auto &[table, rows] : expected.rows) {
        const auto other = actual.rows.find(table);
        compare(table, rows, other == actual.rows.end() ? none : other->second);
    }
    for (const auto &[table, rows] : actual.rows) {
        if (!expected.rows.count(table))
            compare(table, none, rows);
    }
    const std::multiset<std::string> expectedFiles(expected.files.begin(), expected.files.end());
    const std::multiset<std::string> actualFiles(actual.files.begin(), actual.files.end());
    compare("files", expectedFiles, actualFiles);
    return found;
}

} // namespace zeph::bench
