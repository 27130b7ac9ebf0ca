#pragma once
// The stand-in server's id: a fresh GUID kept in its database, so that every program that
// reaches this server names it alike, in process and over TDS. The id is bound to the database
// file it was made for (the file itself, not its path: a host moved within its disk keeps it).
// A copied host carries the id in its database but is found in another file: it is given an
// id of its own at once, so that a copy is never taken for the server it was copied from.

#include "platform/Clock.h"

#include <functional>
#include <string>

struct sqlite3;

namespace zeph::sqlite {

/// Told when the database was found in another file than the one its id was bound to and was
/// given a new id.
using IdentityRenewed = std::function<void(const std::string &)>;

/// The server's id; a database made before servers had one, or one found in another file than
/// its id was bound to, is given one now (in one transaction, so that two programs asking at
/// once agree). Throws Error on failure.
std::string standInServerId(sqlite3 *db, IGuidSource &guids, const IdentityRenewed &renewed = {});

/// The server's name as every program reads it (IDatabase::serverName), in process and over
/// TDS alike: the name a SQL Server client reads from @@SERVERNAME and DB_NAME().
std::string standInServerName(const std::string &serverId);

} // namespace zeph::sqlite
