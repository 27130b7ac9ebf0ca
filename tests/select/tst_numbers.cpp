#include "select/NumberChecks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

using zeph::isNumericText;
using zeph::MyIsNumber;
using zeph::numberText;
using zeph::numericValue;

TEST(NumericText, FollowsThePlatformsNumericTest) {
    struct Case {
        const char *text;
        bool numeric;
    };
    const Case cases[] = {
        {"12", true},     {"007", true},    {" 12 ", true},  {"\t5", true},    {"-5", true},
        {"+5", true},     {"1.5", true},    {".5", true},    {"5.", true},     {"1e3", true},
        {"1E-3", true},   {"2e+4", true},   {"", false},     {" ", false},     {"12a", false},
        {"a12", false},   {"-", false},     {".", false},    {"1e", false},    {"e3", false},
        {"1 2", false},   {"--5", false},   {"0x10", false}, {"inf", false},   {"nan", false},
        {"1e999", false}, {"1,000", false}, {"4012 ", true}, {"1.2.3", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(isNumericText(c.text), c.numeric) << '"' << c.text << '"';
}

TEST(NumericText, ValuesAndTheirTextWithoutBlanks) {
    struct Case {
        const char *text;
        const char *written;
    };
    const Case cases[] = {
        {"007", "7"},      {"0009", "9"},    {" 10 ", "10"},
        {"1e3", "1000"},   {"12.5", "12.5"}, {"-1", "-1"},
        {"+4000", "4000"}, {"-0", "0"},      {"99999999999", "99999999999"},
    };
    for (const Case &c : cases) {
        auto value = numericValue(c.text);
        ASSERT_TRUE(value.has_value()) << c.text;
        EXPECT_EQ(numberText(*value), c.written) << c.text;
    }
    EXPECT_FALSE(numericValue("12a").has_value());
}

TEST(MyIsNumber, WholeNonNegativeNumbersWrittenWithoutAPoint) {
    struct Case {
        const char *text;
        bool accepted;
    };
    const Case cases[] = {
        {"", true},     {"0", true},     {"007", true},  {"1e3", true},  {" 42 ", true},
        {"4012", true}, {"12a", false},  {"-5", false},  {"1.0", false}, {"1.5", false},
        {"5.", false},  {"1e-1", false}, {"abc", false}, {" ", false},   {"-", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(MyIsNumber(c.text), c.accepted) << '"' << c.text << '"';
        // The selection page passes 0 and 0: no bounds apply.
        EXPECT_EQ(MyIsNumber(c.text, 0, 0), c.accepted) << '"' << c.text << '"';
    }
}

TEST(MyIsNumber, BoundsApplyOnlyWhenGivenAndNotBothZero) {
    struct Case {
        const char *text;
        std::optional<std::int32_t> lowest, highest;
        bool accepted;
    };
    const Case cases[] = {
        {"5", 1, 10, true},
        {"1", 1, 10, true},
        {"10", 1, 10, true},
        {"0", 1, 10, false},
        {"11", 1, 10, false},
        {"11", std::nullopt, 10, false},
        {"11", 10, std::nullopt, true},
        {"9", 10, std::nullopt, false},
        {"999999", 0, 0, true},
        {"999999", std::nullopt, std::nullopt, true},
        {"999999", 0, std::nullopt, true},
        {"3", 0, 2, false},
        {"", 5, 10, true}, // an empty text is a number whatever the bounds
    };
    for (const Case &c : cases)
        EXPECT_EQ(MyIsNumber(c.text, c.lowest, c.highest), c.accepted) << '"' << c.text << '"';
}
