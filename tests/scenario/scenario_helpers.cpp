#include "scenario_helpers.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sqlite3.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace zeph::test {

namespace {

const std::regex kGuid("\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-"
                       "[0-9A-Fa-f]{12}\\}");

// Runs a query and hands each row's values, as text, to `row`.
template <class Row> void eachRow(sqlite3 *db, const std::string &sql, Row &&row) {
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot read the server: " + sql);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::pair<std::string, std::string>> values;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            const unsigned char *text = sqlite3_column_text(statement, c);
            values.emplace_back(sqlite3_column_name(statement, c),
                                text ? reinterpret_cast<const char *>(text) : "NULL");
        }
        row(values);
    }
    sqlite3_finalize(statement);
}

} // namespace

void changeServer(const std::string &host, const std::string &sql,
                  const std::vector<std::string> &values) {
    sqlite3 *db = nullptr;
    const bool opened = sqlite3_open((host + "/TarvoDb.sqlite").c_str(), &db) == SQLITE_OK;
    sqlite3_stmt *statement = nullptr;
    const bool prepared =
        opened && sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK;
    for (std::size_t i = 0; prepared && i < values.size(); ++i)
        sqlite3_bind_text(statement, static_cast<int>(i + 1), values[i].data(),
                          static_cast<int>(values[i].size()), SQLITE_TRANSIENT);
    const bool done = prepared && sqlite3_step(statement) == SQLITE_DONE;
    const std::string reason = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_finalize(statement);
    sqlite3_close(db);
    if (!done)
        throw std::runtime_error("cannot change the server (" + reason + "): " + sql);
}

