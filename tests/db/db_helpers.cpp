#include "db_helpers.h"

#include "platform/sqlite/SqliteDatabase.h"

#include <sqlite3.h>

#include <cstdio>
#include <stdexcept>

namespace zeph::test {
namespace {

const char *kSchema = R"sql(
CREATE TABLE Subscriber (
    SubscriberObjectID TEXT PRIMARY KEY, Alias TEXT NOT NULL, DisplayName TEXT, FirstName TEXT,
    LastName TEXT, CallHandlerObjectID TEXT, DTMFAccessID TEXT, DirectoryID TEXT,
    StreamPath TEXT, SMTPAddress TEXT, HomeServer TEXT, SubscriberType INTEGER,
    COSObjectID TEXT, LocationObjectID TEXT, SwitchID INTEGER, RemoteNodeID INTEGER);
CREATE VIEW vw_Subscriber AS SELECT * FROM Subscriber;
CREATE TRIGGER vw_Subscriber_Update INSTEAD OF UPDATE ON vw_Subscriber BEGIN
    UPDATE Subscriber SET SubscriberObjectID = NEW.SubscriberObjectID, Alias = NEW.Alias,
        DisplayName = NEW.DisplayName, FirstName = NEW.FirstName, LastName = NEW.LastName,
        CallHandlerObjectID = NEW.CallHandlerObjectID, DTMFAccessID = NEW.DTMFAccessID,
        DirectoryID = NEW.DirectoryID, StreamPath = NEW.StreamPath,
        SMTPAddress = NEW.SMTPAddress, HomeServer = NEW.HomeServer,
        SubscriberType = NEW.SubscriberType, COSObjectID = NEW.COSObjectID
    WHERE SubscriberObjectID = OLD.SubscriberObjectID;
END;
CREATE TRIGGER vw_Subscriber_Insert INSTEAD OF INSERT ON vw_Subscriber BEGIN
    INSERT INTO Subscriber (SubscriberObjectID, Alias, DisplayName, SubscriberType)
    VALUES (NEW.SubscriberObjectID, NEW.Alias, NEW.DisplayName, NEW.SubscriberType);
END;
CREATE TABLE zeph_ViewKey (ViewName TEXT, KeyColumn TEXT);
INSERT INTO zeph_ViewKey VALUES ('VW_SUBSCRIBER', 'subscriberobjectid');

CREATE TABLE CallHandler (
    CallHandlerObjectID TEXT PRIMARY KEY, Alias TEXT, IsPrimary INTEGER,
    AdministratorObjectID TEXT, RecipientObjectID TEXT);
CREATE VIEW vw_CallHandler_Primary AS SELECT * FROM CallHandler WHERE IsPrimary = 1;
CREATE VIEW vw_CallHandler_NonPrimary AS SELECT * FROM CallHandler WHERE IsPrimary = 0;

CREATE TABLE SubscriberTemplate (SubscriberTemplateObjectID TEXT PRIMARY KEY, Alias TEXT,
    TextName TEXT);
CREATE VIEW vw_SubscriberTemplate AS SELECT * FROM SubscriberTemplate;
CREATE TABLE COS (CosObjectID TEXT PRIMARY KEY, Alias TEXT, TextName TEXT);
CREATE VIEW vw_COS AS SELECT * FROM COS;

CREATE TABLE DTMFAccessID (
    ObjectID INTEGER PRIMARY KEY, ParentObjectID TEXT, ParentObjectIDType INTEGER,
    DTMFAccessID TEXT UNIQUE, DTMFAccessIDType INTEGER, Alias TEXT,
    IsPrimaryID INTEGER DEFAULT 0);
CREATE TABLE NotificationDevice (
    NotificationDeviceObjectID TEXT PRIMARY KEY, Alias TEXT, ParentObjectID TEXT);
CREATE TABLE Journal (Entry TEXT);
)sql";

void check(sqlite3 *db, int rc, const std::string &what) {
    if (rc != SQLITE_OK)
        throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

} // namespace

std::string guidFor(std::int64_t n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "{00000000-0000-0000-0000-%012lld}", static_cast<long long>(n));
    return buf;
}

