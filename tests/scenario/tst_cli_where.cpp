// zephrane-cli's --where selection, its failed-records file and the CSV lines that matched
// nobody, run for real on fresh stand-in hosts.
#include "scenario_helpers.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using zeph::test::fields;
using zeph::test::lines;
using zeph::test::listedRows;
using zeph::test::readAll;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;
using zeph::test::TempHost;

namespace {

using Result = ScenarioHost::Result;

class CliWhere : public testing::Test {
protected:
    Result run(const std::string &program, const std::string &args) {
        return scenario.run(program, args);
    }
    Result cli(const std::string &args) { return scenario.cli(args); }

    std::string database() const { return TempHost::fileDigest(host + "/TarvoDb.sqlite"); }

    // The value after "Name: " on a line of the output.
    static std::string after(const std::string &out, const std::string &name) {
        for (const std::string &line : lines(out))
            if (line.rfind(name + ": ", 0) == 0)
                return line.substr(name.size() + 2);
        return {};
    }

    ScenarioHost scenario{30, 5};
    const std::string host = scenario.host();
    const std::string tempPath = scenario.temp().path();
};

} // namespace

TEST_F(CliWhere, AQuerySelectsWhatTheAdvancedSearchWouldImport) {
    const std::string before = database();
    const Result all = cli("--all --list");
    ASSERT_EQ(all.status, 0);
    const std::vector<std::string> rows = listedRows(all.out);
    ASSERT_GE(rows.size(), 3u);

    // One alias: exactly the row the grid holds for it.
    const std::string alias = fields(rows[1], '\t')[0];
    const Result one = cli("--where " + shellQuoted("WHERE Alias='" + alias + "'") + " --list");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(listedRows(one.out), std::vector<std::string>{rows[1]});
    EXPECT_NE(one.err.find("zephrane-cli: the query selected 1 subscriber(s)"), std::string::npos)
        << one.err;

    // A range of extensions over every type of subscriber: the import keeps only those the
    // grid takes, so the rows are those of the extension criterion.
    const Result range = cli("--where " +
                             shellQuoted("WHERE DTMFAccessID >= '4000' AND DTMFAccessID <= '4019'\n"
                                         "ORDER BY Alias") +
                             " --list");
    ASSERT_EQ(range.status, 0) << range.err;
    const Result byCriterion = cli("--extensions 4000-4019 --list");
    const auto asSet = [](const std::string &out) {
        const auto outLines = listedRows(out);
        return std::multiset<std::string>(outLines.begin(), outLines.end());
    };
    EXPECT_FALSE(asSet(range.out).empty());
    EXPECT_EQ(asSet(range.out), asSet(byCriterion.out));

    // Nothing found: an empty list, and a reset has nothing to do.
    const Result none = cli("--where " + shellQuoted("WHERE 1=0") + " --list");
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(listedRows(none.out).empty());
    EXPECT_EQ(
        cli("--template defaultTemplate --where " + shellQuoted("WHERE 1=0") + " --yes").status, 2);
    EXPECT_EQ(database(), before);
}

TEST_F(CliWhere, RefusedTextsRunNothing) {
    struct Case {
        std::string tail;
        std::string message;
    };
    const Case cases[] = {
        {"x", "Invalid SQL query"},
        {"WHERE LastName='Updates'", "You cannot issue updates from this interface"},
        {"WHERE 1=1; DELETE FROM Subscriber", "You cannot issue DELETEs from this interface"},
        {"WHERE 1=1 EXECUTE sp_x", "You cannot issue EXECUTEs from this interface"},
        {"WHERE Alias='dropbox'", "You cannot issue DROPs from this interface"},
        {"WHERE 1=1; INSERT INTO Subscriber DEFAULT VALUES",
         "Only a single SELECT can run from this interface"},
    };
    const std::string before = database();
    const std::string registry = TempHost::fileDigest(host + "/registry.reg");
    for (const Case &c : cases) {
        for (const std::string &rest :
             {std::string("--list"), std::string("--template defaultTemplate --yes")}) {
            const Result r = cli("--where " + shellQuoted(c.tail) + " " + rest);
            EXPECT_EQ(r.status, 2) << c.tail;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << c.tail << "\n" << r.err;
            EXPECT_TRUE(r.out.empty()) << c.tail << "\n" << r.out;
        }
    }
    // A statement the server rejects is not run either.
    const Result bad = cli("--where " + shellQuoted("WHERE NoSuchColumn=1") +
                           " --template "
                           "defaultTemplate --yes");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("Invalid SQL entry:"), std::string::npos) << bad.err;
    EXPECT_TRUE(bad.out.empty());

    EXPECT_EQ(database(), before);
    EXPECT_EQ(TempHost::fileDigest(host + "/registry.reg"), registry);
    EXPECT_EQ(cli("--where " + shellQuoted("WHERE 1=1") + " --all --list").status, 2);
    EXPECT_EQ(cli("--where --list").status, 2);
    EXPECT_NE(cli("--help").out.find("--where \"TAIL\""), std::string::npos);
}

