#include "app/registry/RegistryAPI.h"
#include "log/Logging.h"
#include "support/FixedClock.h"
#include "support/TempHost.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace zeph;
namespace fs = std::filesystem;
using test::utcTime;
using Lines = std::vector<std::string>;

namespace {

const std::string kLogName = "Zephrane_Log_20261205_14_07_09.TXT";

// A file system that fails to delete files whose name holds a given text.
class FailingDeletes : public IFileSystem {
public:
    FailingDeletes(std::unique_ptr<IFileSystem> inner, std::string failOn)
        : m_in(std::move(inner))
        , m_failOn(std::move(failOn)) {}
    bool fileExists(const std::string &p) override { return m_in->fileExists(p); }
    bool folderExists(const std::string &p) override { return m_in->folderExists(p); }
    void createFolder(const std::string &p) override { m_in->createFolder(p); }
    std::vector<FileEntry> listFiles(const std::string &f) override { return m_in->listFiles(f); }
    void deleteFile(const std::string &p, bool force) override {
        if (p.find(m_failOn) != std::string::npos)
            throw Error(errnum::kPermissionDenied, "Permission denied");
        m_in->deleteFile(p, force);
    }
    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &p, bool append) override {
        return m_in->openTextFile(p, append);
    }
    std::optional<std::string> readFile(const std::string &p) override { return m_in->readFile(p); }
    std::string nativePath(const std::string &p) override { return m_in->nativePath(p); }
    std::string userDataFolder() override { return m_in->userDataFolder(); }

private:
    std::unique_ptr<IFileSystem> m_in;
    std::string m_failOn;
};

// The file's lines; every line must end with CR LF.
Lines linesOf(const std::string &path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string content = s.str();
    Lines lines;
    std::size_t start = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    EXPECT_EQ(start, content.size()) << "the file does not end with CR LF";
    return lines;
}

void touch(const std::string &path, TimePoint modified) {
    std::ofstream(path) << "old log\r\n";
    fs::last_write_time(path, std::chrono::file_clock::from_sys(modified));
}

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char *xdg = std::getenv("XDG_DATA_HOME");
        m_savedXdg = xdg ? std::optional<std::string>(xdg) : std::nullopt;
        ::setenv("XDG_DATA_HOME", m_userData.path().c_str(), 1);
        host().clock = std::make_unique<test::FixedClock>(utcTime(2026, 12, 5, 14, 7, 9));
    }
    void TearDown() override {
        if (m_savedXdg)
            ::setenv("XDG_DATA_HOME", m_savedXdg->c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }

    Host &host() { return m_temp.host(); }
    std::string logs() const { return m_temp.programFolder() + "/logs"; }
    std::string userLogs() const { return m_userData.path() + "/zephrane/logs"; }
    std::string native(const std::string &path) { return host().files->nativePath(path); }
    // A new log with its header written; returns its path.
    std::string started(Logging &logging) {
        const std::string path = logging.GenerateNewLogFileName();
        logging.WriteLogHeader(path, false);
        return path;
    }

    test::TempHost m_temp{0};
    test::TempFolder m_userData;
    std::optional<std::string> m_savedXdg;
};

} // namespace

TEST(LogFormats, DatesAndTimesAsTheLogWritesThem) {
    const std::pair<LocalTime, const char *> general[] = {
        {{2026, 12, 5, 14, 7, 9}, "12/5/2026 2:07:09 PM"},
        {{2027, 1, 2, 0, 5, 0}, "1/2/2027 12:05:00 AM"},
        {{2026, 6, 30, 12, 0, 59}, "6/30/2026 12:00:59 PM"},
        {{2026, 10, 11, 11, 59, 59}, "10/11/2026 11:59:59 AM"},
    };
    for (const auto &[t, text] : general)
        EXPECT_EQ(generalDateTime(t), text);
    EXPECT_EQ(logFileTimeStamp({2027, 1, 2, 0, 0, 0}), "20270102_00_00_00");
    EXPECT_EQ(logFileTimeStamp({2026, 12, 5, 14, 7, 9}), "20261205_14_07_09");

    struct Days {
        LocalTime from, to;
        int days;
    };
    const Days days[] = {
        {{2026, 12, 5, 23, 59, 59}, {2026, 12, 6, 0, 0, 0}, 1},
        {{2026, 12, 5, 0, 0, 0}, {2026, 12, 5, 23, 59, 59}, 0},
        {{2027, 12, 31, 12, 0, 0}, {2028, 3, 1, 12, 0, 0}, 61}, // through 29 February 2028
        {{2026, 12, 6, 0, 0, 0}, {2026, 12, 5, 0, 0, 0}, -1},
    };
    for (const Days &d : days)
        EXPECT_EQ(calendarDaysBetween(d.from, d.to), d.days);
}

