// The advanced search's guard and resize rules, without a server: which texts are refused, with
// which message and in which order, and where the controls go for a window size.
#include "search/AdvancedSearchPage.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace zeph::search;

namespace {

constexpr const char *kInvalid = "Invalid SQL query";
constexpr const char *kUpdates = "You cannot issue updates from this interface";
constexpr const char *kDeletes = "You cannot issue DELETEs from this interface";
constexpr const char *kExecutes = "You cannot issue EXECUTEs from this interface";
constexpr const char *kDrops = "You cannot issue DROPs from this interface";
constexpr const char *kSecond =
    "Only a single SELECT can run from this interface: the text goes on after \";\"";

std::string notAllowed(const std::string &word) {
    return "Only a SELECT can run from this interface: " + word + " is not allowed";
}

struct GuardCase {
    const char *name;
    std::string text;
    std::optional<std::string> refusal; // nothing: the text goes to the server
};

void PrintTo(const GuardCase &c, std::ostream *os) {
    *os << c.name;
}

std::string caseName(const ::testing::TestParamInfo<GuardCase> &p) {
    return p.param.name;
}

class GuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(GuardTest, RefusesWithTheRightMessage) {
    const GuardCase &c = GetParam();
    EXPECT_EQ(queryRefusal(c.text), c.refusal) << "text: " << c.text;
}

// The four refusals the window has always made, in their order and with their substring rule.
INSTANTIATE_TEST_SUITE_P(
    FourWords, GuardTest,
    ::testing::Values(
        GuardCase{"Empty", "", kInvalid}, GuardCase{"OneCharacter", "x", kInvalid},
        GuardCase{"TwoCharacters", "ab", kInvalid},
        GuardCase{"ThreeBlanksSelectEverything", "   ", std::nullopt},
        GuardCase{"LineBreakIsTwoCharacters", "\r\n", kInvalid},
        GuardCase{"LineBreakAndBlankAreThree", "\r\n ", std::nullopt},
        // Characters, not bytes: two umlauts are four bytes but two characters.
        GuardCase{"TwoWideCharacters", "\xC3\xA4\xC3\xB6", kInvalid},
        GuardCase{"ShortTextBeforeAnyWord", "UP", kInvalid},
        GuardCase{"WhereOnAlias", "WHERE Alias='jsmith'", std::nullopt},
        GuardCase{"UpdateInMixedCaseInAValue", "WHERE LastName LIKE 'uPdAtEr%'", kUpdates},
        GuardCase{"UpdateInsideAColumnName", "WHERE LastUpdateTime IS NULL", kUpdates},
        GuardCase{"DeleteInAValue", "WHERE Alias='deleted'", kDeletes},
        GuardCase{"ExecuteInAComment", "WHERE 1=1 -- execute later", kExecutes},
        GuardCase{"DropInAValue", "WHERE FirstName='Dropkin'", kDrops},
        GuardCase{"DropInsideAWord", "WHERE Alias='raindrops'", kDrops},
        GuardCase{"UpdateComesBeforeDelete", "WHERE Alias='delete' OR Alias='update'", kUpdates},
        GuardCase{"DeleteComesBeforeExecute", "WHERE Alias='execute' OR Alias='delete'", kDeletes},
        GuardCase{"ExecuteComesBeforeDrop", "WHERE Alias='drop' OR Alias='execute'", kExecutes},
        GuardCase{"ExecAloneIsNotExecute", "WHERE Alias='exec'", std::nullopt},
        GuardCase{"WordSplitByALineBreak", "WHERE Alias='up\r\ndate'", std::nullopt},
        GuardCase{"TheFourComeBeforeTheSecondStatement", "WHERE 1=1; DELETE FROM Subscriber",
                  kDeletes},
        GuardCase{"UpdateAfterASemicolon", "WHERE 1=1; update Subscriber SET Alias='x'", kUpdates},
        GuardCase{"DropAfterASemicolon", "; DROP VIEW vw_Subscriber", kDrops}),
    caseName);

// What the four words miss and a single read cannot hold.
INSTANTIATE_TEST_SUITE_P(
    BeyondTheFourWords, GuardTest,
    ::testing::Values(
        GuardCase{"InsertAfterASemicolon",
                  "WHERE 1=1; INSERT INTO Subscriber (Alias) VALUES ('intruder')", kSecond},
        GuardCase{"InsertInLowerCase", "WHERE 1=1; insert into Subscriber (Alias) VALUES ('x')",
                  kSecond},
        GuardCase{"TruncateAfterASemicolon", "; TRUNCATE TABLE Subscriber", kSecond},
        GuardCase{"AlterAfterASemicolon", "; ALTER TABLE Subscriber ADD Intruder TEXT", kSecond},
        GuardCase{"AttachAfterASemicolon", "; ATTACH DATABASE 'x.db' AS x", kSecond},
        GuardCase{"PragmaAfterASemicolon", "; PRAGMA user_version=42", kSecond},
        GuardCase{"ReadAfterASemicolon", "WHERE 1=1; SELECT 1", kSecond},
        GuardCase{"SemicolonInsideACommentDoesNotEnd", "WHERE 1=1 /* ; */ ; CREATE TABLE t (x)",
                  kSecond},
        GuardCase{"AfterTheLineComment", "WHERE 1=1 -- note\r\n; CREATE TABLE t (x)", kSecond},
        GuardCase{"MergeWithoutASemicolon",
                  "WHERE 1=1 MERGE INTO Subscriber USING Subscriber s ON 1=0 "
                  "WHEN NOT MATCHED THEN INSERT (Alias) VALUES ('x');",
                  notAllowed("MERGE")},
        GuardCase{"InsertWithoutASemicolon", "WHERE 1=1 INSERT INTO Subscriber (Alias) SELECT 'x'",
                  notAllowed("INSERT")},
        GuardCase{"SelectIntoANewTable", "WHERE 1=1 SELECT * into Intruder FROM Subscriber",
                  notAllowed("INTO")},
        GuardCase{"ExecOfAProcedure", "WHERE 1=1 exec sp_CreateSubscriber", notAllowed("EXEC")},
        GuardCase{"AttachWithoutASemicolon", "AS s ATTACH 'x.db' AS x", notAllowed("ATTACH")},
        GuardCase{"PragmaWithoutASemicolon", "WHERE 1=1 PRAGMA user_version=1",
                  notAllowed("PRAGMA")},
        GuardCase{"ReplaceStatement", "WHERE 1=1 REPLACE INTO Subscriber (Alias) VALUES ('x')",
                  notAllowed("REPLACE")},
        GuardCase{"RemoteWriteThroughAQuotedText",
                  "WHERE EXISTS (SELECT * FROM OPENQUERY(srv, 'INSERT x'))",
                  notAllowed("OPENQUERY")},
        GuardCase{"CommitEndsTheReadsTransaction", "WHERE 1=1 COMMIT", notAllowed("COMMIT")}),
    caseName);

// Texts that only look like a second statement or a write pass to the server.
INSTANTIATE_TEST_SUITE_P(
    HarmlessTexts, GuardTest,
    ::testing::Values(
        GuardCase{"TrailingSemicolon", "WHERE 1=1;", std::nullopt},
        GuardCase{"TrailingSemicolonAndBlanks", "WHERE 1=1;  \r\n\t", std::nullopt},
        GuardCase{"CommentAfterTheSemicolon", "WHERE 1=1; -- the usual ones", std::nullopt},
        GuardCase{"SemicolonInAValue", "WHERE Alias='a;b'", std::nullopt},
        GuardCase{"InsertInAValue", "WHERE Alias='insert'", std::nullopt},
        GuardCase{"DoubledQuoteInAValue", "WHERE Alias='it''s; insert into'", std::nullopt},
        GuardCase{"InsertAsAQuotedName", "WHERE \"Insert\"=1 OR [Merge]=2", std::nullopt},
        GuardCase{"BracketedNameWithABracket", "WHERE [a]]; insert]=1", std::nullopt},
        GuardCase{"WordsInAComment", "WHERE 1=1 /* merge; into */", std::nullopt},
        GuardCase{"ReplaceFunction", "WHERE REPLACE (Alias, 'a', 'b')='x'", std::nullopt},
        GuardCase{"WordsThatHoldAStatementWord", "WHERE Alias LIKE 'x%' AND Inserted=1",
                  std::nullopt},
        GuardCase{"KeywordsOfAJoin",
                  "INNER JOIN vw_DTMFAccessID d ON d.ParentObjectID=vw_Subscriber."
                  "SubscriberObjectID WHERE d.DTMFAccessID BETWEEN '100' AND '200' ORDER BY "
                  "Alias",
                  std::nullopt},
        GuardCase{"UnmatchedQuoteHidesTheRest", "WHERE Alias='x; INSERT", std::nullopt}),
    caseName);

// --- resize rules ----------------------------------------------------------------------------

TEST(AdvancedSearchLayoutTest, DesignFollowsTheRules) {
    const AdvancedSearchLayout l = designLayout();
    EXPECT_EQ(l.width, AdvancedSearchLayout::kDesignWidth);
    EXPECT_EQ(l.height, AdvancedSearchLayout::kDesignHeight);
    EXPECT_EQ(l.txtSQL.width, l.width - 1320);
    EXPECT_EQ(l.gridSQL.width, l.width - 110);
    EXPECT_EQ(l.gridSQL.height, l.height - 2805);
}

struct ResizeCase {
    int width, height;
    int expectWidth, expectHeight;
};

class ResizeTest : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(ResizeTest, ControlsFollowTheWindow) {
    const ResizeCase c = GetParam();
    const AdvancedSearchLayout l = Form_Resize(designLayout(), c.width, c.height, false);
    const int w = c.expectWidth, h = c.expectHeight;
    EXPECT_EQ(l.width, w);
    EXPECT_EQ(l.height, h);
    EXPECT_EQ(l.txtSQL.width, w - 1320);
    EXPECT_EQ(l.cmdClear.left, w - 1155);
    EXPECT_EQ(l.cmdExecute.left, w - 1155);
    EXPECT_EQ(l.cmdPaste.left, w - 1155);
    EXPECT_EQ(l.gridSQL.width, w - 110);
    EXPECT_EQ(l.gridSQL.height, h - 2805);
    EXPECT_EQ(l.cmdCancel.top, h - l.cmdCancel.height - 400);
    EXPECT_EQ(l.cmdCancel.left, w - 1335);
    EXPECT_EQ(l.cmdImport.top, l.cmdCancel.top);
    EXPECT_EQ(l.cmdPreviousQueries.top, l.cmdCancel.top);
    EXPECT_EQ(l.cmdImport.left, w - 3435);
    // What the rules leave alone stays where the design put it.
    const AdvancedSearchLayout d = designLayout();
    EXPECT_EQ(l.txtSQL.top, d.txtSQL.top);
    EXPECT_EQ(l.txtSQL.height, d.txtSQL.height);
    EXPECT_EQ(l.cmdPreviousQueries.left, d.cmdPreviousQueries.left);
    EXPECT_EQ(l.gridSQL.top, d.gridSQL.top);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeTest,
                         ::testing::Values(ResizeCase{12000, 9000, 12000, 9000},
                                           ResizeCase{4000, 3600, 4000, 3600},
                                           ResizeCase{3999, 3599, 4000, 3600},
                                           ResizeCase{1000, 8000, 4000, 8000},
                                           ResizeCase{8000, 100, 8000, 3600}));

TEST(AdvancedSearchLayoutTest, NothingChangesWhileMinimised) {
    const AdvancedSearchLayout before = Form_Resize(designLayout(), 11000, 8000, false);
    const AdvancedSearchLayout after = Form_Resize(before, 0, 0, true);
    EXPECT_EQ(after.width, 11000);
    EXPECT_EQ(after.height, 8000);
    EXPECT_EQ(after.gridSQL, before.gridSQL);
    EXPECT_EQ(after.cmdCancel, before.cmdCancel);
}

// --- result grid -----------------------------------------------------------------------------

TEST(ResultGridTest, HeaderRowAndCells) {
    ResultGrid grid;
    EXPECT_EQ(grid.Rows(), 1);
    grid.header = {"Alias", "DisplayName"};
    grid.cells = {{"a", "A"}, {"b", "B"}};
    EXPECT_EQ(grid.Rows(), 3);
    EXPECT_EQ(grid.Cols(), 2);
    EXPECT_EQ(grid.TextMatrix(0, 1), "DisplayName");
    EXPECT_EQ(grid.TextMatrix(2, 0), "b");
    EXPECT_EQ(grid.TextMatrix(3, 0), "");
    EXPECT_EQ(grid.TextMatrix(1, 2), "");
    grid.clearRows();
    EXPECT_EQ(grid.Rows(), 1);
    EXPECT_EQ(grid.Cols(), 2);
    grid.clear();
    EXPECT_EQ(grid.Cols(), 0);
}

} // namespace
