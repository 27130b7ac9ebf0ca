#include "log/Logging.h"
#include "support/FixedClock.h"
#include "support/TempHost.h"

#include "app/registry/RegistryAPI.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

TimePoint at(int y, unsigned mo, unsigned d, int h, int mi, int s) {
    return test::utcTime(y, mo, d, h, mi, s);
}

// A file system that fails to delete files whose name holds a given text.
class FailingDeletes : public IFileSystem {
public:
    FailingDeletes(std::unique_ptr<IFileSystem> inner, std::string failOn)
        : m_inner(std::move(inner))
        , m_failOn(std::move(failOn)) {}
    bool fileExists(const std::string &p) override { return m_inner->fileExists(p); }
    bool folderExists(const std::string &p) override { return m_inner->folderExists(p); }
    void createFolder(const std::string &p) override { m_inner->createFolder(p); }
    std::vector<FileEntry> listFiles(const std::string &f) override {
        return m_inner->listFiles(f);
    }
    void deleteFile(const std::string &p, bool force) override {
        if (p.find(m_failOn) != std::string::npos)
            throw Error(errnum::kPermissionDenied, "Permission denied");
        m_inner->deleteFile(p, force);
    }
    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &p, bool append) override {
        return m_inner->openTextFile(p, append);
    }
    std::optional<std::string> readFile(const std::string &p) override {
        return m_inner->readFile(p);
    }
    std::string nativePath(const std::string &p) override { return m_inner->nativePath(p); }
    std::string userDataFolder() override { return m_inner->userDataFolder(); }

private:
    std::unique_ptr<IFileSystem> m_inner;
    std::string m_failOn;
};

std::string readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> linesOf(const std::string &content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t end;
    while ((end = content.find("\r\n", start)) != std::string::npos) {
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, content.size()) << "the file does not end with CR LF";
    return lines;
}

void touch(const std::string &path, TimePoint modified) {
    std::ofstream(path) << "old log\r\n";
    fs::last_write_time(path, std::chrono::file_clock::from_sys(modified));
}

class LoggingTest : public ::testing::Test {
protected:
    test::TempHost m_temp{0};
    test::TempFolder m_userData;
    std::string m_savedXdg;

    void SetUp() override {
        const char *xdg = std::getenv("XDG_DATA_HOME");
        m_savedXdg = xdg ? xdg : "";
        ::setenv("XDG_DATA_HOME", m_userData.path().c_str(), 1);
        host().clock = std::make_unique<test::FixedClock>(at(2026, 12, 5, 14, 7, 9));
    }
    void TearDown() override {
        if (m_savedXdg.empty())
            ::unsetenv("XDG_DATA_HOME");
        else
            ::setenv("XDG_DATA_HOME", m_savedXdg.c_str(), 1);
    }

    Host &host() { return m_temp.host(); }
    std::string logs() const { return m_temp.programFolder() + "/logs"; }
    std::string userLogs() const { return m_userData.path() + "/zephrane/logs"; }
    std::string native(const std::string &path) { return host().files->nativePath(path); }
};

} // namespace

