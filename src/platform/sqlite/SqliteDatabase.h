#pragma once
// The database backend over an SQLite file: the stand-in host's TarvoDb.

#include "StandInServer.h"
#include "platform/Database.h"

#include <memory>
#include <string>

namespace zeph::sqlite {

/// A database whose connections (for the connection text of TarvoDb) open the given file.
/// Stored procedures are the stand-in server's.
std::unique_ptr<IDatabase> makeDatabase(const std::string &path, ServerContext context);

} // namespace zeph::sqlite
