#pragma once
// zephrane-sim serve HOST [--port N] [--verbose]

#include <string>
#include <vector>

namespace zeph::sim {

int serveCommand(const std::vector<std::string> &args);

} // namespace zeph::sim
