// Commands: stored-procedure arguments by name and type, and the rows procedures return.
// A recording database stands in for the server, so every argument can be looked at.
#include "db/AdoErrors.h"
#include "db/Command.h"
#include "support/ErrorOf.h"

#include <gtest/gtest.h>

using namespace zeph;
using zeph::test::errorOf;
using namespace zeph::db;

namespace {

struct Calls {
    std::vector<std::string> connections;
    std::string procedure;
    std::vector<DbParam> args;
    std::string sql;
    std::vector<DbValue> params;
    bool readOnly = false;
    struct Update {
        std::string target;
        std::vector<std::string> keyColumns;
        std::vector<DbValue> keyValues;
        std::vector<std::string> columns;
        std::vector<DbValue> values;
    };
    std::vector<Update> updates;
    std::optional<DbRowSet> result; // what a procedure returns
};

class RecordingConnection : public IDbConnection {
public:
    explicit RecordingConnection(Calls &calls)
        : m_calls(calls) {}
    DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                   bool readOnly) override {
        m_calls.sql = sql;
        m_calls.params = params;
        m_calls.readOnly = readOnly;
        return m_calls.result.value_or(DbRowSet{});
    }
    void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                   const std::vector<DbValue> &keyValues, const std::vector<std::string> &columns,
                   const std::vector<DbValue> &values) override {
        m_calls.updates.push_back({target, keyColumns, keyValues, columns, values});
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

const std::string kText = "Driver={SQL Server};server=;database=TarvoDb";
const std::string kOldId = "{11111111-2222-3333-4444-555555555555}";

DbRowSet createdRow() {
    DbRowSet rows;
    rows.columns = {{"SubscriberObjectID"}, {"CallHandlerObjectID"}, {"Alias"}};
    rows.rows = {{std::string("{AAAAAAAA-0000-0000-0000-000000000001}"),
                  std::string("{BBBBBBBB-0000-0000-0000-000000000002}"), std::string("jdoe")}};
    rows.updateTarget = "vw_Subscriber";
    rows.keyColumns = {"SubscriberObjectID"};
    return rows;
}

TEST(Command, PassesArgumentsByNameWithTheirTypes) {
    RecordingDatabase db;
    Command cmd(db);
    cmd.ActiveConnection(kText);
    cmd.CommandType(adCmdStoredProc);
    cmd.CommandText("sp_DeleteSubscriber");
    cmd.AppendParameter("@SubscriberObjectID", adGUID, kOldId);
    cmd.AppendParameter("@DirectorySync", adInteger, 1);
    cmd.AppendParameter("@ForceRemove", adInteger, std::string("0")); // text that is a number
    cmd.AppendParameter("@DirectorySyncTicket", adGUID, "5a2b6c1d-0000-4000-8000-00000000abcd");
    cmd.AppendParameter("@Alias", adVarChar, "O'Brien");
    cmd.AppendParameter("@DtmfAccessId", adVarChar, 4001); // a number as text
    cmd.AppendParameter("@LastName", adVarChar, Null);
    long affected = 0;
    Recordset rs = cmd.Execute(&affected);

    EXPECT_EQ(db.calls.connections, std::vector<std::string>{kText});
    EXPECT_EQ(db.calls.procedure, "sp_DeleteSubscriber");
    ASSERT_EQ(db.calls.args.size(), 7u);
    struct Expected {
        const char *name;
        DbParamType type;
        DbValue value;
    } expected[] = {
        {"@SubscriberObjectID", DbParamType::Guid, kOldId},
        {"@DirectorySync", DbParamType::Integer, std::int64_t{1}},
        {"@ForceRemove", DbParamType::Integer, std::int64_t{0}},
        {"@DirectorySyncTicket", DbParamType::Guid,
         std::string("5a2b6c1d-0000-4000-8000-00000000abcd")},
        {"@Alias", DbParamType::Text, std::string("O'Brien")},
        {"@DtmfAccessId", DbParamType::Text, std::string("4001")},
        {"@LastName", DbParamType::Text, DbValue{}},
    };
    for (std::size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(db.calls.args[i].name, expected[i].name);
        EXPECT_EQ(db.calls.args[i].type, expected[i].type);
        EXPECT_EQ(db.calls.args[i].value, expected[i].value);
    }
    EXPECT_FALSE(rs.IsOpen()); // the procedure returned no rows
    EXPECT_TRUE(rs.Eof());
    EXPECT_EQ(affected, -1);
}

TEST(Command, RefusesValuesThatDoNotFitTheirType) {
    RecordingDatabase db;
    Command cmd(db);
    struct Case {
        DataTypeEnum type;
        DbValue value;
    } cases[] = {
        {adInteger, std::string("one")},
        {adInteger, std::int64_t{1} << 40},
        {adGUID, std::string("not-a-guid")},
        {adGUID, std::string("{11111111-2222-3333-4444-55555555555}")},
        {adGUID, std::string("{11111111-2222-3333-4444-5555555555555}")},
        {adGUID, std::string("")},
        {adGUID, std::int64_t{5}},
    };
    for (const auto &c : cases) {
        Error e = errorOf([&] { cmd.AppendParameter("@X", c.type, c.value); });
        EXPECT_EQ(e.number(), 3421);
        EXPECT_EQ(e.description(),
                  "Application uses a value of the wrong type for the current operation.");
    }
    EXPECT_TRUE(cmd.Parameters().empty());
    EXPECT_EQ(errorOf([&] { cmd.Execute(); }).number(), 3704); // no connection yet
}

TEST(Command, ANewProcedureStartsWithoutTheOldArguments) {
    RecordingDatabase db;
    Command cmd(db);
    cmd.ActiveConnection(kText);
    cmd.CommandType(adCmdStoredProc);
    cmd.CommandText("sp_ModifySubscriber");
    cmd.AppendParameter("@SubscriberObjectID", adGUID, kOldId);
    cmd.Execute();
    cmd.CommandText("sp_DeleteDirectorySyncTicket");
    cmd.AppendParameter("@Ticket", adGUID, kOldId);
    cmd.Execute();
    EXPECT_EQ(db.calls.procedure, "sp_DeleteDirectorySyncTicket");
    ASSERT_EQ(db.calls.args.size(), 1u);
    EXPECT_EQ(db.calls.args[0].name, "@Ticket");
    EXPECT_EQ(db.calls.connections.size(), 1u); // one connection for both
}

TEST(Command, ReturnsAProceduresRowThatCanBeSavedBack) {
    RecordingDatabase db;
    db.calls.result = createdRow();
    Command cmd(db);
    cmd.ActiveConnection(kText);
    cmd.CommandType(adCmdStoredProc);
    cmd.CommandText("sp_CreateSubscriber");
    cmd.AppendParameter("@Alias", adVarChar, "jdoe");

    Recordset readOnly = cmd.Execute();
    ASSERT_TRUE(readOnly.IsOpen());
    EXPECT_EQ(readOnly.RecordCount(), 1);
    EXPECT_FALSE(readOnly.Updatable());

    Recordset rs;
    rs.Open(cmd, adOpenKeyset, adLockOptimistic);
    ASSERT_EQ(rs.RecordCount(), 1);
    ASSERT_TRUE(rs.Updatable());
    const std::string newId = rs["SubscriberObjectID"].Text();
    rs["SubscriberObjectID"] = kOldId;
    rs["CallHandlerObjectID"] = "{22222222-2222-3333-4444-555555555555}";
    rs.Update();
    ASSERT_EQ(db.calls.updates.size(), 1u);
    const auto &u = db.calls.updates[0];
    EXPECT_EQ(u.target, "vw_Subscriber");
    EXPECT_EQ(u.keyColumns, std::vector<std::string>{"SubscriberObjectID"});
    EXPECT_EQ(u.keyValues, std::vector<DbValue>{newId}); // found by the key it came with
    EXPECT_EQ(u.columns, (std::vector<std::string>{"SubscriberObjectID", "CallHandlerObjectID"}));
    EXPECT_EQ(u.values[0], DbValue(kOldId));

    // Saved again, the row is found by its new key.
    rs["Alias"] = "jdoe2";
    rs.Update();
    ASSERT_EQ(db.calls.updates.size(), 2u);
    EXPECT_EQ(db.calls.updates[1].keyValues, std::vector<DbValue>{kOldId});
    EXPECT_EQ(db.calls.updates[1].columns, std::vector<std::string>{"Alias"});
}

TEST(Command, RunsAQueryTextReadOnly) {
    RecordingDatabase db;
    Command cmd(db);
    cmd.ActiveConnection(kText);
    cmd.CommandType(adCmdText);
    cmd.CommandText("SELECT vw_Subscriber.* FROM vw_Subscriber    ");
    Recordset rs = cmd.Execute();
    EXPECT_TRUE(rs.IsOpen());
    EXPECT_EQ(db.calls.sql, "SELECT vw_Subscriber.* FROM vw_Subscriber    ");
    EXPECT_TRUE(db.calls.readOnly);
    EXPECT_TRUE(db.calls.params.empty());
}

TEST(Command, RowsWithoutTheirKeyCannotBeSaved) {
    RecordingDatabase db;
    DbRowSet rows = createdRow();
    rows.keyColumns = {"NoSuchKey"};
    db.calls.result = rows;
    Command cmd(db);
    cmd.ActiveConnection(kText);
    cmd.CommandType(adCmdStoredProc);
    cmd.CommandText("sp_CreateSubscriber");
    Recordset rs;
    rs.Open(cmd, adOpenKeyset, adLockOptimistic);
    EXPECT_FALSE(rs.Updatable());
    EXPECT_EQ(errorOf([&] { rs["Alias"] = "x"; }).number(), 3251);
}

} // namespace
