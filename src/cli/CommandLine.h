#pragma once
// zephrane-cli's command line: parsing, start-up, and the commands.

#include <ostream>
#include <string>
#include <vector>

namespace zeph::cli {

/// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRunErrors = 1;
inline constexpr int kExitNothingRun = 2;

/// Runs the program with its arguments; returns the exit status.
int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace zeph::cli
