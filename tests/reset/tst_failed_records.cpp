// The failed-records file beside the run log: its name, its fields, which subscribers it lists
// and with which reason, after whole runs on a seeded stand-in host.
#include "reset_helpers.h"

#include "reset/FailedRecords.h"
#include "select/CsvText.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

bool hasErrorMarker(std::string line) {
    for (char &c : line)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return line.find("(error)") != std::string::npos;
}

// The records the log itself gives: per subscriber (from its start line to the next one or to
// the run's end lines) the first line with the error marker.
std::vector<std::string> firstErrorsPerSubscriber(const std::vector<std::string> &runLines) {
    std::vector<std::string> firsts;
    bool inSubscriber = false, found = false;
    for (const std::string &line : runLines) {
        if (line == "** Resetting Subscriber **") {
            inSubscriber = true;
            found = false;
        } else if (line.rfind("** Starting synchronization", 0) == 0 ||
                   line.rfind("** Skipping synchronization", 0) == 0) {
            inSubscriber = false;
        } else if (inSubscriber && !found && hasErrorMarker(line)) {
            found = true;
            firsts.push_back(line);
        }
    }
    return firsts;
}

class FailedRecordsRun : public ::testing::Test {
protected:
    test::ResetBench m_bench{20, 1};

    void addRow(const test::SubscriberFacts &s) {
        m_bench.addRow(s.objectId);
        m_bench.grid.setTextMatrix(m_bench.grid.Rows() - 1, m_bench.grid.ColIndex("Extension"),
                                   s.extension);
    }
    std::string failedFile() const {
        const auto &summary = m_bench.page->summary();
        return summary ? summary->failedRecordsPath : std::string();
    }
    std::vector<std::string> failedLines() {
        return test::readLogFile(m_bench.host().files->nativePath(failedFile()));
    }
};

} // namespace

