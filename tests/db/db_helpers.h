#pragma once
// A small server database in a temporary folder, in the shape the server gives it: views with
// INSTEAD OF triggers and their keys listed in zeph_ViewKey.
#include "standin/server/ServerSql.h"
#include "support/TempHost.h"

namespace zeph::test {

std::string guidFor(std::int64_t n);

/// Subscriber i: id guidFor(1000 + i), alias "user<i>", extension 4000 + i, primary call handler
/// guidFor(500000 + i); one other call handler, no template, two classes of service.
class TestDb {
public:
    explicit TestDb(int subscribers = 10);
    const std::string &path() const { return m_path; }
    const std::string &folder() const { return m_temp.path(); }
    std::unique_ptr<IDatabase> database() const;
    void exec(const std::string &sql) const { sqlite::server::exec(m_db->get(), sql); }
    /// The first value as text ("NULL" for NULL, "" without a row).
    std::string scalar(const std::string &sql) const;
    /// The schema and every row: equal dumps mean an unchanged database.
    std::string dump() const;

private:
    TempFolder m_temp;
    std::string m_path;
    std::unique_ptr<sqlite::server::Connection> m_db;
};

inline const std::string kConnection = "Driver={SQL Server};server=;database=TarvoDb";

} // namespace zeph::test
