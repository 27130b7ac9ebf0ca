#pragma once
// The server database as every part of the program shares it: the connection text of TarvoDb
// and the five tables read once at start-up and held, with their connections, for the whole run.

#include "Recordset.h"

#include <string>

namespace zeph::db {

/// The connection text of the server's database TarvoDb.
inline constexpr const char *kTarvoConnectionText = "Driver={SQL Server};server=;database=TarvoDb";

class modTarvoDB {
public:
    explicit modTarvoDB(IDatabase &database);

    IDatabase &database() { return *m_database; }

    /// The connection text every query and command of the program connects with; set by the
    /// start-up checks before bOpenDatabase (it starts as kTarvoConnectionText).
    const std::string &DbConnectionString() const { return m_connectionString; }
    void setDbConnectionString(std::string text) { m_connectionString = std::move(text); }

    /// Opens the five tables in their fixed order. Returns true when all are open; on the first
    /// failure returns false at once, leaving the tables opened before it open and the later ones
    /// unopened. Nothing is reported: the caller shows its own message.
    bool bOpenDatabase(const std::string &connectionText);

    /// Reads the five tables again from the server (after a recovery changed it): closes
    /// them and opens them as bOpenDatabase does. False on the first failure, as there.
    bool bReopenDatabase(const std::string &connectionText);

    /// The cached tables. Each exists (unopened) from the start and is never replaced.
    Recordset &rsNonPrimaryCallHandlers() { return m_nonPrimaryCallHandlers; }
    Recordset &rsPrimaryCallHandlers() { return m_primaryCallHandlers; }
    Recordset &rsSubscribers() { return m_subscribers; }
    Recordset &rsSubscriberTemplates() { return m_subscriberTemplates; }
    Recordset &rsCOS() { return m_cos; }

private:
    void openTables(const std::string &connectionText);

    IDatabase *m_database;
    std::string m_connectionString = kTarvoConnectionText;
    Recordset m_nonPrimaryCallHandlers;
    Recordset m_primaryCallHandlers;
    Recordset m_subscribers;
    Recordset m_subscriberTemplates;
    Recordset m_cos;
};

} // namespace zeph::db
