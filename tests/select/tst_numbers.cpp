#include "select/NumberChecks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

using namespace zeph;

TEST(NumericText, FollowsThePlatformsNumericTest) {
    const std::pair<const char *, bool> cases[] = {
        {" 12 ", true}, {"-5", true},     {".5", true},     {"1E-3", true},
        {"", false},    {"12a", false},   {"1e", false},    {"0x10", false},
        {"inf", false}, {"1e999", false}, {"1,000", false}, {"1.2.3", false},
    };
    for (const auto &[text, numeric] : cases)
        EXPECT_EQ(isNumericText(text), numeric) << '"' << text << '"';
    for (const auto &[text, written] : {std::pair{"007", "7"},
                                        {" 10 ", "10"},
                                        {"1e3", "1000"},
                                        {"-0", "0"},
                                        {"99999999999", "99999999999"}})
        EXPECT_EQ(numberText(numericValue(text).value()), written) << text;
}

TEST(MyIsNumber, WholeNonNegativeNumbersWithinBoundsWhenGiven) {
    const std::pair<const char *, bool> plain[] = {
        {"", true},    {"007", true},  {"1e3", true}, {" 42 ", true}, {"12a", false},
        {"-5", false}, {"1.0", false}, {"5.", false}, {" ", false},
    };
    for (const auto &[text, accepted] : plain) {
        EXPECT_EQ(MyIsNumber(text), accepted) << '"' << text << '"';
        EXPECT_EQ(MyIsNumber(text, 0, 0), accepted) << "0 and 0: no bounds";
    }
    using Bound = std::optional<std::int32_t>;
    const std::tuple<const char *, Bound, Bound, bool> bounded[] = {
        {"10", 1, 10, true},
        {"0", 1, 10, false},
        {"11", std::nullopt, 10, false},
        {"11", 10, std::nullopt, true},
        {"999999", 0, std::nullopt, true},
        {"3", 0, 2, false},
        {"", 5, 10, true},
    };
    for (const auto &[text, lowest, highest, accepted] : bounded)
        EXPECT_EQ(MyIsNumber(text, lowest, highest), accepted) << '"' << text << '"';
}
