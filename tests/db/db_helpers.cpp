#include "db_helpers.h"

#include "standin/server/StandInServer.h"

#include <cstdio>

namespace zeph::test {
namespace {

namespace server = sqlite::server;

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
CREATE TABLE Journal (Entry TEXT);

INSERT INTO CallHandler VALUES ('{00000000-0000-0000-0000-000000700000}', 'Opening', 0, NULL, NULL);
INSERT INTO COS VALUES ('{00000000-0000-0000-0000-000000000077}', 'defaultCos', 'Default COS'),
    ('{00000000-0000-0000-0000-000000000078}', 'O''Brien COS', 'Quoted');
)sql";

const char *kNumbers = "WITH RECURSIVE n(i) AS (SELECT 0 WHERE ?1 > 0 UNION ALL SELECT i + 1 FROM "
                       "n WHERE i + 1 < ?1), g(f) AS (SELECT '{00000000-0000-0000-0000-%012d}') ";
const char *kSubscribers[] = {
    "INSERT INTO Subscriber SELECT printf(f, 1000 + i), 'user' || i, 'User ' || i, 'First' || i, "
    "'Last' || i, printf(f, 500000 + i), 4000 + i, printf(f, 900000 + i), NULL, 'user' || i || "
    "'@example.com', 'MAIL1', 1, printf(f, 77), NULL, 0, NULL FROM n, g",
    "INSERT INTO CallHandler SELECT printf(f, 500000 + i), 'ch' || i, 1, printf(f, 1000 + i), "
    "printf(f, 1000 + i) FROM n, g",
    "INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, DTMFAccessIDType, "
    "Alias, IsPrimaryID) SELECT printf(f, 1000 + i), 1, 4000 + i, 1, 'primary', 1 FROM n, g"};

} // namespace

std::string guidFor(std::int64_t n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "{00000000-0000-0000-0000-%012lld}", static_cast<long long>(n));
    return buf;
}

TestDb::TestDb(int subscribers)
    : m_path(m_temp.path() + "/TarvoDb.sqlite")
    , m_db(std::make_unique<server::Connection>(m_path, true)) {
    exec("PRAGMA synchronous=OFF; BEGIN");
    exec(kSchema);
    for (const char *insert : kSubscribers)
        server::Statement(m_db->get(), std::string(kNumbers) + insert)
            .bindAll({std::int64_t{subscribers}})
            .run();
    exec("COMMIT");
}

std::unique_ptr<IDatabase> TestDb::database() const {
    return sqlite::makeStandInDatabase(m_path, sqlite::ServerContext{});
}

std::string TestDb::scalar(const std::string &sql) const {
    auto value = server::queryValue(m_db->get(), sql, {});
    return !value ? "" : server::isNull(*value) ? "NULL" : server::asText(*value);
}

std::string TestDb::dump() const {
    std::string out;
    auto add = [&](const std::string &prefix, const std::string &sql) {
        for (const auto &row : server::queryRows(m_db->get(), sql).rows) {
            out += prefix;
            for (const auto &v : row)
                out += " " + (server::isNull(v) ? "NULL" : server::asText(v));
            out += "\n";
        }
    };
    add("", "SELECT type, name, sql FROM sqlite_schema ORDER BY name");
    for (const auto &row :
         server::queryRows(m_db->get(), "SELECT name FROM sqlite_schema WHERE type = 'table'")
             .rows) {
        const std::string table = server::asText(row[0]);
        add(table + ":", "SELECT * FROM \"" + table + "\" ORDER BY rowid");
    }
    return out;
}

} // namespace zeph::test
