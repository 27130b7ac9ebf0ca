#include "select/CsvText.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

using namespace zeph;

namespace {

std::vector<std::string> allLines(std::string_view text) {
    LineReader reader(text);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.next(line))
        lines.emplace_back(line);
    return lines;
}

} // namespace

TEST(CsvText, LinesEndWithCrLfOrCrAloneButNotLfAlone) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(allLines("a\r\nb\r\nc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(allLines("a\r\nb\r\n"), (Lines{"a", "b"})) << "a final line end adds no line";
    EXPECT_EQ(allLines("a\rb\rc\r"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(allLines("a\nb\n"), (Lines{"a\nb\n"})) << "a line feed alone ends nothing";
    EXPECT_EQ(allLines("a\r\n\r\nb"), (Lines{"a", "", "b"})) << "empty lines count";
    EXPECT_EQ(allLines("a\r\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(allLines(""), Lines{});
    EXPECT_EQ(allLines("\r\n"), (Lines{""}));
}

TEST(CsvText, FieldsSplitAtEveryCommaWithoutQuoting) {
    using Fields = std::vector<std::string_view>;
    EXPECT_EQ(splitFields("jsmith,4012"), (Fields{"jsmith", "4012"}));
    EXPECT_EQ(splitFields(""), (Fields{""}));
    EXPECT_EQ(splitFields(",,"), (Fields{"", "", ""}));
    EXPECT_EQ(splitFields("\"a,b\",c"), (Fields{"\"a", "b\"", "c"}));
    EXPECT_EQ(trimSpaces("  4012 "), "4012");
    EXPECT_EQ(trimSpaces("\t4012\t"), "\t4012\t") << "only blanks are trimmed";
    EXPECT_EQ(trimSpaces("   "), "");
}

TEST(CsvText, HeaderNamesAreTrimmedAndComparedWithoutCase) {
    struct Case {
        const char *header;
        int alias, extension;
    };
    const Case cases[] = {
        {"alias,extension", 0, 1},
        {"extension,alias", 1, 0},
        {"  Alias  , EXTENSION ", 0, 1},
        {"name,alias,foo,extension,alias", 1, 3}, // the first column of each name counts
        {"aliases,extensions", -1, -1},
        {"extension", -1, 0},
        {"alias", 0, -1},
        {"x,y", -1, -1},
        {"\"alias\",extension", -1, 1}, // quotes are part of the name
    };
    for (const Case &c : cases) {
        CsvColumns columns = findCsvColumns(c.header, "extension");
        EXPECT_EQ(columns.alias, c.alias) << c.header;
        EXPECT_EQ(columns.extension, c.extension) << c.header;
    }
    // A translated extension name is the header name in that language.
    CsvColumns german = findCsvColumns("Alias,DURCHWAHL", "Durchwahl");
    EXPECT_EQ(german.extension, 1);
    EXPECT_TRUE(sameTextIgnoringCase("\xC3\x89TAGE", "\xC3\xA9tage")); // É and é
}

TEST(CsvText, Utf8StaysAndOtherBytesReadAsWindows1252) {
    EXPECT_EQ(decodeAnsiText("M\xC3\xBCller"), "M\xC3\xBCller");
    EXPECT_EQ(decodeAnsiText("M\xFCller"), "M\xC3\xBCller");
    EXPECT_EQ(decodeAnsiText("\x80 \x9F \x81"), "\xE2\x82\xAC \xC5\xB8 \xC2\x81");
    EXPECT_EQ(decodeAnsiText("\xEF\xBB\xBF"
                             "alias"),
              "alias")
        << "a byte-order mark is dropped";
    EXPECT_EQ(decodeAnsiText(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CsvText, Utf8ValidationRefusesMalformedForms) {
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("\xE2\x82\xAC\xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));         // cut short at the end
    EXPECT_FALSE(isValidUtf8("\x80"));
    EXPECT_EQ(characterCount("\xC3\xA9t\xC3\xA9"), 3u);
}
