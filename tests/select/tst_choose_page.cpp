#include "select_helpers.h"

#include "select/ChooseSubscribersPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
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

Texts sorted(Texts texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

int indexOf(const ListControl &list, const std::string &text) {
    auto it = std::find(list.List.begin(), list.List.end(), text);
    return it == list.List.end() ? -1 : static_cast<int>(it - list.List.begin());
}

struct Visibility {
    bool low, to, high, switches, servers, csv, browse, cos;
};

Visibility visibleValueControls(const ChooseSubscribersPage &p) {
    return {p.txtSubscriberExtensionRangeLow.Visible,
            p.lblExtensionRangeTo.Visible,
            p.txtSubscriberExtensionRangeHigh.Visible,
            p.comSubscriberSwitch.Visible,
            p.comSubscriberMailServer.Visible,
            p.txtCSVPath.Visible,
            p.cmdBrowseForCSV.Visible,
            p.ComSubscribersCOS.Visible};
}

bool operator==(const Visibility &a, const Visibility &b) {
    return a.low == b.low && a.to == b.to && a.high == b.high && a.switches == b.switches &&
           a.servers == b.servers && a.csv == b.csv && a.browse == b.browse && a.cos == b.cos;
}

constexpr Visibility kNone{};

const char *kTypesOneAndThree =
    "SELECT Alias FROM Subscriber WHERE SubscriberType IN (1,3) ORDER BY Alias";

} // namespace

// --- load and criterion list -----------------------------------------------------------------

TEST(ChoosePageLoad, FillsTheCriterionListInOrderWithItsCodes) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    EXPECT_EQ(p.cmbSubscriberSelectType.List,
              (Texts{"All subscribers", "Subscribers with extension numbers from:",
                     "Subscribers associated with this switch:",
                     "Subscribers referenced in this CSV file:",
                     "Subscribers associated with this class of service:",
                     "Subscribers homed on this mail server:"}));
    EXPECT_EQ(p.cmbSubscriberSelectType.ItemData, (std::vector<long>{1, 2, 4, 6, 7, 5}));
    EXPECT_EQ(p.cmbSubscriberSelectType.ListIndex, 0);
    EXPECT_EQ(p.criterionCode(), kCriterionAllSubscribers);
    EXPECT_TRUE(visibleValueControls(p) == kNone);
    EXPECT_FALSE(p.comHiddenCOS.Visible);
    EXPECT_FALSE(p.cmdAdvancedSearch.Visible);
    EXPECT_EQ(p.myGrid.Rows(), 1);
    EXPECT_TRUE(h.ui().boxes().empty());
}

TEST(ChoosePageLoad, CaptionsAndGridHeadersComeFromTheStringTable) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    const std::pair<const CaptionControl *, const char *> captions[] = {
        {&p.Label1, "Select Subscribers"},
        {&p.frameSelectSubscribers, "Select Subscribers"},
        {&p.cmdView, "Add Subscribers To Grid"},
        {&p.cmdAdvancedSearch, "Advanced Search"},
        {&p.cmdSelectAll, "Select All"},
        {&p.cmdUnselectAll, "deSelect All"},
        {&p.cmdClearGrid, "Clear Grid"},
        {&p.lblTotalGridRows, "Users in Grid"},
        {&p.cmdBrowseForCSV, "Browse..."},
        {&p.lblExtensionRangeTo, "To:"},
        {&p.cmdHelp, "Help"},
        {&p.cmdPrevious, "<< Previous"},
        {&p.cmdExit, "Exit"},
        {&p.cmdNext, "Next >>"},
    };
    for (const auto &[control, caption] : captions)
        EXPECT_EQ(control->Caption, caption);
    const std::pair<const char *, const char *> headers[] = {
        {"Alias", "Alias"},
        {"DisplayName", "Display Name"},
        {"FirstName", "First Name"},
        {"LastName", "Last Name"},
        {"Extension", "Extension"},
        {"HomeServer", "Home Server"},
        {"COS", "COS"},
        {"LegacyMailbox", "Legacy Mailbox"},
        {"RemoteNodeID", "Remote Node ID"},
    };
    for (const auto &[key, header] : headers)
        EXPECT_EQ(p.myGrid.TextMatrix(0, p.myGrid.ColIndex(key)), header) << key;
}

TEST(ChoosePageLoad, AdvancedSearchShowsOnlyWithTheWordOnTheCommandLine) {
    const std::pair<const char *, bool> cases[] = {
        {"", false},         {"Advanced", true}, {"SkipDLSync advanced", true},
        {"/ADVANCED", true}, {"Advance", false}, {"SkipDLSync", false},
    };
    SelectionHost h;
    h.openWithoutLoad();
    for (const auto &[commandLine, shown] : cases) {
        ChooseSubscribersPage &p = h.openWithoutLoad(commandLine);
        p.Form_Load();
        EXPECT_EQ(p.cmdAdvancedSearch.Visible, shown) << '"' << commandLine << '"';
    }
}

