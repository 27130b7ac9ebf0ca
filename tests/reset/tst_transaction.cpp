// A changing step runs as one transaction on the run's connection: what a step that commits,
// one that throws half-way and one in a dry run leave on the server, and that the run's
// connection goes on to the next step.
#include "reset_helpers.h"

#include "reset/ResetRun.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace zeph;

namespace {

class OneTransaction : public ::testing::Test {
protected:
    test::ResetBench m_bench{3};
    ResetRun m_run{m_bench.host(), *m_bench.tarvoDb, *m_bench.log, RunSettings{}};
    std::vector<std::string> m_aliases;

    void SetUp() override {
        for (int i = 0; i < 3; ++i)
            m_aliases.push_back(m_bench.sqlText(
                "SELECT Alias FROM Subscriber ORDER BY Alias LIMIT 1 OFFSET ?", {DbValue(i)}));
        m_run.connection().Open(m_run.connectionText());
    }
    // Through the connection of `run` (the fixture's run when none is named).
    void rename(int subscriber, const std::string &firstName, ResetRun *run = nullptr) {
        (run ? *run : m_run)
            .connection()
            .handle()
            ->query("UPDATE Subscriber SET FirstName=? WHERE Alias=?",
                    {DbValue(firstName), DbValue(m_aliases[subscriber])}, false);
    }
    std::string seenByTheRun(int subscriber) {
        const DbRowSet rows =
            m_run.connection().handle()->query("SELECT FirstName FROM Subscriber WHERE Alias=?",
                                               {DbValue(m_aliases[subscriber])}, true);
        return db::valueText(rows.rows.at(0).at(0));
    }
    std::string seenByTheServer(int subscriber) {
        return m_bench.sqlText("SELECT FirstName FROM Subscriber WHERE Alias=?",
                               {DbValue(m_aliases[subscriber])});
    }
};

TEST_F(OneTransaction, AStepThatThrowsLeavesNoneOfItsRowsAndTheNextStepCommits) {
    const std::string first = seenByTheServer(0);
    const std::string second = seenByTheServer(1);
    EXPECT_THROW(m_run.inOneTransaction([&] {
        rename(0, "HalfWay");
        rename(1, "HalfWay");
        throw std::runtime_error("the step failed half-way");
    }),
                 std::runtime_error);
    // Taken back, for the run's own connection as for every other.
    EXPECT_EQ(seenByTheRun(0), first);
    EXPECT_EQ(seenByTheRun(1), second);
    EXPECT_EQ(seenByTheServer(0), first);
    EXPECT_EQ(seenByTheServer(1), second);

    // The connection takes the next step's transaction, without a failure.
    m_run.inOneTransaction([&] { rename(2, "Next"); });
    EXPECT_EQ(m_run.failureCount(), 0);
    EXPECT_EQ(seenByTheServer(2), "Next");
    EXPECT_EQ(seenByTheServer(0), first);
}

TEST_F(OneTransaction, AStepThatFinishesIsCommittedAsOne) {
    m_run.inOneTransaction([&] {
        rename(0, "Both");
        rename(1, "Both");
    });
    EXPECT_EQ(m_run.failureCount(), 0);
    EXPECT_EQ(seenByTheServer(0), "Both");
    EXPECT_EQ(seenByTheServer(1), "Both");
}

TEST_F(OneTransaction, WithoutTheRunsConnectionEachChangeIsItsOwn) {
    // A dry run opens no transaction on its connection: its step's change is on the server
    // before the step ends, and nothing is left open for the next step either.
    RunSettings settings;
    settings.request.dryRun = true;
    ResetRun dry(m_bench.host(), *m_bench.tarvoDb, *m_bench.log, settings);
    dry.connection().Open(dry.connectionText());
    dry.inOneTransaction([&] {
        rename(0, "Own", &dry);
        EXPECT_EQ(seenByTheServer(0), "Own");
    });
    EXPECT_EQ(seenByTheServer(0), "Own");
    dry.connection().Close();
    m_run.inOneTransaction([&] { rename(1, "Grouped"); });
    EXPECT_EQ(m_run.failureCount(), 0);
    EXPECT_EQ(seenByTheServer(1), "Grouped");
}

} // namespace
