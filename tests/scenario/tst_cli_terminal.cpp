// zephrane-cli's conventions as a terminal user and a script meet them: --version, option
// spellings, list formats, progress and colour on a terminal only, messages fit for a terminal.
#include "scenario_helpers.h"

#include <gtest/gtest.h>

using zeph::test::contains;
using zeph::test::fields;
using zeph::test::lines;
using zeph::test::listedRows;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;

namespace {

std::size_t count(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class CliTerminal : public testing::Test {
protected:
    // Three subscribers: 4004 has no directory id and 4005 no mail address, so the run logs
    // errors; 4016 goes through.
    const std::string kReset =
        "--template defaultTemplate --yes --where " +
        shellQuoted("WHERE DTMFAccessID IN ('4004','4005','4016') ORDER BY DTMFAccessID");

    ScenarioHost scenario{30, 5};
};

} // namespace

TEST_F(CliTerminal, VersionAndOptionSpellings) {
    for (const char *option : {"--version", "-V"}) {
        const ScenarioHost::Result r = scenario.cli(option);
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.out, "zephrane-cli 1.0.5\n") << option;
    }
    const ScenarioHost::Result spaced = scenario.cli("--extensions 4000-4009 --list");
    ASSERT_EQ(spaced.status, 0) << spaced.err;
    ASSERT_FALSE(listedRows(spaced.out).empty());
    for (const char *args : {"--extensions=4000-4009 --list", "--extensions=4000-4009 --list --",
                             "--list --format=tsv --extensions 4000-4009"}) {
        const ScenarioHost::Result r = scenario.cli(args);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
        EXPECT_EQ(r.out, spaced.out) << args;
    }
    // After "=" a value may begin with dashes: it is the value, not an option.
    const ScenarioHost::Result dashes = scenario.cli("--template=--x --all --yes");
    EXPECT_EQ(dashes.status, 2);
    EXPECT_TRUE(contains(dashes.err, "no subscriber template has the alias '--x'")) << dashes.err;
}

TEST_F(CliTerminal, ListFormats) {
    const std::vector<std::string> tsv = listedRows(scenario.cli("--all --list").out);
    ASSERT_GE(tsv.size(), 3u);
    EXPECT_EQ(lines(scenario.cli("--all --list").out)[0],
              "Alias\tDisplayName\tFirstName\tLastName\tExtension\tHomeServer\tCOS\t"
              "LegacyMailbox\tRemoteNodeID\tHandlerObjectID\tObjectID");

    const ScenarioHost::Result csv = scenario.cli("--all --list --format csv");
    ASSERT_EQ(csv.status, 0);
    const std::vector<std::string> csvRows = listedRows(csv.out);
    ASSERT_EQ(csvRows.size(), tsv.size());
    for (std::size_t i = 0; i < tsv.size(); ++i) {
        // The seeded names hold no comma or quote: the fields are the same, comma-separated.
        EXPECT_EQ(fields(csvRows[i], ','), fields(tsv[i])) << csvRows[i];
    }

    const ScenarioHost::Result json = scenario.cli("--all --list --format json");
    ASSERT_EQ(json.status, 0);
    const std::vector<std::string> jsonLines = lines(json.out);
    ASSERT_EQ(jsonLines.size(), tsv.size() + 2);
    EXPECT_EQ(jsonLines.front(), "[");
    EXPECT_EQ(jsonLines.back(), "]");
    for (std::size_t i = 0; i < tsv.size(); ++i) {
        const std::vector<std::string> cells = fields(tsv[i]);
        const std::string &object = jsonLines[i + 1];
        EXPECT_EQ(object.rfind("  {\"Alias\": \"" + cells[0] + "\", \"DisplayName\": ", 0), 0u)
            << object;
        EXPECT_TRUE(contains(object, "\"ObjectID\": \"" + cells[10] + "\"}")) << object;
        EXPECT_EQ(object.back(), i + 1 < tsv.size() ? ',' : '}') << object;
    }
    const ScenarioHost::Result none =
        scenario.cli("--where " + shellQuoted("WHERE 1=0") + " --list --format json");
    EXPECT_EQ(none.out, "[]\n");

    const ScenarioHost::Result templates = scenario.cli("--list-templates --format json");
    ASSERT_EQ(templates.status, 0);
    EXPECT_TRUE(contains(templates.out, "{\"Alias\": \"defaultTemplate\", \"DisplayName\": "))
        << templates.out;
}