TEST(ChoosePageLoad, SwitchListHoldsOneEntryPerIntegration) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    EXPECT_EQ(p.comSubscriberSwitch.List, (Texts{"Calloway 4600 (serial)", "Varna SIP gateway"}));
    EXPECT_EQ(p.comSubscriberSwitch.ItemData, (std::vector<long>{1, 2}));
    EXPECT_EQ(p.comSubscriberSwitch.ListIndex, -1);
}

TEST(ChoosePageLoad, WithoutTheSecondIntegrationTheSwitchListHoldsOneEntry) {
    SelectionHost h;
    std::string reg = h.temp().readFile("registry.reg");
    const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Telvo\\1.0\\Initialization\\"
                            "Integrations\\Integration2]";
    const auto start = reg.find(key);
    ASSERT_NE(start, std::string::npos);
    const auto end = reg.find("\r\n\r\n", start);
    reg.erase(start, end + 4 - start);
    h.temp().writeFile("registry.reg", reg);
    h.temp().reopen();
    ChooseSubscribersPage &p = h.open();
    EXPECT_EQ(p.comSubscriberSwitch.List, (Texts{"Calloway 4600 (serial)"}));
}

TEST(ChoosePageLoad, AMissingFirstSwitchNameGivesAnEmptyEntryThatCannotBeSearched) {
    SelectionHost h;
    h.host().registry->deleteValue(
        RegRoot::LocalMachine,
        "SOFTWARE\\Ambrel\\Telvo\\1.0\\Initialization\\Integrations\\Integration1", "DisplayName");
    ChooseSubscribersPage &p = h.open();
    ASSERT_EQ(p.comSubscriberSwitch.List, (Texts{"", "Varna SIP gateway"}));
    h.chooseCode(kCriterionSwitch);
    p.comSubscriberSwitch.ListIndex = 0;
    h.ui().expectBox("You must select a switch first");
    p.cmdView_Click();
    EXPECT_EQ(p.txtUsersInGrid.Text, "0");
    h.ui().verifyAllShown();
}

TEST(ChoosePageLoad, MailServerListHoldsEachServerOnceAndNoEmptyEntry) {
    SelectionHost h;
    h.plant(PlantedSubscriber("qa-quote").withHome("O'Brien MAIL"));
    h.plant(PlantedSubscriber("qa-nohome"));
    ChooseSubscribersPage &p = h.open();
    const Texts &servers = p.comSubscriberMailServer.List;
    EXPECT_EQ(sorted(servers), sorted(h.column("SELECT DISTINCT HomeServer FROM Subscriber "
                                               "WHERE HomeServer IS NOT NULL")));
    EXPECT_EQ(std::set<std::string>(servers.begin(), servers.end()).size(), servers.size());
    EXPECT_EQ(indexOf(p.comSubscriberMailServer, ""), -1);
    EXPECT_NE(indexOf(p.comSubscriberMailServer, "O'Brien MAIL"), -1);
}

TEST(ChoosePageLoad, ClassOfServiceListsStayInStepAlsoForTwinNames) {
    SelectionHost h;
    const std::string twinA = h.plantCos("qa-twin-a", "Twin COS");
    const std::string twinB = h.plantCos("qa-twin-b", "Twin COS");
    h.plant(PlantedSubscriber("qa-in-a").withExtension("881001").withCos(twinA));
    h.plant(PlantedSubscriber("qa-in-b").withExtension("881002").withCos(twinB));
    ChooseSubscribersPage &p = h.open();
    ASSERT_EQ(p.ComSubscribersCOS.ListCount(), p.comHiddenCOS.ListCount());
    EXPECT_EQ(p.ComSubscribersCOS.List, h.column("SELECT TextName FROM vw_COS"))
        << "the table's order";
    for (int i = 0; i < p.ComSubscribersCOS.ListCount(); ++i)
        EXPECT_EQ(p.ComSubscribersCOS.ItemData[static_cast<std::size_t>(i)], i);

    std::vector<int> twins;
    for (int i = 0; i < p.ComSubscribersCOS.ListCount(); ++i) {
        if (p.ComSubscribersCOS.List[static_cast<std::size_t>(i)] == "Twin COS")
            twins.push_back(i);
    }
    ASSERT_EQ(twins.size(), 2u);
    h.chooseCode(kCriterionClassOfService);
    p.ComSubscribersCOS.ListIndex = twins[0];
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"qa-in-a"});
    p.ComSubscribersCOS.ListIndex = twins[1];
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"qa-in-b"});
}

