#include "tds_helpers.h"

#include <csignal>
#include <fstream>
#include <regex>
#include <stdexcept>

namespace zeph::test {

ServedHost::ServedHost(const ScenarioHost &host, const std::string &extraArgs,
                       const std::string &wrapper)
    : m_host(host) {
    host.set("sql-password", kPassword);
    m_process = host.start("zephrane-sim",
                           "serve " + shellQuoted(host.host()) + " --port 0 " + extraArgs, wrapper);
    static const std::regex listening(R"(port (\d+))");
    std::smatch match;
    const bool up = waitUntil([&] {
        const std::string out = readAll(m_process.outFile);
        if (!std::regex_search(out, match, listening))
            return false;
        m_port = std::stoi(match[1].str());
        return true;
    });
    if (!up) {
        const std::string err = readAll(m_process.errFile);
        m_host.kill(m_process);
        throw std::runtime_error("zephrane-sim serve did not start listening: " + err);
    }
}

ServedHost::~ServedHost() {
    if (m_process.pid > 0)
        m_host.kill(m_process);
}

std::string ServedHost::connectionText(const std::string &password) const {
    return "Driver={SQL Server};Server=127.0.0.1," + std::to_string(m_port) +
           ";Database=TarvoDb;UID=zephrane;PWD=" + password +
           ";TDS_Version=7.4;ClientCharset=UTF-8";
}

ScenarioHost::Result ServedHost::kill() {
    return m_host.kill(m_process);
}

ScenarioHost::Result ServedHost::stop() {
    // The server is the wrapper's child when there is one: the first child listed.
    pid_t server = m_process.pid;
    std::ifstream children("/proc/" + std::to_string(m_process.pid) + "/task/" +
                           std::to_string(m_process.pid) + "/children");
    pid_t child = 0;
    if (children >> child && child > 0)
        server = child;
    ::kill(server, SIGTERM);
    return m_host.finish(m_process);
}

std::string ServedHost::output() const {
    return readAll(m_process.outFile);
}

bool freeTdsInstalled() {
    return runCommand("odbcinst -q -d -n 'SQL Server' 2>/dev/null").status == 0;
}

} // namespace zeph::test
