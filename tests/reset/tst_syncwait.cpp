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
    // The answer, and the virtual seconds the wait took on the host's clock.
    std::pair<bool, long long> wait() {
        const TimePoint before = m_bench.host().clock->now();
        const bool ok = WaitForSyncToFinished(m_bench.host(), m_bench.tarvoDb->DbConnectionString(),
                                              *m_bench.log, kTicket);
        return {ok, std::chrono::duration_cast<std::chrono::seconds>(m_bench.host().clock->now() -
                                                                     before)
                        .count()};
    }
    int polls() { return m_bench.db().queryCount("vw_DirectorySyncTicket WHERE Ticket"); }
};

TEST_F(SyncWaitTest, AnAnswerEndsTheWaitAfterOnePauseAndTheTicketGoes) {
    for (std::int64_t result : {0, 1, -1}) {
        addTicket(DbValue(result));
        const int pollsBefore = polls();
        const int passesBefore = m_bench.ui().doEventsCount();
        const auto [ok, seconds] = wait();
        EXPECT_EQ(ok, result == 0) << result;
        EXPECT_EQ(polls() - pollsBefore, 1);
        EXPECT_TRUE(seconds >= 2 && seconds < 4) << "one pause before the look: " << seconds;
        EXPECT_EQ(m_bench.ui().doEventsCount() - passesBefore, kSyncPauseMs / kSyncPauseSliceMs)
            << "the window gets its passes during the pause";
        EXPECT_EQ(ticketRows(), 0);
        const test::ProcedureCall &call = m_bench.db().lastCall("sp_DeleteDirectorySyncTicket");
        ASSERT_EQ(call.args.size(), 1u);
        EXPECT_EQ(call.args[0].name, "@Ticket");
        EXPECT_EQ(call.args[0].type, DbParamType::Guid);
        EXPECT_EQ(call.args[0].value, DbValue(kTicket));
    }
    EXPECT_TRUE(m_lines.empty());
}

TEST_F(SyncWaitTest, NoAnswerInTwentyLooksTimesOutAndLeavesTheTicket) {
    for (bool withTicket : {true, false}) {
        if (withTicket)
            addTicket(DbValue());
        m_lines.clear();
        const int pollsBefore = polls();
        const auto [ok, seconds] = wait();
        EXPECT_FALSE(ok);
        EXPECT_EQ(polls() - pollsBefore, 20);
        EXPECT_GE(seconds, 40);
        EXPECT_EQ(ticketRows(), withTicket ? 1 : 0);
        EXPECT_EQ(m_lines, std::vector<std::string>{
                               "Syncronization process failed to complete in a timely fashion.  "
                               "Check the Lorrasvc logs in the \\Pradix\\Logs directory"});
        if (withTicket)
            m_bench.exec("DELETE FROM DirectorySyncTicket");
    }
    EXPECT_EQ(m_bench.db().callCount("sp_DeleteDirectorySyncTicket"), 0);
    EXPECT_EQ(m_bench.log->LogErrorCount(), 0) << "the time-out line is no error";
}

TEST_F(SyncWaitTest, FailingLooksAreShownAndNeverCountAsSuccess) {
    addTicket(DbValue(std::int64_t{0}));
    m_bench.db().failingQueries.push_back("vw_DirectorySyncTicket");
    for (int i = 0; i < kSyncPolls; ++i)
        m_bench.ui().expectBox("(error):-2147217900 (");
    EXPECT_FALSE(wait().first);
    m_bench.ui().verifyAllShown();
    for (const auto &box : m_bench.ui().boxes()) {
        EXPECT_NE(box.text.find(") in procedure WaitForSyncToFinished of Module Module1"),
                  std::string::npos)
            << box.text;
    }
    EXPECT_EQ(ticketRows(), 1);
    EXPECT_EQ(m_lines.size(), 1u); // the time-out line
}

TEST_F(SyncWaitTest, AFailingTicketRemovalIsShownAndTheResultStands) {
    addTicket(DbValue(std::int64_t{0}));
    m_bench.db().failingProcedures.emplace("sp_DeleteDirectorySyncTicket",
                                           Error(-2147217900, "The procedure failed."));
    m_bench.ui().expectBox("(error):-2147217900 (The procedure failed.) in procedure "
                           "WaitForSyncToFinished of Module Module1");
    EXPECT_TRUE(wait().first);
    m_bench.ui().verifyAllShown();
    EXPECT_EQ(ticketRows(), 1);
}

} // namespace
