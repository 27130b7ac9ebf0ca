// The host tool: making the large host, timed as an administrator would time the command.
#include "Figures.h"
#include "Measure.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace zeph::bench {

bool runSimTool(const BenchOptions &options, const std::string &arguments) {
    // The tool's own report of what it made is of no interest here; its failures are.
    const std::string command = "'" + options.simTool + "' " + arguments + " >/dev/null";
    const int status = std::system(command.c_str());
    if (status != 0) {
        std::cerr << "zephrane-bench: failed (status " << status << "): " << command << "\n";
        return false;
    }
    return true;
}

std::string measureHostCreation(const BenchOptions &options, Report &report) {
    const int subscribers = options.hostSubscribers();
    const std::string folder = options.workFolder + "/host-" + std::to_string(subscribers);
    std::filesystem::remove_all(folder);
    Stopwatch watch;
    const bool made =
        runSimTool(options, "init '" + folder + "' --subscribers " + std::to_string(subscribers) +
                                " --seed " + std::to_string(options.seed));
    const double seconds = watch.ms() / 1000.0;
    if (!made)
        return {};
    report.add({"sim_init_30k_s", seconds, "s", Goal::Below, 60, ""});
    return folder;
}

} // namespace zeph::bench
