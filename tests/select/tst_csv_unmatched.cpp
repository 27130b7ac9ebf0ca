// The CSV import's message of the lines that matched no subscriber: which lines it names,
// that it follows the system's summary, and how a long list is cut.
#include "select_helpers.h"

#include "select/ChooseSubscribersPage.h"
#include "select/CsvUnmatched.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zeph;
using namespace zeph::test;

namespace {

std::string summary(int lines, int users) {
    return "Import complete.  " + std::to_string(lines) + " lines read in from text file, " +
           std::to_string(users) + " users added to grid.";
}

std::string unmatchedMessage(const std::string &numbers) {
    return "Lines of the CSV file that matched no subscriber (the header is line 1): " + numbers +
           ".";
}

class CsvUnmatched : public ::testing::Test {
protected:
    void SetUp() override {
        h.plant(PlantedSubscriber("um-a").withExtension("7801"));
        h.plant(PlantedSubscriber("um-b").withExtension("7802"));
        h.plant(PlantedSubscriber("um-contact").withType(2).withExtension("7805"));
        page = &h.open();
        h.chooseCode(kCriterionCsvFile);
    }

    // Imports the content and returns the texts of the boxes it showed.
    std::vector<std::string> import(const std::string &content) {
        h.ui().setStrict(false);
        page->txtCSVPath.Text = h.writeFile("list.csv", content);
        const std::size_t before = h.ui().boxes().size();
        page->cmdView_Click();
        std::vector<std::string> texts;
        for (std::size_t i = before; i < h.ui().boxes().size(); ++i)
            texts.push_back(h.ui().boxes()[i].text);
        return texts;
    }

    SelectionHost h;
    ChooseSubscribersPage *page = nullptr;
};

} // namespace

TEST_F(CsvUnmatched, TheLinesThatFoundNobodyFollowTheSummary) {
    const auto boxes = import("alias,extension\r\n"
                              "um-a,7801\r\n"          // 2: found by extension
                              "nobody,\r\n"            // 3: no such alias
                              "\r\n"                   // 4: empty, names nobody
                              "um-b,9999999\r\n"       // 5: found by alias after the extension
                              "x,7777777\r\n"          // 6: neither
                              " , \r\n"                // 7: blanks only
                              "um-contact,7805\r\n"    // 8: not a subscriber that can be reset
                              "o'neil' OR '1'='1,\r\n" // 9: a quote is a value
                              "um-a\r\n");             // 10: found
    EXPECT_EQ(boxes, (std::vector<std::string>{summary(9, 3), unmatchedMessage("3, 6, 8, 9")}));
}

TEST_F(CsvUnmatched, AFileWhereEveryLineMatchedShowsOnlyTheSummary) {
    EXPECT_EQ(import("extension,alias\r\n7801,\r\n,um-b\r\n\r\n"),
              (std::vector<std::string>{summary(3, 2)}));
}

TEST_F(CsvUnmatched, FilesThatCannotBeReadShowNoList) {
    const auto boxes = import("aliases\r\nnobody\r\n");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes.back(), summary(0, 0));
}

TEST_F(CsvUnmatched, AnExtensionColumnWithoutANumberIsNamedToo) {
    // Only an extension column: a value that is not a number is never looked up.
    EXPECT_EQ(import("extension\r\num-a\r\n7802\r\n"),
              (std::vector<std::string>{summary(2, 1), unmatchedMessage("2")}));
}

TEST(CsvUnmatchedLines, TheListIsCutAfterFiftyNumbers) {
    struct Case {
        long lines;
        std::string tail;
    };
    const Case cases[] = {
        {1, "2."}, {50, "51."}, {51, "51 and 1 more."}, {1000, "51 and 950 more."}};
    for (const Case &c : cases) {
        CsvUnmatchedLines unmatched;
        for (long n = 0; n < c.lines; ++n)
            unmatched.add(n + 2);
        const std::string text = unmatched.message();
        EXPECT_EQ(unmatched.count(), c.lines);
        EXPECT_EQ(unmatched.listed().size(), std::min<std::size_t>(c.lines, 50));
        ASSERT_GE(text.size(), c.tail.size());
        EXPECT_EQ(text.substr(text.size() - c.tail.size()), c.tail) << text;
        EXPECT_EQ(text.find("52"), std::string::npos) << "the 51st number is not listed";
    }
}

TEST(CsvUnmatchedLines, ALineNamesASubscriberOnlyWithAValueInAUsedColumn) {
    struct Case {
        const char *line;
        int alias, extension;
        bool names;
    };
    const Case cases[] = {
        {"", 0, 1, false},      {" , ", 0, 1, false},   {"a", 0, 1, true},
        {",4000", 0, 1, true},  {"x,,y", 1, -1, false}, {"x,,y", 2, -1, true},
        {"only", -1, 1, false}, {"a,b", -1, -1, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(namesSubscriber(c.line, c.alias, c.extension), c.names) << c.line;
}
