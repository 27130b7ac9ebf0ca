// zephrane-cli run for real on fresh stand-in hosts: exit statuses, selections, the reset.
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
using zeph::test::ScenarioHost;

namespace {

struct Result {
    int status = -1;
    std::string out;
};

class Cli : public testing::Test {
protected:
    // Standard error goes into `out` after standard output when `withErrors` is set.
    Result cli(const std::string &args, bool withErrors = false) {
        const ScenarioHost::Result r = scenario.cli(args);
        return {r.status, withErrors ? r.out + r.err : r.out};
    }
    Result sim(const std::string &args) {
        const ScenarioHost::Result r = scenario.run("zephrane-sim", args);
        return {r.status, r.out + r.err};
    }
    ScenarioHost scenario{30, 5};
    const std::string host = scenario.host();
    const std::string tempPath = scenario.temp().path();
};

} // namespace

// Bad input is exit status 2 with one line on standard error that points to --help, whether
// the command would list or reset.
TEST_F(Cli, BadCommandLinesRunNothing) {
    const char *cases[] = {
        "",
        "--all",                    // a reset needs a template
        "--all --csv x.csv --list", // two selections
        "--extensions 10 --list",   // malformed range
        "--extensions a-b --list",
        "--extensions 50-10 --list", // reversed range
        "--extensions=50-10 --template defaultTemplate --yes",
        "--switch 3 --list",
        "--bogus",
        "--template",      // option without its value
        "--recover --all", // a recovery follows its journals, not a selection
        "--all --list --dry-run",
        "--all --list stray",                            // no operands
        "--all --list -- stray",                         // not after "--" either
        "--yes=no --all --list",                         // a switch takes no value
        "--all --list --format x",                       // unknown format
        "--all --template defaultTemplate --format csv", // --format is for lists
    };
    for (const char *args : cases) {
        const ScenarioHost::Result r = scenario.cli(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(r.out.empty()) << args << "\n" << r.out;
        ASSERT_EQ(lines(r.err).size(), 1u) << args << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("zephrane-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("; see --help"), std::string::npos) << r.err;
    }
    EXPECT_EQ(scenario.cli("--x").err, "zephrane-cli: unknown option '--x'; see --help\n");
    EXPECT_EQ(cli("--help").status, 0);
}

TEST_F(Cli, ListTemplatesAndSelections) {
    const Result templates = cli("--list-templates");
    ASSERT_EQ(templates.status, 0);
    ASSERT_FALSE(listedRows(templates.out).empty());
    EXPECT_EQ(fields(listedRows(templates.out)[0]).size(), 2u);

    const Result all = cli("--all --list");
    ASSERT_EQ(all.status, 0);
    const auto rows = listedRows(all.out);
    ASSERT_FALSE(rows.empty());
    for (const auto &row : rows)
        EXPECT_EQ(fields(row).size(), 11u) << row;

    // An extension range finds exactly the listed rows whose extension lies in it.
    const std::string extension = fields(rows[0])[4];
    const Result one = cli("--extensions " + extension + "-" + extension + " --list");
    ASSERT_EQ(one.status, 0);
    for (const auto &row : listedRows(one.out))
        EXPECT_EQ(fields(row)[4], extension);

    // A CSV file naming one alias selects that subscriber.
    const std::string csv = tempPath + "/list.csv";
    std::ofstream(csv) << "alias,extension\r\n" << fields(rows[0])[0] << ",\r\n";
    const Result fromFile = cli("--csv '" + csv + "' --list");
    ASSERT_EQ(fromFile.status, 0);
    ASSERT_EQ(listedRows(fromFile.out).size(), 1u);
    EXPECT_EQ(fields(listedRows(fromFile.out)[0])[10], fields(rows[0])[10]);
}

TEST_F(Cli, UnknownNamesAreRefusedBeforeAnythingIsTouched) {
    EXPECT_EQ(cli("--template noSuchTemplate --all --yes").status, 2);
    EXPECT_EQ(cli("--cos noSuchClass --list").status, 2);
    EXPECT_EQ(cli("--mail-server NOSUCHSERVER --list").status, 2);
    const ScenarioHost::Result missing =
        scenario.cli("--csv '" + tempPath + "/missing.csv' --list");
    EXPECT_EQ(missing.status, 2) << "a missing file is the page's own message and bad input";
    EXPECT_TRUE(missing.out.empty()) << missing.out;
    EXPECT_TRUE(fs::exists(host + "/TarvoDb.sqlite"));
}

TEST_F(Cli, AFailedStartUpCheckRunsNothing) {
    ASSERT_EQ(sim("set '" + host + "' service.Fennix 1").status, 0);
    const Result r = cli("--list-templates", true);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("The Fennix service must be up and runnig"), std::string::npos);
}

TEST_F(Cli, TheQuestionIsRefusedWithoutATerminal) {
    const std::string before = zeph::test::TempHost::fileDigest(host + "/TarvoDb.sqlite");
    const Result r = cli("--template defaultTemplate --all", true);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("Are you sure"), std::string::npos);
    EXPECT_EQ(zeph::test::TempHost::fileDigest(host + "/TarvoDb.sqlite"), before);
}

