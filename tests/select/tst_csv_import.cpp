#include "select_helpers.h"

#include "select/ChooseSubscribersPage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zeph;
using namespace zeph::test;

namespace {

using Texts = std::vector<std::string>;

std::string summary(int lines, int users) {
    return "Import complete.  " + std::to_string(lines) + " lines read in from text file, " +
           std::to_string(users) + " users added to grid.";
}

// The message after the summary that names the lines which matched no subscriber.
std::string unmatched(const std::string &numbers) {
    return "Lines of the CSV file that matched no subscriber (the header is line 1): " + numbers +
           ".";
}

const char *kNotValid = "Error! CSV file is not a valid format.  See the help for details on "
                        "format requirements.";

// A host with four known subscribers to import, and the page set to the CSV criterion.
class CsvImport : public ::testing::Test {
protected:
    void SetUp() override {
        h.plant(PlantedSubscriber("csv-a").withExtension("7701"));
        h.plant(PlantedSubscriber("csv-b").withExtension("7702"));
        h.plant(PlantedSubscriber("m\xC3\xBCller").withExtension("7703"));
        h.plant(PlantedSubscriber("o'neil").withExtension("7704"));
        h.plant(PlantedSubscriber("csv-contact").withType(2).withExtension("7705"));
        // Two subscribers share an extension in two locations.
        h.plant(PlantedSubscriber("dup-b").withExtension("7706").withLocation(
            "{0000AAAA-0000-0000-0000-000000000002}"));
        h.plant(PlantedSubscriber("dup-a").withExtension("7706").withLocation(
            "{0000AAAA-0000-0000-0000-000000000003}"));
        page = &h.open();
        h.chooseCode(kCriterionCsvFile);
    }

    /// Imports a file with this content; the messages expected come first.
    void import(const std::string &content, const std::vector<std::string> &messages) {
        page->txtCSVPath.Text = h.writeFile("list.csv", content);
        for (const std::string &m : messages)
            h.ui().expectBox(m);
        page->cmdView_Click();
        h.ui().verifyAllShown();
        ASSERT_EQ(h.ui().boxes().size(), m_boxesBefore + messages.size());
        m_boxesBefore = h.ui().boxes().size();
        EXPECT_EQ(page->txtUsersInGrid.Text, std::to_string(page->myGrid.Rows() - 1));
    }

    SelectionHost h;
    ChooseSubscribersPage *page = nullptr;

private:
    std::size_t m_boxesBefore = 0;
};

} // namespace

TEST_F(CsvImport, ExtensionFirstThenAlias) {
    import("alias,extension\r\n"
           "csv-b,7701\r\n"    // the extension wins
           "csv-b,9999999\r\n" // no subscriber has it: the alias
           "csv-a,abc\r\n"     // not a number: the alias
           "csv-x, 7702 \r\n"  // blanks around a number are trimmed
           "\r\n"              // an empty line is read and adds nothing
           "csv-a\r\n",        // no extension field: the alias
           {summary(6, 5)});
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"csv-a", "csv-b", "csv-a", "csv-b", "csv-a"}));
    EXPECT_EQ(page->myGrid.checkedCount(), 5);
}

TEST_F(CsvImport, AListedTwiceSubscriberGivesTwoRows) {
    import("alias\r\ncsv-a\r\ncsv-a\r\n", {summary(2, 2)});
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"csv-a", "csv-a"}));
    EXPECT_TRUE(page->myGrid.isChecked(1));
    EXPECT_TRUE(page->myGrid.isChecked(2));
}

TEST_F(CsvImport, HeaderVariants) {
    struct Case {
        const char *content;
        Texts found;
    };
    const Case cases[] = {
        {"Alias,Extension\r\ncsv-a,7702\r\n", {"csv-b"}},
        {"  ALIAS  ,  extension  \r\ncsv-a,x\r\n", {"csv-a"}},
        {"extension,alias\r\n7702,csv-a\r\n", {"csv-b"}},
        {"name,alias,alias\r\nx,csv-a,csv-b\r\n", {"csv-a"}},
        {"name,extension\r\ncsv-a,7701\r\n", {"csv-a"}},
        {"extension\r\ncsv-a\r\n", {}}, // no alias column to fall back to
    };
    for (const Case &c : cases) {
        int lines = 1;
        Texts messages{summary(lines, static_cast<int>(c.found.size()))};
        if (c.found.empty())
            messages.push_back(unmatched("2"));
        import(c.content, messages);
        EXPECT_EQ(h.gridColumn("Alias"), c.found) << c.content;
    }
}

TEST_F(CsvImport, AHeaderWithoutEitherNameIsRefused) {
    const char *headers[] = {"aliases,extensions\r\ncsv-a\r\n", "a\r\ncsv-a\r\n",
                             "\r\nalias\r\ncsv-a\r\n", "\"alias\"\r\ncsv-a\r\n"};
    for (const char *content : headers) {
        import(content, {kNotValid, summary(0, 0)});
        EXPECT_EQ(page->myGrid.Rows(), 1) << content;
    }
}

