#pragma once
// zephrane-cli's command line: parsing, start-up, and the commands.

#include "RunOutput.h"

#include <ostream>
#include <string>
#include <vector>

namespace zeph::cli {

/// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRunErrors = 1;
inline constexpr int kExitNothingRun = 2;

/// Every message of the program begins with this.
inline constexpr const char *kMessagePrefix = "zephrane-cli: ";

/// Runs the program with its arguments; returns the exit status. `terminal` says which of the
/// streams are terminals (progress and colour are for terminals only).
int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err,
        const Terminal &terminal = {});

} // namespace zeph::cli
