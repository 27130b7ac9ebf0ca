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

// A cell a spreadsheet would run as a formula is written as text, and the import reads back
// the value that was written, whatever it begins with.
TEST(CsvText, CellsASpreadsheetWouldRunAreWrittenAsTextAndReadBackAsTheValue) {
    struct Case {
        std::string value;
        std::string cell;
    };
    const Case cases[] = {
        {"=HYPERLINK(\"x\")", "'=HYPERLINK(\"x\")"},
        {"+1", "'+1"},
        {"-dash", "'-dash"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\tx"},
        {"\rx", "'\rx"},
        {"'quoted", "''quoted"},
        {"'=both", "''=both"},
        {"''", "'''"},
        {"plain", "plain"},
        {"a=b", "a=b"},
        {"", ""},
        {std::string("a\0b", 3), "ab"},
        {std::string("\0=x", 3), "'=x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cell);
        EXPECT_EQ(inertCsvCell(c.value), c.cell);
        if (c.value.find('\0') == std::string::npos) {
            EXPECT_EQ(csvCellValue(c.cell), c.value);
        }
    }
    // A marker before anything else is a value of its own, as a list made elsewhere has it.
    EXPECT_EQ(csvCellValue("'abc"), "'abc");
    EXPECT_EQ(csvCellValue("'"), "'");
    EXPECT_EQ(csvCellValue("  '-5  "), "-5");
}

// Bytes that are not UTF-8 are read in the system's code page when the host has one, and as
// Windows-1252 otherwise or when the system cannot read them.
TEST(CsvText, TextThatIsNotUtf8IsReadInTheSystemsCodePage) {
    std::vector<std::string> asked;
    auto shiftJis = [&](std::string_view bytes) -> std::optional<std::string> {
        asked.emplace_back(bytes);
        if (bytes == "\x93\xfa\x96\x7b,4001")
            return std::string("\xE6\x97\xA5\xE6\x9C\xAC,4001");
        return std::nullopt;
    };
    EXPECT_EQ(decodeAnsiText("\x93\xfa\x96\x7b,4001", shiftJis), "\xE6\x97\xA5\xE6\x9C\xAC,4001");
    EXPECT_EQ(decodeAnsiText("\x80", shiftJis), "\xE2\x82\xAC") << "not text of it: Windows-1252";
    EXPECT_EQ(decodeAnsiText("caf\xC3\xA9", shiftJis), "caf\xC3\xA9") << "UTF-8 is never asked";
    EXPECT_EQ(asked, (std::vector<std::string>{"\x93\xfa\x96\x7b,4001", "\x80"}));
    EXPECT_EQ(decodeAnsiText("\x80", {}), "\xE2\x82\xAC");
}
