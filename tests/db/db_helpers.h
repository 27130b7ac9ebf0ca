#pragma once
// A small server database of the test's own, in a temporary folder: the views and tables the data
// layer is exercised on, in the shape the server gives them (views with INSTEAD OF triggers and
// their keys listed in zeph_ViewKey).

#include "platform/sqlite/ServerSql.h"
#include "support/TempHost.h"

namespace zeph::test {

/// "{00000000-0000-0000-0000-00000000NNNN}": a GUID text for a number.
std::string guidFor(std::int64_t n);

class TestDb {
public:
    /// Creates the database with `subscribers` subscribers (ids guidFor(1000 + i), aliases
    /// "user<i>", extensions 4000 + i, primary call handlers guidFor(500000 + i)), three
    /// non-primary call handlers, two templates and two classes of service.
    explicit TestDb(int subscribers = 10);

    const std::string &path() const { return m_path; }
    const std::string &folder() const { return m_temp.path(); }
    /// The backend over the file (a fresh one each call).
    std::unique_ptr<IDatabase> database() const;

    /// Runs SQL directly on the file (outside the data layer).
    void exec(const std::string &sql) const { sqlite::server::exec(m_db->get(), sql); }
    /// The first column of the first row as text ("NULL" for NULL, "" when there is no row).
    std::string scalar(const std::string &sql) const;
    /// Every table's rows and the schema as text: equal dumps mean an unchanged database.
    std::string dump() const;

private:
    TempFolder m_temp;
    std::string m_path;
    std::unique_ptr<sqlite::server::Connection> m_db;
};

/// The connection text of the server database.
inline const std::string kConnection = "Driver={SQL Server};server=;database=TarvoDb";

} // namespace zeph::test
