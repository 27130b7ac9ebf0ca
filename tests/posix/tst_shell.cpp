// How the shell reads a command line: quotes, the text viewer's unquoted path, and program
// paths with blanks.
#include "platform/posix/Posix.h"
#include "support/TempHost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

namespace {

// Replaces every "{dir}" with the folder.
std::string placed(std::string text, const std::string &dir) {
    for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;)
        text.replace(at, 5, dir);
    return text;
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_dir.path() + "/my logs");
        fs::create_directories(m_dir.path() + "/Program Files/Zephrane");
        fs::create_directories(m_dir.path() + "/Program"); // a folder is no program
        std::ofstream(m_dir.path() + "/my logs/Zephrane_Log 1.TXT") << "log\r\n";
        for (const char *script : {"/Program Files/Zephrane/test.bat", "/tool"}) {
            std::ofstream(m_dir.path() + script) << "#!/bin/sh\n";
            fs::permissions(m_dir.path() + script, fs::perms::owner_all);
        }
    }
    zeph::test::TempFolder m_dir;
};

} // namespace

TEST_F(Shell, ReadsCommandLinesAsTheSystemDoes) {
    const std::pair<const char *, Words> cases[] = {
        // The run log's path is written unquoted after "notepad".
        {"notepad {dir}/my logs/Zephrane_Log 1.TXT",
         {"xdg-open", "{dir}/my logs/Zephrane_Log 1.TXT"}},
        {"notepad.exe \"{dir}/my logs/Zephrane_Log 1.TXT\" ",
         {"xdg-open", "{dir}/my logs/Zephrane_Log 1.TXT"}},
        {"notepad {dir}/no such/file.TXT", {"xdg-open", "{dir}/no", "such/file.TXT"}},
        // The start-up script beside a program in a folder with blanks.
        {"{dir}/Program Files/Zephrane\\test.bat 1.0.5 http://tools/App.htm",
         {"{dir}/Program Files/Zephrane/test.bat", "1.0.5", "http://tools/App.htm"}},
        {"\"{dir}/Program Files/Zephrane/test.bat\" \"two words\" x\"y z\"",
         {"{dir}/Program Files/Zephrane/test.bat", "two words", "xy z"}},
        {"{dir}/tool a  \tb \"\"", {"{dir}/tool", "a", "b", ""}},
        {"{dir}/nothing here at all", {"{dir}/nothing", "here", "at", "all"}},
        {"  ", {}},
    };
    for (const auto &[line, expected] : cases) {
        Words words;
        for (const auto &word : expected)
            words.push_back(placed(word, m_dir.path()));
        EXPECT_EQ(zeph::posix::commandWords(placed(line, m_dir.path())), words) << line;
    }
}

TEST_F(Shell, StartsOnlyWhatIsAProgram) {
    auto shell = zeph::posix::makeShell();
    EXPECT_FALSE(shell->startProgram(m_dir.path() + "/Program", zeph::WindowStyle::Normal));
    EXPECT_FALSE(shell->startProgram(m_dir.path() + "/my logs/Zephrane_Log 1.TXT",
                                     zeph::WindowStyle::Normal));
    EXPECT_FALSE(shell->startProgram("", zeph::WindowStyle::Normal));
    EXPECT_TRUE(shell->startProgram(m_dir.path() + "/Program Files/Zephrane\\test.bat 1.0.5",
                                    zeph::WindowStyle::MinimizedFocus));
}
