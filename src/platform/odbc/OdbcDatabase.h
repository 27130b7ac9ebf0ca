#pragma once
// The database backend over ODBC: a real server's database (SQL Server through its driver, or
// FreeTDS on a machine without Windows), reached with an ODBC connection text.

#include "platform/Database.h"

#include <memory>
#include <string>

namespace zeph::odbc {

/// A database reached through the ODBC driver manager. Every connection the program asks for
/// uses `connectionText` when it is not empty (a database named by the administrator), else the
/// program's own connection text unchanged.
std::unique_ptr<IDatabase> makeDatabase(std::string connectionText);

/// The connection text with the value of every password key (PWD, Password) replaced by "***",
/// for showing it.
std::string hidePassword(const std::string &connectionText);

} // namespace zeph::odbc
