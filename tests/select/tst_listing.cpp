// A listing of a criterion's subscribers, read in one query without the cached tables, holds
// exactly what "Add Subscribers To Grid" puts in the grid, row for row and cell for cell, in
// the same order; input the button refuses is refused in the same words, and a listing stops
// where the grid is full.
#include "select_helpers.h"

using namespace zeph;
using namespace zeph::test;

namespace {

using Rows = std::vector<Texts>;

Rows gridRows(const ChooseSubscribersPage &page) {
    Rows rows;
    for (int row = 1; row < page.myGrid.Rows(); ++row) {
        Texts cells;
        for (const std::string &key : ChooseSubscribersPage::kListingColumns)
            cells.push_back(page.myGrid.TextMatrix(row, page.myGrid.ColIndex(key)));
        rows.push_back(std::move(cells));
    }
    return rows;
}

// One criterion as an operator sets it on either page.
struct Criterion {
    const char *what;
    int code;
    std::string low{}, high{};
    int listEntry = -1; // the switch, mail server or class of service chosen
};

void choose(ChooseSubscribersPage &page, const Criterion &c) {
    const auto &data = page.cmbSubscriberSelectType.ItemData;
    page.chooseCriterion(
        static_cast<int>(std::find(data.begin(), data.end(), c.code) - data.begin()));
    page.txtSubscriberExtensionRangeLow.Text = c.low;
    page.txtSubscriberExtensionRangeHigh.Text = c.high;
    page.comSubscriberSwitch.ListIndex = c.code == kCriterionSwitch ? c.listEntry : -1;
    page.comSubscriberMailServer.ListIndex = c.code == kCriterionMailServer ? c.listEntry : -1;
    page.ComSubscribersCOS.ListIndex = c.code == kCriterionClassOfService ? c.listEntry : -1;
}

// The listing page: the same host, its own page, no cached table opened.
struct ListingPage {
    explicit ListingPage(SelectionHost &h)
        : tarvoDb(*h.temp().host().database)
        , page(h.temp().host(), h.registry(), tarvoDb, nullptr, "") {
        page.Form_Load();
    }
    Rows list(const Criterion &c) {
        choose(page, c);
        Rows rows;
        EXPECT_TRUE(page.listSubscribers([&](const Texts &cells) { rows.push_back(cells); }))
            << c.what;
        return rows;
    }
    db::modTarvoDB tarvoDb;
    ChooseSubscribersPage page;
};

std::vector<Criterion> everyCriterion(const ChooseSubscribersPage &page) {
    std::vector<Criterion> all = {
        {"all", kCriterionAllSubscribers},
        {"a range", kCriterionExtensionRange, "4000", "4012"},
        {"a range holding alternate extensions", kCriterionExtensionRange, "7000", "7999"},
        {"every extension", kCriterionExtensionRange, "0", "99999999"},
        {"an empty range", kCriterionExtensionRange, "99990", "99991"},
    };
    for (int i = 0; i < page.comSubscriberSwitch.ListCount(); ++i)
        all.push_back({"a switch", kCriterionSwitch, "", "", i});
    for (int i = 0; i < page.comSubscriberMailServer.ListCount(); ++i)
        all.push_back({"a mail server", kCriterionMailServer, "", "", i});
    for (int i = 0; i < page.ComSubscribersCOS.ListCount(); ++i)
        all.push_back({"a class of service", kCriterionClassOfService, "", "", i});
    return all;
}

} // namespace

