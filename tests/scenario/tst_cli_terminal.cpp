// zephrane-cli's conventions as a terminal user and a script meet them: --version, option
// spellings, list formats, progress and colour on a terminal only, messages fit for a terminal.
#include "scenario_helpers.h"

#include <chrono>
#include <gtest/gtest.h>
#include <regex>

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
    // The body's error lines are red; the header's words about the markers are not.
    bool headerSeen = false;
    for (const std::string &line : lines(coloured.err)) {
        if (contains(line, "Search for '(error)'")) {
            headerSeen = true;
            EXPECT_FALSE(contains(line, "\x1b[3")) << line;
        } else if (contains(line, "(error)") && !contains(line, "zephrane-cli: ")) {
            EXPECT_TRUE(contains(line, "\x1b[31m(error)")) << line;
        }
    }
    EXPECT_TRUE(headerSeen) << coloured.err;
    const ScenarioHost::Result plain =
        scenario.onTerminal("zephrane-cli", kReset, false, "NO_COLOR=1");
    ASSERT_EQ(plain.status, 1) << plain.err;
    EXPECT_TRUE(contains(plain.err, "(error)"));
    EXPECT_FALSE(contains(plain.err, "\x1b[31m"));
    EXPECT_FALSE(contains(plain.err, "\x1b[33m"));
    // A terminal that takes no escapes gets none at all, the progress line included.
    const ScenarioHost::Result dumb =
        scenario.onTerminal("zephrane-cli", kReset, false, "TERM=dumb");
    ASSERT_EQ(dumb.status, 1) << dumb.err;
    EXPECT_TRUE(contains(dumb.err, "(error)"));
    EXPECT_FALSE(contains(dumb.err, "\x1b")) << dumb.err;
    EXPECT_TRUE(contains(dumb.err, "\rzephrane-cli: 1 of 3: ")) << dumb.err;
}

// The progress line's time counts from the run's start, not from the machine's; no line is
// wider than COLUMNS.
TEST_F(CliTerminal, ProgressCountsFromTheRunsStartAndFitsTheWidth) {
    const auto began = std::chrono::steady_clock::now();
    const ScenarioHost::Result r = scenario.onTerminal("zephrane-cli", kReset, true, "COLUMNS=40");
    const auto took =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began);
    ASSERT_EQ(r.status, 1) << r.err;
    std::vector<std::string> drawn;
    for (std::size_t at = r.err.find("\r\x1b[K"); at != std::string::npos;) {
        const std::size_t from = at + 4;
        at = r.err.find_first_of("\r\n", from);
        drawn.push_back(
            r.err.substr(from, at == std::string::npos ? std::string::npos : at - from));
        at = r.err.find("\r\x1b[K", from);
    }
    ASSERT_FALSE(drawn.empty()) << r.err;
    bool cut = false;
    for (const std::string &line : drawn) {
        // Messages take the progress line's place after erasing it; only progress is cut.
        if (!std::regex_search(line, std::regex("^zephrane-cli: \\d+ of \\d")))
            continue;
        EXPECT_LE(line.size(), 39u) << line;
        cut = cut || line.ends_with("...");
    }
    EXPECT_TRUE(cut) << r.err;
    // The first line drawn: no more time has passed than the whole command took.
    const std::string wide = scenario.onTerminal("zephrane-cli", kReset, true, "COLUMNS=200").err;
    const std::size_t first = wide.find("\r\x1b[Kzephrane-cli: ");
    ASSERT_NE(first, std::string::npos) << wide;
    const std::string line =
        wide.substr(first + 4, wide.find_first_of("\r\n", first + 4) - first - 4);
    const std::smatch m = [&] {
        std::smatch found;
        std::regex_search(line, found, std::regex(R"(, (\d+):(\d+) elapsed)"));
        return found;
    }();
    ASSERT_FALSE(m.empty()) << line;
    EXPECT_LE(std::stol(m[1]) * 60 + std::stol(m[2]), took.count() + 60) << line;
    EXPECT_FALSE(contains(wide, ", 0 of 0")) << wide;
}

// The program's own words: the option meant, the file or value a refusal concerns, never the
// wizard's words for its window.
TEST_F(CliTerminal, MistakesAreToldInTheProgramsOwnWords) {
    const struct {
        const char *args;
        const char *said;
    } cases[] = {
        {"--tempalte x --all --yes", "unknown option '--tempalte'; did you mean --template?"},
        {"--extension 4000-4001 --list",
         "unknown option '--extension'; did you mean --extensions?"},
        {"--lsit --all", "unknown option '--lsit'; did you mean --list?"},
        {"--preserve --all --list", "unknown option '--preserve'; did you mean "
                                    "--preserve-alternate-extensions?"},
        {"--x", "unknown option '--x'; see --help"},
        {"--csv /nonexistent/list.csv --list",
         "the CSV file '/nonexistent/list.csv' does not exist; nothing was run"},
        {"--extensions 9990-9991 --template defaultTemplate --yes",
         "no subscriber matches --extensions 9990-9991; nothing was reset"},
    };
    for (const auto &c : cases) {
        const ScenarioHost::Result r = scenario.cli(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_TRUE(contains(r.err, std::string("zephrane-cli: ") + c.said)) << c.args << "\n"
                                                                             << r.err;
        for (const char *window : {"You must first", "added to grid", "Error! "})
            EXPECT_FALSE(contains(r.err, window)) << c.args << "\n" << r.err;
    }
    const ScenarioHost::Result help = scenario.cli("--help");
    ASSERT_EQ(help.status, 0);
    for (const std::string &line : lines(help.out))
        EXPECT_LE(line.size(), 80u) << line;
    EXPECT_TRUE(contains(help.out, "Interrupts:")) << help.out;
}
