#include "ToldProcedures.h"

#include "platform/ForwardingDatabase.h"

namespace zeph::sim {
namespace {

using Told = std::function<void(const std::string &)>;

class ToldConnection : public ForwardingConnection {
public:
    ToldConnection(std::unique_ptr<IDbConnection> connection, Told told)
        : ForwardingConnection(std::move(connection))
        , m_told(std::move(told)) {}

    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override {
        std::optional<DbRowSet> rows = inner().callProcedure(name, args);
        m_told(name);
        return rows;
    }

private:
    Told m_told;
};

class ToldDatabase : public ForwardingDatabase {
public:
    ToldDatabase(std::unique_ptr<IDatabase> database, Told told)
        : ForwardingDatabase(std::move(database))
        , m_told(std::move(told)) {}

    std::unique_ptr<IDbConnection> connect(const std::string &connectionText) override {
        return std::make_unique<ToldConnection>(inner().connect(connectionText), m_told);
    }

private:
    Told m_told;
};

} // namespace

std::unique_ptr<IDatabase> tellProcedures(std::unique_ptr<IDatabase> database, Told procedureDone) {
    if (!procedureDone)
        return database;
    return std::make_unique<ToldDatabase>(std::move(database), std::move(procedureDone));
}

} // namespace zeph::sim
