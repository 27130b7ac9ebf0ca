#pragma once
// A connection and a database that pass every call on to another one. Wrappers that watch or
// add to a few calls (procedures told to the stand-in's fault hooks, the benchmark's floor, the
// tests' record of procedure calls) derive from them and override only those calls.

#include "Database.h"

#include <memory>
#include <utility>

namespace zeph {

class ForwardingConnection : public IDbConnection {
public:
    explicit ForwardingConnection(std::unique_ptr<IDbConnection> inner)
        : m_inner(std::move(inner)) {}

    DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                   bool readOnly) override {
        return m_inner->query(sql, params, readOnly);
    }
    void readRows(const std::string &sql, const std::vector<DbValue> &params,
                  const std::function<bool(const std::vector<DbValue> &)> &row) override {
        m_inner->readRows(sql, params, row);
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
    std::int64_t updateWhere(const DbRowsChange &change) override {
        return m_inner->updateWhere(change);
    }
    std::optional<std::vector<DbValue>>
    insertRow(const std::string &target, const std::vector<std::string> &columns,
              const std::vector<DbValue> &values,
              const std::vector<std::string> &readBack) override {
        return m_inner->insertRow(target, columns, values, readBack);
    }
    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override {
        return m_inner->callProcedure(name, args);
    }
    void beginTransaction() override { m_inner->beginTransaction(); }
    void commitTransaction() override { m_inner->commitTransaction(); }
    void rollbackTransaction() override { m_inner->rollbackTransaction(); }
    void makeDurable() override { m_inner->makeDurable(); }
    void checkPlaceWhenAsked() override { m_inner->checkPlaceWhenAsked(); }
    void checkPlaceNext() override { m_inner->checkPlaceNext(); }
    void proveWritable() override { m_inner->proveWritable(); }
    void proveRights(const std::vector<DbRight> &rights) override { m_inner->proveRights(rights); }

protected:
    IDbConnection &inner() { return *m_inner; }

private:
    std::unique_ptr<IDbConnection> m_inner;
};

/// Passes everything on; a derived class wraps each new connection by overriding connect.
class ForwardingDatabase : public IDatabase {
public:
    explicit ForwardingDatabase(std::unique_ptr<IDatabase> inner)
        : m_inner(std::move(inner)) {}

    std::unique_ptr<IDbConnection> connect(const std::string &connectionText) override {
        return m_inner->connect(connectionText);
    }
    std::unique_ptr<IRunLock> takeRunLock(const std::string &connectionText,
                                          const std::string &holder, std::string &heldBy) override {
        return m_inner->takeRunLock(connectionText, holder, heldBy);
    }
    std::string serverName(const std::string &connectionText) override {
        return m_inner->serverName(connectionText);
    }
    IDatabase &inner() { return *m_inner; }

private:
    std::unique_ptr<IDatabase> m_inner;
};

} // namespace zeph
