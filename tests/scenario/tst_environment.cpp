// What the machine around a run can do to it: a copied host folder, a registry of many keys, a
// subscriber list written on this OS, run for real on fresh stand-in hosts.
#include "scenario_helpers.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace fs = std::filesystem;
using zeph::test::lines;
using zeph::test::readAll;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;
using zeph::test::TempHost;
using zeph::test::writeText;

namespace {

using Result = ScenarioHost::Result;

// Every file below a folder with its digest, and every folder.
std::map<std::string, std::string> folderState(const std::string &folder) {
    std::map<std::string, std::string> state;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        const std::string path = entry.path().string().substr(folder.size());
        state[path] =
            entry.is_directory() ? "<folder>" : TempHost::fileDigest(entry.path().string());
    }
    return state;
}

std::size_t recordings(const std::map<std::string, std::string> &state) {
    std::size_t n = 0;
    for (const auto &[path, digest] : state)
        n += path.size() > 4 && path.compare(path.size() - 4, 4, ".wav") == 0;
    return n;
}

std::string firstTemplate(const ScenarioHost &scenario) {
    const Result templates = scenario.cli("--list-templates");
    EXPECT_EQ(templates.status, 0) << templates.err;
    return zeph::test::fields(lines(templates.out).at(1))[0]; // under the header
}

void copyFolder(const std::string &from, const std::string &to) {
    ASSERT_EQ(zeph::test::runCommand("cp -a " + shellQuoted(from) + " " + shellQuoted(to)).status,
              0);
}

} // namespace

TEST(HostCopy, AResetOnACopyLeavesTheOriginalByteForByte) {
    ScenarioHost scenario(40, 3);
    const std::string copy = scenario.temp().path() + "/copy";
    copyFolder(scenario.host(), copy);
    const auto original = folderState(scenario.host());
    const std::size_t before = recordings(folderState(copy));
    ASSERT_GT(before, 10u);

    const Result reset = scenario.runOn(copy, "zephrane-cli",
                                        "--template " + firstTemplate(scenario) + " --all --yes");
    EXPECT_LE(reset.status, 1) << reset.err;
    EXPECT_NE(reset.out.find("    Deleting C:\\Pradix\\Stream Files\\"), std::string::npos)
        << "the server's own paths name the host's drive";
    EXPECT_LT(recordings(folderState(copy)), before / 2) << "the copy's recordings went";
    EXPECT_EQ(folderState(scenario.host()), original) << "the original is untouched";
    EXPECT_EQ(scenario.run("zephrane-sim", "check " + shellQuoted(copy)).status, 0);
}

// Hosts made before the host's drive named their recordings folder by its full path: such a
// host still runs, and a copy of it, whose recordings folder is the original's, is refused.
TEST(HostCopy, ACopyWhoseRecordingsAreAnotherFoldersIsRefused) {
    ScenarioHost scenario(10, 4);
    const std::string registry = scenario.host() + "/registry.reg";
    std::string text = readAll(registry);
    const std::string drive = "\"Root Path\"=\"C:\\\\Pradix\\\\\"";
    ASSERT_NE(text.find(drive), std::string::npos);
    text.replace(text.find(drive), drive.size(),
                 "\"Root Path\"=\"" + scenario.host() + "/Pradix/\"");
    writeText(registry, text);
    EXPECT_EQ(scenario.cli("--list-templates").status, 0) << "its own folder: still right";

    const std::string copy = scenario.temp().path() + "/copy";
    copyFolder(scenario.host(), copy);
    const Result refused = scenario.runOn(copy, "zephrane-cli", "--all --list");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("is " + scenario.host() + "/Pradix/, outside the host folder"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out, "");
}

// The registry of a large server: a listing reads it as fast as a small one (the benchmark
// measures it) and lists the same rows.
TEST(RegistryFile, TwentyThousandKeysChangeNothingOfAListing) {
    ScenarioHost scenario(20, 6);
    const Result small = scenario.cli("--all --list");
    ASSERT_EQ(small.status, 0) << small.err;
    const std::string registry = scenario.host() + "/registry.reg";
    std::string text = readAll(registry);
    for (int i = 0; i < 20000; ++i)
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Key" + std::to_string(i) +
                "]\r\n\"Value\"=\"" + std::to_string(i) + "\"\r\n\r\n";
    writeText(registry, text);
    const Result large = scenario.cli("--all --list");
    EXPECT_EQ(large.status, 0) << large.err;
    EXPECT_EQ(large.out, small.out);
}

// printf 'alias,extension\n...' writes the list as this OS does: every line is read.
TEST(CsvFile, ALineFeedAloneEndsALine) {
    ScenarioHost scenario(20, 7);
    const Result all = scenario.cli("--all --list");
    ASSERT_EQ(all.status, 0) << all.err;
    const auto rows = lines(all.out); // a header, then the rows
    ASSERT_GE(rows.size(), 3u);
    const std::string csv = scenario.temp().path() + "/list.csv";
    writeText(csv, "alias,extension\n" + zeph::test::fields(rows[1])[0] + ",\n,\n" +
                       zeph::test::fields(rows[2])[0] + ",\n");
    const Result listed = scenario.cli("--csv " + shellQuoted(csv) + " --list");
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(lines(listed.out), (std::vector<std::string>{rows[0], rows[1], rows[2]}));
    EXPECT_NE(listed.err.find("': 3 line(s) read, 2 subscriber(s) selected"), std::string::npos)
        << listed.err;
}
