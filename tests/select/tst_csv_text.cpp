#include "select/CsvText.h"
#include "select/NumberChecks.h"

#include <gtest/gtest.h>

using namespace zeph;

TEST(CsvText, FieldsBlanksAndWindows1252) {
    EXPECT_EQ(splitFields("\"a,b\",c"), (std::vector<std::string_view>{"\"a", "b\"", "c"}));
    EXPECT_EQ(trimSpaces("\t4012 "), "\t4012") << "only blanks are trimmed";
    // A translated extension name is the header name in that language.
    EXPECT_EQ(findCsvColumns("Alias,DURCHWAHL", "Durchwahl").extension, 1);
    EXPECT_TRUE(sameTextIgnoringCase("\xC3\x89TAGE", "\xC3\xA9tage"));
    EXPECT_EQ(decodeAnsiText("\x80 \x9F \x81"), "\xE2\x82\xAC \xC5\xB8 \xC2\x81");
    EXPECT_EQ(decodeAnsiText(std::string("a\0b", 3)), std::string("a\0b", 3));
    for (const char *malformed : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"})
        EXPECT_FALSE(isValidUtf8(malformed)) << "overlong, surrogate, too high, cut short";
}

TEST(NumberChecks, NumericTextAndWholeNumbersWithinBounds) {
    for (const char *text : {"", "12a", "1e", "0x10", "inf", "1e999", "1,000", "1.2.3"})
        EXPECT_FALSE(isNumericText(text)) << '"' << text << '"';
    for (const char *text : {"", "007", "1e3", " 42 "})
        EXPECT_TRUE(MyIsNumber(text, 0, 0)) << '"' << text << '"';
    for (const char *text : {"12a", "-5", "1.0", "5.", " "})
        EXPECT_FALSE(MyIsNumber(text, 0, 0)) << '"' << text << '"';
    EXPECT_FALSE(MyIsNumber("0", 1, 10));
    EXPECT_FALSE(MyIsNumber("11", std::nullopt, 10));
    EXPECT_TRUE(MyIsNumber("999999", 0, std::nullopt)) << "0 is no bound";
}
