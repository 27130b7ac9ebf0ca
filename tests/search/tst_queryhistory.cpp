#include "search/QueryHistory.h"
#include "support/FixedClock.h"
#include "support/ScriptedUi.h"
#include "support/TempHost.h"

#include "platform/Error.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <map>

using namespace zeph;
using namespace zeph::search;

namespace {

// An in-memory registry that lists values in the order they were first written, as the
// registry does, and can refuse every write.
class MemoryRegistry : public IRegistry {
public:
    bool refuseWrites = false;

    bool openable(RegRoot, const std::string &subKey, RegAccess access) override {
        return m_keys.count(lower(subKey)) && !(access == RegAccess::Write && refuseWrites);
    }
    bool createKey(RegRoot, const std::string &subKey) override {
        if (refuseWrites)
            throw Error(5, "Access is denied");
        return !m_keys.try_emplace(lower(subKey)).second;
    }
    std::optional<RegRawValue> queryValue(RegRoot, const std::string &subKey,
                                          const std::string &name) override {
        auto *value = find(subKey, name);
        return value ? std::optional<RegRawValue>(value->value) : std::nullopt;
    }
    bool setValue(RegRoot, const std::string &subKey, const std::string &name,
                  const RegRawValue &value) override {
        auto key = m_keys.find(lower(subKey));
        if (refuseWrites || key == m_keys.end())
            return false;
        if (auto *existing = find(subKey, name))
            existing->value = value;
        else
            key->second.push_back({name, value});
        return true;
    }
    bool deleteValue(RegRoot, const std::string &subKey, const std::string &name) override {
        auto key = m_keys.find(lower(subKey));
        if (refuseWrites || key == m_keys.end())
            return false;
        auto &values = key->second;
        auto it = std::find_if(values.begin(), values.end(), [&](const RegNamedValue &v) {
            return lower(v.name) == lower(name);
        });
        if (it == values.end())
            return false;
        values.erase(it);
        return true;
    }
    std::optional<std::vector<RegNamedValue>> enumValues(RegRoot,
                                                         const std::string &subKey) override {
        auto key = m_keys.find(lower(subKey));
        if (key == m_keys.end())
            return std::nullopt;
        return key->second;
    }

    std::vector<std::string> names(const std::string &subKey) {
        std::vector<std::string> out;
        for (const auto &v : m_keys[lower(subKey)])
            out.push_back(v.name);
        return out;
    }

private:
    static std::string lower(std::string s) {
        for (char &c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }
    RegNamedValue *find(const std::string &subKey, const std::string &name) {
        auto key = m_keys.find(lower(subKey));
        if (key == m_keys.end())
            return nullptr;
        for (auto &v : key->second) {
            if (lower(v.name) == lower(name))
                return &v;
        }
        return nullptr;
    }
    std::map<std::string, std::vector<RegNamedValue>> m_keys;
};

// A clock that stands where the test puts it; local time is UTC.

TimePoint dec5At140709() {
    using namespace std::chrono;
    return sys_days(year(2026) / December / 5) + hours(14) + minutes(7) + seconds(9);
}

class QueryHistoryTest : public ::testing::Test {
protected:
    MemoryRegistry m_memory;
    RegistryAPI m_registry{m_memory};
    test::FixedClock m_clock;
    test::ScriptedUi m_ui;

    void SetUp() override { m_clock.at = dec5At140709(); }

