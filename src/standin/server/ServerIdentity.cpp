#include "ServerIdentity.h"

#include "platform/Error.h"
#include "platform/Native.h"
#include "platform/sqlite/SqliteStatement.h"

#include <sqlite3.h>

namespace zeph::sqlite {

namespace {

constexpr const char *kTable = "zeph_ServerIdentity";

struct Stored {
    std::string id;
    /// The file the id was bound to; empty for an id made before ids were bound.
    std::string place;
    bool hasPlaceColumn = false;
};

bool hasTable(sqlite3 *db) {
    Statement stmt(db, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name=?");
    stmt.bind(1, DbValue(std::string(kTable)));
    return stmt.step();
}

bool hasPlaceColumn(sqlite3 *db) {
    Statement stmt(db, "SELECT 1 FROM pragma_table_info('zeph_ServerIdentity') WHERE name=?");
    stmt.bind(1, DbValue(std::string("BoundTo")));
    return stmt.step();
}

Stored readStored(sqlite3 *db) {
    Stored stored;
    if (!hasTable(db))
        return stored;
    stored.hasPlaceColumn = hasPlaceColumn(db);
    Statement stmt(db, stored.hasPlaceColumn
                           ? "SELECT ServerId, BoundTo FROM zeph_ServerIdentity LIMIT 1"
                           : "SELECT ServerId, NULL FROM zeph_ServerIdentity LIMIT 1");
    if (stmt.step()) {
        stored.id = stmt.text(0);
        stored.place = stmt.isNull(1) ? std::string() : stmt.text(1);
    }
    return stored;
}

// The database file as the system tells files apart; empty for a database that is no file.
std::string placeOf(sqlite3 *db) {
    const char *file = sqlite3_db_filename(db, "main");
    return file && *file ? native::fileIdentity(file) : std::string();
}

} // namespace

std::string standInServerId(sqlite3 *db, IGuidSource &guids, const IdentityRenewed &renewed) {
    const std::string place = placeOf(db);
    if (const Stored stored = readStored(db);
        !stored.id.empty() && (stored.place == place || place.empty()))
        return stored.id;
    std::string told;
    exec(db, "BEGIN IMMEDIATE");
    std::string id;
    try {
        exec(db, "CREATE TABLE IF NOT EXISTS zeph_ServerIdentity (ServerId TEXT NOT NULL, "
                 "BoundTo TEXT)");
        if (!hasPlaceColumn(db))
            exec(db, "ALTER TABLE zeph_ServerIdentity ADD COLUMN BoundTo TEXT");
        const Stored stored = readStored(db);
        id = stored.id;
        if (id.empty()) {
            id = guids.newGuid();
            Statement insert(db,
                             "INSERT INTO zeph_ServerIdentity (ServerId, BoundTo) VALUES (?, ?)");
            insert.bind(1, DbValue(id));
            insert.bind(2, place.empty() ? DbValue() : DbValue(place));
            insert.run();
        } else if (stored.place != place && !place.empty()) {
            // An id made before ids were bound stays with the first file that finds it.
            if (!stored.place.empty()) {
                id = guids.newGuid();
                told = "The stand-in server's database " +
                       std::string(sqlite3_db_filename(db, "main")) +
                       " is not the file its server identity was made for (the host was copied, "
                       "or moved to another disk): it is given an identity of its own, " +
                       id + " (it was " + stored.id +
                       "), so that the journals of the server it came from are never applied "
                       "here.";
            }
            Statement update(db, "UPDATE zeph_ServerIdentity SET ServerId=?, BoundTo=?");
            update.bind(1, DbValue(id));
            update.bind(2, DbValue(place));
            update.run();
        }
        exec(db, "COMMIT");
    } catch (const Error &) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (!told.empty() && renewed)
        renewed(told);
    return id;
}

std::string standInServerName(const std::string &serverId) {
    return "SQL Server " + serverId + ", database TarvoDb";
}

} // namespace zeph::sqlite
