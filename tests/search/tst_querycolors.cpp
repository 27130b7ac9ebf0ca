#include "search/QueryEditorKeys.h"
#include "search/SetQueryColors.h"

#include <gtest/gtest.h>

using namespace zeph::search;

TEST(SetQueryColors, KeywordsUpperCaseBlueStringsRed) {
    auto blue = [](int start, int length) { return ColorRun{start, length, kKeywordColor}; };
    auto red = [](int start, int length) { return ColorRun{start, length, kStringColor}; };
    EXPECT_EQ(queryKeywords().size(), 169u);
    for (const char *word : {"selects", "", "(select", "and,", "'and'"})
        EXPECT_FALSE(isQueryKeyword(word)) << word;
    const std::tuple<const char *, const char *, std::vector<ColorRun>> cases[] = {
        // A keyword inside a string is upper case too, but red.
        {"where a = 'Smith and Sons'", "WHERE a = 'Smith AND Sons'", {blue(0, 5), red(10, 16)}},
        // After an unmatched last apostrophe the rest is black; its keywords blue.
        {"x = 'abc' or y = 'def or z",
         "x = 'abc' OR y = 'def OR z",
         {red(4, 5), blue(10, 2), blue(22, 2)}},
        {"a = 'it''s' and", "a = 'it''s' AND", {red(4, 7), blue(12, 3)}},
        // Only blanks and CR LF split words; a bare CR or LF is no line break of the editor.
        {"a=1 and(b=2)", "a=1 and(b=2)", {}},
        {"x\r\r\nor", "x\r\r\nOR", {blue(4, 2)}},
        // A line break counts two characters, "é" one.
        {"Alias='x'\r\nand\r\nwhere",
         "Alias='x'\r\nAND\r\nWHERE",
         {red(6, 3), blue(11, 3), blue(16, 5)}},
        {"Nom = 'é' and x", "Nom = 'é' AND x", {red(6, 3), blue(10, 3)}},
        {"", "", {}},
    };
    for (const auto &[text, expected, runs] : cases) {
        const QueryColors r = SetQueryColors(text, 0);
        EXPECT_EQ(r.text, expected) << text;
        EXPECT_EQ(r.runs, runs) << text;
    }
    EXPECT_EQ(SetQueryColors("abc", -4).caret, 0);
    EXPECT_EQ(SetQueryColors("a\r\nb", 99).caret, 4);
    // The longest text the editor takes keeps its offsets.
    const std::string piece = "where a='and' or\r\n"; // 18 characters
    std::string text;
    while (text.size() + piece.size() <= 32767)
        text += piece;
    const int pieces = static_cast<int>(text.size() / piece.size());
    const QueryColors c = SetQueryColors(text, 100);
    ASSERT_EQ(c.runs.size(), 3u * pieces);
    const int last = (pieces - 1) * 18;
    EXPECT_EQ(c.runs[c.runs.size() - 2], red(last + 8, 5));
    EXPECT_EQ(c.runs.back(), blue(last + 14, 2));
    EXPECT_EQ(c.caret, 100);
}

TEST(QueryEditor, OffsetsLineBreaksAndTheKeysWithCtrl) {
    EditorOffsetMap map("ab\r\ncd");
    const int widget[] = {0, 1, 2, 2, 3, 4, 5};
    for (int e = 0; e <= 6; ++e)
        EXPECT_EQ(map.toWidget(e), widget[e]) << e;
    EXPECT_EQ(map.toEditor(3), 4);
    EXPECT_EQ(map.toWidget(50), 5);
    EditorOffsetMap wide("\xF0\x9F\x98\x80"
                         "a\xC3\xA9");
    EXPECT_EQ(wide.toWidget(3), 4);
    EXPECT_EQ(wide.toEditor(3), 2);
    EXPECT_EQ(toEditorLineBreaks("a\nb\r\nc\n"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(toWidgetLineBreaks("a\r\nb\rc\r\n"), "a\nb\rc\n");
    QueryEditorKeys keys;
    EXPECT_EQ(keys.keyDown(8, 0), QueryKeyAction::None);
    EXPECT_EQ(keys.keyDown(99, 0), QueryKeyAction::Recolor);
    EXPECT_EQ(keys.keyDown(17, 2), QueryKeyAction::None);
    EXPECT_EQ(keys.keyDown(99, 2), QueryKeyAction::CopyPlainText) << "the keypad's 3 is a C";
    EXPECT_EQ(keys.keyDown(120, 2), QueryKeyAction::CutPlainText);
    keys.keyUp(120, 2);
    EXPECT_TRUE(keys.bCtrlDown()) << "only the Ctrl key's own release ends it";
    keys.keyUp(17, 0);
    EXPECT_FALSE(keys.bCtrlDown());
}
