#include "server_helpers.h"

#include "platform/Error.h"

#include <cstdio>
#include <sqlite3.h>
#include <stdexcept>

namespace zeph::test {

std::string CountingGuids::newGuid() {
    char text[40];
    std::snprintf(text, sizeof text, "{00000000-0000-4000-8000-%012d}", m_next++);
    return text;
}

namespace {

void bindAll(sqlite3_stmt *st, const std::vector<DbValue> &params) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        int n = static_cast<int>(i + 1);
        const DbValue &v = params[i];
        if (const auto *s = std::get_if<std::string>(&v))
            sqlite3_bind_text(st, n, s->c_str(), -1, SQLITE_TRANSIENT);
        else if (const auto *x = std::get_if<std::int64_t>(&v))
            sqlite3_bind_int64(st, n, *x);
        else if (const auto *d = std::get_if<double>(&v))
            sqlite3_bind_double(st, n, *d);
        else
            sqlite3_bind_null(st, n);
    }
}

sqlite3_stmt *prepare(sqlite3 *db, const std::string &sql) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in " + sql);
    return st;
}

} // namespace

SeededServer::SeededServer(int subscribers, unsigned seed) {
    sqlite::SeedOptions options;
    options.subscribers = subscribers;
    options.seed = seed;
    options.rootPath = rootPath();
    options.mailstoreFolder = mailstore();
    std::string error;
    if (!sqlite::createServerDatabase(databasePath(), options, error))
        throw std::runtime_error(error);
    if (sqlite3_open_v2(databasePath().c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot open " + databasePath());
    sqlite3_busy_timeout(m_db, 5000);
}

SeededServer::~SeededServer() {
    sqlite3_close(m_db);
}

sqlite::ServerContext SeededServer::context() {
    sqlite::ServerContext c;
    c.setting = [this](const std::string &name) {
        return name == "directory-sync" ? directorySync : std::string();
    };
    c.clock = &clock;
    c.guids = &guids;
    return c;
}

std::optional<DbRowSet> SeededServer::call(const std::string &name,
                                           const std::vector<DbParam> &args) {
    auto c = context();
    return sqlite::callServerProcedure(m_db, name, args, c);
}

std::int64_t SeededServer::count(const std::string &sql, const std::vector<DbValue> &params) const {
    sqlite3_stmt *st = prepare(m_db, sql);
    bindAll(st, params);
    std::int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
    sqlite3_finalize(st);
    return n;
}

std::string SeededServer::text(const std::string &sql, const std::vector<DbValue> &params) const {
    sqlite3_stmt *st = prepare(m_db, sql);
    bindAll(st, params);
    std::string out;
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL)
        out = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return out;
}

void SeededServer::exec(const std::string &sql, const std::vector<DbValue> &params) const {
    if (params.empty()) {
        char *message = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            std::string text = message ? message : "?";
            sqlite3_free(message);
            throw std::runtime_error(text + " in " + sql);
        }
        return;
    }
    sqlite3_stmt *st = prepare(m_db, sql);
    bindAll(st, params);
    int rc = sqlite3_step(st);
    std::string error = rc == SQLITE_DONE || rc == SQLITE_ROW ? "" : sqlite3_errmsg(m_db);
    sqlite3_finalize(st);
    if (!error.empty())
        throw std::runtime_error(error + " in " + sql);
}

std::vector<std::string> SeededServer::check() const {
    std::string error;
    auto violations = sqlite::checkServerDatabase(databasePath(), error);
    if (!violations)
        throw std::runtime_error(error);
    return *violations;
}

std::map<std::string, std::int64_t> SeededServer::tableCounts() const {
    std::map<std::string, std::int64_t> counts;
    sqlite3_stmt *st = prepare(m_db, "SELECT name FROM sqlite_schema WHERE type = 'table' "
                                     "AND name NOT LIKE 'sqlite_%' ORDER BY name");
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::string name = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        counts[name] = count("SELECT COUNT(*) FROM " + name);
    }
    sqlite3_finalize(st);
    return counts;
}

std::string SeededServer::dump() const {
    std::string out;
    for (const auto &[table, rows] : tableCounts()) {
        out += "## " + table + " " + std::to_string(rows) + "\n";
        sqlite3_stmt *st = prepare(m_db, "SELECT * FROM " + table + " ORDER BY rowid");
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const unsigned char *v = sqlite3_column_text(st, c);
                out += v ? reinterpret_cast<const char *>(v) : "<null>";
                out += '|';
            }
            out += '\n';
        }
        sqlite3_finalize(st);
    }
    return out;
}

std::string SeededServer::subscriberId(int index) const {
    return text("SELECT ParentObjectID FROM DTMFAccessID WHERE DTMFAccessID = ? "
                "AND ParentObjectIDType = 1 AND IsPrimaryID = 1",
                {std::to_string(4000 + index)});
}

std::string SeededServer::callHandlerId(int index) const {
    return text("SELECT CallHandlerObjectID FROM Subscriber WHERE SubscriberObjectID = ?",
                {subscriberId(index)});
}

DbParam guidArg(const std::string &name, const std::string &value) {
    return {name, DbParamType::Guid, value};
}
DbParam textArg(const std::string &name, const std::string &value) {
    return {name, DbParamType::Text, value};
}
DbParam intArg(const std::string &name, std::int64_t value) {
    return {name, DbParamType::Integer, value};
}

std::vector<DbParam> createArgs(const std::string &alias, const std::string &extension,
                                const std::string &templateAlias, const std::string &directoryId) {
    std::vector<DbParam> args = {textArg("@Alias", alias),
                                 textArg("@DtmfAccessId", extension),
                                 textArg("@templateAlias", templateAlias),
                                 intArg("@SubscriberType", 1),
                                 intArg("@Undeletable", 0),
                                 textArg("@DisplayName", "New Person"),
                                 guidArg("@DirectoryID", directoryId),
                                 textArg("@Uid", alias),
                                 textArg("@FirstName", "New"),
                                 textArg("@LastName", "Person"),
                                 intArg("@DirectorySync", 0)};
    if (directoryId.empty())
        args[6].value = std::monostate{};
    return args;
}

} // namespace zeph::test
