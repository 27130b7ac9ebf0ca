#pragma once
// Windows' side of the platform: files, shell, HTTP, clock, GUIDs and the logged-on user, on
// the system's own calls. The same functions as the POSIX backend's, so that the programs
// name either as `native`.

#include "platform/Clock.h"
#include "platform/Database.h"
#include "platform/FileSystem.h"
#include "platform/Host.h"

#include <functional>
#include <memory>
#include <string>

namespace zeph::win32 {

std::unique_ptr<IFileSystem> makeFileSystem();
std::unique_ptr<IShell> makeShell();
std::unique_ptr<IHttp> makeHttp();
std::unique_ptr<IClock> makeSystemClock();
std::unique_ptr<IGuidSource> makeGuidSource();

/// The path with backslashes, as Windows writes it.
std::string toNativePath(const std::string &path);
/// The name of the user running the program ("" when unknown).
std::string currentUserName();
/// This machine's computer name.
std::string hostName();
/// The folder that holds the running executable, without trailing separator.
std::string executableFolder();
/// The value of an environment variable (UTF-8), or "" when unset.
std::string environment(const char *name);
/// The program's standard streams, for asking whether one is a terminal.
enum class StandardStream { Input, Output, Error };
/// True when the stream is a console (not a file, pipe or NUL).
bool isTerminal(StandardStream stream);
/// Local time of a moment, through the C library's time zone rules.
LocalTime localTimeOf(TimePoint t);

enum class ReadOutcome { Read, Missing, Failed };
/// Appends a whole file's bytes to content, unchanged (no text-mode translation); Missing when
/// there is no such file, Failed with the reason in error when it cannot be read.
ReadOutcome readWholeFile(const std::string &path, std::string &content, std::string &error);
/// Writes a file by writing a new one beside it, flushing it to disk and moving it over the
/// old (which Windows' rename does not replace), so that a crash never leaves a torn file.
bool writeFileAtomically(const std::string &path, const std::string &content, std::string &error);
/// An exclusive lock on a file, taken without waiting, that the system drops when its
/// holder's process ends. The holder's text (with the process id) stays readable in the file
/// while it is held. Nothing, with the holder's text in heldBy, when another holder has it.
std::unique_ptr<IRunLock> takeFileLock(const std::string &path, const std::string &holder,
                                       std::string &heldBy);

/// The machine itself as the program's Host (its registry, services, files, mail store and
/// the server's database over ODBC, databaseText or else the program's own connection text),
/// for a program that runs on the server.
std::unique_ptr<Host> openServerMachine(std::function<void(const std::string &)> notice,
                                        const std::string &databaseText);

} // namespace zeph::win32
