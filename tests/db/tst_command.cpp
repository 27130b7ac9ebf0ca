// Commands: stored-procedure arguments by name and type, and the rows procedures return. A
// recording database stands in for the server, so every argument can be looked at.
#include "db/AdoErrors.h"
#include "db/Command.h"
#include "db_helpers.h"
#include "support/ErrorOf.h"

#include <gtest/gtest.h>

using namespace zeph;
using zeph::test::errorOf;
using zeph::test::kConnection;
using namespace zeph::db;

namespace {

// What the program asked of the database.
struct Calls {
    std::vector<std::string> connections;
    std::string procedure, sql;
    bool readOnly = false;
    std::vector<DbParam> args; // a query's values as unnamed text arguments
    struct Update {
        std::string target;
        std::vector<std::string> keyColumns, columns;
        std::vector<DbValue> keyValues, values;
    };
    std::vector<Update> updates;
    std::optional<DbRowSet> result; // what a procedure or query returns
};

class RecordingConnection : public IDbConnection {
public:
    explicit RecordingConnection(Calls &calls)
        : m_calls(calls) {}
    DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                   bool readOnly) override {
        m_calls.sql = sql;
        m_calls.readOnly = readOnly;
        m_calls.args.clear();
        for (const auto &p : params)
            m_calls.args.push_back({"", DbParamType::Text, p});
        return m_calls.result.value_or(DbRowSet{});
    }
    void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                   const std::vector<DbValue> &keyValues, const std::vector<std::string> &columns,
                   const std::vector<DbValue> &values) override {
        m_calls.updates.push_back({target, keyColumns, columns, keyValues, values});
    }
    std::optional<std::vector<DbValue>> insertRow(const std::string &,
                                                  const std::vector<std::string> &,
                                                  const std::vector<DbValue> &,
                                                  const std::vector<std::string> &) override {
        return std::nullopt;
    }
    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override {
        m_calls.procedure = name;
        m_calls.args = args;
        return m_calls.result;
    }

private:
    Calls &m_calls;
};

class RecordingDatabase : public IDatabase {
public:
    std::unique_ptr<IDbConnection> connect(const std::string &connectionText) override {
        calls.connections.push_back(connectionText);
        return std::make_unique<RecordingConnection>(calls);
    }
    Calls calls;
};

const std::string kOldId = "{11111111-2222-3333-4444-555555555555}";

Command procedure(RecordingDatabase &db, const std::string &name) {
    Command cmd(db);
    cmd.ActiveConnection(kConnection);
    cmd.CommandType(adCmdStoredProc);
    cmd.CommandText(name);
    return cmd;
}

TEST(Command, PassesArgumentsByNameWithTheirTypes) {
    RecordingDatabase db;
    Command cmd = procedure(db, "sp_DeleteSubscriber");
    cmd.AppendParameter("@SubscriberObjectID", adGUID, kOldId);
    cmd.AppendParameter("@ForceRemove", adInteger, std::string("0")); // text that is a number
    cmd.AppendParameter("@Alias", adVarChar, "O'Brien");
    cmd.AppendParameter("@DtmfAccessId", adVarChar, 4001); // a number as text
    cmd.AppendParameter("@LastName", adVarChar, Null);
    long affected = 0;
    Recordset rs = cmd.Execute(&affected);
    EXPECT_EQ(db.calls.connections, std::vector<std::string>{kConnection});
    EXPECT_EQ(db.calls.procedure, "sp_DeleteSubscriber");
    const std::vector<DbParam> expected = {
        {"@SubscriberObjectID", DbParamType::Guid, kOldId},
        {"@ForceRemove", DbParamType::Integer, std::int64_t{0}},
        {"@Alias", DbParamType::Text, std::string("O'Brien")},
        {"@DtmfAccessId", DbParamType::Text, std::string("4001")},
        {"@LastName", DbParamType::Text, DbValue{}},
    };
    ASSERT_EQ(db.calls.args.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(db.calls.args[i].name, expected[i].name);
        EXPECT_EQ(db.calls.args[i].type, expected[i].type) << expected[i].name;
        EXPECT_EQ(db.calls.args[i].value, expected[i].value) << expected[i].name;
    }
    EXPECT_FALSE(rs.IsOpen()); // the procedure returned no rows
    EXPECT_EQ(affected, -1);

    // The next procedure starts without the old arguments, on the same connection.
    cmd.CommandText("sp_DeleteDirectorySyncTicket");
    cmd.AppendParameter("@Ticket", adGUID, kOldId);
    cmd.Execute();
    ASSERT_EQ(db.calls.args.size(), 1u);
    EXPECT_EQ(db.calls.args[0].name, "@Ticket");
    EXPECT_EQ(db.calls.connections.size(), 1u);
}

