#pragma once
// The stand-in server database (TarvoDb.sqlite): schema, deterministic seeding, the server's
// stored procedures and the directory synchroniser behind sync tickets, and an invariant check.

#include "platform/Clock.h"
#include "platform/Database.h"
#include "platform/Result.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace zeph::sqlite {

/// What the server's side needs of the host while it runs a procedure.
struct ServerContext {
    /// A stand-in setting by name ("directory-sync", ...).
    std::function<std::string(const std::string &)> setting;
    IClock *clock = nullptr;
    IGuidSource *guids = nullptr;
    /// Told the name of each procedure whose work has been committed (may be empty).
    std::function<void(const std::string &)> procedureDone;
    /// Told a note for the administrator about the server itself (a copied host given an
    /// identity of its own); may be empty.
    std::function<void(const std::string &)> notice;
};

struct SeedOptions {
    int subscribers = 50;
    unsigned seed = 1;
    /// Folder that the registry's "Root Path" names (recordings go under "Stream Files/").
    std::string rootPath;
    /// The host's mailstore folder (mailboxes are created under it).
    std::string mailstoreFolder;
    /// The same folder as the server names it (the registry's "Root Path" value), for the
    /// recordings the database names by full path; empty: rootPath itself.
    std::string serverRootPath;
    /// How many of the first subscribers have a mailbox folder with messages and recordings
    /// of their own as often as on a small host; the others have few recordings and no
    /// mailbox folder. Negative: every subscriber, so a large host is as busy as a small one.
    int busySubscribers = -1;
};

/// Creates the database file with every table, view and seeded row, the recordings under
/// rootPath and the mailboxes under mailstoreFolder.
Status createServerDatabase(const std::string &path, const SeedOptions &options);

/// Checks the server's invariants; one text per violation (empty: all hold). Fails, saying why,
/// when the file cannot be checked at all.
Result<std::vector<std::string>> checkServerDatabase(const std::string &path);

/// The server database over the SQLite backend, its stored procedures the stand-in server's.
std::unique_ptr<IDatabase> makeStandInDatabase(const std::string &path, ServerContext context);

/// The recordings the database names by a full path of this OS ("/..."), distinct, in no
/// particular order; empty also when the file cannot be read.
std::vector<std::string> fullPathRecordings(const std::string &path);

/// Runs one stored procedure of the server inside its own transaction. Throws Error for an
/// unknown procedure or a failure (the transaction is rolled back).
std::optional<DbRowSet> callServerProcedure(sqlite3 *db, const std::string &name,
                                            const std::vector<DbParam> &args,
                                            ServerContext &context);

} // namespace zeph::sqlite
