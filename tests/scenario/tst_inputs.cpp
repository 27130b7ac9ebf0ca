// What the operator hands the programs, with the real programs: a subscriber list or a journal
// that is not a plain file of a sane size is refused at once with the reason, a journal without
// a record is no journal, and the CSV files the programs write can neither run in a spreadsheet
// nor lose a subscriber on their way back in.
#include "scenario_helpers.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using zeph::test::changeServer;
using zeph::test::contains;
using zeph::test::lines;
using zeph::test::readAll;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;
using zeph::test::writeText;

namespace {

using Result = ScenarioHost::Result;

// A file of the given size that takes no room: its bytes are a hole.
void makeSparse(const std::string &path, std::uintmax_t size) {
    writeText(path, "");
    fs::resize_file(path, size);
}

struct BadInput {
    const char *name;
    // Made in the test's folder; the path to hand the program.
    std::string (*make)(const std::string &folder);
    const char *reason;
};

const BadInput kBadInputs[] = {
    {"an endless device", [](const std::string &) { return std::string("/dev/zero"); },
     "it is not a plain file"},
    {"a pipe no one writes to",
     [](const std::string &folder) {
         const std::string fifo = folder + "/fifo";
         ::mkfifo(fifo.c_str(), 0600);
         return fifo;
     },
     "it is not a plain file"},
    {"a folder",
     [](const std::string &folder) {
         fs::create_directory(folder + "/a-folder");
         return folder + "/a-folder";
     },
     "it is a folder"},
    {"a missing file", [](const std::string &folder) { return folder + "/missing"; },
     "No such file or directory"},
};

} // namespace

TEST(InputFiles, AListThatIsNoPlainFileOrTooLargeIsRefusedWithTheReason) {
    ScenarioHost scenario(6, 41);
    for (const BadInput &input : kBadInputs) {
        SCOPED_TRACE(input.name);
        const std::string path = input.make(scenario.temp().path());
        const Result listed = scenario.cli("--csv " + shellQuoted(path) + " --list");
        EXPECT_EQ(listed.status, 2) << listed.err;
        const std::string reason = std::string(input.reason) == "No such file or directory"
                                       ? "does not exist"
                                       : input.reason;
        EXPECT_TRUE(contains(listed.err, "the CSV file '" + path + "'")) << listed.err;
        EXPECT_TRUE(contains(listed.err, reason)) << listed.err;
        EXPECT_EQ(listed.out, "");
    }
    const std::string large = scenario.temp().path() + "/large.csv";
    makeSparse(large, std::uintmax_t{65} * 1024 * 1024);
    const Result listed = scenario.cli("--csv " + shellQuoted(large) + " --list");
    EXPECT_EQ(listed.status, 2);
    EXPECT_TRUE(contains(listed.err, "it is larger than 64 MB")) << listed.err;
}

TEST(InputFiles, AJournalThatIsNoPlainFileOrHoldsNoRecordIsRefused) {
    ScenarioHost scenario(6, 42);
    struct Journal {
        const char *name;
        std::string text;
        const char *reason;
    };
    const Journal journals[] = {
        {"empty", "", "holds no journal record"},
        {"one line of garbage", "garbage", "holds no journal record"},
        {"one line of garbage ended", "garbage\r\n", "is damaged at line 1"},
    };
    for (const Journal &journal : journals) {
        SCOPED_TRACE(journal.name);
        const std::string path = scenario.temp().path() + "/journal.txt";
        writeText(path, journal.text);
        const Result recovered =
            scenario.cli("--recover --journal " + shellQuoted(path) + " --yes");
        EXPECT_EQ(recovered.status, 2) << recovered.out << recovered.err;
        EXPECT_TRUE(contains(recovered.err, journal.reason)) << recovered.err;
        EXPECT_FALSE(contains(recovered.out, "No interrupted reset")) << recovered.out;
    }
    for (const BadInput &input : kBadInputs) {
        SCOPED_TRACE(input.name);
        const std::string path = input.make(scenario.temp().path());
        const Result recovered =
            scenario.cli("--recover --journal " + shellQuoted(path) + " --yes");
        EXPECT_EQ(recovered.status, 2) << recovered.out << recovered.err;
        EXPECT_TRUE(contains(recovered.err, input.reason)) << recovered.err;
        EXPECT_FALSE(contains(recovered.out, "No interrupted reset")) << recovered.out;
    }
    const std::string large = scenario.temp().path() + "/large-journal.txt";
    makeSparse(large, std::uintmax_t{513} * 1024 * 1024);
    const Result recovered = scenario.cli("--recover --journal " + shellQuoted(large) + " --yes");
    EXPECT_EQ(recovered.status, 2);
    EXPECT_TRUE(contains(recovered.err, "it is larger than 512 MB")) << recovered.err;
}

