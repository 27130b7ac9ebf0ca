#include "HostFolder.h"

#include "standin/SimHost.h"

#include <iostream>
#include <vector>

namespace zeph::sim {

bool requireHost(const std::string &folder) {
    if (isHostFolder(folder))
        return true;
    std::cerr << "zephrane-sim: " << folder
              << " is not a stand-in host folder (no registry.reg); create one with: "
                 "zephrane-sim init "
              << folder << "\n";
    return false;
}

SimSettings loadSettings(const std::string &folder) {
    std::vector<std::string> problems;
    SimSettings settings = SimSettings::load(folder, &problems);
    for (const auto &problem : problems)
        std::cerr << "zephrane-sim: " << problem << "\n";
    return settings;
}

} // namespace zeph::sim
