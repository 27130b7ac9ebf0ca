#pragma once
// A database named by the administrator (over ODBC) on a stand-in host: the host's fault
// settings ("abort-after sp_DeleteSubscriber", ...) still end the program right after the named
// procedure's work is done, as they do when the host's own server runs the procedure in
// process.

#include "platform/Database.h"

#include <functional>
#include <memory>
#include <string>

namespace zeph::sim {

/// `database`, with `procedureDone` told the name of each procedure that returned.
std::unique_ptr<IDatabase> tellProcedures(std::unique_ptr<IDatabase> database,
                                          std::function<void(const std::string &)> procedureDone);

} // namespace zeph::sim
