#include "server_helpers.h"

#include <stdexcept>

namespace zeph::test {

namespace server = sqlite::server;

SeededServer::SeededServer(int subscribers, unsigned seed) {
    const Status created = sqlite::createServerDatabase(
        databasePath(), {subscribers, seed, folder() + "/Pradix/", folder() + "/mailstore", ""});
    if (!created)
        throw std::runtime_error(created.error());
    m_db = std::make_unique<server::Connection>(databasePath(), false);
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
    return sqlite::callServerProcedure(db(), name, args, c);
}

void SeededServer::exec(const std::string &sql, const std::vector<DbValue> &params) const {
    if (params.empty())
        server::exec(db(), sql);
    else
        server::Statement(db(), sql).bindAll(params).run();
}

std::map<std::string, std::int64_t> SeededServer::tableCounts() const {
    std::map<std::string, std::int64_t> counts;
    for (const auto &row :
         server::queryRows(
             db(),
             "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite_%'")
             .rows)
        counts[server::asText(row[0])] = count("SELECT COUNT(*) FROM " + server::asText(row[0]));
    return counts;
}

std::string SeededServer::dump() const {
    std::string out;
    for (const auto &[table, rows] : tableCounts()) {
        out += "## " + table + "\n";
        for (const auto &row :
             server::queryRows(db(), "SELECT * FROM " + table + " ORDER BY rowid").rows) {
            for (const auto &v : row)
                out += (server::isNull(v) ? "<null>" : server::asText(v)) + "|";
            out += '\n';
        }
    }
    return out;
}

std::string SeededServer::subscriberId(int index) const {
    return text("SELECT ParentObjectID FROM DTMFAccessID WHERE DTMFAccessID = ? AND "
                "ParentObjectIDType = 1 AND IsPrimaryID = 1",
                {std::to_string(4000 + index)});
}

std::vector<DbParam> createArgs(const std::string &alias, const std::string &extension,
                                const std::string &templateAlias, const std::string &directoryId) {
    return {
        textArg("@Alias", alias),
        textArg("@DtmfAccessId", extension),
        textArg("@templateAlias", templateAlias),
        intArg("@SubscriberType", 1),
        intArg("@Undeletable", 0),
        textArg("@DisplayName", "New Person"),
        {"@DirectoryID", DbParamType::Guid, directoryId.empty() ? DbValue{} : DbValue(directoryId)},
        textArg("@Uid", alias),
        textArg("@FirstName", "New"),
        textArg("@LastName", "Person"),
        intArg("@DirectorySync", 0)};
}

} // namespace zeph::test
