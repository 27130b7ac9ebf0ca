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

struct Update {
    std::string target;
    std::vector<std::string> keyColumns;
    std::vector<DbValue> keyValues, values;
    std::vector<std::string> columns;
};

class RecordingDatabase : public IDatabase, public IDbConnection {
public:
    std::unique_ptr<IDbConnection> connect(const std::string &connectionText) override {
        connections.push_back(connectionText);
        return std::unique_ptr<IDbConnection>(new Forward(*this));
    }
    DbRowSet query(const std::string &text, const std::vector<DbValue> &params, bool ro) override {
        sql = text;
        readOnly = ro;
        args.clear();
        for (const auto &p : params)
            args.push_back({"", DbParamType::Text, p});
        return result.value_or(DbRowSet{});
    }
    void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                   const std::vector<DbValue> &keyValues, const std::vector<std::string> &columns,
                   const std::vector<DbValue> &values) override {
        updates.push_back({target, keyColumns, keyValues, values, columns});
    }
    std::optional<std::vector<DbValue>> insertRow(const std::string &,
                                                  const std::vector<std::string> &,
                                                  const std::vector<DbValue> &,
                                                  const std::vector<std::string> &) override {
        return std::nullopt;
    }
    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &given) override {
        procedure = name;
        args = given;
        return result;
    }

    std::vector<std::string> connections;
    std::string procedure, sql;
    bool readOnly = false;
    std::vector<DbParam> args;
    std::vector<Update> updates;
    std::optional<DbRowSet> result; // what a procedure or query returns

private:
    // A connection that records into its database.
    struct Forward : IDbConnection {
        explicit Forward(RecordingDatabase &db)
            : to(db) {}
        DbRowSet query(const std::string &s, const std::vector<DbValue> &p, bool r) override {
            return to.query(s, p, r);
        }
        void updateRow(const std::string &t, const std::vector<std::string> &kc,
                       const std::vector<DbValue> &kv, const std::vector<std::string> &c,
                       const std::vector<DbValue> &v) override {
            to.updateRow(t, kc, kv, c, v);
        }
        std::optional<std::vector<DbValue>> insertRow(const std::string &t,
                                                      const std::vector<std::string> &c,
                                                      const std::vector<DbValue> &v,
                                                      const std::vector<std::string> &r) override {
            return to.insertRow(t, c, v, r);
        }
        std::optional<DbRowSet> callProcedure(const std::string &n,
                                              const std::vector<DbParam> &a) override {
            return to.callProcedure(n, a);
        }
        RecordingDatabase &to;
    };
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
    cmd.AppendParameter("@ForceRemove", adInteger,
                        std::string("0")); // text that is a number
    cmd.AppendParameter("@Alias", adVarChar, "O'Brien");
    cmd.AppendParameter("@DtmfAccessId", adVarChar, 4001); // a number as text
    cmd.AppendParameter("@LastName", adVarChar, Null);
    long affected = 0;
    Recordset rs = cmd.Execute(&affected);
    EXPECT_EQ(db.connections, std::vector<std::string>{kConnection});
    EXPECT_EQ(db.procedure, "sp_DeleteSubscriber");
    const std::vector<DbParam> expected = {
        {"@SubscriberObjectID", DbParamType::Guid, kOldId},
        {"@ForceRemove", DbParamType::Integer, std::int64_t{0}},
        {"@Alias", DbParamType::Text, std::string("O'Brien")},
        {"@DtmfAccessId", DbParamType::Text, std::string("4001")},
        {"@LastName", DbParamType::Text, DbValue{}},
    };
    ASSERT_EQ(db.args.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(db.args[i].name, expected[i].name);
        EXPECT_EQ(db.args[i].type, expected[i].type) << expected[i].name;
        EXPECT_EQ(db.args[i].value, expected[i].value) << expected[i].name;
    }
    EXPECT_FALSE(rs.IsOpen()); // the procedure returned no rows
    EXPECT_EQ(affected, -1);

    // The next procedure starts without the old arguments, on the same connection.
    cmd.CommandText("sp_DeleteDirectorySyncTicket");
    cmd.AppendParameter("@Ticket", adGUID, kOldId);
    cmd.Execute();
    ASSERT_EQ(db.args.size(), 1u);
    EXPECT_EQ(db.args[0].name, "@Ticket");
    EXPECT_EQ(db.connections.size(), 1u);
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
    EXPECT_EQ(errorOf([&] { cmd.Execute(); }).number(),
              3704); // no connection yet
}

TEST(Command, ReturnsAProceduresRowThatCanBeSavedBackByItsKey) {
    RecordingDatabase db;
    DbRowSet created;
    created.columns = {{"SubscriberObjectID"}, {"CallHandlerObjectID"}, {"Alias"}};
    created.rows = {{std::string("{AAAAAAAA-0000-0000-0000-000000000001}"),
                     std::string("{BBBBBBBB-0000-0000-0000-000000000002}"), std::string("jdoe")}};
    created.updateTarget = "vw_Subscriber";
    created.keyColumns = {"SubscriberObjectID"};
    db.result = created;
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
    ASSERT_EQ(db.updates.size(), 1u);
    EXPECT_EQ(db.updates[0].target, "vw_Subscriber");
    EXPECT_EQ(db.updates[0].keyColumns, std::vector<std::string>{"SubscriberObjectID"});
    EXPECT_EQ(db.updates[0].keyValues, std::vector<DbValue>{newId}); // the key it came with
    EXPECT_EQ(db.updates[0].columns,
              (std::vector<std::string>{"SubscriberObjectID", "CallHandlerObjectID"}));
    EXPECT_EQ(db.updates[0].values[0], DbValue(kOldId));
    // Saved again, the row is found by its new key.
    rs["Alias"] = "jdoe2";
    rs.Update();
    ASSERT_EQ(db.updates.size(), 2u);
    EXPECT_EQ(db.updates[1].keyValues, std::vector<DbValue>{kOldId});
    rs.Close();

    // Without its key column a row cannot be saved.
    created.keyColumns = {"NoSuchKey"};
    db.result = created;
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
    EXPECT_EQ(db.sql, "SELECT vw_Subscriber.* FROM vw_Subscriber    ");
    EXPECT_TRUE(db.readOnly);
    EXPECT_TRUE(db.args.empty());
}

} // namespace
