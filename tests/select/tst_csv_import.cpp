#include "select_helpers.h"

#include <gtest/gtest.h>

using namespace zeph;
using namespace zeph::test;

namespace {

std::string unmatched(const std::string &numbers) {
    return "Lines of the CSV file that matched no subscriber (the header is line 1): " + numbers +
           ".";
}

const char *kNotValid = "Error! CSV file is not a valid format.  See the help for details on "
                        "format requirements.";

// Known subscribers to import, and the page set to the CSV criterion.
class CsvImport : public ::testing::Test {
protected:
    void SetUp() override {
        h.plant({.alias = "csv-a", .extension = "7701"});
        h.plant({.alias = "csv-b", .extension = "7702"});
        h.plant({.alias = "m\xC3\xBCller", .extension = "7703"});
        h.plant({.alias = "o'neil", .extension = "7704"});
        h.plant({.alias = "csv-contact", .extension = "7705", .type = 2});
        // One extension in two locations.
        h.plant({.alias = "dup-b",
                 .extension = "7706",
                 .location = "{0000AAAA-0000-0000-0000-000000000002}"});
        h.plant({.alias = "dup-a",
                 .extension = "7706",
                 .location = "{0000AAAA-0000-0000-0000-000000000003}"});
        page = &h.open();
        h.chooseCode(kCriterionCsvFile);
    }

    /// Imports a file with this content; exactly these messages must show.
    void import(const std::string &content, const Texts &messages) {
        page->txtCSVPath.Text = h.writeFile("list.csv", content);
        for (const std::string &m : messages)
            h.ui().expectBox(m);
        page->cmdView_Click();
        h.ui().verifyAllShown();
        ASSERT_EQ(h.ui().boxes().size(), m_boxes + messages.size());
        m_boxes = h.ui().boxes().size();
        EXPECT_EQ(page->txtUsersInGrid.Text, std::to_string(page->myGrid.Rows() - 1));
    }

    SelectionHost h;
    ChooseSubscribersPage *page = nullptr;

private:
    std::size_t m_boxes = 0;
};

} // namespace

TEST_F(CsvImport, ExtensionFirstThenAliasAndTheLinesThatFoundNobody) {
    import("alias,extension\r\n"
           "csv-b,7701\r\n"         // 2: the extension wins
           "csv-b,9999999\r\n"      // 3: no subscriber has it: the alias
           "csv-a,abc\r\n"          // 4: not a number: the alias
           "csv-x, 7702 \r\n"       // 5: blanks around a number are trimmed
           "\r\n"                   // 6: empty: read, names nobody
           "x,7777777\r\n"          // 7: neither
           " , \r\n"                // 8: blanks only
           "csv-contact,7705\r\n"   // 9: a type that is never reset
           "o'neil' OR '1'='1,\r\n" // 10: a quote is a value
           "o'neil,\r\n"            // 11
           "csv-a\r\n"              // 12: no extension field: the alias
           "csv-a\r\n",             // 13: listed twice, two rows
           {csvSummary(12, 7), unmatched("7, 9, 10")});
    EXPECT_EQ(h.gridColumn("Alias"),
              (Texts{"csv-a", "csv-b", "csv-a", "csv-b", "o'neil", "csv-a", "csv-a"}));
    EXPECT_EQ(page->myGrid.checkedCount(), 7);
}

TEST_F(CsvImport, HeaderNamesInAnyOrderCaseAndBlanks) {
    const std::tuple<const char *, Texts, const char *> cases[] = {
        {"  ALIAS  , extension \r\ncsv-a,7702\r\n", {"csv-b"}, nullptr},
        {"extension,alias\r\n7702,csv-a\r\n", {"csv-b"}, nullptr},
        {"name,alias,alias\r\nx,csv-a,csv-b\r\n", {"csv-a"}, nullptr},
        // Without an alias column a value that is not a number is never looked up.
        {"extension\r\ncsv-a\r\n7702\r\n", {"csv-b"}, "2"},
    };
    for (const auto &[content, found, missed] : cases) {
        Texts messages{csvSummary(static_cast<int>(found.size()) + (missed ? 1 : 0),
                                  static_cast<int>(found.size()))};
        if (missed)
            messages.push_back(unmatched(missed));
        import(content, messages);
        EXPECT_EQ(h.gridColumn("Alias"), found) << content;
    }
}