TEST(SubscriberListing, EveryCriterionListsWhatTheGridHoldsInItsOrder) {
    SelectionHost h;
    // Beside the seeded subscribers: ones the grid leaves out or shows in part.
    const std::string cos = h.column("SELECT COSObjectID FROM COS ORDER BY Alias").at(0);
    h.plant({.alias = "zz_alternates",
             .extension = "7100",
             .homeServer = "MAILZZ",
             .cosId = cos,
             .alternates = {"7101", "7102"}});
    h.plant({.alias = "zz_noextension", .homeServer = "MAILZZ", .cosId = cos});
    h.plant({.alias = "zz_type2", .extension = "7200", .type = 2, .homeServer = "MAILZZ"});
    h.plant({.alias = "zz_type3", .extension = "7300", .type = 3, .homeServer = "MAILZZ"});
    h.plant({.alias = "zz_nocos",
             .extension = "7400",
             .homeServer = "MAILZZ",
             .cosId = "{NO-SUCH-COS}"});
    const Planted orphan = h.plant(
        {.alias = "zz_nohandler", .extension = "7500", .homeServer = "MAILZZ", .cosId = cos});
    h.column("DELETE FROM CallHandler WHERE CallHandlerObjectID = ?", {orphan.handlerId});
    h.column("UPDATE Subscriber SET FirstName = 'Quote''s, \"comma\"' WHERE Alias = ?",
             {std::string("zz_type3")});

    ChooseSubscribersPage &grid = h.open();
    ListingPage listing(h);
    EXPECT_EQ(listing.page.ComSubscribersCOS.List, grid.ComSubscribersCOS.List);
    EXPECT_EQ(listing.page.comSubscriberMailServer.List, grid.comSubscriberMailServer.List);
    int compared = 0;
    for (const Criterion &c : everyCriterion(grid)) {
        choose(grid, c);
        grid.cmdView_Click();
        const Rows wanted = gridRows(grid);
        EXPECT_EQ(listing.list(c), wanted)
            << c.what << " " << c.low << "-" << c.high << " #" << c.listEntry;
        compared += static_cast<int>(wanted.size());
    }
    EXPECT_GT(compared, 60) << "the criteria found too few subscribers to compare";
    // What the grid leaves out, the listing leaves out too.
    const Rows all = listing.list({"all", kCriterionAllSubscribers});
    for (const char *left : {"zz_type2", "zz_nohandler"})
        EXPECT_TRUE(std::none_of(all.begin(), all.end(), [&](const Texts &row) {
            return row.at(0) == left;
        })) << left;
}

TEST(SubscriberListing, RefusedInputIsRefusedInTheButtonsWordsAndListsNothing) {
    SelectionHost h;
    h.open();
    ListingPage listing(h);
    const char *order = "Invalid extension range. First extension must be lower than the second.";
    const std::pair<Criterion, const char *> cases[] = {
        {{"a reversed range", kCriterionExtensionRange, "4010", "4000"}, order},
        {{"a negative range", kCriterionExtensionRange, "-1", "10"}, order},
        {{"half a range", kCriterionExtensionRange, "10", ""},
         "Invalid input for extension range.  Please input numbers only."},
        {{"no switch", kCriterionSwitch}, "You must select a switch first"},
        {{"no mail server", kCriterionMailServer}, "You must select a mailstore first"},
        {{"no class of service", kCriterionClassOfService}, "You must first select a COS"},
    };
    for (const auto &[criterion, message] : cases) {
        h.ui().expectBox(message);
        EXPECT_TRUE(listing.list(criterion).empty()) << criterion.what;
        h.ui().verifyAllShown();
        EXPECT_TRUE(listing.page.inputRefused()) << criterion.what;
    }
    // A CSV file's lines are looked up one by one: no listing of its own.
    choose(listing.page, {"a CSV file", kCriterionCsvFile});
    EXPECT_FALSE(listing.page.listSubscribers([](const Texts &) {}));
}

TEST(SubscriberListing, AListingStopsWhereTheGridIsFullAndSaysSo) {
    SelectionHost h;
    ChooseSubscribersPage &grid = h.open();
    ListingPage listing(h);
    grid.myGrid.setRowLimit(5);
    listing.page.myGrid.setRowLimit(5);
    const Criterion all{"all", kCriterionAllSubscribers};
    const char *full = "The search found more subscribers than the grid can hold.  Only the first "
                       "5 were added to the grid; narrow the search to reach the others.";
    choose(grid, all);
    h.ui().expectBox(full);
    grid.cmdView_Click();
    h.ui().expectBox(full);
    const Rows rows = listing.list(all);
    h.ui().verifyAllShown();
    EXPECT_EQ(rows, gridRows(grid));
    EXPECT_EQ(rows.size(), 5u);
}
