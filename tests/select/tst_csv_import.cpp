#include "select_helpers.h"

using namespace zeph;
using namespace zeph::test;

namespace {

std::string unmatched(const std::string &numbers) {
    return "Lines of the CSV file that matched no subscriber (the header is line 1): " + numbers +
           ".";
}

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
        h.plant({.alias = "dup-b", .extension = "7706", .location = "{AAAA-2}"});
        h.plant({.alias = "dup-a", .extension = "7706", .location = "{AAAA-3}"});
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
    std::size_t m_boxes = 0;
};

} // namespace

TEST_F(CsvImport, ExtensionFirstThenAliasAndTheLinesThatFoundNobody) {
    h.chooseCode(kCriterionAllSubscribers);
    page->cmdView_Click();
    ASSERT_GT(page->myGrid.Rows(), 2);
    h.chooseCode(kCriterionCsvFile);
    import("\xEF\xBB\xBF" // UTF-8 with its mark
           "alias,extension\r\n"
           "csv-b,7701\r\n"         // 2: the extension wins
           "csv-b,9999999\r\n"      // 3: no subscriber has it: the alias
           "csv-a,abc\r\n"          // 4: not a number: the alias
           "csv-x, 7702 \r\n"       // 5: blanks around a number are trimmed
           "\r\n"                   // 6: empty: read, names nobody
           "x,7777777\r\n"          // 7: neither
           "csv-contact,7705\r\n"   // 8: a type that is never reset
           "o'neil' OR '1'='1,\r\n" // 9: a quote is a value
           "o'neil,\r\n"            // 10
           "csv-a\r\n"              // 11: no extension field; listed twice, two rows
           "csv-a\r\n"              // 12
           "csv-a,7706\r\n"         // 13: a shared extension: the first in alias order
           "m\xC3\xBCller\r\n",
           {csvSummary(13, 9), unmatched("7, 8, 9")});
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"csv-a", "csv-b", "csv-a", "csv-b", "o'neil", "csv-a",
                                            "csv-a", "dup-a", "m\xC3\xBCller"}))
        << "the import replaced the rows before it";
    EXPECT_EQ(page->myGrid.checkedCount(), 9);
}

TEST_F(CsvImport, HeadersLineEndsAndEncodings) {
    import("  ALIAS  , extension \r\ncsv-a,7702\r\n", {csvSummary(1, 1)});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-b"});
    // Without an alias column a value that is not a number is never looked up.
    import("extension\r\ncsv-a\r\n7702\r\n", {csvSummary(2, 1), unmatched("2")});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-b"});
    import("alias\rcsv-a\rcsv-b\r", {csvSummary(2, 2)});
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"csv-a", "csv-b"}));
    import("alias\r\ncsv-a\rcsv-b", {csvSummary(2, 2)}); // mixed, and no end on the last line
    // A line feed alone ends a line as on this OS; LF CR is two ends around an empty line.
    import("alias,extension\nnobody,9999999\ncsv-a\n", {csvSummary(2, 1), unmatched("2")});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-a"});
    import("alias\ncsv-a\n\rcsv-b\r\n\ncsv-a", {csvSummary(5, 3)});
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"csv-a", "csv-b", "csv-a"}));
    import("alias\r\nm\xFC"
           "ller\r\n",
           {csvSummary(1, 1)}); // Windows-1252
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"m\xC3\xBCller"});
}

TEST_F(CsvImport, BadFilesHugeLinesAndLongFilesDoNoHarm) {
    const char *notValid = "Error! CSV file is not a valid format.  See the help for details on "
                           "format requirements.";
    std::string binary; // holds NUL and every other byte but the line ends
    for (int i = 0; i < 4096; ++i)
        if (const char c = static_cast<char>((i * 131 + 7) % 256); c != '\r' && c != '\n')
            binary += c;
    for (const std::string &content : {std::string(), std::string("\r\nalias\r\ncsv-a\r\n"),
                                       std::string("\nalias\ncsv-a\n"), binary})
        import(content, {notValid, csvSummary(0, 0)});
    for (const std::string &path : {h.writeFile("x", "") + ".missing", std::string()}) {
        page->txtCSVPath.Text = path;
        h.ui().expectBox("Error! Could not open CSV input file.");
        h.ui().expectBox(csvSummary(0, 0));
        page->cmdView_Click();
    }
    h.ui().verifyAllShown();
    m_boxes = h.ui().boxes().size();
    import("alias,extension", {csvSummary(0, 0)});
    import("alias,extension\r\n" + binary, {csvSummary(1, 0), unmatched("2")});
    std::string nobody = "alias\r\n";
    for (int i = 0; i < 1000; ++i)
        nobody += "nobody\r\n";
    import(nobody, {csvSummary(1000, 0), "49, 50, 51 and 950 more."}); // the list is cut
    const std::string huge(100000, 'a');
    import("alias,extension\r\n" + huge + "\r\n" + huge.substr(0, 50000) + "," +
               std::string(50000, '7') + "\r\n" + huge + ",\r\ncsv-a\r\n",
           {csvSummary(4, 1), unmatched("2, 3, 4")});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-a"});
    // The line count stops at the 16-bit top, and the window is served on the way.
    std::string content = "x,alias\r\n";
    for (int i = 0; i < 33000; ++i)
        content += "y\r\n"; // no alias field: read, nothing queried
    content += "y,csv-a\r\n";
    const int yieldsBefore = h.ui().doEventsCount();
    import(content, {csvSummary(32767, 1)});
    EXPECT_GE(h.ui().doEventsCount() - yieldsBefore, 33000 / ChooseSubscribersPage::kCsvYieldLines);
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-a"});
}
