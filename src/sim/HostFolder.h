#pragma once
// What every zephrane-sim command on an existing host does first: make sure the folder is a
// host, and read its settings.

#include "standin/SimSettings.h"

#include <string>

namespace zeph::sim {

/// True when the folder is a stand-in host; otherwise says how to make one, on standard error.
bool requireHost(const std::string &folder);
/// The host's settings; what could not be read in them is told on standard error.
SimSettings loadSettings(const std::string &folder);

} // namespace zeph::sim