TEST(FailedRecordsFile, IsNamedAfterTheLogInItsFolder) {
    struct Case {
        const char *log;
        const char *failed;
    };
    const Case cases[] = {
        {"C:\\Zephrane\\logs\\Zephrane_Log_20261206_09_15_50.TXT",
         "C:\\Zephrane\\logs\\Zephrane_Failed_20261206_09_15_50.csv"},
        {"/home/a/.local/share/zephrane/logs\\Zephrane_Log_20260101_00_00_00.TXT",
         "/home/a/.local/share/zephrane/logs\\Zephrane_Failed_20260101_00_00_00.csv"},
        {"/tmp/other.log", "/tmp/Zephrane_Failed_other.csv"},
        {"bare", "Zephrane_Failed_bare.csv"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(failedRecordsPath(c.log), c.failed) << c.log;
}

TEST(FailedRecordsFile, FieldsStayImportable) {
    struct Case {
        const char *text;
        const char *field;
    };
    const Case cases[] = {
        {"(error) plain", "(error) plain"},
        {"(error):5 (a, b, c) in procedure P", "(error):5 (a; b; c) in procedure P"},
        {"  two\r\nlines\tand tab  ", "two  lines and tab"},
        {"   ", ""},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(failedRecordsField(c.text), c.field) << c.text;
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

TEST_F(FailedRecordsRun, ListsTheSkippedAndFailingSubscribersWithTheirFirstErrorLine) {
    const test::SubscriberFacts conflict =
        m_bench.find([&](const auto &s) { return m_bench.conflicting(s); });
    const test::SubscriberFacts noDirectory =
        m_bench.find([](const auto &s) { return s.directoryId.empty(); });
    const test::SubscriberFacts noAddress =
        m_bench.find([](const auto &s) { return !s.smtpAddress && !s.directoryId.empty(); });
    const test::SubscriberFacts ordinary =
        m_bench.find([&](const auto &s) { return m_bench.ordinary(s); });
    for (const auto *s : {&ordinary, &conflict, &noDirectory, &noAddress})
        addRow(*s);

    const std::vector<std::string> runLines = m_bench.run();
    const std::string log = m_bench.log->LogFilePath();
    ASSERT_FALSE(failedFile().empty()) << m_bench.page->summary()->failedRecordsProblem;
    EXPECT_EQ(failedFile(), failedRecordsPath(log));
    EXPECT_EQ(fs::path(m_bench.host().files->nativePath(failedFile())).parent_path(),
              fs::path(m_bench.host().files->nativePath(log)).parent_path());

    const std::vector<std::string> reasons = firstErrorsPerSubscriber(runLines);
    ASSERT_EQ(reasons.size(), 3u) << "the ordinary subscriber logs no error";
    const std::vector<std::string> expected = {
        "alias,extension,reason",
        conflict.alias + "," + conflict.extension + "," + failedRecordsField(reasons[0]),
        noDirectory.alias + "," + noDirectory.extension + "," + failedRecordsField(reasons[1]),
        noAddress.alias + "," + noAddress.extension + "," + failedRecordsField(reasons[2]),
    };
    EXPECT_EQ(failedLines(), expected);
    EXPECT_EQ(reasons[0].rfind("(error) This subscriber has a conflicting ID", 0), 0u);
    EXPECT_EQ(reasons[1].rfind("(error) the directory ID value for this subscriber is NULL", 0),
              0u);
    EXPECT_EQ(reasons[2].rfind("(error) subscriber has no SMTP address", 0), 0u);
    EXPECT_EQ(m_bench.page->summary()->failedRecords.size(), 3u);

    // The file reads back as a subscriber list: the import's own columns, three fields a line.
    const std::vector<std::string> lines = failedLines();
    const CsvColumns columns = findCsvColumns(lines.front(), "extension");
    EXPECT_EQ(columns.alias, 0);
    EXPECT_EQ(columns.extension, 1);
    for (const std::string &line : lines)
        EXPECT_EQ(splitFields(line).size(), 3u) << line;
}

TEST_F(FailedRecordsRun, AReasonWithCommasKeepsTheLineImportable) {
    const test::SubscriberFacts ordinary =
        m_bench.find([&](const auto &s) { return m_bench.ordinary(s); });
    m_bench.db().failingProcedures.emplace(
        "sp_DeleteSubscriber", Error(-2147217900, "refused, by the server, on purpose"));
    addRow(ordinary);
    m_bench.run();
    const std::vector<std::string> lines = failedLines();
    ASSERT_EQ(lines.size(), 2u);
    const auto fields = splitFields(lines[1]);
    ASSERT_EQ(fields.size(), 3u) << lines[1];
    EXPECT_EQ(fields[0], ordinary.alias);
    EXPECT_NE(fields[2].find("refused; by the server; on purpose"), std::string::npos) << lines[1];
}

TEST_F(FailedRecordsRun, ARunWithoutErrorsWritesTheHeaderOnly) {
    addRow(m_bench.find([&](const auto &s) { return m_bench.ordinary(s); }));
    const std::vector<std::string> runLines = m_bench.run();
    ASSERT_TRUE(firstErrorsPerSubscriber(runLines).empty());
    EXPECT_EQ(failedLines(), std::vector<std::string>{"alias,extension,reason"});
    EXPECT_TRUE(m_bench.page->summary()->failedRecordsProblem.empty());
}

TEST_F(FailedRecordsRun, TheLogsOwnObserverStillSeesEveryLine) {
    const test::SubscriberFacts conflict =
        m_bench.find([&](const auto &s) { return m_bench.conflicting(s); });
    addRow(conflict);
    std::vector<std::string> seen;
    m_bench.log->setLineObserver([&](const std::string &line) { seen.push_back(line); });
    m_bench.run();
    const std::vector<std::string> fileLines =
        test::readLogFile(m_bench.host().files->nativePath(m_bench.log->LogFilePath()));
    EXPECT_EQ(seen, fileLines) << "every line, header included, reaches the log's observer";
    EXPECT_EQ(failedLines().size(), 2u);
    // After the run the log's observer is the one set before it, not one that holds the page.
    seen.clear();
    m_bench.log->WriteLogLine("after the run");
    EXPECT_EQ(seen, std::vector<std::string>{"after the run"});
    m_bench.log->setLineObserver(nullptr);
}
