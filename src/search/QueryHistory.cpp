#include "search/QueryHistory.h"

#include "platform/Error.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace zeph::search {

namespace {

const Where kClickWhere{"mnuPreviousQuery_Click", "Form", "frmAdvancedSubscriberSearch"};

// The history is a convenience: each step's failure is dropped and the next step runs.
template <class Step> void ignoringErrors(Step &&step) {
    try {
        step();
    } catch (...) {
    }
}

std::string twoDigits(int n) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", n);
    return buffer;
}

// The first `count` characters of a UTF-8 text, never cutting a character in two.
std::string_view firstCharacters(std::string_view text, std::size_t count) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && characters++ == count)
            return text.substr(0, i);
    }
    return text;
}

// Each CR LF becomes one blank. Built anew rather than replaced in place: g++ 12 at -O3 warns
// falsely about the in-place replace.
void replaceLineBreaks(std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += ' ';
            ++i;
        } else {
            out += text[i];
        }
    }
    text = std::move(out);
}

} // namespace

std::string historyValueName(const LocalTime &t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d", t.year);
    return buffer + twoDigits(t.month) + twoDigits(t.day) + twoDigits(t.hour) +
           twoDigits(t.minute) + twoDigits(t.second);
}

std::string historyCaption(std::string_view statement) {
    std::string caption(firstCharacters(statement, kQueryCaptionLength));
    replaceLineBreaks(caption);
    return caption;
}

void SaveQueryToHistory(RegistryAPI &registry, IClock &clock, const std::string &editorText) {
    // A longer text would be stored but read back as missing, and a value the enumeration
    // cannot hold would end the listing there and hide every newer entry from the menu.
    if (editorText.size() > kLongestStoredQuery)
        return;
    std::string name;
    ignoringErrors([&] { name = historyValueName(clock.toLocal(clock.now())); });
    ignoringErrors([&] {
        if (!registry.KeyExists(HKEY_LOCAL_MACHINE, kQueryHistoryKey))
            registry.CreateKey(HKEY_LOCAL_MACHINE, kQueryHistoryKey);
    });
    ignoringErrors([&] {
        if (!name.empty())
            registry.SetValue(HKEY_LOCAL_MACHINE, kQueryHistoryKey, name, REG_SZ, editorText);
    });
    ignoringErrors([&] {
        // The registry lists values in the order they were written: the first are the oldest.
        RegValueTable values = registry.EnumValues(HKEY_LOCAL_MACHINE, kQueryHistoryKey);
        for (std::size_t i = 0; i + kQueryHistoryLimit < values.size(); ++i)
            registry.DeleteValue(HKEY_LOCAL_MACHINE, kQueryHistoryKey, values.names[i]);
    });
}

const std::vector<PreviousQueryItem> &
PreviousQueriesMenu::ShowPreviousQueries(RegistryAPI &registry) {
    m_items[0].caption = "No previous queries stored";
    ignoringErrors([&] {
        if (!registry.KeyExists(HKEY_LOCAL_MACHINE, kQueryHistoryKey))
            return;
        RegValueTable values = registry.EnumValues(HKEY_LOCAL_MACHINE, kQueryHistoryKey);
        if (values.empty())
            return;
        // At most 11 items: the menu's last index is capped at 10.
        std::size_t last = std::min(values.size() - 1, kQueryHistoryLimit);
        if (m_items.size() < last + 1)
            m_items.resize(last + 1);
        for (std::size_t i = 0; i <= last; ++i) {
            std::size_t entry = last - i; // item 0 shows the newest entry
            m_items[i].caption = historyCaption(regText(values.data[entry]));
            m_items[i].tag = values.names[entry];
        }
    });
    return m_items;
}

QueryColors PreviousQueriesMenu::mnuPreviousQuery_Click(RegistryAPI &registry, IUserInterface &ui,
                                                        int index) {
    auto report = [&ui](const std::string &text) { ui.messageBox(text, MsgButtons::OK); };
    std::string statement;
    trap(kClickWhere, report, [&] {
        if (index < 0 || static_cast<std::size_t>(index) >= m_items.size())
            throw Error(errnum::kSubscriptOutOfRange, "Subscript out of range");
        const std::string &tag = m_items[static_cast<std::size_t>(index)].tag;
        statement = regText(
            registry.QueryValue(HKEY_LOCAL_MACHINE, kQueryHistoryKey, tag, REG_SZ, std::string()));
    });
    // Setting the editor's text leaves the caret at its start.
    return SetQueryColors(statement, 0);
}

} // namespace zeph::search