TEST(Command, RefusesValuesThatDoNotFitTheirType) {
    RecordingDatabase db;
    Command cmd(db);
    const std::pair<DataTypeEnum, DbValue> cases[] = {
        {adInteger, std::string("one")},
        {adInteger, std::int64_t{1} << 40},
        {adGUID, std::string("{11111111-2222-3333-4444-55555555555}")},
        {adGUID, std::int64_t{5}},
    };
    for (const auto &[type, value] : cases) {
        Error e = errorOf([&] { cmd.AppendParameter("@X", type, value); });
        EXPECT_EQ(e.number(), 3421);
        EXPECT_EQ(e.description(),
                  "Application uses a value of the wrong type for the current operation.");
    }
    EXPECT_TRUE(cmd.Parameters().empty());
    EXPECT_EQ(errorOf([&] { cmd.Execute(); }).number(), 3704); // no connection yet
}

TEST(Command, ReturnsAProceduresRowThatCanBeSavedBackByItsKey) {
    RecordingDatabase db;
    DbRowSet created;
    created.columns = {{"SubscriberObjectID"}, {"CallHandlerObjectID"}, {"Alias"}};
    created.rows = {{std::string("{AAAAAAAA-0000-0000-0000-000000000001}"),
                     std::string("{BBBBBBBB-0000-0000-0000-000000000002}"), std::string("jdoe")}};
    created.updateTarget = "vw_Subscriber";
    created.keyColumns = {"SubscriberObjectID"};
    db.calls.result = created;
    Command cmd = procedure(db, "sp_CreateSubscriber");
    cmd.AppendParameter("@Alias", adVarChar, "jdoe");
    Recordset readOnly = cmd.Execute();
    EXPECT_EQ(readOnly.RecordCount(), 1);
    EXPECT_FALSE(readOnly.Updatable());

    Recordset rs;
    rs.Open(cmd, adOpenKeyset, adLockOptimistic);
    ASSERT_TRUE(rs.Updatable());
    const std::string newId = rs["SubscriberObjectID"].Text();
    rs["SubscriberObjectID"] = kOldId;
    rs["CallHandlerObjectID"] = "{22222222-2222-3333-4444-555555555555}";
    rs.Update();
    ASSERT_EQ(db.calls.updates.size(), 1u);
    EXPECT_EQ(db.calls.updates[0].target, "vw_Subscriber");
    EXPECT_EQ(db.calls.updates[0].keyColumns, std::vector<std::string>{"SubscriberObjectID"});
    EXPECT_EQ(db.calls.updates[0].keyValues, std::vector<DbValue>{newId}); // the key it came with
    EXPECT_EQ(db.calls.updates[0].columns,
              (std::vector<std::string>{"SubscriberObjectID", "CallHandlerObjectID"}));
    EXPECT_EQ(db.calls.updates[0].values[0], DbValue(kOldId));
    // Saved again, the row is found by its new key.
    rs["Alias"] = "jdoe2";
    rs.Update();
    ASSERT_EQ(db.calls.updates.size(), 2u);
    EXPECT_EQ(db.calls.updates[1].keyValues, std::vector<DbValue>{kOldId});
    rs.Close();

    // Without its key column a row cannot be saved.
    created.keyColumns = {"NoSuchKey"};
    db.calls.result = created;
    rs.Open(cmd, adOpenKeyset, adLockOptimistic);
    EXPECT_FALSE(rs.Updatable());
    EXPECT_EQ(errorOf([&] { rs["Alias"] = "x"; }).number(), 3251);
}

TEST(Command, RunsAQueryTextReadOnly) {
    RecordingDatabase db;
    Command cmd(db);
    cmd.ActiveConnection(kConnection);
    cmd.CommandType(adCmdText);
    cmd.CommandText("SELECT vw_Subscriber.* FROM vw_Subscriber    ");
    EXPECT_TRUE(cmd.Execute().IsOpen());
    EXPECT_EQ(db.calls.sql, "SELECT vw_Subscriber.* FROM vw_Subscriber    ");
    EXPECT_TRUE(db.calls.readOnly);
    EXPECT_TRUE(db.calls.args.empty());
}

} // namespace
