#include "select_helpers.h"

using namespace zeph;
using namespace zeph::test;

namespace {

Texts sorted(Texts texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

int indexOf(const ListControl &list, const std::string &text) {
    return static_cast<int>(std::find(list.List.begin(), list.List.end(), text) -
                            list.List.begin());
}

// Which value controls show: range low, "To:", range high, switches, servers, CSV path, browse,
// classes of service.
std::string shown(const ChooseSubscribersPage &p) {
    std::string flags;
    for (bool v : {p.txtSubscriberExtensionRangeLow.Visible, p.lblExtensionRangeTo.Visible,
                   p.txtSubscriberExtensionRangeHigh.Visible, p.comSubscriberSwitch.Visible,
                   p.comSubscriberMailServer.Visible, p.txtCSVPath.Visible,
                   p.cmdBrowseForCSV.Visible, p.ComSubscribersCOS.Visible})
        flags += v ? '1' : '0';
    return flags;
}

} // namespace

TEST(ChoosePage, CriteriaTheirControlsRefusalsBrowseAndTheAdvancedButton) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    EXPECT_EQ(p.cmbSubscriberSelectType.List,
              (Texts{"All subscribers", "Subscribers with extension numbers from:",
                     "Subscribers associated with this switch:",
                     "Subscribers referenced in this CSV file:",
                     "Subscribers associated with this class of service:",
                     "Subscribers homed on this mail server:"}));
    EXPECT_EQ(p.cmbSubscriberSelectType.ItemData, (std::vector<long>{1, 2, 4, 6, 7, 5}));
    EXPECT_EQ(shown(p), "00000000");
    const char *order = "Invalid extension range. First extension must be lower than the second.";
    const std::tuple<int, const char *, const char *, const char *, const char *> cases[] = {
        {kCriterionExtensionRange, "11100000", "4010", "4000", order},
        {kCriterionExtensionRange, "11100000", "-1", "10", order},
        {kCriterionExtensionRange, "11100000", "10", "",
         "Invalid input for extension range.  Please input numbers only."},
        {kCriterionSwitch, "00010000", "", "", "You must select a switch first"},
        {kCriterionMailServer, "00001000", "", "", "You must select a mailstore first"},
        {kCriterionClassOfService, "00000001", "", "", "You must first select a COS"},
    };
    for (const auto &[code, visible, low, high, message] : cases) {
        h.chooseCode(kCriterionAllSubscribers);
        p.cmdView_Click();
        ASSERT_GT(p.myGrid.Rows(), 1);
        h.chooseCode(code);
        EXPECT_EQ(shown(p), visible) << "code " << code;
        p.txtSubscriberExtensionRangeLow.Text = low;
        p.txtSubscriberExtensionRangeHigh.Text = high;
        h.ui().expectBox(message);
        p.cmdView_Click();
        h.ui().verifyAllShown();
        EXPECT_EQ(p.myGrid.Rows(), 1) << message;
        EXPECT_EQ(p.txtUsersInGrid.Text, "0");
    }
    h.chooseCode(kCriterionCsvFile);
    EXPECT_EQ(shown(p), "00000110");
    // A code the list never carries is refused; no entry at all is a failure of the procedure.
    p.cmbSubscriberSelectType.ItemData[0] = 3;
    h.ui().expectBox("Error! Invalid subscriber selection value.");
    p.chooseCriterion(0);
    EXPECT_EQ(shown(p), "00000000");
    h.chooseCode(kCriterionMailServer);
    h.ui().expectBox("(error):381 (Invalid property array index) in procedure "
                     "cmbSubscriberSelectType_Click of Form frmChooseSubscribers");
    p.chooseCriterion(-1);
    h.ui().verifyAllShown();
    EXPECT_EQ(shown(p), "00000000") << "the hiding step ran before the failure";
    // The low box checks when it loses the focus.
    h.ui().expectBox("Only numbers are allowed for extension range values");
    p.txtSubscriberExtensionRangeLow.Text = "12a";
    p.txtSubscriberExtensionRangeLow_LostFocus();
    EXPECT_EQ(p.txtSubscriberExtensionRangeLow.Text, "");
    p.txtCSVPath.Text = "old.csv";
    for (const auto &[answer, path] :
         {std::pair<std::optional<std::string>, const char *>{std::nullopt, "old.csv"},
          {"a.c", "old.csv"}, // shorter than 4 characters
          {"/data/list.csv", "/data/list.csv"}}) {
        h.ui().expectFileDialog(answer);
        p.cmdBrowseForCSV_Click();
        EXPECT_EQ(p.txtCSVPath.Text, path);
    }
    for (const auto &[commandLine, visible] :
         {std::pair{"", false}, {"SkipDLSync advanced", true}, {"Advance", false}})
        EXPECT_EQ(h.open(commandLine).cmdAdvancedSearch.Visible, visible) << commandLine;
}

