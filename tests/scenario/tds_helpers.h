#pragma once
// The stand-in server over TDS for scenario tests: `zephrane-sim serve` started as a real
// process on a free port of its host, and the connection text that reaches it through unixODBC
// and FreeTDS's driver. The process is killed when the object goes.

#include "scenario_helpers.h"

#include <string>

namespace zeph::test {

class ServedHost {
public:
    /// Starts serve on the host (its SQL password set to a known one first), through
    /// `wrapper` when one is given (see ScenarioHost::run).
    explicit ServedHost(const ScenarioHost &host, const std::string &extraArgs = "",
                        const std::string &wrapper = "");
    ~ServedHost();
    ServedHost(const ServedHost &) = delete;
    ServedHost &operator=(const ServedHost &) = delete;

    int port() const { return m_port; }
    /// The connection text of an administrator: FreeTDS's driver, this port, the SQL login.
    std::string connectionText(const std::string &password = kPassword) const;
    /// Kills the server at once (SIGKILL) and returns what it printed.
    ScenarioHost::Result kill();
    /// Ends the server with SIGTERM, sent to the server itself when a wrapper runs it (so that
    /// the wrapper ends on its own), and returns what it printed.
    ScenarioHost::Result stop();
    /// What the server printed so far.
    std::string output() const;

    static constexpr const char *kPassword = "tds-s3cret";

private:
    const ScenarioHost &m_host;
    Process m_process;
    int m_port = 0;
};

/// True when FreeTDS's ODBC driver is registered as "SQL Server" on this machine.
bool freeTdsInstalled();

} // namespace zeph::test