TEST(ChoosePageLoad, AnEmptyClassOfServiceTableIsReportedOnceAndTheLoadGoesOn) {
    SelectionHost h;
    h.exec("DELETE FROM COS");
    h.ui().expectBox("(error):3021 (");
    ChooseSubscribersPage &p = h.open();
    h.ui().verifyAllShown();
    ASSERT_EQ(h.ui().boxes().size(), 1u);
    const std::string &text = h.ui().boxes()[0].text;
    EXPECT_NE(text.find(") in procedure Form_Load of Form frmChooseSubscribers"), std::string::npos)
        << text;
    EXPECT_EQ(p.ComSubscribersCOS.ListCount(), 0);
    EXPECT_EQ(p.comHiddenCOS.ListCount(), 0);
    EXPECT_GT(p.comSubscriberMailServer.ListCount(), 0) << "later steps still ran";
    EXPECT_EQ(p.comSubscriberSwitch.ListCount(), 2);
}

TEST(ChoosePageLoad, AMailServerQueryThatFailsIsReportedOnceAndLeavesItsListEmpty) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.openWithoutLoad();
    h.exec("ALTER TABLE Subscriber RENAME TO SubscriberGone");
    h.ui().expectBox("in procedure Form_Load of Form frmChooseSubscribers");
    p.Form_Load();
    h.ui().verifyAllShown();
    EXPECT_EQ(h.ui().boxes().size(), 1u);
    EXPECT_EQ(p.comSubscriberMailServer.ListCount(), 0);
    EXPECT_GT(p.ComSubscribersCOS.ListCount(), 0);
    EXPECT_EQ(p.comSubscriberSwitch.ListCount(), 2);
}

// --- value controls ----------------------------------------------------------------------------

TEST(ChoosePageCriterion, PickingACriterionShowsOnlyItsValueControls) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    const std::pair<int, Visibility> cases[] = {
        {kCriterionAllSubscribers, kNone},
        {kCriterionExtensionRange, {true, true, true, false, false, false, false, false}},
        {kCriterionSwitch, {false, false, false, true, false, false, false, false}},
        {kCriterionMailServer, {false, false, false, false, true, false, false, false}},
        {kCriterionCsvFile, {false, false, false, false, false, true, true, false}},
        {kCriterionClassOfService, {false, false, false, false, false, false, false, true}},
        {kCriterionAllSubscribers, kNone},
    };
    for (const auto &[code, visible] : cases) {
        h.chooseCode(code);
        EXPECT_EQ(p.criterionCode(), code);
        EXPECT_TRUE(visibleValueControls(p) == visible) << "code " << code;
    }
    EXPECT_TRUE(h.ui().boxes().empty());
}

TEST(ChoosePageCriterion, ValuesStayWhileTheirControlsAreHidden) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionMailServer);
    p.comSubscriberMailServer.ListIndex = 0;
    p.txtSubscriberExtensionRangeLow.Text = "12";
    p.txtCSVPath.Text = "list.csv";
    h.chooseCode(kCriterionAllSubscribers);
    EXPECT_FALSE(p.comSubscriberMailServer.Visible);
    h.chooseCode(kCriterionMailServer);
    EXPECT_EQ(p.comSubscriberMailServer.ListIndex, 0);
    EXPECT_EQ(p.txtSubscriberExtensionRangeLow.Text, "12");
    EXPECT_EQ(p.txtCSVPath.Text, "list.csv");
}

TEST(ChoosePageCriterion, AnUnknownCodeIsRefusedAndShowsNothing) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionExtensionRange);
    p.cmbSubscriberSelectType.ItemData[0] = 3; // a code the list never carries
    h.ui().expectBox("Error! Invalid subscriber selection value.");
    p.chooseCriterion(0);
    h.ui().verifyAllShown();
    EXPECT_TRUE(visibleValueControls(p) == kNone);
}

TEST(ChoosePageCriterion, AFailureWhileShowingTheValueControlsIsReportedByProcedure) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionMailServer);
    h.ui().expectBox("(error):381 (Invalid property array index) in procedure "
                     "cmbSubscriberSelectType_Click of Form frmChooseSubscribers");
    p.chooseCriterion(-1); // no entry chosen: its item data cannot be read
    h.ui().verifyAllShown();
    EXPECT_TRUE(visibleValueControls(p) == kNone) << "the hiding step ran before the failure";
    EXPECT_EQ(p.criterionCode(), 0);
}

