#include "ToldProcedures.h"

namespace zeph::sim {
namespace {

using Told = std::function<void(const std::string &)>;

class ToldConnection : public IDbConnection {
public:
    ToldConnection(std::unique_ptr<IDbConnection> inner, Told told)
        : m_inner(std::move(inner))
        , m_told(std::move(told)) {}

    DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                   bool readOnly) override {
        return m_inner->query(sql, params, readOnly);
    }
    DbRowSet queryWithin(const std::string &sql, const std::vector<DbValue> &params,
                         const DbQueryLimits &limits) override {
        return m_inner->queryWithin(sql, params, limits);
    }
    void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                   const std::vector<DbValue> &keyValues, const std::vector<std::string> &columns,
                   const std::vector<DbValue> &values) override {
        m_inner->updateRow(target, keyColumns, keyValues, columns, values);
    }
    std::optional<std::vector<DbValue>>
    insertRow(const std::string &target, const std::vector<std::string> &columns,
              const std::vector<DbValue> &values,
              const std::vector<std::string> &readBack) override {
        return m_inner->insertRow(target, columns, values, readBack);
    }
    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override {
        std::optional<DbRowSet> rows = m_inner->callProcedure(name, args);
        m_told(name);
        return rows;
    }
    void beginTransaction() override { m_inner->beginTransaction(); }
    void commitTransaction() override { m_inner->commitTransaction(); }
    void rollbackTransaction() override { m_inner->rollbackTransaction(); }
    void makeDurable() override { m_inner->makeDurable(); }
    void proveWritable() override { m_inner->proveWritable(); }

private:
    std::unique_ptr<IDbConnection> m_inner;
    Told m_told;
};

class ToldDatabase : public IDatabase {
public:
    ToldDatabase(std::unique_ptr<IDatabase> inner, Told told)
        : m_inner(std::move(inner))
        , m_told(std::move(told)) {}

    std::unique_ptr<IDbConnection> connect(const std::string &connectionText) override {
        return std::make_unique<ToldConnection>(m_inner->connect(connectionText), m_told);
    }
    std::unique_ptr<IRunLock> takeRunLock(const std::string &connectionText,
                                          const std::string &holder, std::string &heldBy) override {
        return m_inner->takeRunLock(connectionText, holder, heldBy);
    }
    std::string serverName(const std::string &connectionText) override {
        return m_inner->serverName(connectionText);
    }

private:
    std::unique_ptr<IDatabase> m_inner;
    Told m_told;
};

} // namespace

std::unique_ptr<IDatabase> tellProcedures(std::unique_ptr<IDatabase> database, Told procedureDone) {
    if (!procedureDone)
        return database;
    return std::make_unique<ToldDatabase>(std::move(database), std::move(procedureDone));
}

} // namespace zeph::sim
