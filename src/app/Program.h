#pragma once
// What one run of the program shares: the host, the modules that live for the whole run, and
// the one way out.

#include "app/host/TarvoVersion.h"
#include "app/host/modServices.h"
#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "i18n/modLocalize.h"
#include "log/Logging.h"
#include "platform/Host.h"
#include "reset/RecoveryJournal.h"

#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace zeph {

/// Thrown by ExitApplication when the program's own exit handler returns (tests, and the
/// terminal program, which unwinds to main). Deliberately not a std::exception, so that the
/// error traps of the handlers let it pass.
class ProgramEnded {
public:
    explicit ProgramEnded(int code)
        : m_code(code) {}
    int code() const { return m_code; }

private:
    int m_code;
};

/// Exit status of a program run that a fatal start-up check ended.
inline constexpr int kExitStartupFailed = 2;

class Program {
public:
    explicit Program(Host &host);
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    Host &host;
    RegistryAPI registry;
    TarvoVersion tarvoVersion;
    modServices services;
    db::modTarvoDB tarvoDb;
    Logging log;
    i18n::modLocalize localize;

    /// Ends the program: closes the run log (ignoring any error) and calls the exit handler.
    /// Never returns: when the handler returns, ProgramEnded is thrown.
    [[noreturn]] void ExitApplication(int code = 0);
    /// Where the program ends; set by the program's main (empty: unwind with ProgramEnded).
    std::function<void(int)> exitHandler;
    /// True while a reset run is under way: leaving then would lose the subscriber between
    /// its removal and its re-creation.
    std::function<bool()> resetRunning;

    /// Starts the program folder's "test.bat" with the own version and the tool page address,
    /// without waiting; nothing is reported when it is missing or cannot be started.
    void RunTestScript();

    /// The recovery journals of both logs folders (the program's and the user's own), those of
    /// other servers (or of none) set apart.
    JournalScan scanRecoveryJournals();

    /// True when the command line holds the word anywhere, in any letter case.
    bool commandLineHas(std::string_view word) const;

    /// Shows a message box with only an OK button.
    void message(const std::string &text);
    /// A reporter that shows each report in a message box with only an OK button.
    std::function<void(const std::string &)> messageReporter();
};

} // namespace zeph
