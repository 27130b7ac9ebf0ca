// The failed-records file beside the run log: its name, its fields, which subscribers it lists
// and with which reason.
#include "reset_helpers.h"

#include "reset/FailedRecords.h"
#include "select/CsvText.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace zeph;
namespace fs = std::filesystem;

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

TEST_F(FailedRecordsRun, ListsTheSkippedAndFailingSubscribersWithTheirFirstErrorLine) {
    const test::SubscriberFacts ordinary =
        m_bench.find([&](const auto &s) { return m_bench.ordinary(s); });
    const test::SubscriberFacts conflict =
        m_bench.find([&](const auto &s) { return m_bench.conflicting(s); });
    const test::SubscriberFacts noDirectory =
        m_bench.find([](const auto &s) { return s.directoryId.empty(); });
    const test::SubscriberFacts noAddress =
        m_bench.find([](const auto &s) { return !s.smtpAddress && !s.directoryId.empty(); });
    // The ordinary one fails at its removal, with commas in the reason.
    m_bench.db().failingProcedures.emplace(
        "sp_DeleteSubscriber", Error(-2147217900, "refused, by the server, on purpose"));
    for (const auto *s : {&ordinary, &conflict, &noDirectory, &noAddress})
        addRow(*s);
    std::vector<std::string> seen;
    m_bench.log->setLineObserver([&](const std::string &line) { seen.push_back(line); });

    m_bench.run();
    // The file's collector sits in front of the log's own observer, which still sees every
    // line, and is taken out after the run.
    EXPECT_EQ(seen,
              test::readLogFile(m_bench.host().files->nativePath(m_bench.log->LogFilePath())));
    seen.clear();
    m_bench.log->WriteLogLine("after the run");
    EXPECT_EQ(seen, std::vector<std::string>{"after the run"});
    m_bench.log->setLineObserver(nullptr);
    const std::string log = m_bench.log->LogFilePath();
    ASSERT_EQ(m_bench.summary().failedRecordsPath, failedRecordsPath(log))
        << m_bench.summary().failedRecordsProblem;
    EXPECT_EQ(fs::path(m_bench.host().files->nativePath(m_bench.summary().failedRecordsPath))
                  .parent_path(),
              fs::path(m_bench.host().files->nativePath(log)).parent_path());
    const std::vector<std::string> lines = failedLines();
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "alias,extension,reason",
                  ordinary.alias + "," + ordinary.extension +
                      ",(error):-2147217900 (refused; by the server; on purpose) in procedure "
                      "cmdResetSubscribers_Click of Form frmResetSubscribers",
                  conflict.alias + "," + conflict.extension +
                      ",(error) This subscriber has a conflicting ID with another object in the "
                      "database.  This will cause the reset for this user to fail so they are "
                      "being skipped.",
                  noDirectory.alias + "," + noDirectory.extension +
                      ",(error) the directory ID value for this subscriber is NULL which usually "
                      "means they are not represented in the directory.  Skipping resetting this "
                      "subscriber",
                  noAddress.alias + "," + noAddress.extension +
                      ",(error) subscriber has no SMTP address in SQL - this usually means they "
                      "did not get a mailbox created in the mailstore propertly.  Skipping "
                      "message removal",
              }));
    EXPECT_EQ(m_bench.summary().failedRecords.size(), 4u);

    // The file reads back as a subscriber list: the import's own columns, three fields a line.
    const CsvColumns columns = findCsvColumns(lines.at(0), "extension");
    EXPECT_EQ(columns.alias, 0);
    EXPECT_EQ(columns.extension, 1);
    for (const std::string &line : lines)
        EXPECT_EQ(splitFields(line).size(), 3u) << line;
}

} // namespace
