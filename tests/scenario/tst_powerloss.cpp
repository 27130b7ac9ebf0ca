// A power loss at any moment of a reset or of a recovery, replayed: the real zephrane-cli runs
// with a preloaded library that records every write and sync of the server's database and the
// programs' logs folder; for each moment at which the disk changed, the host and the logs are
// put back to what a power loss there would leave (only what was synced, and a new file only
// once its folder was synced), then `--recover` runs and the server must be whole: every
// subscriber in the distribution lists it was in, and `zephrane-sim check` clean.
#include "scenario_helpers.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sqlite3.h>

namespace fs = std::filesystem;
using zeph::test::contains;
using zeph::test::readAll;
using zeph::test::ScenarioHost;
using zeph::test::shellQuoted;

namespace {

struct Op {
    char kind = 0;
    std::string path;
    std::int64_t number = 0;
    std::string data;
};

std::vector<Op> readTrace(const std::string &file) {
    const std::string all = readAll(file);
    std::vector<Op> ops;
    std::size_t at = 0;
    auto take = [&](void *out, std::size_t size) {
        if (at + size > all.size())
            throw std::runtime_error("the write trace is cut short");
        std::memcpy(out, all.data() + at, size);
        at += size;
    };
    while (at < all.size()) {
        Op op;
        op.kind = all[at++];
        std::uint32_t pathSize = 0;
        take(&pathSize, sizeof pathSize);
        op.path.resize(pathSize);
        take(op.path.data(), pathSize);
        take(&op.number, sizeof op.number);
        std::uint64_t dataSize = 0;
        take(&dataSize, sizeof dataSize);
        op.data.resize(dataSize);
        take(op.data.data(), dataSize);
        ops.push_back(std::move(op));
    }
    return ops;
}

// One file as the disk holds it: what the program sees now, and what a power loss leaves.
struct FileState {
    bool exists = false;
    std::string now;
    /// The name survives a power loss (it was there before, or its folder was synced since).
    bool nameLasting = false;
    std::string lasting;
};

class Disk {
public:
    explicit Disk(std::set<std::string> watched)
        : m_watched(std::move(watched)) {}

    // A file of the replayed state: the database, its write-ahead log, or a file of the logs.
    bool replayed(const std::string &path) const {
        return m_watched.count(path) || m_watched.count(fs::path(path).parent_path().string());
    }

    void start(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return;
        FileState &f = m_files[path];
        f.exists = f.nameLasting = true;
        f.now = f.lasting = readAll(path);
    }

    // Applies one operation; true when what a power loss leaves has changed.
    bool apply(const Op &op) {
        if (!replayed(op.path) && !(op.kind == 'S' && fs::is_directory(op.path)))
            return false;
        FileState &f = m_files[op.path];
        switch (op.kind) {
        case 'C':
            f.exists = true;
            f.now.clear();
            return false;
        case 'W': {
            const auto offset = static_cast<std::size_t>(op.number);
            if (f.now.size() < offset + op.data.size())
                f.now.resize(offset + op.data.size(), '\0');
            f.now.replace(offset, op.data.size(), op.data);
            return false;
        }
        case 'T':
            f.now.resize(static_cast<std::size_t>(op.number), '\0');
            return false;
        case 'S':
            if (fs::is_directory(op.path)) {
                m_files.erase(op.path);
                for (auto &[path, file] : m_files) {
                    if (fs::path(path).parent_path() == fs::path(op.path))
                        file.nameLasting = file.exists;
                }
                return true;
            }
            f.lasting = f.now;
            return f.nameLasting;
        case 'U':
            f = FileState{};
            return true;
        case 'R': {
            FileState moved = f;
            m_files.erase(op.path);
            m_files[op.data] = moved;
            return true;
        }
        default:
            throw std::runtime_error(std::string("unknown trace record ") + op.kind);
        }
    }

