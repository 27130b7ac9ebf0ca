#pragma once
// The stand-in server's id: made once (at init), a fresh GUID, and kept in its database, so
// that every program that reaches this server names it alike. A copied host folder keeps the
// id of the host it was copied from.

#include "platform/Clock.h"

#include <string>

struct sqlite3;

namespace zeph::sqlite {

/// The server's id; a database made before servers had one is given one now (in one
/// transaction, so that two programs asking at once agree). Throws Error on failure.
std::string standInServerId(sqlite3 *db, IGuidSource &guids);

} // namespace zeph::sqlite