TEST(LogFormats, GeneralDateTimeIsUsShortDateAndLongTime) {
    struct Case {
        LocalTime t;
        const char *text;
    } cases[] = {
        {{2026, 12, 5, 14, 7, 9}, "12/5/2026 2:07:09 PM"},
        {{2027, 1, 2, 0, 5, 0}, "1/2/2027 12:05:00 AM"},
        {{2026, 6, 30, 12, 0, 59}, "6/30/2026 12:00:59 PM"},
        {{2026, 6, 30, 11, 59, 59}, "6/30/2026 11:59:59 AM"},
        {{2026, 10, 11, 23, 10, 1}, "10/11/2026 11:10:01 PM"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(generalDateTime(c.t), c.text);
}

TEST(LogFormats, FileTimeStampPadsEveryField) {
    EXPECT_EQ(logFileTimeStamp({2026, 12, 5, 14, 7, 9}), "20261205_14_07_09");
    EXPECT_EQ(logFileTimeStamp({2027, 1, 2, 0, 0, 0}), "20270102_00_00_00");
}

TEST(LogFormats, CalendarDaysIgnoreTheTimeOfDay) {
    struct Case {
        LocalTime from;
        LocalTime to;
        int days;
    } cases[] = {
        {{2026, 12, 5, 23, 59, 59}, {2026, 12, 6, 0, 0, 0}, 1},
        {{2026, 12, 5, 0, 0, 0}, {2026, 12, 5, 23, 59, 59}, 0},
        {{2026, 11, 5, 0, 0, 0}, {2026, 12, 5, 14, 7, 9}, 30},
        {{2026, 11, 4, 23, 59, 59}, {2026, 12, 5, 0, 0, 0}, 31},
        {{2027, 12, 31, 12, 0, 0}, {2028, 3, 1, 12, 0, 0}, 61}, // through 29 February 2028
        {{2026, 12, 6, 0, 0, 0}, {2026, 12, 5, 0, 0, 0}, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(calendarDaysBetween(c.from, c.to), c.days);
}

TEST_F(LoggingTest, NameCarriesTheStartTimeAndTheLogsFolderIsMade) {
    Logging logging(host());
    ASSERT_FALSE(fs::exists(logs()));
    std::string path = logging.GenerateNewLogFileName();
    EXPECT_EQ(path, m_temp.programFolder() + "\\logs\\Zephrane_Log_20261205_14_07_09.TXT");
    EXPECT_TRUE(fs::is_directory(logs()));
    EXPECT_FALSE(fs::exists(native(path))) << "the name is given, the file is not made";
    EXPECT_TRUE(logging.LogFallbackReason().empty());
    EXPECT_TRUE(m_temp.ui().boxes().empty());
}

TEST_F(LoggingTest, HeaderLineByLine) {
    RegistryAPI(*host().registry)
        .SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Dravik", "ObjectName",
                  REG_SZ, std::string("ACME\\msgsvc"));
    auto *info = host().workstation.get();
    std::string domain = info->info102()->langroup;
    std::string user = info->userInfo1()->userName;

    Logging logging(host());
    std::string path = logging.GenerateNewLogFileName();
    logging.WriteLogHeader(path, false);
    EXPECT_EQ(logging.LogFilePath(), path);
    EXPECT_TRUE(logging.IsLogOpen());
    std::string stars(61, '*');
    std::vector<std::string> expected = {
        "",
        stars,
        "Running zephrane version: 1.0.5",
        "",
        "Logged in user=" + domain + "\\" + user,
        "Dravik service account=ACME\\msgsvc",
        "Search for '(error)' or '(warning)' to find logged errors and warnings during the "
        "import process.",
        "",
        stars,
        "",
        "Starting process at:12/5/2026 2:07:09 PM",
        "",
    };
    EXPECT_EQ(linesOf(readAll(native(path))), expected);
    EXPECT_EQ(logging.LogErrorCount(), 0);
    EXPECT_EQ(logging.LogWarningCount(), 0);
}

TEST_F(LoggingTest, MissingServiceAccountLeavesItsPartEmpty) {
    RegistryAPI(*host().registry)
        .DeleteValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Dravik",
                     "ObjectName");
    Logging logging(host());
    std::string path = logging.GenerateNewLogFileName();
    logging.WriteLogHeader(path, false);
    EXPECT_EQ(linesOf(readAll(native(path))).at(5), "Dravik service account=");
}

TEST_F(LoggingTest, LinesEndWithCrLfAndEmbeddedBreaksMakeEmptyLines) {
    Logging logging(host());
    std::string path = logging.GenerateNewLogFileName();
    logging.WriteLogHeader(path, false);
    logging.WriteLogLine("\r\nSubscriber jdoe reset");
    logging.WriteLogLine("");
    auto lines = linesOf(readAll(native(path)));
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[12], "");
    EXPECT_EQ(lines[13], "Subscriber jdoe reset");
    EXPECT_EQ(lines[14], "");
}

TEST_F(LoggingTest, SecondRunInTheSameSecondOverwritesTheFirst) {
    Logging logging(host());
    std::string first = logging.GenerateNewLogFileName();
    logging.WriteLogHeader(first, false);
    logging.WriteLogLine("first run (error) here");
    logging.CloseLogFile();
    std::string second = logging.GenerateNewLogFileName();
    EXPECT_EQ(second, first);
    logging.WriteLogHeader(second, false);
    logging.WriteLogLine("second run");
    logging.CloseLogFile();
    std::string content = readAll(native(second));
    EXPECT_EQ(content.find("first run"), std::string::npos);
    EXPECT_NE(content.find("second run"), std::string::npos);
    EXPECT_EQ(logging.LogErrorCount(), 0);
}

TEST_F(LoggingTest, HeaderCanAppend) {
    Logging logging(host());
    std::string path = logging.GenerateNewLogFileName();
    logging.WriteLogHeader(path, false);
    logging.WriteLogLine("kept");
    logging.WriteLogHeader(path, true);
    auto lines = linesOf(readAll(native(path)));
    EXPECT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[12], "kept");
}