// Without a terminal: no progress, no colour, no CR; every message line carries the
// program's name, and the closing message gives the log's path instead of a button.
TEST_F(CliTerminal, WithoutATerminalTheOutputIsPlain) {
    const ScenarioHost::Result r = scenario.cli(kReset);
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.out, "(error)"));
    for (const std::string &stream : {r.out, r.err}) {
        EXPECT_FALSE(contains(stream, "\x1b[")) << stream;
        EXPECT_FALSE(contains(stream, " of 3")) << stream;
    }
    EXPECT_FALSE(contains(r.err, "\r"));
    for (const std::string &line : lines(r.err))
        EXPECT_EQ(line.rfind("zephrane-cli: ", 0), 0u) << line;
    EXPECT_FALSE(contains(r.err, "Press OK")) << r.err;
    EXPECT_TRUE(contains(r.err, "zephrane-cli: The log: " + scenario.logsFolder())) << r.err;
    EXPECT_TRUE(contains(r.err, "zephrane-cli: Subscriber mailbox reset process complete"));
}

// On a terminal: one progress line on standard error, redrawn in place over the ticked
// subscribers; the log lines on standard output as without one.
TEST_F(CliTerminal, ProgressOnlyOnATerminal) {
    const ScenarioHost::Result r = scenario.onTerminal("zephrane-cli", kReset, true);
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "\r\x1b[Kzephrane-cli: 1 of 3: ")) << r.err;
    EXPECT_TRUE(contains(r.err, "\r\x1b[Kzephrane-cli: 3 of 3: ")) << r.err;
    EXPECT_TRUE(contains(r.err, " elapsed")) << r.err;
    EXPECT_TRUE(contains(r.err, " left")) << r.err;
    EXPECT_FALSE(contains(r.err, "4 of 3"));
    // The output file gets the same lines, without progress or colour.
    EXPECT_FALSE(contains(r.out, "\x1b["));
    EXPECT_TRUE(contains(r.out, "(error)"));
    EXPECT_EQ(count(r.out, "** Subscriber mailbox reset process complete at "), 1u);

    const ScenarioHost::Result quiet = scenario.onTerminal("zephrane-cli", kReset + " -q", true);
    ASSERT_EQ(quiet.status, 1) << quiet.err;
    EXPECT_FALSE(contains(quiet.err, " of 3: ")) << quiet.err;
}

TEST_F(CliTerminal, ErrorLinesAreColouredOnATerminalUnlessNoColor) {
    const ScenarioHost::Result coloured = scenario.onTerminal("zephrane-cli", kReset, false);
    ASSERT_EQ(coloured.status, 1) << coloured.err;
    EXPECT_TRUE(contains(coloured.err, "\x1b[31m")) << coloured.err;
    for (const std::string &line : lines(coloured.err)) {
        if (contains(line, "(error)")) {
            EXPECT_TRUE(contains(line, "\x1b[31m")) << line;
        }
    }
    const ScenarioHost::Result plain =
        scenario.onTerminal("zephrane-cli", kReset, false, "NO_COLOR=1");
    ASSERT_EQ(plain.status, 1) << plain.err;
    EXPECT_TRUE(contains(plain.err, "(error)"));
    EXPECT_FALSE(contains(plain.err, "\x1b[31m"));
    EXPECT_FALSE(contains(plain.err, "\x1b[33m"));
}