    // Puts the files as a power loss now would leave them; the others of the logs folder go.
    void materialize(const std::string &database, const std::string &logs) const {
        for (const auto &entry : fs::directory_iterator(logs))
            fs::remove(entry.path());
        // The database file itself stays the same file, rewritten in place: a new file would
        // be another server.
        fs::remove(database + "-wal");
        fs::remove(database + "-shm");
        for (const auto &[path, file] : m_files) {
            if (file.nameLasting && replayed(path))
                std::ofstream(path, std::ios::binary | std::ios::trunc) << file.lasting;
        }
    }

private:
    std::set<std::string> m_watched;
    std::map<std::string, FileState> m_files;
};

// Every subscriber's distribution lists, by alias.
std::map<std::string, std::set<std::string>> memberships(const std::string &host) {
    std::map<std::string, std::set<std::string>> lists;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2((host + "/TarvoDb.sqlite").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        throw std::runtime_error("cannot open the host's database");
    sqlite3_stmt *row = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT s.Alias, m.DistributionListObjectID FROM Subscriber s LEFT JOIN "
                       "DistributionListMember m ON m.MemberObjectID = s.SubscriberObjectID",
                       -1, &row, nullptr);
    while (sqlite3_step(row) == SQLITE_ROW) {
        std::set<std::string> &of =
            lists[reinterpret_cast<const char *>(sqlite3_column_text(row, 0))];
        if (sqlite3_column_type(row, 1) != SQLITE_NULL)
            of.insert(reinterpret_cast<const char *>(sqlite3_column_text(row, 1)));
    }
    sqlite3_finalize(row);
    sqlite3_close(db);
    return lists;
}

std::size_t members(const std::map<std::string, std::set<std::string>> &lists) {
    std::size_t count = 0;
    for (const auto &[alias, of] : lists)
        count += of.size();
    return count;
}

using Memberships = std::map<std::string, std::set<std::string>>;

constexpr int kAborted = 86;

// Runs zephrane-cli with `args`, every write and sync recorded; then, for each moment at which
// what a power loss leaves has changed, puts the host and the logs back to that and runs
// `--recover`: every subscriber must then be in the lists `expected` names, no reset left
// unfinished and `zephrane-sim check` clean. The files the run starts from are lasting.
void replayEveryMoment(ScenarioHost &scenario, const std::string &args,
                       const Memberships &expected) {
    const std::string database = scenario.host() + "/TarvoDb.sqlite";
    const std::string logs = scenario.logsFolder();
    Disk disk({database, database + "-wal", logs});
    disk.start(database);
    disk.start(database + "-wal");
    for (const auto &entry : fs::directory_iterator(logs))
        disk.start(entry.path().string());

    const std::string trace = scenario.temp().path() + "/writes.trace";
    fs::remove(trace);
    const char *asan = std::getenv("ASAN_OPTIONS");
    const std::string preload =
        "env LD_PRELOAD=" + shellQuoted(std::string(ZEPH_BIN_DIR) + "/libzeph_write_trace.so") +
        " ZEPH_TRACE_FILE=" + shellQuoted(trace) +
        " ZEPH_TRACE_ROOTS=" + shellQuoted(scenario.host() + ":" + logs) +
        " ASAN_OPTIONS=" + shellQuoted(std::string(asan ? asan : "") + ":verify_asan_link_order=0");
    const ScenarioHost::Result run = scenario.run("zephrane-cli", args, preload);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    ASSERT_EQ(memberships(scenario.host()), expected)
        << "the run, uninterrupted, leaves every list membership\n"
        << run.out;

    const std::vector<Op> ops = readTrace(trace);
    int moments = 0;
    std::size_t syncs = 0;
    for (std::size_t i = 0; i <= ops.size(); ++i) {
        if (i > 0) {
            syncs += ops[i - 1].kind == 'S';
            if (!disk.apply(ops[i - 1]))
                continue;
        }
        ++moments;
        SCOPED_TRACE("power lost after trace record " + std::to_string(i) + " of " +
                     std::to_string(ops.size()));
        disk.materialize(database, logs);
        const ScenarioHost::Result recovered = scenario.cli("--recover --yes");
        EXPECT_NE(recovered.status, 2) << recovered.out << recovered.err;
        EXPECT_FALSE(contains(scenario.cli("--list-templates").err, "did not finish"));
        const Memberships now = memberships(scenario.host());
        EXPECT_EQ(now.size(), expected.size()) << "a subscriber is gone\n" << recovered.out;
        EXPECT_EQ(members(now), members(expected)) << recovered.out;
        EXPECT_EQ(now, expected);
        const ScenarioHost::Result check =
            scenario.run("zephrane-sim", "check " + shellQuoted(scenario.host()));
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        if (testing::Test::HasFailure())
            break; // one moment's story is enough to read
    }
    EXPECT_GT(syncs, 10u);
    EXPECT_GT(moments, 10);
}

} // namespace

TEST(PowerLoss, AtEveryMomentOfAResetRecoveryLeavesEverySubscriberInItsLists) {
    ScenarioHost scenario(12, 3);
    // The traced run starts from this disk, its logs folder made already.
    fs::create_directories(scenario.logsFolder());
    const Memberships before = memberships(scenario.host());
    ASSERT_GT(members(before), 0u);
    replayEveryMoment(
        scenario,
        "--template defaultTemplate --extensions 4001-4002 --preserve-alternate-extensions --yes",
        before);
}

// The recovery's own end is as safe as a reset's: its subscriber's entry and the lists'
// synchronisation it owes are recorded as done only once they are on disk, so a power loss at
// any moment of it leaves the next recovery something to finish, never a subscriber out of
// its lists with nothing left to do.
TEST(PowerLoss, AtEveryMomentOfARecoveryTheNextOneLeavesEverySubscriberInItsLists) {
    ScenarioHost scenario(12, 3);
    const Memberships before = memberships(scenario.host());
    ASSERT_GT(members(before), 0u);
    scenario.set("abort-after", "write-back");
    const ScenarioHost::Result interrupted = scenario.cli(
        "--template defaultTemplate --extensions 4001-4002 --preserve-alternate-extensions --yes");
    ASSERT_EQ(interrupted.status, kAborted) << interrupted.out << interrupted.err;
    scenario.set("abort-after", "");
    ASSERT_NE(memberships(scenario.host()), before)
        << "the interrupted subscriber is out of its lists";
    replayEveryMoment(scenario, "--recover --yes", before);
}
