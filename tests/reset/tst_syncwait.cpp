// Waiting for a directory sync ticket: the pause before each look, the 20 looks, the answers
// 0, non-zero and none, the ticket's removal, and failures shown in message boxes.
#include "reset_helpers.h"

#include "reset/DirectorySyncWait.h"

#include <chrono>
#include <gtest/gtest.h>

using namespace zeph;

namespace {

const char *const kTicket = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";

class SyncWaitTest : public ::testing::Test {
protected:
    test::ResetBench m_bench{0};
    std::vector<std::string> m_lines;

    void SetUp() override {
        m_bench.log->WriteLogHeader(m_bench.temp.programFolder() + "/wait.TXT", false);
        m_bench.log->setLineObserver([this](const std::string &l) { m_lines.push_back(l); });
    }
    void addTicket(const DbValue &result) {
        m_bench.exec("INSERT INTO DirectorySyncTicket (Ticket, ObjectID, Operation, result) "
                     "VALUES (?, NULL, 'modify', ?)",
                     {DbValue(kTicket), result});
    }
    long ticketRows() {
        return m_bench.sqlCount("SELECT COUNT(*) FROM vw_DirectorySyncTicket WHERE Ticket=?",
                                {DbValue(kTicket)});
    }
    bool wait() {
        return WaitForSyncToFinished(m_bench.host(), m_bench.tarvoDb->DbConnectionString(),
                                     *m_bench.log, kTicket);
    }
    // Virtual milliseconds a step took on the host's clock.
    template <class Step> long long virtualMs(Step &&step) {
        TimePoint before = m_bench.host().clock->now();
        step();
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_bench.host().clock->now() -
                                                                     before)
            .count();
    }
    int polls() { return m_bench.db().queryCount("vw_DirectorySyncTicket WHERE Ticket"); }
};

TEST_F(SyncWaitTest, AResultOfZeroIsSuccessAfterOnePauseAndTheTicketGoes) {
    addTicket(DbValue(std::int64_t{0}));
    bool ok = false;
    long long ms = virtualMs([&] { ok = wait(); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(polls(), 1);
    EXPECT_GE(ms, 2000);
    EXPECT_LT(ms, 4000);
    EXPECT_EQ(ticketRows(), 0);
    const test::ProcedureCall &call = m_bench.db().lastCall("sp_DeleteDirectorySyncTicket");
    ASSERT_TRUE(call.arg("@Ticket"));
    EXPECT_EQ(db::valueText(*call.arg("@Ticket")), kTicket);
    ASSERT_EQ(call.args.size(), 1u);
    EXPECT_EQ(call.args[0].type, DbParamType::Guid);
    EXPECT_TRUE(m_lines.empty());
}

TEST_F(SyncWaitTest, AnyOtherResultIsFailureAndTheTicketStillGoes) {
    for (std::int64_t result : {1, 2, -1}) {
        addTicket(DbValue(result));
        EXPECT_FALSE(wait()) << result;
        EXPECT_EQ(ticketRows(), 0) << result;
    }
    EXPECT_TRUE(m_lines.empty());
    EXPECT_EQ(m_bench.db().callCount("sp_DeleteDirectorySyncTicket"), 3);
}

TEST_F(SyncWaitTest, NoResultInTwentyLooksTimesOutAndLeavesTheTicket) {
    addTicket(DbValue());
    bool ok = true;
    long long ms = virtualMs([&] { ok = wait(); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(polls(), 20);
    EXPECT_GE(ms, 40000);
    EXPECT_EQ(ticketRows(), 1);
    EXPECT_EQ(m_bench.db().callCount("sp_DeleteDirectorySyncTicket"), 0);
    ASSERT_EQ(m_lines.size(), 1u);
    EXPECT_EQ(m_lines[0], "Syncronization process failed to complete in a timely fashion.  "
                          "Check the Lorrasvc logs in the \\Pradix\\Logs directory");
    EXPECT_EQ(m_bench.log->LogErrorCount(), 0);
}

TEST_F(SyncWaitTest, NoTicketRowIsTheSameAsNoResult) {
    EXPECT_FALSE(wait());
    EXPECT_EQ(polls(), 20);
    EXPECT_EQ(m_lines.size(), 1u);
}

TEST_F(SyncWaitTest, TheWindowGetsPassesDuringThePause) {
    addTicket(DbValue(std::int64_t{0}));
    int before = m_bench.ui().doEventsCount();
    EXPECT_TRUE(wait());
    EXPECT_EQ(m_bench.ui().doEventsCount() - before, kSyncPauseMs / kSyncPauseSliceMs);
}

TEST_F(SyncWaitTest, FailingLooksAreShownAndNeverCountAsSuccess) {
    addTicket(DbValue(std::int64_t{0}));
    m_bench.db().failingQueries.push_back("vw_DirectorySyncTicket");
    for (int i = 0; i < kSyncPolls; ++i)
        m_bench.ui().expectBox(") in procedure WaitForSyncToFinished of Module Module1");
    EXPECT_FALSE(wait());
    m_bench.ui().verifyAllShown();
    for (const auto &box : m_bench.ui().boxes()) {
        EXPECT_EQ(box.text.rfind("(error):-2147217900 (", 0), 0u) << box.text;
        EXPECT_EQ(box.buttons, MsgButtons::OK);
    }
    EXPECT_EQ(ticketRows(), 1);
    ASSERT_EQ(m_lines.size(), 1u); // the time-out line
}

TEST_F(SyncWaitTest, AFailingTicketRemovalIsShownAndTheResultStands) {
    addTicket(DbValue(std::int64_t{0}));
    m_bench.db().failingProcedures.emplace("sp_DeleteDirectorySyncTicket",
                                           Error(-2147217900, "The procedure failed."));
    m_bench.ui().expectBox("(error):-2147217900 (The procedure failed.) in procedure "
                           "WaitForSyncToFinished of Module Module1");
    EXPECT_TRUE(wait());
    m_bench.ui().verifyAllShown();
    EXPECT_EQ(ticketRows(), 1);
}

} // namespace
