#pragma once
// This OS's side of the platform: files, shell, HTTP, clock, GUIDs and the logged-on user.

#include "platform/Clock.h"
#include "platform/Database.h"
#include "platform/FileSystem.h"
#include "platform/Host.h"

#include <functional>
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

enum class ReadOutcome { Read, Missing, Failed };
/// Appends a whole file's bytes to content; Missing when there is no such file, Failed with the
/// reason in error when it cannot be read.
ReadOutcome readWholeFile(const std::string &path, std::string &content, std::string &error);
/// Writes a file by writing a new one beside it, making it durable and renaming it over the
/// old, so that a crash never leaves a torn file. False with an error text on failure.
bool writeFileAtomically(const std::string &path, const std::string &content, std::string &error);
/// An exclusive lock of the operating system on a file, taken without waiting, that the
/// system drops when its holder's process ends however it ends. The holder's text (with this
/// process's id added) is written into the file while it is held. Nothing, with the holder's
/// text in heldBy, when another holder has it. Throws Error when the file cannot be opened or
/// locked.
std::unique_ptr<IRunLock> takeFileLock(const std::string &path, const std::string &holder,
                                       std::string &heldBy);

/// The machine itself as the program's Host (its registry, services, files, mail store and
/// the server's database over ODBC, databaseText or else the program's own connection text),
/// for a program that runs on the server. Nothing here: the server never runs on this OS, so the
/// programs use a stand-in host.
std::unique_ptr<Host> openServerMachine(std::function<void(const std::string &)> notice,
                                        const std::string &databaseText);

} // namespace zeph::posix
