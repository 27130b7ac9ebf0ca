#pragma once
// The start-up checks, made before anything else by the wizard (its first page's load step)
// and by zephrane-cli: the server's version, the message store's back end, the connector
// service, the database, the subscriber templates, the account and the unfinished resets.

#include "platform/Error.h"

#include <string>
#include <vector>

namespace zeph {

class Program;

/// What a caller asks of the checks beyond what every caller needs.
struct StartUpSettings {
    /// Whether the unfinished resets are told about (the wizard offers the recovery on a page
    /// of its own, and the terminal program's recovery lists them anyway).
    bool warnAboutUnfinishedResets = true;
    /// Whether the cached tables are opened. A listing that reads what it lists in one query
    /// of its own does without: the checks then prove that the database can be reached and
    /// read the template lists on their own.
    bool openCachedTables = true;
};

/// The subscriber templates, index-parallel: an alias and its display name at one position.
struct TemplateLists {
    std::vector<std::string> aliases;
    std::vector<std::string> displayNames;
};

class StartUpChecks {
public:
    StartUpChecks(Program &program, StartUpSettings settings);

    /// Every check in order, each trapped on its own: an unexpected error is shown and the
    /// next check is made. A fatal check shows its message and ends the program through
    /// ExitApplication (which does not return). The templates read, as far as they were.
    TemplateLists run();

    /// The templates read again from the cached tables (after a recovery changed the server),
    /// as far as they could be; an error is shown as coming from `where`.
    TemplateLists readTemplates(const Where &where);

private:
    bool checkVersion();
    bool checkBackEnd(std::string &connectorService);
    bool checkConnectorService(const std::string &service);
    bool openDatabase();
    void fillTemplateLists(TemplateLists &lists);
    void warnAboutAccount();
    void warnAboutUnfinished();
    [[noreturn]] void fatal(const std::string &text);
    void reportError(const std::string &text);

    Program &m_program;
    StartUpSettings m_settings;
};

} // namespace zeph
