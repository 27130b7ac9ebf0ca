#include "ServerIdentity.h"

#include "platform/Error.h"
#include "platform/sqlite/SqliteStatement.h"

#include <sqlite3.h>

namespace zeph::sqlite {

namespace {

constexpr const char *kTable = "zeph_ServerIdentity";

std::string readId(sqlite3 *db) {
    Statement stmt(db, "SELECT ServerId FROM zeph_ServerIdentity LIMIT 1");
    return stmt.step() ? stmt.text(0) : std::string();
}

bool hasTable(sqlite3 *db) {
    Statement stmt(db, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name=?");
    stmt.bind(1, DbValue(std::string(kTable)));
    return stmt.step();
}

} // namespace

std::string standInServerId(sqlite3 *db, IGuidSource &guids) {
    if (hasTable(db)) {
        if (std::string id = readId(db); !id.empty())
            return id;
    }
    exec(db, "BEGIN IMMEDIATE");
    try {
        exec(db, "CREATE TABLE IF NOT EXISTS zeph_ServerIdentity (ServerId TEXT NOT NULL)");
        std::string id = readId(db);
        if (id.empty()) {
            id = guids.newGuid();
            Statement insert(db, "INSERT INTO zeph_ServerIdentity (ServerId) VALUES (?)");
            insert.bind(1, DbValue(id));
            insert.run();
        }
        exec(db, "COMMIT");
        return id;
    } catch (const Error &) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace zeph::sqlite