TEST(ChoosePageCriterion, ExtensionBoxesTakeOnlyWholeNumbers) {
    struct Case {
        const char *text;
        bool refused;
    };
    const Case cases[] = {{"12a", true},  {"-5", true},   {"1.0", true}, {"1.5", true},
                          {"007", false}, {"1e3", false}, {"", false},   {"4000", false}};
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    for (const Case &c : cases) {
        if (c.refused)
            h.ui().expectBox("Only numbers are allowed for extension range values");
        p.txtSubscriberExtensionRangeHigh.Text = c.text;
        p.txtSubscriberExtensionRangeHigh_Change();
        EXPECT_EQ(p.txtSubscriberExtensionRangeHigh.Text, c.refused ? "" : c.text) << c.text;

        if (c.refused)
            h.ui().expectBox("Only numbers are allowed for extension range values");
        p.txtSubscriberExtensionRangeLow.Text = c.text;
        EXPECT_EQ(p.txtSubscriberExtensionRangeLow.Text, c.text) << "nothing checks while typing";
        p.txtSubscriberExtensionRangeLow_LostFocus();
        EXPECT_EQ(p.txtSubscriberExtensionRangeLow.Text, c.refused ? "" : c.text) << c.text;
        h.ui().verifyAllShown();
    }
}

// --- searches ----------------------------------------------------------------------------------

TEST(ChoosePageSearch, AllSubscribersAreTypesOneAndThreeInAliasOrder) {
    SelectionHost h;
    h.plant(PlantedSubscriber("qa-three").withType(3).withExtension("882001"));
    h.plant(PlantedSubscriber("qa-contact").withType(2).withExtension("882002"));
    h.plant(PlantedSubscriber("qa-network").withType(5).withExtension("882003"));
    ChooseSubscribersPage &p = h.open();
    p.cmdView_Click();
    const Texts expected = h.column(kTypesOneAndThree);
    ASSERT_GT(expected.size(), 10u);
    const Texts aliases = h.gridColumn("Alias");
    EXPECT_EQ(aliases, expected);
    EXPECT_NE(std::find(aliases.begin(), aliases.end(), "qa-three"), aliases.end());
    EXPECT_EQ(std::find(aliases.begin(), aliases.end(), "qa-contact"), aliases.end());
    EXPECT_EQ(std::find(aliases.begin(), aliases.end(), "qa-network"), aliases.end());
    EXPECT_EQ(p.txtUsersInGrid.Text, std::to_string(expected.size()));
    EXPECT_EQ(p.myGrid.checkedCount(), static_cast<int>(expected.size())) << "new rows checked";
    for (int row = 1; row < p.myGrid.Rows(); ++row)
        EXPECT_EQ(p.myGrid.TextMatrix(row, 0), std::to_string(row));
    EXPECT_FALSE(h.ui().busy());
    EXPECT_EQ(h.ui().busyChanges(), 2) << "the hourglass came and went once";
    EXPECT_TRUE(p.myGrid.redraw());

    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), expected) << "a second press replaces, not doubles";
}

TEST(ChoosePageSearch, AddUserToGridFillsEveryCell) {
    SelectionHost h;
    const std::string cos = h.plantCos("qa-cos", "QA Class");
    const auto full = h.plant(PlantedSubscriber("qa-full")
                                  .withExtension("883001")
                                  .withHome("MAILQA")
                                  .withCos(cos)
                                  .withLegacy("/o=Org/cn=qa-full")
                                  .withRemote("RN-7")
                                  .withNames("Quinn", "Avery", "Quinn Avery"));
    const auto bare = h.plant(PlantedSubscriber("qa-bare").withExtension("883002").withCos(
        "{DEADBEEF-0000-0000-0000-000000000000}"));
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionExtensionRange);
    p.txtSubscriberExtensionRangeLow.Text = "883001";
    p.txtSubscriberExtensionRangeHigh.Text = "883002";
    p.cmdView_Click();
    ASSERT_EQ(p.myGrid.Rows(), 3);
    const int fullRow = p.myGrid.TextMatrix(1, p.myGrid.ColIndex("Alias")) == "qa-full" ? 1 : 2;
    const int bareRow = 3 - fullRow;
    auto cell = [&](int row, const char *key) {
        return p.myGrid.TextMatrix(row, p.myGrid.ColIndex(key));
    };
    EXPECT_EQ(cell(fullRow, "DisplayName"), "Quinn Avery");
    EXPECT_EQ(cell(fullRow, "FirstName"), "Quinn");
    EXPECT_EQ(cell(fullRow, "LastName"), "Avery");
    EXPECT_EQ(cell(fullRow, "Extension"), "883001");
    EXPECT_EQ(cell(fullRow, "HomeServer"), "MAILQA");
    EXPECT_EQ(cell(fullRow, "COS"), "QA Class");
    EXPECT_EQ(cell(fullRow, "LegacyMailbox"), "/o=Org/cn=qa-full");
    EXPECT_EQ(cell(fullRow, "RemoteNodeID"), "RN-7");
    EXPECT_EQ(cell(fullRow, "ObjectID"), full.objectId);
    EXPECT_EQ(cell(fullRow, "HandlerObjectID"), full.handlerId);
    EXPECT_TRUE(p.myGrid.isChecked(fullRow));

    EXPECT_EQ(cell(bareRow, "Alias"), "qa-bare");
    EXPECT_EQ(cell(bareRow, "HomeServer"), "");
    EXPECT_EQ(cell(bareRow, "COS"), "") << "a class of service missing from rsCOS";
    EXPECT_EQ(cell(bareRow, "LegacyMailbox"), "");
    EXPECT_EQ(cell(bareRow, "RemoteNodeID"), "");
    EXPECT_EQ(cell(bareRow, "ObjectID"), bare.objectId);
}