TEST(ChoosePage, AnEmptyClassOfServiceTableIsReportedOnceAndTheLoadGoesOn) {
    SelectionHost h;
    h.column("DELETE FROM COS");
    h.ui().expectBox("(error):3021 (");
    ChooseSubscribersPage &p = h.open();
    h.ui().verifyAllShown();
    ASSERT_EQ(h.ui().boxes().size(), 1u);
    EXPECT_NE(h.ui().boxes()[0].text.find(") in procedure Form_Load of Form frmChooseSubscribers"),
              std::string::npos);
    EXPECT_GT(p.comSubscriberMailServer.ListCount(), 0) << "later steps still ran";
}

TEST(ChoosePage, ClassesOfServiceStayInStepAlsoForTwinNamesAndAreValuesNotSql) {
    SelectionHost h;
    const std::string twinA = "{C05C-1}", twinB = "{C05C-2}";
    for (const std::string &cos : {twinA, twinB})
        h.column("INSERT INTO COS (COSObjectID, Alias, TextName) VALUES (?,?,'Twin COS')",
                 {cos, "qa-twin" + cos});
    h.plant({.alias = "qa-c", .extension = "881003", .cosId = twinA});
    h.plant({.alias = "qa-a", .extension = "881001", .cosId = twinA});
    h.plant({.alias = "qa-b", .extension = "881002", .cosId = twinB});
    // A class of service whose alias and object id would widen the search if pasted into SQL.
    const std::string quoted = "{C05C-3}' OR '1'='1";
    h.column("INSERT INTO COS (COSObjectID, Alias, TextName) VALUES (?,?,'Quoted COS')",
             {quoted, std::string("x' OR '1'='1")});
    h.plant({.alias = "qa-q", .extension = "881004", .cosId = quoted});
    ChooseSubscribersPage &p = h.open();
    ASSERT_EQ(p.ComSubscribersCOS.ListCount(), p.comHiddenCOS.ListCount());
    EXPECT_EQ(p.ComSubscribersCOS.List, h.column("SELECT TextName FROM vw_COS"));
    const int first = indexOf(p.ComSubscribersCOS, "Twin COS");
    ASSERT_LT(first, p.ComSubscribersCOS.ListCount());
    h.chooseCode(kCriterionClassOfService);
    p.ComSubscribersCOS.ListIndex = first;
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"qa-a", "qa-c"}));
    EXPECT_EQ(h.gridColumn("COS"), (Texts{"Twin COS", "Twin COS"}));
    p.ComSubscribersCOS.ListIndex = first + 1;
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"qa-b"});
    p.ComSubscribersCOS.ListIndex = indexOf(p.ComSubscribersCOS, "Quoted COS");
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"qa-q"});
    EXPECT_TRUE(h.ui().boxes().empty());
}

TEST(ChoosePage, AllSubscribersAreTypesOneAndThreeInAliasOrderUpToTheGridsLimit) {
    SelectionHost h;
    h.plant({.alias = "qa-three", .extension = "882001", .type = 3});
    h.plant({.alias = "qa-contact", .extension = "882002", .type = 2});
    ChooseSubscribersPage &p = h.open();
    const Texts expected =
        h.column("SELECT Alias FROM Subscriber WHERE SubscriberType IN (1,3) ORDER BY Alias");
    p.myGrid.setRowLimit(static_cast<int>(expected.size()));
    p.cmdView_Click();
    ASSERT_GT(expected.size(), 10u);
    EXPECT_EQ(h.gridColumn("Alias"), expected);
    EXPECT_EQ(p.txtUsersInGrid.Text, std::to_string(expected.size()));
    EXPECT_EQ(p.myGrid.checkedCount(), static_cast<int>(expected.size())) << "new rows checked";
    EXPECT_FALSE(h.ui().busy());
    EXPECT_TRUE(h.ui().boxes().empty()) << "just full: nothing said";
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), expected) << "a second press replaces, not doubles";
    p.myGrid.setRowLimit(2);
    h.ui().expectBox("Only the first 2 were added");
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), Texts(expected.begin(), expected.begin() + 2));
    EXPECT_EQ(p.txtUsersInGrid.Text, "2");
    // An import: one limit message, the summary last.
    h.chooseCode(kCriterionCsvFile);
    p.txtCSVPath.Text =
        h.writeFile("limit.csv", "alias\r\n" + expected[0] + "\r\n" + expected[1] + "\r\n" +
                                     expected[2] + "\r\n" + expected[0] + "\r\n");
    h.ui().expectBox("Only the first 2 were added");
    h.ui().expectBox(csvSummary(3, 2));
    p.cmdView_Click();
    h.ui().verifyAllShown();
    EXPECT_EQ(h.ui().boxes().size(), 3u);
    EXPECT_TRUE(p.cmdNext_Click());
    p.cmdPrevious_Click();
    EXPECT_EQ(p.myGrid.Rows(), 1) << "going back clears the grid";
}

