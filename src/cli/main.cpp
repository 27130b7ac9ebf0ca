// zephrane-cli: the reset from a terminal or a script.
#include "cli/CommandLine.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return zeph::cli::run(args, std::cout, std::cerr);
}
