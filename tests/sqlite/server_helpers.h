#pragma once
// A seeded server database in a temporary folder, with a clock and GUIDs the tests control.
#include "standin/server/ServerCheck.h"
#include "standin/server/ServerSql.h"
#include "standin/server/StandInServer.h"
#include "support/FixedClock.h"
#include "support/TempHost.h"

#include <map>

namespace zeph::test {

/// GUIDs {00000000-0000-4000-8000-00000000000N} in order, N counting from 1.
class CountingGuids : public IGuidSource {
public:
    std::string newGuid() override {
        const std::string n = std::to_string(m_next++);
        return "{00000000-0000-4000-8000-" + std::string(12 - n.size(), '0') + n + "}";
    }

private:
    int m_next = 1;
};

class SeededServer {
public:
    explicit SeededServer(int subscribers = 40, unsigned seed = 1);

    sqlite3 *db() const { return m_db->get(); }
    const std::string &folder() const { return m_temp.path(); }
    std::string databasePath() const { return m_temp.path() + "/TarvoDb.sqlite"; }

    /// The host setting "directory-sync" the procedures see.
    std::string directorySync = "ok";
    CountingGuids guids;
    FixedClock clock{utcTime(2024, 3, 5, 14, 30, 0)};
    sqlite::ServerContext context();
    std::optional<DbRowSet> call(const std::string &name, const std::vector<DbParam> &args);

    std::int64_t count(const std::string &sql, const std::vector<DbValue> &params = {}) const {
        return sqlite::server::queryCount(db(), sql, params);
    }
    std::string text(const std::string &sql, const std::vector<DbValue> &params = {}) const {
        auto value = sqlite::server::queryValue(db(), sql, params);
        return value ? sqlite::server::asText(*value) : std::string();
    }
    void exec(const std::string &sql, const std::vector<DbValue> &params = {}) const;
    std::vector<std::string> check() const { return sqlite::server::checkInvariants(db()); }
    std::string dump() const;
    std::map<std::string, std::int64_t> tableCounts() const;

    /// The subscriber with the primary extension 4000 + index, and its call handler.
    std::string subscriberId(int index) const;
    std::string callHandlerId(int index) const {
        return text("SELECT CallHandlerObjectID FROM Subscriber WHERE SubscriberObjectID = ?",
                    {subscriberId(index)});
    }

private:
    TempFolder m_temp;
    std::unique_ptr<sqlite::server::Connection> m_db;
};

inline DbParam guidArg(const std::string &name, const std::string &value) {
    return {name, DbParamType::Guid, value};
}
inline DbParam textArg(const std::string &name, const std::string &value) {
    return {name, DbParamType::Text, value};
}
inline DbParam intArg(const std::string &name, std::int64_t value) {
    return {name, DbParamType::Integer, value};
}

/// The arguments the reset gives sp_CreateSubscriber (no directory account when empty).
std::vector<DbParam> createArgs(const std::string &alias, const std::string &extension,
                                const std::string &templateAlias,
                                const std::string &directoryId = {});

} // namespace zeph::test
