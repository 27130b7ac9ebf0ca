// zephrane-cli: the reset from a terminal or a script.
#include "cli/CommandLine.h"
#include "platform/Native.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    using zeph::native::StandardStream;
    zeph::cli::Terminal terminal;
    terminal.output = zeph::native::isTerminal(StandardStream::Output);
    terminal.error = zeph::native::isTerminal(StandardStream::Error);
    // https://no-color.org: set and not empty turns colour off.
    terminal.noColor = !zeph::native::environment("NO_COLOR").empty();
    terminal.dumb = zeph::native::environment("TERM") == "dumb";
    terminal.columns = zeph::native::terminalColumns(StandardStream::Error);
    return zeph::cli::run(args, std::cout, std::cerr, terminal);
}