TEST_F(LoggingTest, PurgeCountsCalendarDaysNotElapsedDays) {
    fs::create_directories(logs() + "/archive");
    touch(logs() + "/day30.TXT", at(2026, 11, 5, 0, 0, 0));     // 30 days, 30.6 elapsed
    touch(logs() + "/day31.log", at(2026, 11, 4, 23, 59, 59));  // 31 days, 30.6 elapsed
    touch(logs() + "/notes", at(2026, 1, 1, 0, 0, 0));          // any name goes
    touch(logs() + "/readonly.TXT", at(2026, 10, 1, 12, 0, 0)); // read-only goes too
    fs::permissions(logs() + "/readonly.TXT", fs::perms::owner_read | fs::perms::group_read);
    touch(logs() + "/tomorrow.TXT", at(2026, 12, 6, 9, 0, 0));
    touch(logs() + "/archive/ancient.TXT", at(2025, 1, 1, 0, 0, 0)); // sub-folders stay

    Logging logging(host());
    logging.GenerateNewLogFileName();
    EXPECT_TRUE(fs::exists(logs() + "/day30.TXT"));
    EXPECT_FALSE(fs::exists(logs() + "/day31.log"));
    EXPECT_FALSE(fs::exists(logs() + "/notes"));
    EXPECT_FALSE(fs::exists(logs() + "/readonly.TXT"));
    EXPECT_TRUE(fs::exists(logs() + "/tomorrow.TXT"));
    EXPECT_TRUE(fs::exists(logs() + "/archive/ancient.TXT"));
    EXPECT_TRUE(m_temp.ui().boxes().empty());
}

TEST_F(LoggingTest, PurgeWithoutLogsFolderDoesNothing) {
    Logging logging(host());
    logging.CleanupLogFiles();
    EXPECT_FALSE(fs::exists(logs()));
    EXPECT_TRUE(m_temp.ui().boxes().empty());
}

TEST_F(LoggingTest, FileThatCannotBeDeletedIsReportedAndThePurgeGoesOn) {
    fs::create_directories(logs());
    touch(logs() + "/a_stuck.TXT", at(2026, 1, 1, 0, 0, 0));
    touch(logs() + "/b_old.TXT", at(2026, 1, 1, 0, 0, 0));
    host().files = std::make_unique<FailingDeletes>(std::move(host().files), "a_stuck");
    m_temp.ui().expectBox("(error):70 (Permission denied) in procedure CleanupLogFiles of Module "
                          "Module1");
    Logging logging(host());
    logging.CleanupLogFiles();
    m_temp.ui().verifyAllShown();
    EXPECT_TRUE(fs::exists(logs() + "/a_stuck.TXT"));
    EXPECT_FALSE(fs::exists(logs() + "/b_old.TXT"));
}