TEST_F(Cli, AResetPrintsItsLogAndItsStatusCountsTheErrors) {
    const auto rows = listedRows(cli("--all --list").out);
    ASSERT_GE(rows.size(), 3u);
    const std::string csv = tempPath + "/reset.csv";
    {
        std::ofstream file(csv);
        file << "alias\r\n";
        for (std::size_t i = 0; i < 3; ++i)
            file << fields(rows[i])[0] << "\r\n";
    }
    const Result r = cli("--template defaultTemplate --csv '" + csv + "' --yes");
    ASSERT_TRUE(r.status == 0 || r.status == 1) << r.status << r.out;
    EXPECT_NE(r.out.find("Running zephrane-cli version: 1.0.5"), std::string::npos);
    EXPECT_NE(r.out.find("** Subscriber mailbox reset process complete at "), std::string::npos);
    // The header names the markers itself; the run's lines come after its start line.
    const std::string runLines = r.out.substr(r.out.find("Starting process at:"));
    const bool errors = runLines.find("(error)") != std::string::npos;
    EXPECT_EQ(r.status, errors ? 1 : 0);
    EXPECT_EQ(sim("check '" + host + "'").status, 0);
}

// Each criterion selects exactly the rows of the whole list that it names (the list's columns:
// alias, display name, first, last, extension, home server, class of service, ...).
TEST_F(Cli, EachCriterionSelectsTheKnownRows) {
    const std::vector<std::string> all = listedRows(cli("--all --list").out);
    ASSERT_FALSE(all.empty());
    auto listed = [&](const std::string &args) {
        const Result r = cli(args + " --list");
        EXPECT_EQ(r.status, 0) << args;
        const std::vector<std::string> rows = listedRows(r.out);
        return std::set<std::string>(rows.begin(), rows.end());
    };
    auto rowsWhere = [&](std::size_t column, const std::string &value) {
        std::set<std::string> rows;
        for (const std::string &row : all)
            if (fields(row)[column] == value)
                rows.insert(row);
        return rows;
    };
    const std::set<std::string> hq02 = rowsWhere(5, "MAILHQ02");
    ASSERT_FALSE(hq02.empty());
    EXPECT_EQ(listed("--mail-server MAILHQ02"), hq02);

    const std::set<std::string> executives = rowsWhere(6, "Executives");
    ASSERT_FALSE(executives.empty());
    EXPECT_EQ(listed("--cos execCos"), executives);

    // The two integrations split the subscribers between them.
    const std::set<std::string> first = listed("--switch 1");
    const std::set<std::string> second = listed("--switch 2");
    EXPECT_FALSE(first.empty());
    EXPECT_FALSE(second.empty());
    std::set<std::string> both = first;
    both.insert(second.begin(), second.end());
    EXPECT_EQ(both.size(), first.size() + second.size()) << "no subscriber in both";
    EXPECT_EQ(both, std::set<std::string>(all.begin(), all.end()));
}
