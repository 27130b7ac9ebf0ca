// A subscriber search used on its own, with no page, as zephrane-cli uses it: it reads the lists
// the page shows, and for the selection that the page's controls stand for it fills the grid the
// page's button fills, row for row, and says the same things through the reporter it is given.
#include "select/SubscriberSearch.h"
#include "select_helpers.h"

using namespace zeph;
using namespace zeph::test;

namespace {

struct Said {
    std::string text;
    MsgIcon icon;
    bool operator==(const Said &) const = default;
};

// The operator's choice on the page, and the same choice as a caller without the page names it.
struct Case {
    const char *what;
    SubscriberCriterion code;
    std::string low{}, high{}, csvPath{};
    int listEntry = -1; // the switch, mail server or class of service chosen
};

void setControls(SelectionHost &h, const Case &c) {
    ChooseSubscribersPage &page = h.page();
    h.chooseCode(c.code);
    page.txtSubscriberExtensionRangeLow.Text = c.low;
    page.txtSubscriberExtensionRangeHigh.Text = c.high;
    page.txtCSVPath.Text = c.csvPath;
    page.comSubscriberSwitch.ListIndex = c.code == kCriterionSwitch ? c.listEntry : -1;
    page.comSubscriberMailServer.ListIndex = c.code == kCriterionMailServer ? c.listEntry : -1;
    page.ComSubscribersCOS.ListIndex = c.code == kCriterionClassOfService ? c.listEntry : -1;
}

// The selection from the search's own lists, as zephrane-cli makes it from its options.
SubscriberSelection selectionOf(const SubscriberSearch &search, const Case &c) {
    auto entry = [&](const std::vector<std::string> &list) {
        return c.listEntry < 0 ? std::string() : list.at(static_cast<std::size_t>(c.listEntry));
    };
    SubscriberSelection s;
    s.criterion = c.code;
    s.extensionLow = c.low;
    s.extensionHigh = c.high;
    s.csvPath = c.csvPath;
    if (c.code == kCriterionSwitch)
        s.switchNumber = c.listEntry + 1;
    if (c.code == kCriterionMailServer)
        s.mailServer = entry(search.mailServers());
    if (c.code == kCriterionClassOfService)
        s.classOfService = entry(search.classOfServiceAliases());
    return s;
}

std::vector<Said> boxesFrom(const ScriptedUi &ui, std::size_t first) {
    std::vector<Said> said;
    for (std::size_t i = first; i < ui.boxes().size(); ++i)
        said.push_back({ui.boxes()[i].text, ui.boxes()[i].icon});
    return said;
}

} // namespace

TEST(SubscriberSearch, WithoutAPageItFillsTheGridThePageFillsAndSaysTheSame) {
    SelectionHost h;
    h.plant({.alias = "qa-alternates", .extension = "4005", .alternates = {"7101"}});
    h.plant({.alias = "qa-contact", .extension = "4006", .type = 2});
    ChooseSubscribersPage &page = h.open();
    h.ui().setStrict(false);
    std::vector<Said> said;
    SubscriberSearch search(h.temp().host(), h.registry(), h.tarvoDb(), nullptr,
                            [&](const std::string &text, MsgIcon icon) {
                                said.push_back({text, icon});
                            });
    int replaced = 0;
    search.rowsReplaced = [&] { ++replaced; };
    search.loadLists();
    EXPECT_EQ(search.switchNames(), page.comSubscriberSwitch.List);
    EXPECT_EQ(search.mailServers(), page.comSubscriberMailServer.List);
    EXPECT_EQ(search.classOfServiceAliases(), page.comHiddenCOS.List);
    EXPECT_EQ(search.classOfServiceNames(), page.ComSubscribersCOS.List);
    ASSERT_FALSE(search.mailServers().empty());
    ASSERT_GE(search.classOfServiceAliases().size(), 2U);

    const int lastCos = static_cast<int>(search.classOfServiceAliases().size()) - 1;
    const Case cases[] = {
        {"all subscribers", kCriterionAllSubscribers},
        {"a range, a contact in it", kCriterionExtensionRange, "4000", "4012"},
        {"the first switch", kCriterionSwitch, "", "", "", 0},
        {"a mail server", kCriterionMailServer, "", "", "", 0},
        {"the last class of service", kCriterionClassOfService, "", "", "", lastCos},
        {"a subscriber list", kCriterionCsvFile, "", "",
         h.writeFile("list.csv", "alias,extension\r\nqa-alternates,\r\n,7101\r\nnobody,\r\n")},
        {"a reversed range", kCriterionExtensionRange, "4012", "4000"},
        {"no mail server", kCriterionMailServer},
        {"a missing file", kCriterionCsvFile, "", "", h.temp().folder() + "/none.csv"},
    };
    int compared = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        setControls(h, c);
        const std::size_t boxesBefore = h.ui().boxes().size();
        page.cmdView_Click();
        said.clear();
        const int replacedBefore = replaced;
        search.addSubscribers(selectionOf(search, c));

        EXPECT_EQ(replaced, replacedBefore + 1);
        EXPECT_EQ(search.gridRows(), page.gridRows());
        EXPECT_EQ(search.tickedSubscribers(), page.tickedSubscribers());
        EXPECT_EQ(search.gridSource(), page.gridSource());
        EXPECT_EQ(search.inputRefused(), page.inputRefused());
        EXPECT_EQ(said, boxesFrom(h.ui(), boxesBefore));
        compared += search.gridDataRows();
    }
    EXPECT_GT(compared, 40) << "the cases found too few subscribers to compare";
    // Refused input is said as a warning, and leaves the grid empty.
    EXPECT_TRUE(search.inputRefused());
    EXPECT_EQ(search.gridDataRows(), 0);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.front().icon, MsgIcon::Warning);
}

// A hand-over from a search on its own is checked as Next checks the page's grid.
TEST(SubscriberSearch, AnEmptyOrUntickedGridIsNotHandedOver) {
    SelectionHost h;
    h.open();
    std::vector<std::string> said;
    SubscriberSearch search(h.temp().host(), h.registry(), h.tarvoDb(), nullptr,
                            [&](const std::string &text, MsgIcon) { said.push_back(text); });
    search.loadLists();
    EXPECT_FALSE(search.readyToHandOver());
    SubscriberSelection all;
    all.criterion = kCriterionAllSubscribers;
    search.addSubscribers(all);
    ASSERT_GT(search.gridDataRows(), 1);
    search.grid().deselectAll();
    EXPECT_FALSE(search.readyToHandOver());
    search.grid().setChecked(2, true);
    EXPECT_TRUE(search.readyToHandOver());
    EXPECT_EQ(search.tickedSubscribers().size(), 1U);
    EXPECT_EQ(said, (std::vector<std::string>{"You must first select subscribers to delete",
                                              "You must select at least one subscriber to reset"}));
}