TEST_F(LoggingTest, MarkersCountWithoutRegardToCase) {
    Logging logging(host());
    logging.WriteLogHeader(logging.GenerateNewLogFileName(), false);
    EXPECT_EQ(logging.LogErrorCount(), 0);
    EXPECT_EQ(logging.LogWarningCount(), 0);
    struct Line {
        const char *text;
        int errors;
        int warnings;
    } lines[] = {
        {"(ERROR) could not delete greeting", 1, 0},
        {"Mailbox: (Warning): no messages folder", 1, 1},
        {"(error) and (warning) in one line", 2, 2},
        {"(error)(error) counts once", 3, 2},
        {"error without parentheses", 3, 2},
        {"(errors) is no marker", 3, 2},
        {"mid-line marker x(eRRoR)y", 4, 2},
    };
    for (const Line &line : lines) {
        logging.WriteLogLine(line.text);
        EXPECT_EQ(logging.LogErrorCount(), line.errors) << line.text;
        EXPECT_EQ(logging.LogWarningCount(), line.warnings) << line.text;
    }
}

TEST_F(LoggingTest, CountsStopAtTheTopOfSixteenBits) {
    Logging logging(host()); // no file: lines are counted but not written
    for (int i = 0; i < 32770; ++i)
        logging.WriteLogLine("(error) (warning)");
    EXPECT_EQ(logging.LogErrorCount(), 32767);
    EXPECT_EQ(logging.LogWarningCount(), 32767);
}

TEST_F(LoggingTest, EachLineLetsTheUserInterfaceRunOnce) {
    Logging logging(host());
    std::string path = logging.GenerateNewLogFileName();
    int before = m_temp.ui().doEventsCount();
    logging.WriteLogHeader(path, false);
    EXPECT_EQ(m_temp.ui().doEventsCount(), before + 12);
    logging.WriteLogLine("one");
    logging.WriteLogLine("two");
    EXPECT_EQ(m_temp.ui().doEventsCount(), before + 14);
}

TEST_F(LoggingTest, ClosingTwiceOrBeforeAnyHeaderDoesNothingVisible) {
    Logging logging(host());
    logging.CloseLogFile();
    logging.CloseLogFile();
    EXPECT_EQ(logging.LogFilePath(), "");
    std::string path = logging.GenerateNewLogFileName();
    logging.WriteLogHeader(path, false);
    logging.WriteLogLine("(error) one");
    logging.CloseLogFile();
    logging.CloseLogFile();
    EXPECT_FALSE(logging.IsLogOpen());
    // The summary and the offer to view the log read these after closing.
    EXPECT_EQ(logging.LogFilePath(), path);
    EXPECT_EQ(logging.LogErrorCount(), 1);
    logging.WriteLogLine("after closing");
    EXPECT_EQ(readAll(native(path)).find("after closing"), std::string::npos);
    EXPECT_TRUE(m_temp.ui().boxes().empty());
}

TEST_F(LoggingTest, LogsFolderThatCannotBeMadeSendsTheLogToTheUsersFolder) {
    std::ofstream(logs()) << "a file where the folder should be";
    m_temp.ui().expectBox("in procedure GenerateNewLogFileName of Module Module1");
    Logging logging(host());
    std::string path = logging.GenerateNewLogFileName();
    m_temp.ui().verifyAllShown();
    ASSERT_EQ(m_temp.ui().boxes().size(), 1u);
    EXPECT_EQ(m_temp.ui().boxes()[0].text.rfind("(error):", 0), 0u);
    EXPECT_EQ(native(path), userLogs() + "/Zephrane_Log_20261205_14_07_09.TXT");

    logging.WriteLogHeader(path, false);
    logging.WriteLogLine("Subscriber jdoe reset");
    EXPECT_TRUE(logging.IsLogOpen());
    EXPECT_EQ(logging.LogFilePath(), path);
    EXPECT_NE(readAll(native(path)).find("Subscriber jdoe reset"), std::string::npos);
    const std::string &reason = logging.LogFallbackReason();
    EXPECT_NE(reason.find(native(logging.logFolder())), std::string::npos) << reason;
    EXPECT_NE(reason.find(userLogs()), std::string::npos) << reason;
}