TEST(ChoosePageSearch, AddUserToGridNeverAddsOtherTypes) {
    SelectionHost h;
    const auto contact =
        h.plant(PlantedSubscriber("qa-contact").withType(2).withExtension("884001"));
    const auto network =
        h.plant(PlantedSubscriber("qa-network").withType(5).withExtension("884002"));
    ChooseSubscribersPage &p = h.open();
    for (const auto *s : {&contact, &network}) {
        db::Recordset &subscribers = h.tarvoDb().rsSubscribers();
        subscribers.MoveFirst();
        subscribers.Find("SubscriberObjectID", DbValue(s->objectId));
        ASSERT_FALSE(subscribers.Eof());
        db::Recordset &handlers = h.tarvoDb().rsPrimaryCallHandlers();
        handlers.MoveFirst();
        handlers.Find("CallHandlerObjectID", DbValue(s->handlerId));
        ASSERT_FALSE(handlers.Eof());
        EXPECT_EQ(p.AddUserToGrid(), ChooseSubscribersPage::AddResult::NotAdded);
    }
    // A table standing at its end cannot be read: nothing is added either.
    h.tarvoDb().rsSubscribers().Find("SubscriberObjectID", DbValue(std::string("{nobody}")));
    EXPECT_EQ(p.AddUserToGrid(), ChooseSubscribersPage::AddResult::NotAdded);
    EXPECT_EQ(p.myGrid.Rows(), 1);
}

TEST(ChoosePageSearch, ExtensionRangesCompareNumbers) {
    struct Case {
        const char *low, *high;
        Texts found;
    };
    const Case cases[] = {
        {"9", "10", {"qa-ext10"}},
        {"0009", "10", {"qa-ext10"}},
        {"007", "10", {"qa-ext10"}},
        {"10", "10", {"qa-ext10"}},
        {"10", "100", {"qa-ext10", "qa-ext100"}},
        {"11", "99", {}},
        {"1e2", "1e2", {"qa-ext100"}},
        {" 100 ", "100", {"qa-ext100"}},
    };
    SelectionHost h;
    h.plant(PlantedSubscriber("qa-ext10").withExtension("10"));
    h.plant(PlantedSubscriber("qa-ext100").withExtension("100"));
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionExtensionRange);
    for (const Case &c : cases) {
        p.txtSubscriberExtensionRangeLow.Text = c.low;
        p.txtSubscriberExtensionRangeHigh.Text = c.high;
        p.cmdView_Click();
        EXPECT_EQ(sorted(h.gridColumn("Alias")), c.found) << c.low << " to " << c.high;
        EXPECT_EQ(p.txtUsersInGrid.Text, std::to_string(c.found.size()));
    }
    EXPECT_TRUE(h.ui().boxes().empty());
}

TEST(ChoosePageSearch, ASeededExtensionRangeOfOneFindsItsOwner) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionExtensionRange);
    p.txtSubscriberExtensionRangeLow.Text = "4000";
    p.txtSubscriberExtensionRangeHigh.Text = "4000";
    p.cmdView_Click();
    EXPECT_EQ(sorted(h.gridColumn("Alias")),
              sorted(h.column("SELECT DISTINCT s.Alias FROM Subscriber s JOIN DTMFAccessID d "
                              "ON d.ParentObjectID = s.SubscriberObjectID "
                              "WHERE d.DTMFAccessID = '4000' AND s.SubscriberType IN (1,3)")));
}

