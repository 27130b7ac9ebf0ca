// The terminal width from COLUMNS, as both backends read it.
#include "platform/TerminalColumns.h"
#include "platform/posix/Posix.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

using zeph::columnsSetting;

TEST(TerminalColumns, OnlyAWholeNumberOfColumnsIsTaken) {
    const struct {
        const char *text;
        std::optional<int> columns;
    } cases[] = {
        {"80", 80},
        {"1", 1},
        {"99999", 99999},
        {"", std::nullopt},
        {"0", std::nullopt},
        {"-5", std::nullopt},
        {"+5", std::nullopt},
        {" 80", std::nullopt},
        {"80 ", std::nullopt},
        {"80x", std::nullopt},
        {"100000", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"wide", std::nullopt},
        {"8.5", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(columnsSetting(c.text), c.columns) << '"' << c.text << '"';
}

// COLUMNS goes before what the terminal says; a value that is no width is passed over.
TEST(TerminalColumns, TheEnvironmentGoesFirst) {
    ::setenv("COLUMNS", "123", 1);
    EXPECT_EQ(zeph::posix::terminalColumns(zeph::posix::StandardStream::Error), 123);
    ::setenv("COLUMNS", "12 3", 1);
    EXPECT_NE(zeph::posix::terminalColumns(zeph::posix::StandardStream::Error), 12);
    ::unsetenv("COLUMNS");
}
