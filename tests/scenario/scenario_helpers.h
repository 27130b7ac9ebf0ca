#pragma once
// Running the real programs from the scenario tests.

#include "support/TempHost.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>
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
/// Replaces the file at `path` with `text`, byte for byte.
void writeText(const std::string &path, const std::string &text);
/// The lines of a text, without their CR.
std::vector<std::string> lines(const std::string &text);
/// The rows a --list printed, without its header row (which must be there).
std::vector<std::string> listedRows(const std::string &out);
std::vector<std::string> fields(const std::string &line, char separator = '\t');

bool contains(const std::string &text, const std::string &part);

/// Every table's rows of a host's server, as sets of texts.
using Rows = std::multiset<std::string>;
using Dump = std::map<std::string, Rows>;
/// Every table's rows: ids the reset generated (absent from `known`) read as "<new>", the
/// host's own folder as "<host>", and the time stamps the clock wrote are left out. Without
/// `known` the ids are kept as they are. The stand-in server's own id is left out.
Dump dumpServer(const std::string &host, const std::set<std::string> *known);
/// Every id the host's server holds.
std::set<std::string> idsOf(const std::string &host);
/// The recordings and mailbox files that are left, by path inside the host.
std::set<std::string> filesOf(const std::string &host);
/// Digests of every file of the host: the proof that nothing at all was changed.
std::map<std::string, std::string> digestsOf(const std::string &host);
/// Changes the host's server by hand, as an administrator's tool would: one statement with its
/// values bound as ?1, ?2, ... Throws with SQLite's reason when the statement fails.
void changeServer(const std::string &host, const std::string &sql,
                  const std::vector<std::string> &values = {});
/// What the rows differ in, for a readable failure; empty when they are the same.
std::string difference(const Dump &expected, const Dump &actual);

/// Polls the condition every few milliseconds for up to a minute; true once it holds.
bool waitUntil(const std::function<bool()> &condition);

/// A program started without waiting for it; its outputs go to files.
struct Process {
    pid_t pid = -1;
    std::string outFile;
    std::string errFile;
};

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
    /// `wrapper` (a command that runs the program, such as "prlimit ... --") goes before it.
    Result run(const std::string &program, const std::string &args,
               const std::string &wrapper = "") const;
    Result cli(const std::string &args) const { return run("zephrane-cli", args); }
    /// Runs an installed program on the host on a pseudo-terminal, with `environment`
    /// ("NAME=value ...") added. `err` is what the terminal showed: standard error, and
    /// standard output too unless `outputToFile`, when `out` holds what went to the file.
    Result onTerminal(const std::string &program, const std::string &args, bool outputToFile,
                      const std::string &environment = "") const;
    /// Points the programs at another database by an ODBC connection text ("": their own).
    void useDatabase(const std::string &connectionText) { m_database = connectionText; }
    /// Runs an installed program on another host folder.
    Result runOn(const std::string &host, const std::string &program, const std::string &args,
                 const std::string &wrapper = "") const;
    /// Starts an installed program on the host and returns at once; `wrapper` as for run.
    Process start(const std::string &program, const std::string &args,
                  const std::string &wrapper = "") const;
    /// Waits for a started program; its status is minus the signal when a signal ended it.
    Result finish(Process &process) const;
    /// Ends a started program with SIGKILL and waits for it.
    Result kill(Process &process) const;
    /// Runs the programs installed for another host (their logs folder is then shared).
    void sharePrograms(const ScenarioHost &other);
    /// Changes a stand-in setting ("" clears it).
    void set(const std::string &name, const std::string &value) const;

    const std::string &host() const { return m_host; }
    std::string logsFolder() const { return m_programs + "/logs"; }
    const std::string &programsFolder() const { return m_programs; }
    const TempFolder &temp() const { return m_temp; }

private:
    TempFolder m_temp;
    std::string m_host;
    std::string m_programs;
    std::string m_database;
};

/// A run's printed lines with their times and the time-stamped names in them masked, for
/// comparing two runs.
std::string maskedTimes(const std::string &out);
/// zephrane-cli's command lines that only read the server: the templates, each kind of
/// selection (one reads the list file `csv`) and dry runs. Every database backend must
/// print the same for each.
std::vector<std::string> readingRuns(const std::string &csv);
/// Runs zephrane-cli once with each command line, in order.
std::vector<ScenarioHost::Result> runEach(const ScenarioHost &host,
                                          const std::vector<std::string> &runs);
/// How the runs' statuses and printed lines (times masked) differ from the expected ones, for
/// a readable failure; empty when they are the same.
std::string printedDifference(const std::vector<std::string> &runs,
                              const std::vector<ScenarioHost::Result> &expected,
                              const std::vector<ScenarioHost::Result> &actual);

} // namespace zeph::test
