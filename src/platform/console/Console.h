#pragma once
// The terminal as the user interface of zephrane-cli, on any OS.

#include "platform/UserInterface.h"

#include <memory>
#include <string>

namespace zeph::console {
/// The terminal's user interface for zephrane-cli: messages go to standard error; a question is
/// asked on the terminal, answered yes at once with assumeYes, and refused when there is no
/// terminal to ask on. Its own notes ("answered Yes by --yes") begin with linePrefix.
std::unique_ptr<IUserInterface> makeTerminalUi(bool assumeYes, std::string linePrefix = "");
} // namespace zeph::console