TEST_F(LoggingTest, LogFileThatCannotBeOpenedGoesToTheUsersFolder) {
    Logging logging(host());
    std::string path = logging.GenerateNewLogFileName();
    fs::create_directories(native(path)); // a folder by the log file's name
    logging.WriteLogHeader(path, false);
    logging.WriteLogLine("(error) line");
    std::string moved = userLogs() + "/Zephrane_Log_20261205_14_07_09.TXT";
    EXPECT_EQ(native(logging.LogFilePath()), moved);
    EXPECT_NE(readAll(moved).find("(error) line"), std::string::npos);
    EXPECT_EQ(logging.LogErrorCount(), 1);
    EXPECT_NE(logging.LogFallbackReason().find(moved), std::string::npos);
    EXPECT_TRUE(m_temp.ui().boxes().empty()) << "writing the log reports nothing";

    // The next run that can use the program's folder again says nothing more.
    fs::remove(native(path));
    logging.WriteLogHeader(logging.GenerateNewLogFileName(), false);
    EXPECT_EQ(logging.LogFilePath(), path);
    EXPECT_EQ(logging.LogFallbackReason(), "");
}

TEST_F(LoggingTest, NoWritableFolderAnywhereIsToldNotHidden) {
    std::ofstream(logs()) << "blocks the logs folder";
    std::ofstream(m_userData.path() + "/zephrane") << "blocks the user's folder";
    m_temp.ui().expectBox("in procedure GenerateNewLogFileName of Module Module1");
    Logging logging(host());
    std::string path = logging.GenerateNewLogFileName();
    logging.WriteLogHeader(path, false);
    logging.WriteLogLine("(warning) counted all the same");
    EXPECT_FALSE(logging.IsLogOpen());
    EXPECT_EQ(logging.LogWarningCount(), 1);
    EXPECT_NE(logging.LogFallbackReason().find("no log"), std::string::npos)
        << logging.LogFallbackReason();
}

TEST_F(LoggingTest, WrittenLinesSurviveAProcessThatNeverClosesTheLog) {
    Logging probe(host());
    std::string path = probe.GenerateNewLogFileName();
    EXPECT_EXIT(
        {
            Logging logging(host());
            logging.WriteLogHeader(path, false);
            logging.WriteLogLine("deleted subscriber jdoe");
            std::_Exit(3); // no destructor, no close, no flush
        },
        ::testing::ExitedWithCode(3), "");
    auto lines = linesOf(readAll(native(path)));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[12], "deleted subscriber jdoe");
}

namespace {

class FixedWorkstation : public IWorkstation {
public:
    std::int32_t osPlatformId() override { return 2; }
    std::optional<WkstaInfo102> info102() override {
        WkstaInfo102 info;
        info.langroup = "ACME";
        return info;
    }
    std::optional<WkstaUserInfo1> userInfo1() override {
        WkstaUserInfo1 info;
        info.userName = "jdoe";
        return info;
    }
};

} // namespace

TEST_F(LoggingTest, UserLineComesFromTheSharedWorkstationInfo) {
    FixedWorkstation workstation;
    WorkStationInfo shared(workstation);
    Logging logging(host(), &shared);
    std::string path = logging.GenerateNewLogFileName();
    logging.WriteLogHeader(path, false);
    EXPECT_EQ(linesOf(readAll(native(path))).at(4), "Logged in user=ACME\\jdoe");
}
