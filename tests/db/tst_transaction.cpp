// The transaction guard on a connection: what each way out of its scope leaves in the database,
// and that the connection takes the next transaction afterwards.
#include "db/Recordset.h"
#include "db/Transaction.h"
#include "db_helpers.h"
#include "support/ErrorOf.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace zeph;
using namespace zeph::db;
using zeph::test::guidFor;
using zeph::test::kConnection;
using zeph::test::TestDb;

namespace {

enum class Leave { Commit, Rollback, Throw, FallOff };

struct LeaveCase {
    const char *name;
    Leave how;
    /// The row written inside the scope is there afterwards, for this connection and others.
    bool kept;
};

class TransactionGuard : public ::testing::TestWithParam<LeaveCase> {
protected:
    TestDb m_file{3};
    std::unique_ptr<IDatabase> m_db = m_file.database();
    Connection m_connection{*m_db};

    void rename(const std::string &firstName, int subscriber) {
        m_connection.handle()->query("UPDATE Subscriber SET FirstName=? WHERE SubscriberObjectID=?",
                                     {DbValue(firstName), DbValue(guidFor(1000 + subscriber))},
                                     false);
    }
    // As this connection sees it.
    std::string seenHere(int subscriber) {
        const DbRowSet rows = m_connection.handle()->query(
            "SELECT FirstName FROM Subscriber WHERE SubscriberObjectID=?",
            {DbValue(guidFor(1000 + subscriber))}, true);
        return rows.rows.empty() ? std::string() : valueText(rows.rows[0][0]);
    }
    // As another connection sees it.
    std::string seenElsewhere(int subscriber) {
        return m_file.scalar("SELECT FirstName FROM Subscriber WHERE SubscriberObjectID='" +
                             guidFor(1000 + subscriber) + "'");
    }
};

TEST_P(TransactionGuard, LeavesTheRowsOnlyWhenCommitted) {
    const LeaveCase &c = GetParam();
    m_connection.Open(kConnection);
    const std::string before = seenElsewhere(0);
    try {
        Transaction transaction(m_connection);
        EXPECT_TRUE(transaction.open());
        rename("Changed", 0);
        switch (c.how) {
        case Leave::Commit:
            transaction.commit();
            EXPECT_FALSE(transaction.open());
            break;
        case Leave::Rollback:
            transaction.rollback();
            EXPECT_FALSE(transaction.open());
            break;
        case Leave::Throw:
            throw std::runtime_error("the step failed half-way");
        case Leave::FallOff:
            break;
        }
    } catch (const std::runtime_error &) {
        EXPECT_EQ(c.how, Leave::Throw);
    }
    const std::string expected = c.kept ? "Changed" : before;
    EXPECT_EQ(seenHere(0), expected);
    EXPECT_EQ(seenElsewhere(0), expected);

    // The connection takes the next transaction, and its commit is kept.
    Transaction next(m_connection);
    rename("Next", 1);
    next.commit();
    EXPECT_EQ(seenElsewhere(1), "Next");
    EXPECT_EQ(seenElsewhere(0), expected);
}

INSTANTIATE_TEST_SUITE_P(EachWayOut, TransactionGuard,
                         ::testing::Values(LeaveCase{"Committed", Leave::Commit, true},
                                           LeaveCase{"RolledBack", Leave::Rollback, false},
                                           LeaveCase{"StepThrew", Leave::Throw, false},
                                           LeaveCase{"NeverCommitted", Leave::FallOff, false}),
                         [](const ::testing::TestParamInfo<LeaveCase> &param) {
                             return param.param.name;
                         });

TEST(TransactionGuardClosed, ACommitThatFailsLeavesTheGuardToTakeItBack) {
    TestDb file{1};
    std::unique_ptr<IDatabase> db = file.database();
    Connection connection(*db);
    // A closed connection refuses to begin: no guard is made, nothing is left open.
    EXPECT_EQ(zeph::test::errorOf([&] { Transaction refused(connection); }).number(), 3704);

    connection.Open(kConnection);
    std::optional<Transaction> transaction;
    transaction.emplace(connection);
    connection.handle()->query("UPDATE Subscriber SET FirstName='Lost' WHERE SubscriberObjectID=?",
                               {DbValue(guidFor(1000))}, false);
    connection.Close();
    // The commit cannot reach the server; the guard still owns the transaction, and its own
    // rollback on the way out fails quietly.
    EXPECT_EQ(zeph::test::errorOf([&] { transaction->commit(); }).number(), 3704);
    EXPECT_TRUE(transaction->open());
    transaction.reset();
    EXPECT_NE(file.scalar("SELECT FirstName FROM Subscriber WHERE SubscriberObjectID='" +
                          guidFor(1000) + "'"),
              "Lost");
}

} // namespace
