// The advanced search's query selection used without its page, as zephrane-cli uses it: for
// the same queries it imports the same subscribers and says the same messages as the page's
// Execute and Import, and a script's query never reaches the operator's history.
#include "search/AdvancedSearchPage.h"
#include "search/SelectionQuery.h"
#include "select/select_helpers.h"

using namespace zeph;
using namespace zeph::search;
using zeph::test::Texts;

namespace {

constexpr const char *kNoResults = "You must create a query to select subscribers first";

struct Said {
    std::string text;
    MsgIcon icon;
    bool operator==(const Said &) const = default;
};

// What one way of running a query left: its messages, the selection grid's aliases and what
// the grid says its rows came from.
struct Outcome {
    std::vector<Said> said;
    Texts aliases;
    std::string source;
};

struct Case {
    const char *tail;
    /// The first message, from its start.
    const char *firstMessage;
    /// The statement ran (selectByQuery's answer).
    bool ran;
    /// Subscribers imported: at least one, or none.
    bool imports;
};

const Case kCases[] = {
    {"WHERE SubscriberType IN (1,3)\r\nORDER BY Alias DESC", "", true, true},
    {"INNER JOIN vw_CallHandler_Primary p ON p.CallHandlerObjectID = "
     "vw_Subscriber.CallHandlerObjectID WHERE vw_Subscriber.SubscriberType = 1",
     "", true, true},
    {"WHERE Alias = 'nobody by this name'", kNoResults, true, false},
    {"WHERE 1=1; DELETE FROM Subscriber", "You cannot issue DELETEs from this interface", false,
     false},
    {"WHERE 1=1 SELECT * INTO Intruder FROM Subscriber",
     "Only a SELECT can run from this interface: INTO is not allowed", false, false},
    {"WHERE Aliass = 'x'", "Invalid SQL entry:\r\n", false, false},
};

class SelectionQueryTest : public ::testing::Test {
protected:
    test::SelectionHost h;
    ChooseSubscribersPage *m_selection = nullptr;

    void SetUp() override {
        m_selection = &h.open();
        h.ui().setStrict(false);
    }
    SubscriberSearch &subscribers() { return m_selection->search(); }

    // Runs `run` on an empty selection grid and collects what it left.
    template <class Run> Outcome outcome(Run run) {
        subscribers().clearGrid();
        const std::size_t before = h.ui().boxes().size();
        run();
        Outcome out;
        for (std::size_t i = before; i < h.ui().boxes().size(); ++i)
            out.said.push_back({h.ui().boxes()[i].text, h.ui().boxes()[i].icon});
        out.aliases = h.gridColumn("Alias");
        out.source = subscribers().gridSource();
        EXPECT_FALSE(h.ui().busy());
        return out;
    }
    std::size_t historyEntries() {
        return h.registry().EnumValues(HKEY_LOCAL_MACHINE, kQueryHistoryKey).size();
    }
};

TEST_F(SelectionQueryTest, WithoutThePageTheSameSubscribersAndMessages) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.tail);
        const Outcome byPage = outcome([&] {
            AdvancedSearchPage page(h.temp().host(), h.registry(), h.tarvoDb(), subscribers());
            page.txtSQL = c.tail;
            page.cmdExecute_Click();
            page.cmdImport_Click();
            EXPECT_EQ(page.unloadRequested(), c.imports);
        });
        const Outcome byObject = outcome([&] {
            SelectionQuery query(h.temp().host(), h.registry(), h.tarvoDb(), subscribers(),
                                 SubscriberSearch::messageBoxes(h.temp().host()));
            query.execute(c.tail);
            EXPECT_EQ(query.importIntoSelection(), c.imports);
            // An import closes the result; a result without rows stays for another try.
            EXPECT_EQ(query.recordset().IsOpen(), c.ran && !c.imports);
        });
        ASSERT_FALSE(byPage.said.empty());
        EXPECT_EQ(byPage.said.front().text.rfind(c.firstMessage, 0), 0u)
            << byPage.said.front().text;
        EXPECT_EQ(byObject.said, byPage.said);
        EXPECT_EQ(byObject.aliases, byPage.aliases);
        EXPECT_EQ(byObject.source, byPage.source);
        EXPECT_EQ(!byPage.aliases.empty(), c.imports);
        if (c.imports) {
            EXPECT_EQ(byPage.said.back().text,
                      std::to_string(byPage.aliases.size()) + " new subscribers added to grid");
            EXPECT_EQ(byPage.source.rfind("Advanced search: ", 0), 0u);
        }
    }
}

// A script's query: the same as Execute and Import, except that nothing is imported from a
// result without rows and so nothing more is said (the empty grid then refuses the reset), and
// nothing goes into the history.
TEST_F(SelectionQueryTest, AScriptsQueryIsExecuteAndImportAndNeverKept) {
    const std::size_t kept = historyEntries();
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.tail);
        Outcome pressed = outcome([&] {
            SelectionQuery query(h.temp().host(), h.registry(), h.tarvoDb(), subscribers(),
                                 SubscriberSearch::messageBoxes(h.temp().host()));
            query.keepHistory = false;
            query.execute(c.tail);
            (void)query.importIntoSelection();
        });
        const Outcome scripted = outcome([&] {
            SelectionQuery query(h.temp().host(), h.registry(), h.tarvoDb(), subscribers(),
                                 SubscriberSearch::messageBoxes(h.temp().host()));
            EXPECT_EQ(query.selectByQuery(c.tail), c.ran);
            EXPECT_TRUE(query.keepHistory);
        });
        if (!c.imports) {
            ASSERT_FALSE(pressed.said.empty());
            EXPECT_EQ(pressed.said.back().text, kNoResults);
            pressed.said.pop_back();
        }
        EXPECT_EQ(scripted.said, pressed.said);
        EXPECT_EQ(scripted.aliases, pressed.aliases);
        EXPECT_EQ(historyEntries(), kept);
    }
    // The same object keeps what an operator runs.
    SelectionQuery query(h.temp().host(), h.registry(), h.tarvoDb(), subscribers(),
                         SubscriberSearch::messageBoxes(h.temp().host()));
    query.execute(kCases[0].tail);
    EXPECT_EQ(historyEntries(), kept + 1);
}

} // namespace
