// Placeholder: the stand-in server database replaces this file.
#include "StandInServer.h"

#include "platform/Error.h"

namespace zeph::sqlite {
bool createServerDatabase(const std::string &, const SeedOptions &, std::string &) { return true; }
std::optional<std::vector<std::string>> checkServerDatabase(const std::string &, std::string &error)
{
    error = "not built yet";
    return std::nullopt;
}
std::optional<DbRowSet> callServerProcedure(sqlite3 *, const std::string &name,
                                            const std::vector<DbParam> &, ServerContext &)
{
    throw Error(-2147217900, "Could not find stored procedure '" + name + "'.");
}
} // namespace zeph::sqlite
