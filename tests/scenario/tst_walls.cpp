// The walls of a host, with the real programs: a recording path written to lead out of the
// recordings folder ("..", a drive prefix, a full path, a link) deletes nothing outside it,
// and a host whose recordings folder leads out of the host folder is refused at start.
#include "scenario_helpers.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>

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

// (A recording named by a full path outside the host folder makes the stand-in refuse the host
// at start; the wall of the run keeps such a path on a real server from deleting anything.)

// The first subscriber a listing shows, and the first template.
std::string firstSubscriber(const ScenarioHost &scenario) {
    const Result all = scenario.cli("--all --list");
    EXPECT_EQ(all.status, 0) << all.err;
    return zeph::test::fields(lines(all.out).at(1))[0];
}

std::string firstTemplate(const ScenarioHost &scenario) {
    const Result templates = scenario.cli("--list-templates");
    EXPECT_EQ(templates.status, 0) << templates.err;
    return zeph::test::fields(lines(templates.out).at(1))[0];
}

struct Escape {
    const char *name;
    // The StreamPath written, from the folder outside the host that holds the victim file.
    std::string (*streamPath)(const std::string &outside);
    // Whether it is a greeting's path rather than the voice name's.
    bool greeting;
    // Made in the host before the run (a link out of it), "" for none.
    const char *link;
};

const Escape kEscapes[] = {
    {"up from the stream folder",
     [](const std::string &) { return std::string("..\\..\\..\\victim\\x"); }, false, ""},
    {"up from the host drive's root",
     [](const std::string &) { return std::string("C:\\..\\victim\\x"); }, false, ""},
    {"a greeting up from the stream folder",
     [](const std::string &) { return std::string("..\\..\\..\\victim\\x"); }, true, ""},
    {"a link to a folder outside", [](const std::string &) { return std::string("outward\\x"); },
     false, "Pradix/Stream Files/outward"},
    {"a link to a file outside", [](const std::string &) { return std::string("outward.wav"); },
     false, "Pradix/Stream Files/outward.wav"},
};

} // namespace

TEST(HostWalls, ARecordingPathThatLeadsOutDeletesNothingOutside) {
    for (const Escape &escape : kEscapes) {
        SCOPED_TRACE(escape.name);
        ScenarioHost scenario(12, 21);
        const std::string outside = scenario.temp().path();
        const std::string victim = outside + "/victim/x";
        fs::create_directories(outside + "/victim");
        writeText(victim, "another's file");
        if (*escape.link) {
            const bool toFile = contains(escape.link, ".wav");
            fs::path target = toFile ? fs::path(victim) : fs::path(outside + "/victim");
            fs::create_symlink(target, scenario.host() + "/" + escape.link);
        }
        const std::string alias = firstSubscriber(scenario);
        const std::string path = escape.streamPath(outside);
        if (escape.greeting)
            changeServer(scenario.host(),
                         "UPDATE MessagingRule SET StreamPath=?1 WHERE ParentObjectID=(SELECT "
                         "CallHandlerObjectID FROM Subscriber WHERE Alias=?2)",
                         {path, alias});
        else
            changeServer(scenario.host(), "UPDATE Subscriber SET StreamPath=?1 WHERE Alias=?2",
                         {path, alias});
        const std::string args = "--template " + firstTemplate(scenario) + " --where " +
                                 shellQuoted("WHERE Alias='" + alias + "'") +
                                 " --skip-dl-sync --yes";

        const Result dry = scenario.cli(args + " --dry-run");
        EXPECT_TRUE(contains(dry.out, "lies outside the recordings folder C:\\Pradix\\ and is "
                                      "not deleted (foreseen by the dry run)"))
            << dry.out;
        const Result reset = scenario.cli(args);
        EXPECT_TRUE(contains(reset.out, "(error) the recording ")) << reset.out;
        EXPECT_TRUE(contains(reset.out, "lies outside the recordings folder C:\\Pradix\\ and is "
                                        "not deleted"))
            << reset.out;
        EXPECT_FALSE(contains(reset.out, "    Deleting ")) << reset.out;
        EXPECT_EQ(readAll(victim), "another's file");
        if (*escape.link) {
            EXPECT_TRUE(fs::is_symlink(scenario.host() + "/" + escape.link));
        }
        // The subscriber was reset all the same, and the server holds no path to the file.
        EXPECT_TRUE(contains(reset.out + reset.err, "reset 1 subscribers reset")) << reset.err;
        EXPECT_EQ(scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host())).status, 0);
    }
}