TEST_F(CliWhere, AResetWritesTheFailedRecordsBesideItsLogForALaterCsvRun) {
    // Extension 4003 is shared with a call handler of the other location: the run skips it.
    // 4004 has no directory id (skipped), 4005 no mail address (logged), 4016 goes through.
    const Result r =
        cli("--template defaultTemplate --where " +
            shellQuoted("WHERE DTMFAccessID IN ('4003','4004','4005','4016')") + " --yes");
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    const std::string log = after(r.out, "Log");
    std::string failed = after(r.out, "Failed records");
    ASSERT_FALSE(log.empty()) << r.out;
    ASSERT_NE(failed.find(" (3 subscriber(s))"), std::string::npos) << r.out;
    failed.erase(failed.find(" ("));
    EXPECT_EQ(fs::path(failed).parent_path(), fs::path(log).parent_path());
    EXPECT_EQ(fs::path(failed).filename().string(),
              "Zephrane_Failed_" + fs::path(log).stem().string().substr(13) + ".csv");
    // The line follows the log's; the outcome comes last, each ticked subscriber once.
    const auto outLines = lines(r.out);
    ASSERT_GE(outLines.size(), 3u);
    EXPECT_EQ(outLines[outLines.size() - 3].rfind("Log: ", 0), 0u);
    EXPECT_EQ(outLines[outLines.size() - 2].rfind("Failed records: ", 0), 0u);
    EXPECT_EQ(outLines.back().rfind("Outcome: ", 0), 0u) << outLines.back();

    const std::vector<std::string> records = lines(readAll(failed));
    ASSERT_EQ(records.size(), 4u) << readAll(failed);
    EXPECT_EQ(records[0], "alias,extension,reason");
    std::set<std::string> extensions;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const auto f = fields(records[i], ',');
        ASSERT_EQ(f.size(), 3u) << records[i];
        extensions.insert(f[1]);
        EXPECT_EQ(f[2].rfind("(error)", 0), 0u) << records[i];
        // The reason is the subscriber's first error line of the log.
        EXPECT_NE(readAll(log).find(f[2]), std::string::npos) << f[2];
    }
    EXPECT_EQ(extensions, (std::set<std::string>{"4003", "4004", "4005"}));
    EXPECT_NE(records[1].find("conflicting ID"), std::string::npos) << records[1];

    // The file is a subscriber list: it selects exactly those three again.
    const Result again = cli("--csv " + shellQuoted(failed) + " --list");
    ASSERT_EQ(again.status, 0) << again.err;
    std::set<std::string> listed;
    for (const std::string &row : listedRows(again.out))
        listed.insert(fields(row, '\t')[4]);
    EXPECT_EQ(listed, extensions);
    EXPECT_NE(again.err.find("': 3 line(s) read, 3 subscriber(s) selected"), std::string::npos)
        << again.err;
    EXPECT_EQ(again.err.find("matched no subscriber"), std::string::npos) << again.err;
    EXPECT_EQ(run("zephrane-sim", "check " + shellQuoted(host)).status, 0);
}

TEST_F(CliWhere, ACsvImportNamesTheLinesThatMatchedNobody) {
    const auto rows = listedRows(cli("--all --list").out);
    ASSERT_GE(rows.size(), 2u);
    const std::string csv = tempPath + "/list.csv";
    std::ofstream(csv) << "alias,extension\r\n"
                       << fields(rows[0], '\t')[0] << ",\r\n" // 2: found
                       << "nobody-here,\r\n"                  // 3
                       << "\r\n"                              // 4: names nobody
                       << "x,99999\r\n";                      // 5
    const Result r = cli("--csv " + shellQuoted(csv) + " --list");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(listedRows(r.out).size(), 1u);
    const std::string summary =
        "zephrane-cli: the CSV file '" + csv + "': 4 line(s) read, 1 subscriber(s) selected";
    const std::string unmatched =
        "Lines of the CSV file that matched no subscriber (the header is line 1): 3, 5.";
    const auto at = r.err.find(summary);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_NE(r.err.find(unmatched, at + summary.size()), std::string::npos) << r.err;
}