TestDb::TestDb(int subscribers)
    : m_path(m_temp.path() + "/TarvoDb.sqlite") {
    check(nullptr, sqlite3_open(m_path.c_str(), &m_db), "open");
    exec("PRAGMA synchronous=OFF");
    exec("BEGIN");
    exec(kSchema);
    for (int i = 0; i < subscribers; ++i) {
        std::string n = std::to_string(i);
        std::string id = guidFor(1000 + i);
        std::string handler = guidFor(500000 + i);
        exec("INSERT INTO Subscriber VALUES ('" + id + "', 'user" + n + "', 'User " + n +
             "', 'First" + n + "', 'Last" + n + "', '" + handler + "', '" +
             std::to_string(4000 + i) + "', '" + guidFor(900000 + i) + "', NULL, 'user" + n +
             "@example.com', 'MAIL1', 1, '" + guidFor(77) + "', NULL, 0, NULL)");
        exec("INSERT INTO CallHandler VALUES ('" + handler + "', 'ch" + n + "', 1, '" + id +
             "', '" + id + "')");
        exec("INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
             "DTMFAccessIDType, Alias, IsPrimaryID) VALUES ('" +
             id + "', 1, '" + std::to_string(4000 + i) + "', 1, 'primary', 1)");
    }
    for (int i = 0; i < 3; ++i) {
        exec("INSERT INTO CallHandler VALUES ('" + guidFor(700000 + i) + "', 'Opening" +
             std::to_string(i) + "', 0, NULL, NULL)");
    }
    exec("INSERT INTO SubscriberTemplate VALUES ('" + guidFor(11) +
         "', 'defaultTemplate', 'Default Subscriber Template')");
    exec("INSERT INTO SubscriberTemplate VALUES ('" + guidFor(12) + "', 'salesTemplate', 'Sales')");
    exec("INSERT INTO COS VALUES ('" + guidFor(77) + "', 'defaultCos', 'Default COS')");
    exec("INSERT INTO COS VALUES ('" + guidFor(78) + "', 'O''Brien COS', 'Quoted')");
    exec("COMMIT");
}

TestDb::~TestDb() {
    sqlite3_close_v2(m_db);
}

std::unique_ptr<IDatabase> TestDb::database() const {
    return sqlite::makeDatabase(m_path, sqlite::ServerContext{});
}

void TestDb::exec(const std::string &sql) const {
    check(m_db, sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr), sql);
}

std::string TestDb::scalar(const std::string &sql) const {
    sqlite3_stmt *stmt = nullptr;
    check(m_db, sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr), sql);
    std::string result;
    if (sqlite3_step(stmt) == SQLITE_ROW) {
        const unsigned char *text = sqlite3_column_text(stmt, 0);
        result = text ? reinterpret_cast<const char *>(text) : "NULL";
    }
    sqlite3_finalize(stmt);
    return result;
}

std::string TestDb::dump() const {
    std::string out;
    auto each = [&](const std::string &sql, auto &&onRow) {
        sqlite3_stmt *stmt = nullptr;
        check(m_db, sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr), sql);
        while (sqlite3_step(stmt) == SQLITE_ROW)
            onRow(stmt);
        sqlite3_finalize(stmt);
    };
    auto text = [](sqlite3_stmt *stmt, int c) {
        const unsigned char *t = sqlite3_column_text(stmt, c);
        return t ? std::string(reinterpret_cast<const char *>(t)) : std::string("NULL");
    };
    std::vector<std::string> tables;
    each("SELECT type, name, sql FROM sqlite_schema ORDER BY name", [&](sqlite3_stmt *s) {
        for (int c = 0; c < 3; ++c) {
            out += text(s, c);
            out += c < 2 ? ' ' : '\n';
        }
        if (text(s, 0) == "table")
            tables.push_back(text(s, 1));
    });
    out += "user_version " + scalar("PRAGMA user_version") + "\n";
    for (const auto &table : tables) {
        each("SELECT * FROM \"" + table + "\" ORDER BY rowid", [&](sqlite3_stmt *s) {
            out += table + ":";
            for (int c = 0; c < sqlite3_column_count(s); ++c) {
                out += ' ';
                out += text(s, c);
            }
            out += "\n";
        });
    }
    return out;
}

} // namespace zeph::test