// Every table's rows, compared as sets: ids the reset generated (absent from `known`) read as
// "<new>", the host's own folder as "<host>", and the time stamps the clock wrote are left out.
// A row that still names a new id where an uninterrupted reset names the old one shows as a
// difference. Without `known` the ids are kept as they are.
Dump dumpServer(const std::string &host, const std::set<std::string> *known) {
    Dump dump;
    sqlite3 *db = nullptr;
    sqlite3_open_v2((host + "/TarvoDb.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    // A server process may still be ending a session's transaction (a client that has just
    // gone): the reading waits for its lock rather than fail.
    sqlite3_busy_timeout(db, 10000);
    std::vector<std::string> tables;
    // The server's own id tells hosts apart; it is no row a run changes.
    eachRow(db,
            "SELECT name FROM sqlite_master WHERE type='table' AND name <> 'zeph_ServerIdentity' "
            "ORDER BY name",
            [&](const auto &values) { tables.push_back(values[0].second); });
    for (const std::string &table : tables) {
        Rows &rows = dump[table];
        eachRow(db, "SELECT * FROM \"" + table + "\"", [&](const auto &values) {
            std::string text;
            for (const auto &[column, value] : values) {
                if (column.find("Time") != std::string::npos)
                    continue;
                const bool generated =
                    known && std::regex_match(value, kGuid) && !known->count(value);
                std::string shown = generated ? "<new>" : value;
                if (const std::size_t at = shown.find(host); at != std::string::npos)
                    shown.replace(at, host.size(), "<host>");
                text += column + "=" + shown + "|";
            }
            rows.insert(text);
        });
    }
    sqlite3_close(db);
    return dump;
}

std::set<std::string> idsOf(const std::string &host) {
    std::set<std::string> ids;
    for (const auto &[table, rows] : dumpServer(host, nullptr)) {
        (void)table;
        for (const std::string &row : rows) {
            for (std::sregex_iterator it(row.begin(), row.end(), kGuid), end; it != end; ++it)
                ids.insert(it->str());
        }
    }
    return ids;
}

// The recordings and mailbox files that are left, by path inside the host.
std::set<std::string> filesOf(const std::string &host) {
    std::set<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(host)) {
        const std::string relative = fs::relative(entry.path(), host).string();
        if (entry.is_regular_file() && relative.find("TarvoDb") == std::string::npos &&
            relative != "stand-in.conf")
            files.insert(relative);
    }
    return files;
}

// Digests of every file of the host: the proof that nothing at all was changed.
std::map<std::string, std::string> digestsOf(const std::string &host) {
    std::map<std::string, std::string> digests;
    for (const auto &entry : fs::recursive_directory_iterator(host)) {
        if (entry.is_regular_file())
            digests[entry.path().string()] = TempHost::fileDigest(entry.path().string());
    }
    return digests;
}

// What the table rows differ in, for a readable failure.
std::string difference(const Dump &expected, const Dump &actual) {
    std::string text;
    for (const auto &[table, rows] : expected) {
        const Rows &other = actual.count(table) ? actual.at(table) : Rows{};
        if (rows == other)
            continue;
        text += table + ":\n";
        for (const std::string &row : rows)
            if (!other.count(row))
                text += "  missing " + row + "\n";
        for (const std::string &row : other)
            if (!rows.count(row))
                text += "  extra   " + row + "\n";
    }
    return text;
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

bool waitUntil(const std::function<bool()> &condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

CommandOutput runCommand(const std::string &commandLine) {
    CommandOutput result;
    FILE *pipe = ::popen(commandLine.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.out.append(buffer.data(), n);
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

std::string shellQuoted(const std::string &text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void writeText(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        all.push_back(line);
    }
    return all;
}

std::vector<std::string> listedRows(const std::string &out) {
    std::vector<std::string> rows = lines(out);
    if (rows.empty() || rows.front().rfind("Alias", 0) != 0)
        throw std::runtime_error("a list without its header row: " + out.substr(0, 200));
    rows.erase(rows.begin());
    return rows;
}

std::vector<std::string> fields(const std::string &line, char separator) {
    std::vector<std::string> all;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);)
        all.push_back(field);
    return all;
}

ScenarioHost::ScenarioHost(int subscribers, unsigned seed)
    : m_host(m_temp.path() + "/host")
    , m_programs(m_temp.path() + "/programs") {
    // The programs keep their logs beside themselves: a link of their own keeps each test's.
    fs::create_directories(m_programs);
    for (const char *program : {"zephrane-cli", "zephrane-sim"}) {
        // ZEPH_SCENARIO_BIN runs the scenarios on the programs of another build.
        const char *other = std::getenv("ZEPH_SCENARIO_BIN");
        const fs::path built = fs::path(other && *other ? other : ZEPH_BIN_DIR) / program;
        std::error_code linkFailed;
        fs::create_hard_link(built, fs::path(m_programs) / program, linkFailed);
        if (linkFailed)
            fs::copy_file(built, fs::path(m_programs) / program);
    }
    const Result init =
        run("zephrane-sim", "init " + shellQuoted(m_host) + " --subscribers " +
                                std::to_string(subscribers) + " --seed " + std::to_string(seed));
    if (init.status != 0)
        throw std::runtime_error("zephrane-sim init failed: " + init.err);
    set("virtual-time", "on");
}

ScenarioHost::Result ScenarioHost::run(const std::string &program, const std::string &args,
                                       const std::string &wrapper) const {
    return runOn(m_host, program, args, wrapper);
}

ScenarioHost::Result ScenarioHost::runOn(const std::string &host, const std::string &program,
                                         const std::string &args,
                                         const std::string &wrapper) const {
    const std::string errFile = m_temp.path() + "/stderr.txt";
    const std::string database =
        m_database.empty() ? "" : "ZEPHRANE_DATABASE=" + shellQuoted(m_database) + " ";
    const std::string command = "ZEPHRANE_HOST=" + shellQuoted(host) + " " + database + wrapper +
                                " " + shellQuoted(m_programs + "/" + program) + " " + args +
                                " </dev/null 2>" + shellQuoted(errFile);
    const CommandOutput output = runCommand(command);
    return {output.status, output.out, readAll(errFile)};
}

ScenarioHost::Result ScenarioHost::onTerminal(const std::string &program, const std::string &args,
                                              bool outputToFile,
                                              const std::string &environment) const {
    const std::string outFile = m_temp.path() + "/stdout.txt";
    std::error_code ignored;
    fs::remove(outFile, ignored);
    std::string inner = "ZEPHRANE_HOST=" + shellQuoted(m_host) + " " + environment + " " +
                        shellQuoted(m_programs + "/" + program) + " " + args;
    if (outputToFile)
        inner += " >" + shellQuoted(outFile);
    // util-linux script gives the command a pseudo-terminal and copies what it shows; -e
    // passes the command's exit status on.
    const CommandOutput shown =
        runCommand("script -qec " + shellQuoted(inner) + " /dev/null </dev/null");
    return {shown.status, outputToFile ? readAll(outFile) : std::string(), shown.out};
}

Process ScenarioHost::start(const std::string &program, const std::string &args,
                            const std::string &wrapper) const {
    static int started = 0;
    Process process;
    const std::string stem = m_temp.path() + "/process-" + std::to_string(++started);
    process.outFile = stem + ".out";
    process.errFile = stem + ".err";
    // exec: the shell becomes the program, so that a signal to the process id reaches it.
    const std::string database =
        m_database.empty() ? "" : "export ZEPHRANE_DATABASE=" + shellQuoted(m_database) + "; ";
    const std::string command =
        "export ZEPHRANE_HOST=" + shellQuoted(m_host) + "; " + database + "exec " + wrapper +
        (wrapper.empty() ? "" : " ") + shellQuoted(m_programs + "/" + program) + " " + args +
        " </dev/null >" + shellQuoted(process.outFile) + " 2>" + shellQuoted(process.errFile);
    process.pid = ::fork();
    if (process.pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    if (process.pid < 0)
        throw std::runtime_error("cannot start " + program);
    return process;
}

ScenarioHost::Result ScenarioHost::finish(Process &process) const {
    int raw = 0;
    while (::waitpid(process.pid, &raw, 0) < 0 && errno == EINTR) {
    }
    process.pid = -1;
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    result.out = readAll(process.outFile);
    result.err = readAll(process.errFile);
    return result;
}

ScenarioHost::Result ScenarioHost::kill(Process &process) const {
    ::kill(process.pid, SIGKILL);
    return finish(process);
}

void ScenarioHost::sharePrograms(const ScenarioHost &other) {
    m_programs = other.m_programs;
}

void ScenarioHost::set(const std::string &name, const std::string &value) const {
    const Result r =
        run("zephrane-sim", "set " + shellQuoted(m_host) + " " + name + " " + shellQuoted(value));
    if (r.status != 0)
        throw std::runtime_error("zephrane-sim set " + name + " failed: " + r.err);
}

std::string maskedTimes(const std::string &out) {
    static const std::regex time(R"(\d+/\d+/\d{4} \d+:\d\d:\d\d [AP]M)");
    // A second run in the same second takes the next free name ("_2"): masked with the stamp.
    static const std::regex stamp(R"(_\d{8}_\d\d_\d\d_\d\d(_\d+)?)");
    return std::regex_replace(std::regex_replace(out, time, "<time>"), stamp, "_<stamp>");
}

std::vector<std::string> readingRuns(const std::string &csv) {
    return {
        "--list-templates",
        "--all --list",
        "--switch 1 --list",
        "--extensions 1000-99999 --list",
        "--where \"WHERE Alias LIKE 'a%' OR DisplayName LIKE '%e%'\" --list",
        "--where \"WHERE Alias = 'x'; DELETE FROM Subscriber\" --list",
        "--csv " + shellQuoted(csv) + " --list",
        "--template defaultTemplate --all --dry-run",
        "--template defaultTemplate --all --dry-run --preserve-alternate-extensions",
    };
}

std::vector<ScenarioHost::Result> runEach(const ScenarioHost &host,
                                          const std::vector<std::string> &runs) {
    std::vector<ScenarioHost::Result> results;
    for (const std::string &args : runs)
        results.push_back(host.cli(args));
    return results;
}

std::string printedDifference(const std::vector<std::string> &runs,
                              const std::vector<ScenarioHost::Result> &expected,
                              const std::vector<ScenarioHost::Result> &actual) {
    std::string text;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const ScenarioHost::Result &want = expected.at(i);
        const ScenarioHost::Result &got = actual.at(i);
        if (got.status != want.status)
            text += runs[i] + ": status " + std::to_string(got.status) + " instead of " +
                    std::to_string(want.status) + "\n" + got.err;
        if (maskedTimes(got.out) != maskedTimes(want.out))
            text += runs[i] + ": printed\n" + got.out + "instead of\n" + want.out;
        if (maskedTimes(got.err) != maskedTimes(want.err))
            text += runs[i] + ": reported\n" + got.err + "instead of\n" + want.err;
    }
    return text;
}

} // namespace zeph::test
