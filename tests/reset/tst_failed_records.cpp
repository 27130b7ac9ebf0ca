// The failed-records file beside the run log: its name, its fields, which subscribers it lists
// and with which reason.
#include "reset_helpers.h"

#include "reset/FailedRecords.h"
#include "select/CsvText.h"

#include <gtest/gtest.h>

using namespace zeph;

TEST(FailedRecordsFile, IsNamedAfterTheLogInItsFolder) {
    const std::pair<const char *, const char *> cases[] = {
        {"C:\\Zephrane\\logs\\Zephrane_Log_20261206_09_15_50.TXT",
         "C:\\Zephrane\\logs\\Zephrane_Failed_20261206_09_15_50.csv"},
        {"/tmp/other.log", "/tmp/Zephrane_Failed_other.csv"},
        {"bare", "Zephrane_Failed_bare.csv"},
    };
    for (const auto &[log, failed] : cases)
        EXPECT_EQ(failedRecordsPath(log), failed) << log;
}

TEST(FailedRecordsFile, FieldsStayImportable) {
    const std::pair<const char *, const char *> cases[] = {
        {"(error):5 (a, b, c) in procedure P", "(error):5 (a; b; c) in procedure P"},
        {"  two\r\nlines\tand tab  ", "two  lines and tab"},
        {"   ", ""},
    };
    for (const auto &[text, field] : cases)
        EXPECT_EQ(failedRecordsField(text), field) << text;
}

TEST(FailedRecordsFile, TheFirstErrorLineOfEachSubscriberIsItsReason) {
    FailedRecords records;
    records.observe("(error) before any subscriber");
    records.beginSubscriber("a", "4001");
    records.observe("    fine");
    records.observe("(warning) not an error");
    records.observe("Something (ERROR) in capitals");
    records.observe("(error) a second one");
    records.endSubscriber();
    records.beginSubscriber("b", "4002");
    records.observe("    fine");
    records.endSubscriber();
    records.beginSubscriber("c,d", "");
    records.observe("(error):5 (x, y) in procedure P of Form F");
    records.endSubscriber();
    records.observe("(error) after the subscribers");

    EXPECT_EQ(records.lines(), (std::vector<std::string>{
                                   "alias,extension,reason",
                                   "a,4001,Something (ERROR) in capitals",
                                   "c;d,,(error):5 (x; y) in procedure P of Form F",
                               }));
}

TEST(FailedRecordsFile, AFileThatCannotBeOpenedThrows) {
    test::TempHost host(2, 1);
    FailedRecords records;
    EXPECT_THROW(records.write(*host.host().files, host.folder() + "/no/such/folder/x.csv"), Error);
}

namespace {

class FailedRecordsRun : public ::testing::Test {
protected:
    test::ResetBench m_bench;

    void addRow(const test::SubscriberFacts &s) {
        m_bench.addRow(s.objectId);
        m_bench.grid.setTextMatrix(m_bench.grid.Rows() - 1, m_bench.grid.ColIndex("Extension"),
                                   s.extension);
    }
    std::vector<std::string> failedLines() {
        return test::readLogFile(
            m_bench.host().files->nativePath(m_bench.summary().failedRecordsPath));
    }
};

// Which subscribers the file names, beside which log, is proved end to end by the terminal
// program's scenarios; here: a reason with commas and the log's own observer.
TEST_F(FailedRecordsRun, AReasonWithCommasStaysOneFieldAndTheLogsObserverStillSeesEveryLine) {
    const test::SubscriberFacts s =
        m_bench.find([&](const auto &f) { return m_bench.ordinary(f); });
    m_bench.db().failingProcedures.emplace(
        "sp_DeleteSubscriber", Error(-2147217900, "refused, by the server, on purpose"));
    addRow(s);
    std::vector<std::string> seen;
    m_bench.log->setLineObserver([&](const std::string &line) { seen.push_back(line); });

    m_bench.run();
    EXPECT_EQ(failedLines(),
              (std::vector<std::string>{
                  "alias,extension,reason",
                  s.alias + "," + s.extension +
                      ",(error):-2147217900 (refused; by the server; on purpose) in procedure "
                      "cmdResetSubscribers_Click of Form frmResetSubscribers"}));
    EXPECT_EQ(splitFields(failedLines().at(1)).size(), 3u);
    EXPECT_EQ(findCsvColumns(failedLines().at(0), "extension").extension, 1);
    // The file's collector sits in front of the log's own observer, which still sees every
    // line, and is taken out after the run.
    EXPECT_EQ(seen,
              test::readLogFile(m_bench.host().files->nativePath(m_bench.log->LogFilePath())));
    seen.clear();
    m_bench.log->WriteLogLine("after the run");
    EXPECT_EQ(seen, std::vector<std::string>{"after the run"});
    m_bench.log->setLineObserver(nullptr);
}

} // namespace