TEST_F(CsvImport, LinesMayEndWithACarriageReturnAlone) {
    import("alias\rcsv-a\rcsv-b\r", {summary(2, 2)});
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"csv-a", "csv-b"}));
    import("alias\r\ncsv-a\rcsv-b", {summary(2, 2)}); // mixed, and no end on the last line
}

TEST_F(CsvImport, ALineFeedAloneEndsNoLine) {
    // The whole file is one header line whose only field is not a header name.
    import("alias\ncsv-a\n", {kNotValid, summary(0, 0)});
}

TEST_F(CsvImport, Windows1252AndUtf8FilesImportAsWritten) {
    import("alias\r\nm\xFCller\r\n", {summary(1, 1)});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"m\xC3\xBCller"});
    import("alias\r\nm\xC3\xBCller\r\n", {summary(1, 1)});
    import("\xEF\xBB\xBF"
           "alias\r\nm\xC3\xBCller\r\n",
           {summary(1, 1)});
}

TEST_F(CsvImport, QuotesAreValuesNotSql) {
    import("alias,extension\r\n"
           "o'neil,\r\n"
           "x' OR '1'='1,\r\n"
           "x,7701' OR '1'='1\r\n",
           {summary(3, 1), unmatched("3, 4")});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"o'neil"});
}

TEST_F(CsvImport, OnlyTypesOneAndThreeAreAdded) {
    import("alias,extension\r\ncsv-contact,7705\r\ncsv-contact,\r\n",
           {summary(2, 0), unmatched("2, 3")});
}

TEST_F(CsvImport, AnExtensionSharedBySeveralAddsTheFirstInAliasOrder) {
    import("alias,extension\r\ncsv-a,7706\r\n", {summary(1, 1)});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"dup-a"}) << "the alias is not tried after a find";
}

TEST_F(CsvImport, BadFilesGiveTheSystemsMessagesAndTheSummary) {
    import("", {kNotValid, summary(0, 0)});
    import("alias,extension\r\n", {summary(0, 0)});
    import("alias,extension", {summary(0, 0)});

    page->txtCSVPath.Text = h.writeFile("x", "") + ".missing";
    h.ui().expectBox("Error! Could not open CSV input file.");
    h.ui().expectBox(summary(0, 0));
    page->cmdView_Click();
    page->txtCSVPath.Text = "";
    h.ui().expectBox("Error! Could not open CSV input file.");
    h.ui().expectBox(summary(0, 0));
    page->cmdView_Click();
    h.ui().verifyAllShown();
    EXPECT_EQ(page->myGrid.Rows(), 1);
}

TEST_F(CsvImport, BinaryContentAndHugeLinesDoNoHarm) {
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 131 + 7) % 256);
    import(binary, {kNotValid, summary(0, 0)});

    // After a valid header the same bytes are lines like any other.
    std::string afterHeader = "alias,extension\r\n" + binary;
    int lines = 0;
    {
        std::string text = afterHeader.substr(17);
        std::size_t pos = 0;
        while (pos < text.size()) {
            ++lines;
            auto cr = text.find('\r', pos);
            if (cr == std::string::npos)
                break;
            pos = cr + 1 + (cr + 1 < text.size() && text[cr + 1] == '\n' ? 1 : 0);
        }
    }
    import(afterHeader, {summary(lines, 0), "matched no subscriber"});

    const std::string huge(100000, 'a');
    import("alias,extension\r\n" + huge + "\r\n" + huge.substr(0, 50000) + "," +
               std::string(50000, '7') + "\r\n" + huge + ",\r\ncsv-a\r\n",
           {summary(4, 1), unmatched("2, 3, 4")});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-a"});
}

TEST_F(CsvImport, UnknownSubscribersAreReadAndNotAdded) {
    import("alias,extension\r\nnobody1,1\r\nnobody2,\r\n,\r\n", {summary(3, 0), unmatched("2, 3")});
}

TEST_F(CsvImport, TheLineCountStopsAtTheSixteenBitTopAndTheWindowIsServed) {
    std::string content = "x,alias\r\n";
    for (int i = 0; i < 33000; ++i)
        content += "y\r\n"; // no alias field: read, nothing queried
    content += "y,csv-a\r\n";
    const int yieldsBefore = h.ui().doEventsCount();
    import(content, {summary(32767, 1)});
    EXPECT_GE(h.ui().doEventsCount() - yieldsBefore, 33000 / ChooseSubscribersPage::kCsvYieldLines);
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-a"});
}

TEST_F(CsvImport, EachImportStartsFromAnEmptyGrid) {
    h.chooseCode(kCriterionAllSubscribers);
    page->cmdView_Click();
    ASSERT_GT(page->myGrid.Rows(), 2);
    h.chooseCode(kCriterionCsvFile);
    import("alias\r\ncsv-b\r\n", {summary(1, 1)});
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"csv-b"});
}
