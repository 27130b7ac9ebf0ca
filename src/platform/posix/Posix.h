#pragma once
// This OS's side of the platform: files, shell, HTTP, clock, GUIDs and the logged-on user.

#include "platform/Clock.h"
#include "platform/FileSystem.h"

#include <memory>
#include <string>
#include <vector>

namespace zeph::posix {

std::unique_ptr<IFileSystem> makeFileSystem();
std::unique_ptr<IShell> makeShell();
std::unique_ptr<IHttp> makeHttp();
std::unique_ptr<IClock> makeSystemClock();
std::unique_ptr<IGuidSource> makeGuidSource();

/// The program and arguments that IShell::startProgram runs for a command line. Double quotes
/// group blanks into one word and are dropped. "notepad" (or "notepad.exe") becomes the
/// desktop's opener; when the rest of its line names an existing file, that whole text is the
/// one argument, blanks and all. An unquoted program path cut at a blank takes the following
/// words into it, shortest first, until it names a program, as the system reads such a line;
/// when none does, the words stay as they were split. Empty when the line holds no word.
std::vector<std::string> commandWords(const std::string &commandLine);

/// Converts a path written with backslashes to this OS's separators.
std::string toNativePath(const std::string &path);
/// The name of the user running the program ("" when unknown).
std::string currentUserName();
/// This machine's host name, short form.
std::string hostName();
/// The folder that holds the running executable, without trailing separator.
std::string executableFolder();
/// The value of an environment variable, or "" when unset.
std::string environment(const char *name);
/// The program's standard streams, for asking whether one is a terminal.
enum class StandardStream { Input, Output, Error };
/// True when the stream is connected to a terminal (not a file, pipe or /dev/null).
bool isTerminal(StandardStream stream);
/// Local time of a moment, through the C library's time zone rules.
LocalTime localTimeOf(TimePoint t);

} // namespace zeph::posix

#include "platform/UserInterface.h"

namespace zeph::posix {
/// The terminal's user interface for zephrane-cli: messages go to standard error; a question is
/// asked on the terminal, answered yes at once with assumeYes, and refused when there is no
/// terminal to ask on. Its own notes ("answered Yes by --yes") begin with linePrefix.
std::unique_ptr<IUserInterface> makeTerminalUi(bool assumeYes, std::string linePrefix = "");
} // namespace zeph::posix