// --- the CSV files the programs write ----------------------------------------------------------

namespace {

// No cell of a CSV text begins as a formula would (this file's cells hold no quoted commas).
std::string activeCell(const std::string &csv) {
    for (const std::string &line : lines(csv)) {
        for (const std::string &cell : zeph::test::fields(line, ',')) {
            const std::string value =
                cell.size() > 1 && cell.front() == '"' ? cell.substr(1) : cell;
            if (!value.empty() && std::string("=+-@\t").find(value.front()) != std::string::npos)
                return line;
        }
    }
    return {};
}

} // namespace

// Aliases that begin as a formula does: the list and the failed-records file write them as
// text, and the failed-records file selects exactly the same subscribers again, by extension
// and, with the extensions taken out, by alias.
TEST(WrittenCsv, FormulasNeverRunAndTheFailedRecordsComeBackToTheSameSubscribers) {
    ScenarioHost scenario(12, 43);
    const std::vector<std::string> rows = zeph::test::listedRows(scenario.cli("--all --list").out);
    ASSERT_GE(rows.size(), 4u);
    const std::vector<std::string> renamed = {"-dash", "=1+1", "'quoted", "@at"};
    std::set<std::string> aliases;
    for (std::size_t i = 0; i < renamed.size(); ++i) {
        const std::string old = zeph::test::fields(rows[i])[0];
        for (const char *table : {"Subscriber", "GlobalSubscriber"})
            changeServer(scenario.host(),
                         std::string("UPDATE ") + table + " SET Alias=?1 WHERE Alias=?2",
                         {renamed[i], old});
        aliases.insert(renamed[i]);
    }
    changeServer(scenario.host(), "UPDATE Subscriber SET DisplayName=?1 WHERE Alias=?2",
                 {std::string("nul\0here", 8), "-dash"});

    const Result list = scenario.cli("--all --list --format csv");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(activeCell(list.out), "");
    EXPECT_EQ(list.out.find('\0'), std::string::npos);
    EXPECT_TRUE(contains(list.out, "'-dash,nulhere,")) << list.out;

    // Every subscriber fails its directory synchronisation, so each is a failed record.
    scenario.set("directory-sync", "fail");
    std::string where = "WHERE Alias IN (";
    for (const std::string &alias : aliases)
        where +=
            (where.back() == '(' ? "'" : ",'") + (alias == "'quoted" ? "''quoted" : alias) + "'";
    where += ")";
    const Result reset = scenario.cli("--template defaultTemplate --where " + shellQuoted(where) +
                                      " --skip-dl-sync --yes");
    ASSERT_LE(reset.status, 1) << reset.err;
    std::string failed;
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder())) {
        if (entry.path().filename().string().rfind("Zephrane_Failed_", 0) == 0)
            failed = entry.path().string();
    }
    ASSERT_FALSE(failed.empty()) << reset.err;
    const std::string text = readAll(failed);
    EXPECT_EQ(activeCell(text), "");
    EXPECT_EQ(text.find('\0'), std::string::npos);
    scenario.set("directory-sync", "ok");

    const std::string withoutExtensions = scenario.temp().path() + "/by-alias.csv";
    std::string byAlias;
    for (const std::string &line : lines(text)) {
        const std::vector<std::string> cells = zeph::test::fields(line, ',');
        byAlias += cells[0] + "," + (line == lines(text)[0] ? cells[1] : "") + "\r\n";
    }
    writeText(withoutExtensions, byAlias);
    for (const std::string &file : {failed, withoutExtensions}) {
        SCOPED_TRACE(file);
        const Result back = scenario.cli("--csv " + shellQuoted(file) + " --list");
        ASSERT_EQ(back.status, 0) << back.err;
        std::set<std::string> listed;
        for (const std::string &row : zeph::test::listedRows(back.out))
            listed.insert(zeph::test::fields(row)[0]);
        EXPECT_EQ(listed, aliases);
    }
}
