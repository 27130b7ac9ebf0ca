#include "scenario_helpers.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace zeph::test {

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
        const fs::path built = fs::path(ZEPH_BIN_DIR) / program;
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

ScenarioHost::Result ScenarioHost::run(const std::string &program, const std::string &args) const {
    return runOn(m_host, program, args);
}

ScenarioHost::Result ScenarioHost::runOn(const std::string &host, const std::string &program,
                                         const std::string &args) const {
    const std::string errFile = m_temp.path() + "/stderr.txt";
    const std::string database =
        m_database.empty() ? "" : "ZEPHRANE_DATABASE=" + shellQuoted(m_database) + " ";
    const std::string command = "ZEPHRANE_HOST=" + shellQuoted(host) + " " + database +
                                shellQuoted(m_programs + "/" + program) + " " + args +
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

void ScenarioHost::set(const std::string &name, const std::string &value) const {
    const Result r =
        run("zephrane-sim", "set " + shellQuoted(m_host) + " " + name + " " + shellQuoted(value));
    if (r.status != 0)
        throw std::runtime_error("zephrane-sim set " + name + " failed: " + r.err);
}

} // namespace zeph::test