    // Stores a statement and moves the clock on by one second.
    void save(const std::string &text) {
        SaveQueryToHistory(m_registry, m_clock, text);
        m_clock.sleepMs(1000);
    }
    std::vector<std::string> storedNames() { return m_memory.names(kQueryHistoryKey); }
};

} // namespace

TEST(QueryHistoryNames, FourteenDigitsOfTheMoment) {
    EXPECT_EQ(historyValueName({2026, 12, 5, 14, 7, 9}), "20261205140709");
    EXPECT_EQ(historyValueName({2027, 1, 2, 3, 4, 5}), "20270102030405");
    EXPECT_EQ(historyValueName({2026, 12, 31, 23, 59, 59}), "20261231235959");
}

TEST(QueryHistoryCaptions, CutTo90CharactersThenLineBreaksBecomeBlanks) {
    struct Case {
        std::string statement;
        std::string caption;
    } cases[] = {
        {"where Alias = 'x'", "where Alias = 'x'"},
        {"where a = 1\r\nand b = 2\r\norder by c", "where a = 1 and b = 2 order by c"},
        {std::string(95, 'a'), std::string(90, 'a')},
        // Cut first: the line breaks counted as two characters each before they shrank.
        {std::string(44, 'a') + "\r\n" + std::string(50, 'b'),
         std::string(44, 'a') + " " + std::string(44, 'b')},
        // A break cut in half keeps its CR.
        {std::string(89, 'a') + "\r\nb", std::string(89, 'a') + "\r"},
        // Characters, not bytes: each "é" is two bytes.
        {std::string(88, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9",
         std::string(88, 'a') + "\xC3\xA9\xC3\xA9"},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(historyCaption(c.statement), c.caption) << c.statement;
}

TEST_F(QueryHistoryTest, SaveCreatesTheKeyAndNamesTheValueByTheMoment) {
    save("where Alias = 'x'");
    EXPECT_EQ(storedNames(), std::vector<std::string>{"20261205140709"});
    EXPECT_EQ(regText(m_registry.QueryValue(HKEY_LOCAL_MACHINE, kQueryHistoryKey, "20261205140709",
                                            REG_SZ)),
              "where Alias = 'x'");
}

TEST_F(QueryHistoryTest, EleventhStatementPushesOutTheOldest) {
    for (int i = 0; i < 11; ++i)
        save("where n = " + std::to_string(i));
    std::vector<std::string> names = storedNames();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "20261205140710"); // the first, at :09, is gone
    EXPECT_EQ(names.back(), "20261205140719");
    save("where n = 11");
    names = storedNames();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "20261205140711");
}

TEST_F(QueryHistoryTest, SameSecondKeepsTheLaterTextSameTextTwiceIsKeptTwice) {
    SaveQueryToHistory(m_registry, m_clock, "first");
    save("second");
    ASSERT_EQ(storedNames().size(), 1u);
    save("again");
    save("again");
    PreviousQueriesMenu menu;
    auto items = menu.ShowPreviousQueries(m_registry);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].caption, "again");
    EXPECT_EQ(items[1].caption, "again");
    EXPECT_EQ(items[2].caption, "second");
}

TEST_F(QueryHistoryTest, NoKeyShowsOneItemAndChoosingItEmptiesTheEditor) {
    PreviousQueriesMenu menu;
    auto items = menu.ShowPreviousQueries(m_registry);
    EXPECT_EQ(items, (std::vector<PreviousQueryItem>{{"No previous queries stored", ""}}));
    QueryColors editor = menu.mnuPreviousQuery_Click(m_registry, m_ui, 0);
    EXPECT_EQ(editor.text, "");
    EXPECT_TRUE(m_ui.boxes().empty());
}

TEST_F(QueryHistoryTest, MenuShowsNewestFirstWithTagsAndGivesBackWholeStatement) {
    std::string longOne = "where Alias = 'x'\r\nand LastName like '" + std::string(100, 'z') + "'";
    save("where a = 1");
    save(longOne);
    PreviousQueriesMenu menu;
    auto items = menu.ShowPreviousQueries(m_registry);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].tag, "20261205140710");
    EXPECT_EQ(items[0].caption, historyCaption(longOne));
    EXPECT_EQ(items[0].caption.size(), 89u); // 90 characters, one line break made one blank
    EXPECT_EQ(items[1], (PreviousQueryItem{"where a = 1", "20261205140709"}));

    QueryColors editor = menu.mnuPreviousQuery_Click(m_registry, m_ui, 0);
    EXPECT_EQ(editor.text,
              "WHERE Alias = 'x'\r\nAND LastName LIKE '" + std::string(100, 'z') + "'");
    EXPECT_EQ(editor.caret, 0);
    EXPECT_FALSE(editor.runs.empty());
}