TEST(ChoosePage, RangesCompareNumbersServersAndSwitchesAreValuesNotSql) {
    SelectionHost h;
    const Planted quoted = h.plant({.alias = "qa-quoted",
                                    .extension = "886001",
                                    .homeServer = "O'Brien MAIL",
                                    .cosId = "{DEADBEEF-0000}"});
    h.plant({.alias = "qa-nohome"});
    h.plant({.alias = "qa-ext10", .extension = "10"});
    h.plant({.alias = "qa-ext100", .extension = "100"});
    h.plant({.alias = "qa-many", .extension = "30", .alternates = {"31", "32"}});
    ChooseSubscribersPage &p = h.open();
    EXPECT_EQ(sorted(p.comSubscriberMailServer.List),
              h.column("SELECT DISTINCT HomeServer FROM Subscriber WHERE HomeServer IS NOT NULL "
                       "ORDER BY HomeServer"))
        << "each server once, and no empty entry";
    h.chooseCode(kCriterionMailServer);
    p.comSubscriberMailServer.ListIndex = indexOf(p.comSubscriberMailServer, "O'Brien MAIL");
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"qa-quoted"});
    EXPECT_EQ(h.gridColumn("HomeServer"), Texts{"O'Brien MAIL"});
    EXPECT_EQ(h.gridColumn("COS"), Texts{""}) << "a class missing from the cached table";
    EXPECT_EQ(h.gridColumn("ObjectID"), Texts{quoted.objectId});
    EXPECT_EQ(h.gridColumn("HandlerObjectID"), Texts{quoted.handlerId});
    // The first switch also takes subscribers without one.
    h.chooseCode(kCriterionSwitch);
    for (const auto &[position, where] :
         {std::pair{0, "(SwitchID IS NULL OR SwitchID = 0)"}, {1, "SwitchID = 1"}}) {
        p.comSubscriberSwitch.ListIndex = position;
        p.cmdView_Click();
        EXPECT_EQ(
            sorted(h.gridColumn("Alias")),
            sorted(h.column("SELECT Alias FROM Subscriber WHERE SubscriberType IN (1,3) AND " +
                            std::string(where))));
    }
    h.chooseCode(kCriterionMailServer);
    p.comSubscriberMailServer.List[0] = "x' OR '1'='1";
    p.comSubscriberMailServer.ListIndex = 0;
    p.cmdView_Click();
    EXPECT_EQ(p.myGrid.Rows(), 1);
    // Subscribers created after the load are not in the snapshot: passed over.
    h.plant({.alias = "qa-late", .extension = "888001"});
    const std::tuple<const char *, const char *, Texts> cases[] = {
        {"007", "10", {"qa-ext10"}},     {"10", "100", {"qa-ext10", "qa-ext100", "qa-many"}},
        {"1e2", " 100 ", {"qa-ext100"}}, {"888001", "888001", {}},
        {"30", "32", {"qa-many"}},
    };
    for (const auto &[low, high, found] : cases) {
        h.chooseCode(kCriterionExtensionRange);
        p.txtSubscriberExtensionRangeLow.Text = low;
        p.txtSubscriberExtensionRangeHigh.Text = high;
        p.cmdView_Click();
        EXPECT_EQ(sorted(h.gridColumn("Alias")), found) << low << " to " << high;
    }
    EXPECT_EQ(h.gridColumn("Extension"), Texts{"30"}) << "the primary extension is shown";
    EXPECT_TRUE(h.ui().boxes().empty());
}
