#include "search/QueryHistory.h"
#include "support/FixedClock.h"
#include "support/TempHost.h"

#include "platform/Error.h"

#include <gtest/gtest.h>

using namespace zeph;
using namespace zeph::search;

namespace {

// The host's registry as an account that may read but not write sees it.
struct ReadOnlyRegistry : IRegistry {
    explicit ReadOnlyRegistry(IRegistry &inner)
        : m_inner(inner) {}
    bool openable(RegRoot root, const std::string &key, RegAccess access) override {
        return access == RegAccess::Read && m_inner.openable(root, key, access);
    }
    bool createKey(RegRoot, const std::string &) override { throw Error(5, "Access is denied"); }
    std::optional<RegRawValue> queryValue(RegRoot root, const std::string &key,
                                          const std::string &name) override {
        return m_inner.queryValue(root, key, name);
    }
    bool setValue(RegRoot, const std::string &, const std::string &, const RegRawValue &) override {
        return false;
    }
    bool deleteValue(RegRoot, const std::string &, const std::string &) override { return false; }
    std::optional<std::vector<RegNamedValue>> enumValues(RegRoot root,
                                                         const std::string &key) override {
        return m_inner.enumValues(root, key);
    }
    IRegistry &m_inner;
};

class QueryHistoryTest : public ::testing::Test {
protected:
    test::TempHost m_temp{0};
    RegistryAPI m_registry{*m_temp.host().registry};
    test::FixedClock m_clock{test::utcTime(2026, 12, 5, 14, 7, 9)};
    PreviousQueriesMenu m_menu;

    // Stores a statement and moves the clock on by one second.
    void save(const std::string &text) {
        SaveQueryToHistory(m_registry, m_clock, text);
        m_clock.sleepMs(1000);
    }
    std::vector<PreviousQueryItem> show() { return m_menu.ShowPreviousQueries(m_registry); }
};

} // namespace

TEST(QueryHistoryNames, FourteenDigitsOfTheMomentAndCaptionsCutTo90Characters) {
    EXPECT_EQ(historyValueName({2027, 1, 2, 3, 4, 5}), "20270102030405");
    const std::pair<std::string, std::string> cases[] = {
        // Cut first: the line breaks counted as two characters each before they shrank.
        {std::string(44, 'a') + "\r\n" + std::string(50, 'b'),
         std::string(44, 'a') + " " + std::string(44, 'b')},
        {std::string(89, 'a') + "\r\nb", std::string(89, 'a') + "\r"},
        // Characters, not bytes.
        {std::string(88, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9",
         std::string(88, 'a') + "\xC3\xA9\xC3\xA9"},
    };
    for (const auto &[statement, caption] : cases)
        EXPECT_EQ(historyCaption(statement), caption) << statement;
}

TEST_F(QueryHistoryTest, TheNewestTenStayAndAnotherRunReadsThem) {
    for (int i = 0; i < 11; ++i)
        save("where n = " + std::to_string(i) + "\r\nor n = 0");
    SaveQueryToHistory(m_registry, m_clock, "lost: the same second keeps the later text");
    save("where n = 10\r\nor n = 0");
    RegistryAPI again(*m_temp.host().registry);
    PreviousQueriesMenu menu;
    const auto items = menu.ShowPreviousQueries(again);
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items[0], (PreviousQueryItem{"where n = 10 or n = 0", "20261205140720"}))
        << "the first two, at :09 and :10, are gone";
    EXPECT_EQ(items[1].caption, "where n = 10 or n = 0") << "the same text twice is kept twice";
    EXPECT_EQ(items.back(), (PreviousQueryItem{"where n = 2 or n = 0", "20261205140711"}));
    const QueryColors editor = menu.mnuPreviousQuery_Click(again, m_temp.ui(), 9);
    EXPECT_EQ(editor.text, "WHERE n = 2\r\nOR n = 0") << "the whole statement, recoloured";
    EXPECT_EQ(editor.caret, 0);
}

TEST_F(QueryHistoryTest, NoKeyNoWritingAndTooLongStatementsStoreNothing) {
    ReadOnlyRegistry readOnly(*m_temp.host().registry);
    RegistryAPI registry(readOnly);
    EXPECT_NO_THROW(SaveQueryToHistory(registry, m_clock, "where a = 1"));
    EXPECT_EQ(show(), (std::vector<PreviousQueryItem>{{"No previous queries stored", ""}}));
    EXPECT_EQ(m_menu.mnuPreviousQuery_Click(m_registry, m_temp.ui(), 0).text, "");
    m_temp.ui().expectBox("(error):9 (Subscript out of range) in procedure mnuPreviousQuery_Click "
                          "of Form frmAdvancedSubscriberSearch");
    EXPECT_EQ(m_menu.mnuPreviousQuery_Click(m_registry, m_temp.ui(), 3).text, "");
    m_temp.ui().verifyAllShown();
    // A text value is read back through a buffer of 1,024 bytes with its terminating zero: a
    // longer statement would come back cut, so it is not stored.
    const std::string longest(kLongestStoredQuery, 'x');
    ASSERT_EQ(longest.size(), 1023u);
    save(longest);
    save(longest + "y");
    save("where a = 1");
    const auto items = show();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].caption, "where a = 1");
    EXPECT_EQ(m_menu.mnuPreviousQuery_Click(m_registry, m_temp.ui(), 1).text, longest);
}