TEST_F(QueryHistoryTest, MoreThanElevenValuesShowTheFirstElevenLastOnTop) {
    m_registry.CreateKey(HKEY_LOCAL_MACHINE, kQueryHistoryKey);
    for (int i = 0; i < 13; ++i)
        m_registry.SetValue(HKEY_LOCAL_MACHINE, kQueryHistoryKey, "v" + std::to_string(i), REG_SZ,
                            "q" + std::to_string(i));
    PreviousQueriesMenu menu;
    auto items = menu.ShowPreviousQueries(m_registry);
    ASSERT_EQ(items.size(), 11u);
    EXPECT_EQ(items.front(), (PreviousQueryItem{"q10", "v10"}));
    EXPECT_EQ(items.back(), (PreviousQueryItem{"q0", "v0"}));
}

TEST_F(QueryHistoryTest, ItemsFromAnEarlierShowingStay) {
    for (int i = 0; i < 4; ++i)
        save("q" + std::to_string(i));
    PreviousQueriesMenu menu;
    ASSERT_EQ(menu.ShowPreviousQueries(m_registry).size(), 4u);
    for (const std::string &name : storedNames())
        m_registry.DeleteValue(HKEY_LOCAL_MACHINE, kQueryHistoryKey, name);
    save("fresh");
    auto items = menu.ShowPreviousQueries(m_registry);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].caption, "fresh");
    EXPECT_EQ(items[1].caption, "q2");
}

TEST_F(QueryHistoryTest, AnAccountThatMayNotWriteGetsNoHistory) {
    m_memory.refuseWrites = true;
    EXPECT_NO_THROW(save("where a = 1"));
    m_memory.refuseWrites = false;
    PreviousQueriesMenu menu;
    EXPECT_EQ(menu.ShowPreviousQueries(m_registry).size(), 1u);
}

TEST_F(QueryHistoryTest, StatementsTheHistoryCannotGiveBackAreNotStored) {
    std::string longest(kLongestStoredQuery, 'x');
    save(longest);
    save(longest + "y");
    save("where a = 1");
    PreviousQueriesMenu menu;
    auto items = menu.ShowPreviousQueries(m_registry);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].caption, "where a = 1");
    EXPECT_EQ(menu.mnuPreviousQuery_Click(m_registry, m_ui, 1).text, longest);
}

TEST_F(QueryHistoryTest, ChoosingAnItemThatIsNotThereReportsAndEmptiesTheEditor) {
    PreviousQueriesMenu menu;
    m_ui.expectBox("(error):9 (Subscript out of range) in procedure mnuPreviousQuery_Click of "
                   "Form frmAdvancedSubscriberSearch");
    QueryColors editor = menu.mnuPreviousQuery_Click(m_registry, m_ui, 3);
    EXPECT_EQ(editor.text, "");
    m_ui.verifyAllShown();
}

TEST(QueryHistoryOnHost, StandInRegistryKeepsTheNewestTen) {
    test::TempHost temp(0);
    Host &host = temp.host();
    test::FixedClock clock;
    clock.at = dec5At140709();
    RegistryAPI registry(*host.registry);
    for (int i = 0; i < 12; ++i) {
        SaveQueryToHistory(registry, clock, "where n = " + std::to_string(i) + "\r\nor n = 0");
        clock.sleepMs(1000);
    }
    // A fresh registry object reads the key as another run of the program would.
    RegistryAPI again(*host.registry);
    EXPECT_EQ(again.EnumValues(HKEY_LOCAL_MACHINE, kQueryHistoryKey).size(), 10u);
    PreviousQueriesMenu menu;
    auto items = menu.ShowPreviousQueries(again);
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items.front(), (PreviousQueryItem{"where n = 11 or n = 0", "20261205140720"}));
    EXPECT_EQ(items.back(), (PreviousQueryItem{"where n = 2 or n = 0", "20261205140711"}));
    EXPECT_EQ(menu.mnuPreviousQuery_Click(again, temp.ui(), 9).text, "WHERE n = 2\r\nOR n = 0");
}
