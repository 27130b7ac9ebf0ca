#pragma once
// Running the real programs from the scenario tests.

#include "support/TempHost.h"

#include <string>
#include <vector>

namespace zeph::test {

struct CommandOutput {
    int status = -1; ///< exit status; -1 when the command did not end normally
    std::string out; ///< what it wrote to standard output
};

/// Runs a shell command line and collects its standard output and exit status.
CommandOutput runCommand(const std::string &commandLine);

std::string shellQuoted(const std::string &text);
std::string readAll(const std::string &path);
/// The lines of a text, without their CR.
std::vector<std::string> lines(const std::string &text);
/// The rows a --list printed, without its header row (which must be there).
std::vector<std::string> listedRows(const std::string &out);
std::vector<std::string> fields(const std::string &line, char separator = '\t');

/// A fresh stand-in host in a temporary folder (virtual time on), and the build's programs
/// installed beside it, so that each test's run logs and recovery journals are its own.
class ScenarioHost {
public:
    struct Result {
        int status = -1;
        std::string out;
        std::string err;
    };

    ScenarioHost(int subscribers, unsigned seed);

    /// Runs an installed program on the host with no terminal; both outputs kept apart.
    Result run(const std::string &program, const std::string &args) const;
    Result cli(const std::string &args) const { return run("zephrane-cli", args); }
    /// Runs an installed program on the host on a pseudo-terminal, with `environment`
    /// ("NAME=value ...") added. `err` is what the terminal showed: standard error, and
    /// standard output too unless `outputToFile`, when `out` holds what went to the file.
    Result onTerminal(const std::string &program, const std::string &args, bool outputToFile,
                      const std::string &environment = "") const;
    /// Points the programs at another database by an ODBC connection text ("": their own).
    void useDatabase(const std::string &connectionText) { m_database = connectionText; }
    /// Runs an installed program on another host folder.
    Result runOn(const std::string &host, const std::string &program,
                 const std::string &args) const;
    /// Changes a stand-in setting ("" clears it).
    void set(const std::string &name, const std::string &value) const;

    const std::string &host() const { return m_host; }
    std::string logsFolder() const { return m_programs + "/logs"; }
    const TempFolder &temp() const { return m_temp; }

private:
    TempFolder m_temp;
    std::string m_host;
    std::string m_programs;
    std::string m_database;
};

} // namespace zeph::test
