#pragma once
// The advanced search's query history: the statements that ran, kept as text values of one
// registry key under HKEY_LOCAL_MACHINE, named by the moment they were stored.

#include "SetQueryColors.h"
#include "app/registry/RegistryAPI.h"
#include "platform/Clock.h"
#include "platform/UserInterface.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::search {

inline constexpr const char *kQueryHistoryKey =
    "SOFTWARE\\Ambrel\\Brennor\\Administration Tools\\Wystan\\SubQueries";
/// Values left in the key after each store.
inline constexpr std::size_t kQueryHistoryLimit = 10;
/// Characters of a statement shown in the menu.
inline constexpr std::size_t kQueryCaptionLength = 90;
/// The longest statement (in bytes) that the history can give back: a text value is read into
/// a buffer that also holds its terminating zero.
inline constexpr std::size_t kLongestStoredQuery = RegistryAPI::kTextBuffer - 1;

/// One item of the "Previous Queries" pop-up menu; the tag names the registry value.
struct PreviousQueryItem {
    std::string caption;
    std::string tag;

    bool operator==(const PreviousQueryItem &) const = default;
};

/// The value name for a moment: "yyyymmddhhmmss".
std::string historyValueName(const LocalTime &t);
/// A statement as the menu shows it: its first 90 characters, each CR LF then turned into a
/// blank.
std::string historyCaption(std::string_view statement);

/// Stores the editor's text as the newest entry and trims the history to its last 10 values.
/// Every failure is ignored: an account that may not write there simply gets no history.
void SaveQueryToHistory(RegistryAPI &registry, IClock &clock, const std::string &editorText);

/// The "Previous Queries" pop-up menu of one window. Its items are numbered from 0; an item
/// once created stays for the life of the window, and each showing rewrites items 0 to last.
class PreviousQueriesMenu {
public:
    /// Fills the items from the history, newest first, and returns them in menu order. Errors
    /// are ignored.
    const std::vector<PreviousQueryItem> &ShowPreviousQueries(RegistryAPI &registry);

    const std::vector<PreviousQueryItem> &items() const { return m_items; }

    /// The editor's new content when item `index` is chosen: the stored statement, recoloured,
    /// caret at the start. A failure is shown in a message box and the step after it goes on.
    QueryColors mnuPreviousQuery_Click(RegistryAPI &registry, IUserInterface &ui, int index);

private:
    // Item 0 exists from the start, as in the window's design.
    std::vector<PreviousQueryItem> m_items{1};
};

} // namespace zeph::search
