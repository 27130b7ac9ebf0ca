#pragma once
// Everything the core reaches of the machine it runs on, handed over at start.

#include "Clock.h"
#include "Database.h"
#include "FileSystem.h"
#include "MailStore.h"
#include "Registry.h"
#include "Resources.h"
#include "Services.h"
#include "UserInterface.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zeph {

struct Host {
    std::unique_ptr<IRegistry> registry;
    std::unique_ptr<IServices> services;
    std::unique_ptr<IWorkstation> workstation;
    std::unique_ptr<IDatabase> database;
    std::unique_ptr<IMailStore> mail;
    std::unique_ptr<IFileSystem> files;
    std::unique_ptr<IShell> shell;
    std::unique_ptr<IHttp> http;
    std::unique_ptr<IClock> clock;
    std::unique_ptr<IGuidSource> guids;
    std::unique_ptr<IResourceLoader> resources;
    /// The bytes of a text file written in the system's ANSI code page, as UTF-8 (Windows: the
    /// code page GetACP names); empty, or nothing returned, where the system has none, and
    /// Windows-1252 is read instead.
    std::function<std::optional<std::string>(std::string_view)> ansiText;
    /// UTF-8 text as the system's ANSI code page writes it (Windows: the code page GetACP
    /// names, a character it lacks written "?"); empty, or nothing returned, where the system
    /// has no code page but UTF-8, and the text is written as it is. The run log is written so,
    /// for Notepad and the other readers of plain text there.
    std::function<std::optional<std::string>(std::string_view)> ansiBytes;
    /// Set by the program: windows, terminal or a test script.
    IUserInterface *ui = nullptr;

    /// Folder that holds the executable, as the system writes it, without trailing separator.
    std::string programFolder;
    /// Executable name without extension ("zephrane").
    std::string exeName;
    /// The program's command line words, joined by blanks.
    std::string commandLine;

    /// Seconds a query that the operator wrote (the advanced search) may run before it is
    /// stopped; 0: no limit.
    int queryTimeoutSeconds = 30;

    /// A notice about the host itself (a malformed registry file, a default host created). The
    /// program decides where it goes; each distinct text is passed on once.
    std::function<void(const std::string &)> notice;

    /// Told as a reset finishes each of its changing steps ("write-back", "fixup-3",
    /// "finished", ...). Empty on a real server; a stand-in host may end the program
    /// there, to prove that an interrupted reset can be finished.
    std::function<void(const std::string &)> stepReached;
};

} // namespace zeph