TEST_F(CsvImport, FilesWithoutAValidHeaderAreRefused) {
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 131 + 7) % 256);
    const std::string contents[] = {
        "",
        "aliases,extensions\r\ncsv-a\r\n",
        "\r\nalias\r\ncsv-a\r\n",
        "\"alias\"\r\ncsv-a\r\n",
        "alias\ncsv-a\n", // a line feed alone ends no line: one header line "alias\ncsv-a\n"
        binary,
    };
    for (const std::string &content : contents) {
        import(content, {kNotValid, csvSummary(0, 0)});
        EXPECT_EQ(page->myGrid.Rows(), 1) << content;
    }
}

TEST_F(CsvImport, LinesMayEndWithACarriageReturnAlone) {
    import("alias\rcsv-a\rcsv-b\r", {csvSummary(2, 2)});
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"csv-a", "csv-b"}));
    import("alias\r\ncsv-a\rcsv-b", {csvSummary(2, 2)}); // mixed, and no end on the last line
}

TEST_F(CsvImport, Windows1252AndUtf8FilesImportAsWritten) {
    import("alias\r\nm\xFCller\r\n", {csvSummary(1, 1)});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"m\xC3\xBCller"});
    import("alias\r\nm\xC3\xBCller\r\n", {csvSummary(1, 1)});
    import("\xEF\xBB\xBF"
           "alias\r\nm\xC3\xBCller\r\n",
           {csvSummary(1, 1)});
}

TEST_F(CsvImport, AnExtensionSharedBySeveralAddsTheFirstInAliasOrder) {
    import("alias,extension\r\ncsv-a,7706\r\n", {csvSummary(1, 1)});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"dup-a"}) << "the alias is not tried after a find";
}

TEST_F(CsvImport, BrokenFilesGiveTheSystemsMessagesAndTheSummary) {
    import("alias,extension\r\n", {csvSummary(0, 0)});
    import("alias,extension", {csvSummary(0, 0)});
    for (const std::string &path : {h.writeFile("x", "") + ".missing", std::string()}) {
        page->txtCSVPath.Text = path;
        h.ui().expectBox("Error! Could not open CSV input file.");
        h.ui().expectBox(csvSummary(0, 0));
        page->cmdView_Click();
    }
    h.ui().verifyAllShown();
    EXPECT_EQ(page->myGrid.Rows(), 1);
}

TEST_F(CsvImport, BinaryLinesAndHugeLinesDoNoHarm) {
    std::string binary; // holds NUL and every other byte but CR
    for (int i = 0; i < 4096; ++i) {
        if (const char c = static_cast<char>((i * 131 + 7) % 256); c != '\r')
            binary += c;
    }
    import("alias,extension\r\n" + binary, {csvSummary(1, 0), unmatched("2")});
    const std::string huge(100000, 'a');
    import("alias,extension\r\n" + huge + "\r\n" + huge.substr(0, 50000) + "," +
               std::string(50000, '7') + "\r\n" + huge + ",\r\ncsv-a\r\n",
           {csvSummary(4, 1), unmatched("2, 3, 4")});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-a"});
}

TEST_F(CsvImport, TheLineCountStopsAtTheSixteenBitTopAndTheWindowIsServed) {
    std::string content = "x,alias\r\n";
    for (int i = 0; i < 33000; ++i)
        content += "y\r\n"; // no alias field: read, nothing queried
    content += "y,csv-a\r\n";
    const int yieldsBefore = h.ui().doEventsCount();
    import(content, {csvSummary(32767, 1)});
    EXPECT_GE(h.ui().doEventsCount() - yieldsBefore, 33000 / ChooseSubscribersPage::kCsvYieldLines);
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-a"});
}

TEST_F(CsvImport, EachImportStartsFromAnEmptyGrid) {
    h.chooseCode(kCriterionAllSubscribers);
    page->cmdView_Click();
    ASSERT_GT(page->myGrid.Rows(), 2);
    h.chooseCode(kCriterionCsvFile);
    import("alias\r\ncsv-b\r\n", {csvSummary(1, 1)});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-b"});
}
