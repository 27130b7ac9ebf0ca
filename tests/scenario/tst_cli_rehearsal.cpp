// A rehearsal selects what the real server would: zephrane-cli --where with criteria on dates,
// joined strings and division gives the same subscribers on the embedded database and over
// TDS (zephrane-sim serve, unixODBC, FreeTDS), and those are the rows SQL Server's meaning
// gives. The expected rows are worked out here from the host's own data, read raw, with the
// criterion's meaning written out in C++.
#include "scenario_helpers.h"
#include "tds_helpers.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <map>
#include <set>

using namespace zeph::test;

namespace {

struct Raw {
    std::string creationTime; // "yyyy-mm-dd hh:mm:ss"
    std::string extension;    // empty: none
};

class CliRehearsal : public ::testing::Test {
protected:
    void SetUp() override {
        // The subscribers the selection grid takes, and their stored values as they lie.
        const auto all = m_host.cli("--all --list");
        ASSERT_EQ(all.status, 0) << all.err;
        for (const std::string &row : listedRows(all.out))
            m_listed.insert(fields(row, '\t')[0]);
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open_v2((m_host.host() + "/TarvoDb.sqlite").c_str(), &db,
                                  SQLITE_OPEN_READONLY, nullptr),
                  SQLITE_OK);
        sqlite3_stmt *stmt = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db,
                                     "SELECT Alias, CreationTime, DTMFAccessID FROM vw_Subscriber",
                                     -1, &stmt, nullptr),
                  SQLITE_OK);
        auto text = [&](int c) {
            const auto *t = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
            return t ? std::string(t) : std::string();
        };
        while (sqlite3_step(stmt) == SQLITE_ROW)
            m_raw[text(0)] = {text(1), text(2)};
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        ASSERT_FALSE(m_listed.empty());
    }

    std::set<std::string> expected(const std::function<bool(const Raw &)> &criterion) const {
        std::set<std::string> aliases;
        for (const std::string &alias : m_listed) {
            const auto it = m_raw.find(alias);
            if (it != m_raw.end() && criterion(it->second))
                aliases.insert(alias);
        }
        return aliases;
    }

    // The aliases --where lists, or the failure's first line of the error output.
    std::set<std::string> listed(const std::string &where, std::string &failure) {
        const auto r = m_host.cli("--where " + shellQuoted(where) + " --list");
        std::set<std::string> aliases;
        failure.clear();
        if (r.status != 0) {
            failure = r.err;
            return aliases;
        }
        for (const std::string &row : listedRows(r.out))
            aliases.insert(fields(row, '\t')[0]);
        return aliases;
    }

    ScenarioHost m_host{40, 9};
    std::set<std::string> m_listed;
    std::map<std::string, Raw> m_raw;
};

TEST_F(CliRehearsal, DateStringAndDivisionCriteriaSelectWhatSqlServerWould) {
    if (!freeTdsInstalled())
        GTEST_SKIP() << "FreeTDS's ODBC driver is not registered as \"SQL Server\"";
    // One subscriber with an extension, named by its alias and extension joined.
    std::string alias, extension;
    for (const auto &[a, raw] : m_raw) {
        if (m_listed.count(a) && !raw.extension.empty()) {
            alias = a;
            extension = raw.extension;
            break;
        }
    }
    ASSERT_FALSE(alias.empty());
    auto number = [](const std::string &text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    };
    struct Case {
        std::string where;
        std::set<std::string> rows;
        std::string failure; // SQL Server's error, when the query fails
    };
    const std::vector<Case> cases = {
        // Every stored date lies in 2005: nothing is later than 2030 as a date (as text, a
        // number or SQLite's CAST, everything was).
        {"WHERE CreationTime > CAST('2030-01-01' AS datetime)", {}, ""},
        // A date written the American way: before 1:00 on 3 January 2005, compared as dates
        // (as text, "2005-..." sorts after "01/...", and nothing would be found).
        {"WHERE CreationTime < '01/03/2005 01:00 AM'", expected([](const Raw &r) {
             return !r.creationTime.empty() && r.creationTime < "2005-01-03 01:00:00";
         }),
         ""},
        {"WHERE CreationTime >= DATEADD(year, -30, GETDATE()) AND "
         "YEAR(CreationTime) = 2005 AND MONTH(CreationTime) = 1",
         expected([](const Raw &r) { return r.creationTime.rfind("2005-01-", 0) == 0; }), ""},
        // '+' joins strings (SQLite would add them as numbers, 0 for each).
        {"WHERE Alias + '@' + DTMFAccessID = '" + alias + "@" + extension + "'", {alias}, ""},
        // Division of an extension by a number reads the extension as a number and truncates.
        {"WHERE DTMFAccessID / 1000 = 4 AND DTMFAccessID % 2 = 0", expected([&](const Raw &r) {
             return number(r.extension) && std::stoi(r.extension) / 1000 == 4 &&
                    std::stoi(r.extension) % 2 == 0;
         }),
         ""},
        // Division by zero is SQL Server's error, not an empty answer.
        {"WHERE 1 / (SubscriberType - SubscriberType) = 1",
         {},
         "Divide by zero error encountered."},
        // SQLite's own functions are not SQL Server's.
        {"WHERE length(Alias) > 0", {}, "'length' is not a recognized built-in function name."},
    };
    ASSERT_FALSE(cases[1].rows.empty()) << "no subscriber created before 1:00 on 3 January 2005";
    ASSERT_FALSE(cases[4].rows.empty()) << "no even extension in 4000-4999";

    auto check = [&](const char *where) {
        for (const Case &c : cases) {
            std::string failure;
            const std::set<std::string> got = listed(c.where, failure);
            EXPECT_EQ(got, c.rows) << where << ": " << c.where << "\n" << failure;
            if (c.failure.empty())
                EXPECT_EQ(failure, "") << where << ": " << c.where;
            else
                EXPECT_NE(failure.find(c.failure), std::string::npos)
                    << where << ": " << c.where << "\n"
                    << failure;
        }
    };
    check("in process");
    ServedHost served(m_host);
    m_host.useDatabase(served.connectionText());
    check("over TDS");
}

} // namespace