TEST_F(LoggingTest, NameCarriesTheStartTimeAndTheLogsFolderIsMade) {
    Logging logging(host());
    const std::string path = logging.GenerateNewLogFileName();
    EXPECT_EQ(path, m_temp.programFolder() + "\\logs\\" + kLogName);
    EXPECT_TRUE(fs::is_directory(logs()));
    EXPECT_FALSE(fs::exists(native(path))) << "the name is given, the file is not made";
    EXPECT_TRUE(logging.LogFallbackReason().empty());
    EXPECT_TRUE(m_temp.ui().boxes().empty());
}

TEST_F(LoggingTest, HeaderLineByLine) {
    RegistryAPI registry(*host().registry);
    const std::string service = "SYSTEM\\CurrentControlSet\\Services\\Dravik";
    registry.SetValue(HKEY_LOCAL_MACHINE, service, "ObjectName", REG_SZ, std::string("ACME\\svc"));
    auto *info = host().workstation.get();
    Logging logging(host());
    const std::string path = started(logging);
    EXPECT_EQ(logging.LogFilePath(), path);
    const std::string stars(61, '*');
    EXPECT_EQ(
        linesOf(native(path)),
        (Lines{"", stars, "Running zephrane version: 1.0.5", "",
               "Logged in user=" + info->info102()->langroup + "\\" + info->userInfo1()->userName,
               "Dravik service account=ACME\\svc",
               "Search for '(error)' or '(warning)' to find logged errors and warnings "
               "during the import process.",
               "", stars, "", "Starting process at:12/5/2026 2:07:09 PM", ""}));

    registry.DeleteValue(HKEY_LOCAL_MACHINE, service, "ObjectName");
    Logging second(host());
    EXPECT_EQ(linesOf(native(started(second))).at(5), "Dravik service account=");
}

TEST_F(LoggingTest, LinesAppendOrReplaceAndEmbeddedBreaksMakeEmptyLines) {
    Logging logging(host());
    logging.CloseLogFile(); // before any header: nothing happens
    EXPECT_EQ(logging.LogFilePath(), "");
    const std::string path = started(logging);
    logging.WriteLogLine("\r\nSubscriber jdoe reset");
    logging.WriteLogLine("");
    Lines lines = linesOf(native(path));
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(Lines(lines.begin() + 12, lines.end()), (Lines{"", "Subscriber jdoe reset", ""}));
    logging.WriteLogHeader(path, true);
    EXPECT_EQ(linesOf(native(path)).size(), 27u);

    // A second run in the same second gets the same name and replaces the first run's file.
    logging.WriteLogLine("first run (error) here");
    logging.CloseLogFile();
    EXPECT_EQ(started(logging), path);
    logging.WriteLogLine("second run");
    lines = linesOf(native(path));
    EXPECT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines.back(), "second run");
    EXPECT_EQ(logging.LogErrorCount(), 0);

    // The summary and the offer to view the log read path and counts after closing.
    logging.WriteLogLine("(error) one");
    logging.CloseLogFile();
    logging.CloseLogFile();
    EXPECT_FALSE(logging.IsLogOpen());
    EXPECT_EQ(logging.LogFilePath(), path);
    EXPECT_EQ(logging.LogErrorCount(), 1);
    logging.WriteLogLine("after closing");
    EXPECT_EQ(linesOf(native(path)).back(), "(error) one");
}

TEST_F(LoggingTest, PurgeCountsCalendarDaysNotElapsedDays) {
    Logging logging(host());
    logging.CleanupLogFiles(); // without a logs folder: nothing to do, nothing made
    EXPECT_FALSE(fs::exists(logs()));

    fs::create_directories(logs() + "/archive");
    touch(logs() + "/day30.TXT", utcTime(2026, 11, 5, 0, 0, 0));     // 30 days, 30.6 elapsed
    touch(logs() + "/day31.log", utcTime(2026, 11, 4, 23, 59, 59));  // 31 days, 30.6 elapsed
    touch(logs() + "/notes", utcTime(2026, 1, 1, 0, 0, 0));          // any name goes
    touch(logs() + "/readonly.TXT", utcTime(2026, 10, 1, 12, 0, 0)); // read-only goes too
    fs::permissions(logs() + "/readonly.TXT", fs::perms::owner_read | fs::perms::group_read);
    touch(logs() + "/tomorrow.TXT", utcTime(2026, 12, 6, 9, 0, 0));
    touch(logs() + "/archive/ancient.TXT", utcTime(2025, 1, 1, 0, 0, 0)); // sub-folders stay
    logging.GenerateNewLogFileName();
    for (const char *kept : {"day30.TXT", "tomorrow.TXT", "archive/ancient.TXT"})
        EXPECT_TRUE(fs::exists(logs() + "/" + kept)) << kept;
    for (const char *gone : {"day31.log", "notes", "readonly.TXT"})
        EXPECT_FALSE(fs::exists(logs() + "/" + gone)) << gone;
    EXPECT_TRUE(m_temp.ui().boxes().empty());
}

