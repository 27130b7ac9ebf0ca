#include "select/NumberChecks.h"

#include <gtest/gtest.h>

using namespace zeph;

TEST(NumericText, FollowsThePlatformsNumericTestAndWritesItsValue) {
    for (const char *text : {" 12 ", "-5", ".5", "1E-3"})
        EXPECT_TRUE(isNumericText(text)) << '"' << text << '"';
    for (const char *text : {"", "12a", "1e", "0x10", "inf", "1e999", "1,000", "1.2.3"})
        EXPECT_FALSE(isNumericText(text)) << '"' << text << '"';
    for (const auto &[text, written] : {std::pair{"007", "7"},
                                        {" 10 ", "10"},
                                        {"1e3", "1000"},
                                        {"-0", "0"},
                                        {"99999999999", "99999999999"}})
        EXPECT_EQ(numberText(numericValue(text).value()), written) << text;
}

TEST(MyIsNumber, WholeNonNegativeNumbersWithinBoundsWhenGiven) {
    for (const char *text : {"", "007", "1e3", " 42 "})
        EXPECT_TRUE(MyIsNumber(text, 0, 0)) << '"' << text << '"';
    for (const char *text : {"12a", "-5", "1.0", "5.", " "})
        EXPECT_FALSE(MyIsNumber(text, 0, 0)) << '"' << text << '"';
    EXPECT_TRUE(MyIsNumber("10", 1, 10));
    EXPECT_FALSE(MyIsNumber("0", 1, 10));
    EXPECT_FALSE(MyIsNumber("11", std::nullopt, 10));
    EXPECT_TRUE(MyIsNumber("999999", 0, std::nullopt)) << "0 is no bound";
}
