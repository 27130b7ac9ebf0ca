// The calls every operating system's backend gives, declared once. Each backend's header
// includes this file inside its own namespace (zeph::posix, zeph::win32), after the headers
// it needs, so that the programs name either backend as `native` and both stay alike.
// No include guard and no includes of its own: it is read once per backend namespace.

std::unique_ptr<IFileSystem> makeFileSystem();
std::unique_ptr<IShell> makeShell();
std::unique_ptr<IHttp> makeHttp();
std::unique_ptr<IClock> makeSystemClock();
std::unique_ptr<IGuidSource> makeGuidSource();

/// The path with this OS's separators (backslashes on Windows), for its own calls.
std::string toNativePath(const std::string &path);
/// The name of the user running the program ("" when unknown).
std::string currentUserName();
/// This machine's name, short form.
std::string hostName();
/// The folder that holds the running executable, without trailing separator.
std::string executableFolder();
/// The value of an environment variable (UTF-8), or "" when unset.
std::string environment(const char *name);
/// The program's standard streams, for asking whether one is a terminal.
enum class StandardStream { Input, Output, Error };
/// True when the stream is a terminal or console (not a file, pipe or null device).
bool isTerminal(StandardStream stream);
/// The width in columns of the terminal a stream is connected to: the environment's COLUMNS
/// when it holds a positive number, else what the terminal says; 0 when neither tells.
int terminalColumns(StandardStream stream);

/// Interrupts sent to the program from its terminal or by another program: SIGINT and
/// SIGTERM on POSIX; Ctrl+C, Ctrl+Break and closing the console on Windows. While they are
/// watched, the first one is only counted (see interruptsReceived), for the program to end its
/// work cleanly; the second writes `lastWords` to standard error and ends the program at once
/// with interruptExitStatus(). Unwatched (the start), an interrupt ends the program as the
/// system does by default.
void watchInterrupts(const std::string &lastWords);
void unwatchInterrupts();
/// How many interrupts have come while they were watched.
int interruptsReceived();
/// The exit status that tells which interrupt came first: 128 + its signal number (130 for
/// SIGINT or Ctrl+C, 143 for SIGTERM or closing the console); 130 when none came.
int interruptExitStatus();

/// Local time of a moment, through the C library's time zone rules.
LocalTime localTimeOf(TimePoint t);

/// The bytes of a text in the system's ANSI code page as UTF-8 (Windows: the code page GetACP
/// names); nothing where the system has no such code page (POSIX) or the bytes are not text
/// of it.
std::optional<std::string> ansiCodePageText(std::string_view bytes);
/// UTF-8 text in the system's ANSI code page (Windows: the code page GetACP names; a character
/// it lacks becomes "?"); nothing where the system has no such code page but UTF-8 (POSIX, or
/// Windows set to UTF-8), and the text stays as it is.
std::optional<std::string> ansiCodePageBytes(std::string_view text);

/// A whole file's bytes, unchanged (no text-mode translation); nothing when there is no such
/// file; why, when it cannot be read.
Result<std::optional<std::string>> readWholeFile(const std::string &path);
/// Writes a file by writing a new one beside it, making it durable and moving it over the
/// old, so that a crash never leaves a torn file.
Status writeFileAtomically(const std::string &path, const std::string &content);
/// Makes the folder `path`, and the folders above it that are missing, the last one for its
/// owner alone (mode 0700 on POSIX; on Windows it takes its parent's rights). Fails when it
/// cannot be made or something already has that name.
Status createPrivateFolder(const std::string &path);
/// Done when the existing folder `path` can keep files that only their owner reads; why not
/// when it is not a folder (a link, a file), belongs to another user, or others may write in
/// it (and so plant links or files at the names its owner's programs use). On Windows a
/// folder's rights come from its parent and only its kind is judged.
Status checkPrivateFolder(const std::string &path);
/// What tells a file apart from every other file of the machine while it exists, whatever its
/// path: its device and file number (volume serial and file index on Windows). A copy of the
/// file is another file; the file moved within its disk stays the same. Empty when it cannot
/// be read.
std::string fileIdentity(const std::string &path);
/// An exclusive lock of the operating system on a file, taken without waiting, that the
/// system drops when its holder's process ends however it ends. The holder's text (with the
/// process id added) stays readable in the file while it is held. Nothing, with the holder's
/// text in heldBy, when another holder has it. Throws Error when the file cannot be opened or
/// locked.
std::unique_ptr<IRunLock> takeFileLock(const std::string &path, const std::string &holder,
                                       std::string &heldBy);

/// The machine itself as the program's Host (its registry, services, files, mail store and
/// the server's database over ODBC, databaseText or else the program's own connection text),
/// for a program that runs on the server. Nothing where the server never runs (POSIX): there
/// the programs use a stand-in host.
std::unique_ptr<Host> openServerMachine(std::function<void(const std::string &)> notice,
                                        const std::string &databaseText);
