// zephrane-cli: the reset from a terminal or a script.
#include "platform/posix/Posix.h"
#include "platform/sim/SimHost.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << "Usage: zephrane-cli [--help | --host-info]\n";
        return 0;
    }
    std::string error;
    auto notice = [](const std::string &text) { std::cerr << "zephrane-cli: " << text << "\n"; };
    std::string folder = zeph::sim::resolveHostFolder(notice, error);
    if (folder.empty()) {
        std::cerr << "zephrane-cli: " << error << "\n";
        return 2;
    }
    auto host = zeph::sim::openHost(folder, notice);
    auto ui = zeph::posix::makeTerminalUi(false);
    host->ui = ui.get();
    if (!args.empty() && args[0] == "--host-info") {
        std::cout << "stand-in host: " << folder << "\n";
        return 0;
    }
    std::cout << "stand-in host: " << folder << "\n";
    return 0;
}
