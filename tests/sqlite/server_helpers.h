#pragma once
// A seeded server database in a temporary folder, opened with raw SQLite, with a clock and a
// GUID source the tests control.

#include "platform/Database.h"
#include "platform/sqlite/StandInServer.h"
#include "support/TempHost.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct sqlite3;

namespace zeph::test {

/// GUIDs {00000000-0000-4000-8000-00000000000N} in order, N counting from 1.
class CountingGuids : public IGuidSource {
public:
    std::string newGuid() override;
    int issued() const { return m_next - 1; }

private:
    int m_next = 1;
};

/// A clock standing at a fixed moment that sleeps by moving forward.
class FixedClock : public IClock {
public:
    TimePoint now() override { return m_now; }
    LocalTime toLocal(TimePoint) override { return {2024, 3, 5, 14, 30, 0}; }
    void sleepMs(int ms) override { m_now += std::chrono::milliseconds(ms); }

private:
    TimePoint m_now{};
};

class SeededServer {
public:
    explicit SeededServer(int subscribers = 40, unsigned seed = 1);
    ~SeededServer();
    SeededServer(const SeededServer &) = delete;
    SeededServer &operator=(const SeededServer &) = delete;

    sqlite3 *db() const { return m_db; }
    const std::string &folder() const { return m_temp.path(); }
    std::string databasePath() const { return m_temp.path() + "/TarvoDb.sqlite"; }
    std::string rootPath() const { return m_temp.path() + "/Pradix/"; }
    std::string mailstore() const { return m_temp.path() + "/mailstore"; }

    /// The host setting "directory-sync" the procedures see.
    std::string directorySync = "ok";
    CountingGuids guids;
    FixedClock clock;
    sqlite::ServerContext context();

    /// Runs a procedure; throws Error as the server does.
    std::optional<DbRowSet> call(const std::string &name, const std::vector<DbParam> &args);

    std::int64_t count(const std::string &sql, const std::vector<DbValue> &params = {}) const;
    /// The first column of the first row, as text ("" for NULL or no row).
    std::string text(const std::string &sql, const std::vector<DbValue> &params = {}) const;
    /// Runs statements that return no rows.
    void exec(const std::string &sql, const std::vector<DbValue> &params = {}) const;
    /// The invariant check's violations.
    std::vector<std::string> check() const;

    /// Every row of every table, in a fixed order, as one text.
    std::string dump() const;
    /// Row counts of every table.
    std::map<std::string, std::int64_t> tableCounts() const;

    /// The seeded subscriber with the primary extension of seeded number i.
    std::string subscriberId(int index) const;
    std::string callHandlerId(int index) const;

private:
    TempFolder m_temp;
    sqlite3 *m_db = nullptr;
};

DbParam guidArg(const std::string &name, const std::string &value);
DbParam textArg(const std::string &name, const std::string &value);
DbParam intArg(const std::string &name, std::int64_t value);

/// The arguments the reset gives sp_CreateSubscriber.
std::vector<DbParam> createArgs(const std::string &alias, const std::string &extension,
                                const std::string &templateAlias,
                                const std::string &directoryId = {});

} // namespace zeph::test
