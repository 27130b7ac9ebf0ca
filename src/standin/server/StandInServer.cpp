// The stand-in server database: creating and seeding the file, the invariant check, and the
// entry to the stored procedures, and the database that serves them.
#include "StandInServer.h"

#include "ServerCheck.h"
#include "ServerIdentity.h"
#include "ServerProcedures.h"
#include "ServerSchema.h"
#include "ServerSeed.h"
#include "ServerSql.h"
#include "platform/Native.h"
#include "platform/sqlite/SqliteDatabase.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace zeph::sqlite {

Status createServerDatabase(const std::string &path, const SeedOptions &options) {
    // The file is built beside its place and renamed there when complete, so a failed or
    // interrupted seeding never leaves a half database behind.
    const std::string part = path + ".part";
    std::error_code ec;
    fs::remove(part, ec);
    const Result<void, Error> built = caught([&] {
        // The file is made first, new and for its owner alone; SQLite keeps its mode for the
        // files it adds beside it.
        if (auto file = native::makeFileSystem()->createNewTextFile(part))
            file->close();
        {
            server::Connection db(part, true);
            // Nothing to recover on failure: the file is thrown away.
            server::exec(db.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; "
                                   "PRAGMA cache_size=-1000000; PRAGMA temp_store=MEMORY");
            server::exec(db.get(), "BEGIN");
            server::createSchema(db.get());
            server::seedServer(db.get(), options);
            server::exec(db.get(), "COMMIT");
            // Readers never block the writer: the program keeps tables open while it writes.
            server::exec(db.get(), "PRAGMA journal_mode=WAL");
        }
        fs::rename(part, path);
    });
    if (built)
        return done();
    fs::remove(part, ec);
    return fail("cannot create the server database " + path + ": " + built.error().description());
}

Result<std::vector<std::string>> checkServerDatabase(const std::string &path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return fail("there is no server database at " + path);
    std::vector<std::string> violations;
    const Result<void, Error> checked = caught([&] {
        server::Connection db(path, false);
        violations = server::checkInvariants(db.get());
    });
    if (!checked)
        return failureOf(checked.error());
    return violations;
}

std::unique_ptr<IDatabase> makeStandInDatabase(const std::string &path, ServerContext context) {
    auto shared = std::make_shared<ServerContext>(std::move(context));
    return makeDatabase(
        path,
        [shared](sqlite3 *db, const std::string &name, const std::vector<DbParam> &args) {
            return callServerProcedure(db, name, args, *shared);
        },
        [shared](sqlite3 *db) {
            return standInServerName(standInServerId(db, *shared->guids, shared->notice));
        },
        OperatorDialect{true, server::dateTimeColumns()});
}

std::vector<std::string> fullPathRecordings(const std::string &path) {
    std::vector<std::string> paths;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return paths;
    try {
        server::Connection db(path, false);
        const DbRowSet rows = server::queryRows(
            db.get(), "SELECT StreamPath FROM Subscriber WHERE StreamPath LIKE '/%' UNION "
                      "SELECT StreamPath FROM GlobalSubscriber WHERE StreamPath LIKE '/%' UNION "
                      "SELECT StreamPath FROM MessagingRule WHERE StreamPath LIKE '/%'");
        for (const auto &row : rows.rows)
            paths.push_back(server::asText(row.front()));
    } catch (const std::exception &) {
        paths.clear(); // a database that cannot be read is told by the start-up checks
    }
    return paths;
}

std::optional<DbRowSet> callServerProcedure(sqlite3 *db, const std::string &name,
                                            const std::vector<DbParam> &args,
                                            ServerContext &context) {
    std::optional<DbRowSet> result = server::callProcedure(db, name, args, context);
    if (context.procedureDone)
        context.procedureDone(name);
    return result;
}

} // namespace zeph::sqlite
