#pragma once
// The stand-in host's registry: HKEY_LOCAL_MACHINE kept in a "Windows Registry Editor Version
// 5.00" text file. Every call reads the file afresh (parsing it only when its bytes changed);
// every write replaces it atomically.

#include "platform/Registry.h"

#include <functional>
#include <memory>
#include <string>

namespace zeph::sim {

/// A registry over the given .reg file. A file that cannot be read or parsed behaves as a
/// registry whose keys cannot be opened; `notice` is told once which file and line is wrong.
std::unique_ptr<IRegistry> makeFileRegistry(const std::string &regFilePath,
                                            std::function<void(const std::string &)> notice);

/// How many times this process has parsed a registry file (for tests: a run parses once).
std::size_t registryFileParses();

} // namespace zeph::sim
