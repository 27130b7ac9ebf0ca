#include "search/QueryEditorKeys.h"
#include "search/SetQueryColors.h"

#include <chrono>
#include <gtest/gtest.h>
#include <set>
#include <string>

using namespace zeph::search;

namespace {

ColorRun blue(int start, int length) {
    return {start, length, kKeywordColor};
}
ColorRun red(int start, int length) {
    return {start, length, kStringColor};
}

} // namespace

TEST(QueryKeywords, ListHoldsEachOf169UpperCaseWordsOnce) {
    auto words = queryKeywords();
    ASSERT_EQ(words.size(), 169u);
    std::set<std::string_view> unique(words.begin(), words.end());
    EXPECT_EQ(unique.size(), 169u);
    EXPECT_EQ(words.front(), "ADD");
    EXPECT_EQ(words.back(), "WRITETEXT");
    for (std::string_view w : words) {
        for (char c : w)
            EXPECT_TRUE((c >= 'A' && c <= 'Z') || c == '_') << w;
        EXPECT_TRUE(isQueryKeyword(w)) << w;
    }
}

TEST(QueryKeywords, MatchWholeWordsWithoutRegardToCase) {
    struct Case {
        const char *word;
        bool keyword;
    } cases[] = {
        {"select", true},
        {"Where", true},
        {"current_TIMESTAMP", true},
        {"identity_insert", true},
        {"selects", false},
        {"selec", false},
        {"", false},
        {"EX", false},
        {"ADD EXCEPT", false},
        {"(select", false},
        {"and,", false},
        {"'and'", false},
        {"current_timestamps", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(isQueryKeyword(c.word), c.keyword) << c.word;
}

TEST(SetQueryColors, TypedLowerCaseKeywordBecomesBlueUpperCase) {
    QueryColors c = SetQueryColors("where Alias = 'x' ", 18);
    EXPECT_EQ(c.text, "WHERE Alias = 'x' ");
    EXPECT_EQ(c.runs, (std::vector<ColorRun>{blue(0, 5), red(14, 3)}));
    EXPECT_EQ(c.caret, 18);
}

TEST(SetQueryColors, KeywordInsideStringIsUpperCaseAndRed) {
    QueryColors c = SetQueryColors("where LastName = 'Smith and Sons'", 0);
    EXPECT_EQ(c.text, "WHERE LastName = 'Smith AND Sons'");
    EXPECT_EQ(c.runs, (std::vector<ColorRun>{blue(0, 5), red(17, 16)}));
}

TEST(SetQueryColors, UnmatchedLastApostropheLeavesRestBlack) {
    QueryColors c = SetQueryColors("x = 'abc' or y = 'def or z", 0);
    EXPECT_EQ(c.text, "x = 'abc' OR y = 'def OR z");
    // The last "or" follows the unmatched apostrophe: upper case, blue, not red.
    EXPECT_EQ(c.runs, (std::vector<ColorRun>{red(4, 5), blue(10, 2), blue(22, 2)}));
}

TEST(SetQueryColors, DoubledApostropheKeepsWholeLiteralRed) {
    QueryColors c = SetQueryColors("a = 'it''s' and", 0);
    EXPECT_EQ(c.runs, (std::vector<ColorRun>{red(4, 7), blue(12, 3)}));
}

TEST(SetQueryColors, OnlyBlanksAndLineBreaksSplitWords) {
    struct Case {
        const char *text;
        const char *expected;
        std::vector<ColorRun> runs;
    } cases[] = {
        {"select\tname", "select\tname", {}},
        {"a=1 and(b=2)", "a=1 and(b=2)", {}},
        {"a=1, or", "a=1, OR", {blue(5, 2)}},
        {"a  and", "a  AND", {blue(3, 3)}},
        {" and ", " AND ", {blue(1, 3)}},
        {"or\nand", "or\nand", {}}, // a bare LF is no line break of the editor
        {"or\rand", "or\rand", {}}, // nor a bare CR
        {"x or\r\ny", "x OR\r\ny", {blue(2, 2)}},
        {"x\r\nor", "x\r\nOR", {blue(3, 2)}},
        {"x\r\r\nor", "x\r\r\nOR", {blue(4, 2)}},
        {"", "", {}},
    };
    for (const Case &c : cases) {
        QueryColors r = SetQueryColors(c.text, 0);
        EXPECT_EQ(r.text, c.expected) << c.text;
        EXPECT_EQ(r.runs, c.runs) << c.text;
    }
}

TEST(SetQueryColors, LineBreaksCountAsTwoCharacters) {
    std::string text = "Alias='x'\r\nand\r\nwhere x = 'y'";
    QueryColors c = SetQueryColors(text, 14);
    EXPECT_EQ(c.text, "Alias='x'\r\nAND\r\nWHERE x = 'y'");
    EXPECT_EQ(c.runs, (std::vector<ColorRun>{red(6, 3), blue(11, 3), blue(16, 5), red(26, 3)}));
    EXPECT_EQ(c.caret, 14);
}

TEST(SetQueryColors, OffsetsCountCharactersNotBytes) {
    // "é" is two bytes but one character of the editor.
    QueryColors c = SetQueryColors("Nom = 'é' and x", 0);
    EXPECT_EQ(c.text, "Nom = 'é' AND x");
    EXPECT_EQ(c.runs, (std::vector<ColorRun>{red(6, 3), blue(10, 3)}));
    EXPECT_EQ(editorLength("Nom = 'é' and x"), 15);
}

TEST(SetQueryColors, KeywordEditedIntoPlainWordTurnsBlack) {
    QueryColors first = SetQueryColors("a = 1 where", 11);
    ASSERT_EQ(first.runs, (std::vector<ColorRun>{blue(6, 5)}));
    QueryColors second = SetQueryColors(first.text + "x", 12);
    EXPECT_EQ(second.text, "a = 1 WHEREx");
    EXPECT_TRUE(second.runs.empty());
}

TEST(SetQueryColors, CaretStaysInsideText) {
    EXPECT_EQ(SetQueryColors("abc", -4).caret, 0);
    EXPECT_EQ(SetQueryColors("abc", 2).caret, 2);
    EXPECT_EQ(SetQueryColors("abc", 99).caret, 3);
    EXPECT_EQ(SetQueryColors("a\r\nb", 99).caret, 4);
}

TEST(SetQueryColors, RunsAreAscendingAndDoNotOverlap) {
    QueryColors c = SetQueryColors("select 'a' and 'b or c' or 'd''e' where ''", 0);
    for (std::size_t i = 1; i < c.runs.size(); ++i)
        EXPECT_LE(c.runs[i - 1].start + c.runs[i - 1].length, c.runs[i].start);
    EXPECT_EQ(c.runs, (std::vector<ColorRun>{blue(0, 6), red(7, 3), blue(11, 3), red(15, 8),
                                             blue(24, 2), red(27, 6), blue(34, 5), red(40, 2)}));
}

TEST(SetQueryColors, LongTextTiming) {
    // Not a timed assertion: records how long the largest editor text takes.
    std::string text;
    const char *pieces[] = {"where ", "Alias ", "like ", "'and%' ", "or\r\n", "x=1 ", "(a) "};
    for (std::size_t i = 0; text.size() < 32767; ++i)
        text += pieces[i % 7];
    text.resize(32767);
    auto start = std::chrono::steady_clock::now();
    QueryColors c = SetQueryColors(text, 100);
    auto micro = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();
    RecordProperty("microseconds", static_cast<int>(micro));
    std::printf("SetQueryColors of 32767 characters: %lld us\n", static_cast<long long>(micro));
    EXPECT_EQ(c.text.size(), text.size());
    EXPECT_FALSE(c.runs.empty());
}

TEST(EditorOffsets, LineBreakIsOneWidgetCharacter) {
    EditorOffsetMap map("ab\r\ncd");
    int widget[] = {0, 1, 2, 2, 3, 4, 5};
    for (int e = 0; e <= 6; ++e)
        EXPECT_EQ(map.toWidget(e), widget[e]) << e;
    EXPECT_EQ(map.toEditor(2), 2);
    EXPECT_EQ(map.toEditor(3), 4);
    EXPECT_EQ(map.toEditor(5), 6);
    EXPECT_EQ(map.toEditor(50), 6);
    EXPECT_EQ(map.toWidget(-3), 0);
    EXPECT_EQ(map.toWidget(50), 5);
}

TEST(EditorOffsets, CharactersBeyondTheBasicPlaneTakeTwoWidgetUnits) {
    EditorOffsetMap map("\xF0\x9F\x98\x80"
                        "a\xC3\xA9");
    EXPECT_EQ(map.toWidget(1), 2);
    EXPECT_EQ(map.toWidget(2), 3);
    EXPECT_EQ(map.toWidget(3), 4);
    EXPECT_EQ(map.toEditor(3), 2);
}

TEST(EditorOffsets, LineBreakConversionsRoundTrip) {
    EXPECT_EQ(toEditorLineBreaks("a\nb\r\nc\n"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(toWidgetLineBreaks("a\r\nb\rc\r\n"), "a\nb\rc\n");
    EXPECT_EQ(toWidgetLineBreaks(toEditorLineBreaks("x\n\ny")), "x\n\ny");
}

TEST(QueryEditorKeys, KeyDownFollowsTheHandlerTable) {
    struct Case {
        int key;
        QueryKeyAction withoutCtrl;
        QueryKeyAction withCtrl;
    } cases[] = {
        {8, QueryKeyAction::None, QueryKeyAction::None},
        {46, QueryKeyAction::None, QueryKeyAction::None},
        {37, QueryKeyAction::None, QueryKeyAction::None},
        {38, QueryKeyAction::None, QueryKeyAction::None},
        {39, QueryKeyAction::None, QueryKeyAction::None},
        {49, QueryKeyAction::None, QueryKeyAction::None},
        {40, QueryKeyAction::Recolor, QueryKeyAction::Recolor},
        {67, QueryKeyAction::Recolor, QueryKeyAction::CopyPlainText},
        {99, QueryKeyAction::Recolor, QueryKeyAction::CopyPlainText},
        {86, QueryKeyAction::Recolor, QueryKeyAction::None},
        {118, QueryKeyAction::Recolor, QueryKeyAction::None},
        {88, QueryKeyAction::Recolor, QueryKeyAction::CutPlainText},
        {120, QueryKeyAction::Recolor, QueryKeyAction::CutPlainText},
        {32, QueryKeyAction::Recolor, QueryKeyAction::Recolor},
        {65, QueryKeyAction::Recolor, QueryKeyAction::Recolor},
        {13, QueryKeyAction::Recolor, QueryKeyAction::Recolor},
    };
    for (const Case &c : cases) {
        QueryEditorKeys keys;
        EXPECT_EQ(keys.keyDown(c.key, 0), c.withoutCtrl) << c.key;
        EXPECT_EQ(keys.keyDown(17, 2), QueryKeyAction::None);
        EXPECT_EQ(keys.keyDown(c.key, 2), c.withCtrl) << c.key;
    }
}

TEST(QueryEditorKeys, CtrlFlagFollowsCtrlKeyOnly) {
    QueryEditorKeys keys;
    EXPECT_FALSE(keys.bCtrlDown());
    keys.keyDown(17, 2);
    EXPECT_TRUE(keys.bCtrlDown());
    keys.keyUp(67, 2);
    EXPECT_TRUE(keys.bCtrlDown());
    keys.keyUp(17, 0);
    EXPECT_FALSE(keys.bCtrlDown());
    EXPECT_EQ(keys.keyDown(67, 0), QueryKeyAction::Recolor);
}