// Root Path is resolved before it is trusted: a path on the host's drive that climbs out of
// it, or a folder of the host that is a link to another host's recordings, is not this host's.
TEST(HostWalls, ARootPathThatLeadsOutOfTheHostIsRefusedAtStart) {
    ScenarioHost other(6, 22);
    struct Case {
        const char *name;
        std::string rootPath; // as registry.reg writes it
        bool linkPradix;      // the host's Pradix folder replaced by a link to the other's
    };
    const Case cases[] = {
        {"up from the drive's root", "C:\\\\..\\\\other\\\\Pradix\\\\", false},
        {"up from a folder of the host", "C:\\\\Pradix\\\\..\\\\..\\\\other\\\\Pradix\\\\", false},
        {"the host's folder a link to another's", "C:\\\\Pradix\\\\", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScenarioHost scenario(6, 23);
        fs::create_directory_symlink(other.host(), scenario.temp().path() + "/other");
        const auto before = zeph::test::digestsOf(other.host());
        if (c.linkPradix) {
            fs::remove_all(scenario.host() + "/Pradix");
            fs::create_directory_symlink(other.host() + "/Pradix", scenario.host() + "/Pradix");
        }
        const std::string registry = scenario.host() + "/registry.reg";
        std::string text = readAll(registry);
        const std::string drive = "\"Root Path\"=\"C:\\\\Pradix\\\\\"";
        ASSERT_NE(text.find(drive), std::string::npos);
        text.replace(text.find(drive), drive.size(), "\"Root Path\"=\"" + c.rootPath + "\"");
        writeText(registry, text);

        const Result refused =
            scenario.cli("--template " + firstTemplate(other) + " --all --skip-dl-sync --yes");
        EXPECT_EQ(refused.status, 2) << refused.out << refused.err;
        EXPECT_TRUE(contains(refused.err, ", outside the host folder")) << refused.err;
        EXPECT_FALSE(contains(refused.out, "Deleting")) << refused.out;
        EXPECT_EQ(zeph::test::digestsOf(other.host()), before);
    }
}

// --- files only their owner reads ------------------------------------------------------------

namespace {

// CI runs as root, which reads and writes past any mode: the other user is nobody.
const std::string kAsNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups --";

bool canRunAsNobody() {
    return zeph::test::runCommand(kAsNobody + " true 2>/dev/null").status == 0;
}

int modeOf(const std::string &path) {
    return static_cast<int>(fs::status(path).permissions() & fs::perms::mask);
}

} // namespace

TEST(OwnerOnly, SettingsDatabaseLogsAndJournalsAreTheOwnersAlone) {
    ScenarioHost scenario(12, 31);
    const Result reset =
        scenario.cli("--template " + firstTemplate(scenario) + " --all --skip-dl-sync --yes");
    ASSERT_LE(reset.status, 1) << reset.err;
    EXPECT_EQ(modeOf(scenario.host()) & 077, 0);
    std::vector<std::string> files;
    for (const char *name :
         {"stand-in.conf", "TarvoDb.sqlite", "TarvoDb.sqlite.run-lock", "registry.reg"})
        files.push_back(scenario.host() + "/" + name);
    // SQLite's files beside the database, while they are there.
    for (const char *name : {"TarvoDb.sqlite-wal", "TarvoDb.sqlite-shm"}) {
        if (fs::exists(scenario.host() + "/" + name))
            files.push_back(scenario.host() + "/" + name);
    }
    int runFiles = 0;
    for (const auto &entry : fs::directory_iterator(scenario.logsFolder())) {
        files.push_back(entry.path().string());
        ++runFiles;
    }
    EXPECT_GE(runFiles, 2) << "a log and a journal";
    for (const std::string &file : files) {
        ASSERT_TRUE(fs::exists(file)) << file;
        EXPECT_EQ(modeOf(file) & 077, 0) << file << " is readable by others";
    }
}

TEST(OwnerOnly, InitMakesItsFolderAndRefusesOneAnotherUserCouldHaveReached) {
    if (!canRunAsNobody())
        GTEST_SKIP() << "the programs cannot be run as another account here";
    ScenarioHost scenario(1, 32);
    // A folder every user may write in, as /tmp is.
    const std::string shared = scenario.temp().path() + "/shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    struct Case {
        const char *name;
        const char *setUp;   // shell commands, in the shared folder
        const char *refusal; // "" when init takes the folder
    };
    const std::string nobody = kAsNobody + " ";
    const Case cases[] = {
        {"made beforehand by another user", "NOBODY mkdir host", "belongs to another user"},
        {"writable by others", "mkdir host && chmod 0777 host", "other users may write in it"},
        {"a link to a folder", "mkdir mine && ln -s mine host", "it is a symbolic link"},
        {"not empty", "mkdir host && touch host/x", "is not empty"},
        {"empty and the user's own", "mkdir -m 0755 host", ""},
        {"new", "true", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string setUp = c.setUp;
        if (setUp.rfind("NOBODY ", 0) == 0)
            setUp = nobody + setUp.substr(7);
        ASSERT_EQ(
            zeph::test::runCommand("cd " + shellQuoted(shared) + " && rm -rf host mine && " + setUp)
                .status,
            0);
        const std::string host = shared + "/host";
        const Result init = scenario.run("zephrane-sim", "init " + shellQuoted(host));
        if (*c.refusal) {
            EXPECT_NE(init.status, 0);
            EXPECT_TRUE(contains(init.err, c.refusal)) << init.err;
            EXPECT_FALSE(fs::exists(host + "/stand-in.conf"));
            EXPECT_FALSE(fs::exists(host + "/TarvoDb.sqlite"));
        } else {
            EXPECT_EQ(init.status, 0) << init.err;
            EXPECT_EQ(modeOf(host + "/stand-in.conf") & 077, 0);
            if (std::string(c.setUp) == "true") {
                EXPECT_EQ(modeOf(host), 0700);
            }
        }
    }
}

TEST(OwnerOnly, ARunLockPlantedByAnotherUserIsNeverOpened) {
    if (!canRunAsNobody())
        GTEST_SKIP() << "the programs cannot be run as another account here";
    struct Case {
        const char *name;
        const char *plant; // run as nobody in the host folder; VICTIM is root's file
        const char *refusal;
    };
    const Case cases[] = {
        {"a link to a file of root's", "ln -s VICTIM TarvoDb.sqlite.run-lock",
         "it is a symbolic link"},
        {"a file of its own", "echo planted > TarvoDb.sqlite.run-lock",
         "it belongs to another user"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScenarioHost scenario(6, 33);
        const std::string victim = scenario.temp().path() + "/roots-own";
        writeText(victim, "root's own file");
        fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
        // A host folder others may write in, as hosts made in /tmp by older versions were.
        fs::permissions(scenario.host(), fs::perms::all);
        std::string plant = c.plant;
        if (const auto at = plant.find("VICTIM"); at != std::string::npos)
            plant.replace(at, 6, shellQuoted(victim));
        ASSERT_EQ(zeph::test::runCommand("cd " + shellQuoted(scenario.host()) + " && " + kAsNobody +
                                         " sh -c " + shellQuoted(plant))
                      .status,
                  0);
        const Result run =
            scenario.cli("--template " + firstTemplate(scenario) + " --all --skip-dl-sync --yes");
        EXPECT_NE(run.status, 0);
        EXPECT_TRUE(contains(run.err + run.out, c.refusal)) << run.err << run.out;
        EXPECT_FALSE(contains(run.out, "** Resetting Subscriber **")) << run.out;
        EXPECT_EQ(readAll(victim), "root's own file");
    }
}
