#include "scenario_helpers.h"

#include <array>
#include <cstdio>
#include <sys/wait.h>

namespace zeph::test {

CommandOutput runCommand(const std::string &commandLine) {
    CommandOutput result;
    FILE *pipe = ::popen(commandLine.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.out.append(buffer.data(), n);
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

} // namespace zeph::test