TEST(ChoosePageSearch, ExtensionRangeMessagesLeaveTheGridEmpty) {
    struct Case {
        const char *low, *high, *message;
    };
    const Case cases[] = {
        {"4010", "4000", "Invalid extension range. First extension must be lower than the second."},
        {"-1", "10", "Invalid extension range. First extension must be lower than the second."},
        {"10", "-1", "Invalid extension range. First extension must be lower than the second."},
        {"", "10", "Invalid input for extension range.  Please input numbers only."},
        {"10", "", "Invalid input for extension range.  Please input numbers only."},
        {"abc", "10", "Invalid input for extension range.  Please input numbers only."},
    };
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    for (const Case &c : cases) {
        h.chooseCode(kCriterionAllSubscribers);
        p.cmdView_Click();
        ASSERT_GT(p.myGrid.Rows(), 1);
        h.chooseCode(kCriterionExtensionRange);
        p.txtSubscriberExtensionRangeLow.Text = c.low;
        p.txtSubscriberExtensionRangeHigh.Text = c.high;
        h.ui().expectBox(c.message);
        p.cmdView_Click();
        h.ui().verifyAllShown();
        EXPECT_EQ(p.myGrid.Rows(), 1) << c.low << " to " << c.high;
        EXPECT_EQ(p.txtUsersInGrid.Text, "0");
        EXPECT_FALSE(h.ui().busy());
    }
}

TEST(ChoosePageSearch, ASubscriberWithSeveralExtensionsInTheRangeIsListedOnce) {
    SelectionHost h;
    h.plant(PlantedSubscriber("qa-many").withExtension("30").withAlternates({"31", "32"}));
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionExtensionRange);
    p.txtSubscriberExtensionRangeLow.Text = "30";
    p.txtSubscriberExtensionRangeHigh.Text = "32";
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"qa-many"});
    EXPECT_EQ(h.gridColumn("Extension"), Texts{"30"}) << "the primary extension is shown";
}

TEST(ChoosePageSearch, SwitchesChooseByPosition) {
    SelectionHost h;
    h.plant(PlantedSubscriber("qa-sw-none").withExtension("885001"));
    h.plant(PlantedSubscriber("qa-sw-0").withExtension("885002").withSwitch(0));
    h.plant(PlantedSubscriber("qa-sw-1").withExtension("885003").withSwitch(1));
    h.plant(PlantedSubscriber("qa-sw-2").withExtension("885004").withSwitch(2));
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionSwitch);

    p.comSubscriberSwitch.ListIndex = 0;
    p.cmdView_Click();
    Texts first = sorted(h.gridColumn("Alias"));
    EXPECT_EQ(first, sorted(h.column("SELECT Alias FROM Subscriber WHERE SubscriberType IN (1,3) "
                                     "AND (SwitchID IS NULL OR SwitchID = 0)")));
    EXPECT_TRUE(std::binary_search(first.begin(), first.end(), "qa-sw-none"));
    EXPECT_TRUE(std::binary_search(first.begin(), first.end(), "qa-sw-0"));
    EXPECT_FALSE(std::binary_search(first.begin(), first.end(), "qa-sw-1"));

    p.comSubscriberSwitch.ListIndex = 1;
    p.cmdView_Click();
    Texts second = sorted(h.gridColumn("Alias"));
    EXPECT_EQ(second, sorted(h.column("SELECT Alias FROM Subscriber WHERE SubscriberType IN "
                                      "(1,3) AND SwitchID = 1")));
    EXPECT_TRUE(std::binary_search(second.begin(), second.end(), "qa-sw-1"));
    EXPECT_FALSE(std::binary_search(second.begin(), second.end(), "qa-sw-2"));
}

TEST(ChoosePageSearch, AMailServerNameHoldingAQuoteIsFoundAsWritten) {
    SelectionHost h;
    h.plant(PlantedSubscriber("qa-quoted").withExtension("886001").withHome("O'Brien MAIL"));
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionMailServer);
    p.comSubscriberMailServer.ListIndex = indexOf(p.comSubscriberMailServer, "O'Brien MAIL");
    ASSERT_GE(p.comSubscriberMailServer.ListIndex, 0);
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), Texts{"qa-quoted"});
    EXPECT_EQ(p.txtUsersInGrid.Text, "1");
}

TEST(ChoosePageSearch, MailServerSearchFindsItsSubscribers) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionMailServer);
    p.comSubscriberMailServer.ListIndex = 0;
    const std::string server = p.comSubscriberMailServer.Text();
    p.cmdView_Click();
    EXPECT_EQ(sorted(h.gridColumn("Alias")),
              sorted(h.column("SELECT Alias FROM Subscriber WHERE SubscriberType IN (1,3) AND "
                              "HomeServer = '" +
                              server + "'")));
    for (const std::string &home : h.gridColumn("HomeServer"))
        EXPECT_EQ(home, server);
}

