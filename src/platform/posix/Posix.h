#pragma once
// This OS's side of the platform: files, shell, HTTP, clock, GUIDs and the logged-on user.

#include "platform/Clock.h"
#include "platform/Database.h"
#include "platform/FileSystem.h"
#include "platform/Host.h"
#include "platform/Result.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zeph::posix {

#include "platform/BackendFunctions.h"

/// The program and arguments that IShell::startProgram runs for a command line. Double quotes
/// group blanks into one word and are dropped. "notepad" (or "notepad.exe") becomes the
/// desktop's opener; when the rest of its line names an existing file, that whole text is the
/// one argument, blanks and all. An unquoted program path cut at a blank takes the following
/// words into it, shortest first, until it names a program, as the system reads such a line;
/// when none does, the words stay as they were split. Empty when the line holds no word.
std::vector<std::string> commandWords(const std::string &commandLine);

} // namespace zeph::posix
