#pragma once
// Running the real programs from the scenario tests.

#include <string>

namespace zeph::test {

struct CommandOutput {
    int status = -1; ///< exit status; -1 when the command did not end normally
    std::string out; ///< what it wrote to standard output
};

/// Runs a shell command line and collects its standard output and exit status.
CommandOutput runCommand(const std::string &commandLine);

} // namespace zeph::test