TEST(ChoosePageSearch, MissingChoicesAreNamedAndEmptyTheGrid) {
    const std::pair<int, const char *> cases[] = {
        {kCriterionSwitch, "You must select a switch first"},
        {kCriterionMailServer, "You must select a mailstore first"},
        {kCriterionClassOfService, "You must first select a COS"},
    };
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    for (const auto &[code, message] : cases) {
        h.chooseCode(kCriterionAllSubscribers);
        p.cmdView_Click();
        ASSERT_GT(p.myGrid.Rows(), 1);
        h.chooseCode(code);
        h.ui().expectBox(message);
        p.cmdView_Click();
        h.ui().verifyAllShown();
        EXPECT_EQ(p.myGrid.Rows(), 1);
        EXPECT_EQ(p.txtUsersInGrid.Text, "0");
    }
}

TEST(ChoosePageSearch, ClassOfServiceResultsComeInAliasOrder) {
    SelectionHost h;
    const std::string cos = h.plantCos("qa-order", "Order COS");
    h.plant(PlantedSubscriber("qa-c").withExtension("887003").withCos(cos));
    h.plant(PlantedSubscriber("qa-a").withExtension("887001").withCos(cos));
    h.plant(PlantedSubscriber("qa-b").withExtension("887002").withCos(cos));
    h.plant(PlantedSubscriber("qa-x").withType(2).withExtension("887004").withCos(cos));
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionClassOfService);
    p.ComSubscribersCOS.ListIndex = indexOf(p.ComSubscribersCOS, "Order COS");
    p.cmdView_Click();
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"qa-a", "qa-b", "qa-c"}));
    EXPECT_EQ(h.gridColumn("COS"), (Texts{"Order COS", "Order COS", "Order COS"}));
}

TEST(ChoosePageSearch, ChoicesThatVanishedSinceTheLoadAddNothingSilently) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    h.chooseCode(kCriterionClassOfService);
    p.ComSubscribersCOS.ListIndex = 0;
    p.comHiddenCOS.List[0] = "qa-no-such-cos";
    p.cmdView_Click();
    EXPECT_EQ(p.myGrid.Rows(), 1);

    h.chooseCode(kCriterionMailServer);
    p.comSubscriberMailServer.ListIndex = 0;
    h.exec("UPDATE Subscriber SET HomeServer = NULL");
    p.cmdView_Click();
    EXPECT_EQ(p.myGrid.Rows(), 1);
    EXPECT_EQ(p.txtUsersInGrid.Text, "0");
    EXPECT_TRUE(h.ui().boxes().empty());
}

TEST(ChoosePageSearch, SubscribersMissingFromTheSnapshotArePassedOver) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    h.plant(PlantedSubscriber("qa-late").withExtension("888001"));
    h.chooseCode(kCriterionExtensionRange);
    p.txtSubscriberExtensionRangeLow.Text = "888001";
    p.txtSubscriberExtensionRangeHigh.Text = "888001";
    p.cmdView_Click();
    EXPECT_EQ(p.myGrid.Rows(), 1);
    EXPECT_TRUE(h.ui().boxes().empty());
}

// --- the grid's limit --------------------------------------------------------------------------

TEST(ChoosePageLimit, ASearchBeyondTheGridsLimitStopsThereAndSaysSoOnce) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    p.myGrid.setRowLimit(5);
    h.ui().expectBox("Only the first 5 were added");
    p.cmdView_Click();
    h.ui().verifyAllShown();
    EXPECT_EQ(h.ui().boxes().size(), 1u);
    EXPECT_EQ(p.myGrid.Rows(), 6);
    EXPECT_EQ(p.txtUsersInGrid.Text, "5");
    const Texts all = h.column(kTypesOneAndThree);
    EXPECT_EQ(h.gridColumn("Alias"), Texts(all.begin(), all.begin() + 5));
    EXPECT_TRUE(p.cmdNext_Click());
}

TEST(ChoosePageLimit, ASearchThatJustFillsTheGridSaysNothing) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    const int all = static_cast<int>(h.column(kTypesOneAndThree).size());
    p.myGrid.setRowLimit(all);
    p.cmdView_Click();
    EXPECT_EQ(p.myGrid.Rows(), all + 1);
    EXPECT_TRUE(h.ui().boxes().empty());
}