TEST_F(LoggingTest, FileThatCannotBeDeletedIsReportedAndThePurgeGoesOn) {
    fs::create_directories(logs());
    touch(logs() + "/a_stuck.TXT", utcTime(2026, 1, 1, 0, 0, 0));
    touch(logs() + "/b_old.TXT", utcTime(2026, 1, 1, 0, 0, 0));
    host().files = std::make_unique<FailingDeletes>(std::move(host().files), "a_stuck");
    m_temp.ui().expectBox("(error):70 (Permission denied) in procedure CleanupLogFiles of Module "
                          "Module1");
    Logging(host()).CleanupLogFiles();
    m_temp.ui().verifyAllShown();
    EXPECT_TRUE(fs::exists(logs() + "/a_stuck.TXT"));
    EXPECT_FALSE(fs::exists(logs() + "/b_old.TXT"));
}

TEST_F(LoggingTest, MarkersCountWithoutRegardToCaseOncePerLine) {
    Logging logging(host());
    const int doEvents = m_temp.ui().doEventsCount();
    started(logging);
    EXPECT_EQ(m_temp.ui().doEventsCount(), doEvents + 12) << "each line lets the window run once";
    struct Line {
        const char *text;
        int errors, warnings;
    };
    const Line lines[] = {
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
    EXPECT_EQ(m_temp.ui().doEventsCount(), doEvents + 19);
}

TEST_F(LoggingTest, CountsStopAtTheTopOfSixteenBits) {
    Logging logging(host()); // no file: lines are counted but not written
    for (int i = 0; i < 32770; ++i)
        logging.WriteLogLine("(error) (warning)");
    EXPECT_EQ(logging.LogErrorCount(), 32767);
    EXPECT_EQ(logging.LogWarningCount(), 32767);
}

TEST_F(LoggingTest, LogFileThatCannotBeOpenedGoesToTheUsersFolder) {
    Logging logging(host());
    const std::string path = logging.GenerateNewLogFileName();
    fs::create_directories(native(path)); // a folder by the log file's name
    logging.WriteLogHeader(path, false);
    logging.WriteLogLine("(error) line");
    const std::string moved = userLogs() + "/" + kLogName;
    EXPECT_EQ(native(logging.LogFilePath()), moved);
    EXPECT_EQ(linesOf(moved).back(), "(error) line");
    EXPECT_EQ(logging.LogErrorCount(), 1);
    EXPECT_NE(logging.LogFallbackReason().find(moved), std::string::npos);
    EXPECT_TRUE(m_temp.ui().boxes().empty()) << "writing the log reports nothing";

    // The next run that can use the program's folder again says nothing more.
    fs::remove(native(path));
    EXPECT_EQ(started(logging), path);
    EXPECT_EQ(logging.LogFilePath(), path);
    EXPECT_EQ(logging.LogFallbackReason(), "");
}

TEST_F(LoggingTest, NoWritableFolderAnywhereIsToldNotHidden) {
    std::ofstream(logs()) << "blocks the logs folder";
    std::ofstream(m_userData.path() + "/zephrane") << "blocks the user's folder";
    m_temp.ui().expectBox("in procedure GenerateNewLogFileName of Module Module1");
    Logging logging(host());
    started(logging);
    logging.WriteLogLine("(warning) counted all the same");
    EXPECT_FALSE(logging.IsLogOpen());
    EXPECT_EQ(logging.LogWarningCount(), 1);
    EXPECT_NE(logging.LogFallbackReason().find("no log"), std::string::npos)
        << logging.LogFallbackReason();
}

TEST_F(LoggingTest, WrittenLinesSurviveAProcessThatNeverClosesTheLog) {
    const std::string path = Logging(host()).GenerateNewLogFileName();
    EXPECT_EXIT(
        {
            Logging logging(host());
            logging.WriteLogHeader(path, false);
            logging.WriteLogLine("deleted subscriber jdoe");
            std::_Exit(3); // no destructor, no close, no flush
        },
        ::testing::ExitedWithCode(3), "");
    const Lines lines = linesOf(native(path));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[12], "deleted subscriber jdoe");
}