TEST(ChoosePageLimit, AnImportBeyondTheLimitSaysSoBeforeItsSummary) {
    SelectionHost h;
    h.plant(PlantedSubscriber("qa-l1").withExtension("889001"));
    h.plant(PlantedSubscriber("qa-l2").withExtension("889002"));
    h.plant(PlantedSubscriber("qa-l3").withExtension("889003"));
    ChooseSubscribersPage &p = h.open();
    p.myGrid.setRowLimit(2);
    h.chooseCode(kCriterionCsvFile);
    p.txtCSVPath.Text = h.writeFile("limit.csv", "alias\r\nqa-l1\r\nqa-l2\r\nqa-l3\r\nqa-l1\r\n");
    h.ui().expectBox("Only the first 2 were added");
    h.ui().expectBox(summary(3, 2));
    p.cmdView_Click();
    h.ui().verifyAllShown();
    EXPECT_EQ(h.ui().boxes().size(), 2u) << "one limit message, the summary last";
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{"qa-l1", "qa-l2"}));
}

// --- grid buttons and hand-over ----------------------------------------------------------------

TEST(ChoosePageGrid, ButtonsClicksAndCheckBoxes) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    p.cmdView_Click();
    const int rows = p.myGrid.Rows() - 1;
    ASSERT_GT(rows, 2);

    p.cmdUnselectAll_Click();
    EXPECT_EQ(p.myGrid.checkedCount(), 0);
    p.cmdSelectAll_Click();
    EXPECT_EQ(p.myGrid.checkedCount(), rows);

    const int display = p.myGrid.ColIndex("DisplayName");
    p.myGrid.Row = 2;
    p.myGrid.Col = display;
    p.myGrid_Click();
    EXPECT_FALSE(p.myGrid.isChecked(2)) << "a click on a text cell unchecks";
    p.myGrid_Click();
    EXPECT_TRUE(p.myGrid.isChecked(2)) << "and checks again";
    p.myGrid.Row = 0;
    p.myGrid_Click();
    EXPECT_EQ(p.myGrid.checkedCount(), rows) << "the header row changes nothing";

    EXPECT_FALSE(p.myGrid_BeforeEdit(1, display)) << "texts cannot be edited";
    EXPECT_TRUE(p.myGrid_BeforeEdit(1, p.myGrid.ColIndex("selected")));
    p.myGrid_CheckBoxEdited(1, false);
    EXPECT_FALSE(p.myGrid.isChecked(1));
    EXPECT_EQ(p.myGrid.Row, 0);
    EXPECT_EQ(p.myGrid.Col, 0);
    EXPECT_EQ(p.txtUsersInGrid.Text, std::to_string(rows)) << "unchecked rows still count";

    p.cmdClearGrid_Click();
    EXPECT_EQ(p.myGrid.Rows(), 1);
    EXPECT_EQ(p.txtUsersInGrid.Text, "0");
}

TEST(ChoosePageGrid, NextNeedsRowsAndOneCheckedRow) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    h.ui().expectBox("You must first select subscribers to delete");
    EXPECT_FALSE(p.cmdNext_Click());
    p.cmdView_Click();
    p.cmdUnselectAll_Click();
    h.ui().expectBox("You must select at least one subscriber to reset");
    EXPECT_FALSE(p.cmdNext_Click());
    h.ui().verifyAllShown();
    p.myGrid.setChecked(p.myGrid.Rows() - 1, true);
    EXPECT_TRUE(p.cmdNext_Click());
    EXPECT_EQ(h.ui().boxes().size(), 2u);
    EXPECT_EQ(h.ui().boxes()[0].text, "You must first select subscribers to delete");
    EXPECT_EQ(h.ui().boxes()[0].title, "Zephrane");

    p.cmdPrevious_Click();
    EXPECT_EQ(p.myGrid.Rows(), 1) << "going back clears the grid";
}

TEST(ChoosePageGrid, BrowseKeepsThePathUnlessAFileIsChosen) {
    SelectionHost h;
    ChooseSubscribersPage &p = h.open();
    p.txtCSVPath.Text = "old.csv";
    h.ui().expectFileDialog(std::nullopt);
    p.cmdBrowseForCSV_Click();
    EXPECT_EQ(p.txtCSVPath.Text, "old.csv") << "cancelled";
    h.ui().expectFileDialog(std::string("a.c"));
    p.cmdBrowseForCSV_Click();
    EXPECT_EQ(p.txtCSVPath.Text, "old.csv") << "a name shorter than 4 characters";
    h.ui().expectFileDialog(std::string("/data/list.csv"));
    p.cmdBrowseForCSV_Click();
    EXPECT_EQ(p.txtCSVPath.Text, "/data/list.csv");
}
