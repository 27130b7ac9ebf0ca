#pragma once
// The advanced search window `frmAdvancedSubscriberSearch` without its window: the editor's
// text, the key handlers, the query history, the buttons and the resize rules. Running the
// editor's query and importing its subscribers is the core object's (SelectionQuery), which
// the page drives from its buttons. The window (frmAdvancedSubscriberSearch) draws this state
// and forwards its events here.

#include "SetQueryColors.h"
#include "platform/Host.h"
#include "search/QueryEditorKeys.h"
#include "search/QueryHistory.h"
#include "search/SelectionQuery.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeph {

class RegistryAPI;
class SubscriberSearch;
namespace db {
class modTarvoDB;
} // namespace db

namespace search {

/// Where the window's controls go for a window size (all in twips). The window is held at no
/// less than kMinWidth by kMinHeight; the returned width and height are the size it takes.
struct AdvancedSearchLayout {
    static constexpr int kMinWidth = 4000;
    static constexpr int kMinHeight = 3600;
    /// The size the window has in its design.
    static constexpr int kDesignWidth = 9600;
    static constexpr int kDesignHeight = 7200;

    struct Box {
        int left = 0, top = 0, width = 0, height = 0;
        bool operator==(const Box &) const = default;
    };

    int width = kDesignWidth;
    int height = kDesignHeight;
    Box label, txtSQL, cmdExecute, cmdClear, cmdPaste, gridSQL, cmdPreviousQueries, cmdImport,
        cmdCancel;
};

/// The layout of the window's design, before any resize.
AdvancedSearchLayout designLayout();
/// Form_Resize: `current` with the window's new size applied; nothing changes while the window
/// is minimised.
AdvancedSearchLayout Form_Resize(const AdvancedSearchLayout &current, int width, int height,
                                 bool minimized);

/// What the editor does after its key-down handler ran (the key itself then goes on as usual).
struct KeyDownEffect {
    QueryKeyAction action = QueryKeyAction::None;
    /// Set after a recolouring: the editor's new text, its colours and its caret.
    std::optional<QueryColors> colors;
    /// The editor removes its selected text (after a cut).
    bool removeSelection = false;
};

class AdvancedSearchPage {
    // Before the state that refers to it.
    SelectionQuery m_query;

public:
    static constexpr const char *kFormName = "frmAdvancedSubscriberSearch";
    static constexpr const char *kWindowCaption = "Advanced Subscriber Search Query Builder";
    static constexpr const char *kStartLabel = "SELECT vw_Subscriber.* FROM vw_Subscriber";
    static constexpr const char *kExecuteCaption = "&Execute";
    static constexpr const char *kClearCaption = "C&lear";
    static constexpr const char *kPasteCaption = "&Paste";
    static constexpr const char *kPreviousQueriesCaption = "Previous Queries";
    static constexpr const char *kImportCaption = "Import Subscribers";
    static constexpr const char *kCancelCaption = "Cancel";

    AdvancedSearchPage(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                       SubscriberSearch &selection);
    ~AdvancedSearchPage();
    AdvancedSearchPage(const AdvancedSearchPage &) = delete;
    AdvancedSearchPage &operator=(const AdvancedSearchPage &) = delete;

    // --- buttons -----------------------------------------------------------------------------
    /// Guards the text, runs the statement on a connection that may only read, fills gridSQL
    /// and stores the text in the history (when keepHistory is set).
    void cmdExecute_Click();
    /// Replaces the selection grid's rows with the result's subscribers, tells how many, and
    /// unloads the window.
    void cmdImport_Click();
    /// The editor's whole text becomes the clipboard's text (not recoloured).
    void cmdPaste_Click();
    /// The editor's text becomes empty.
    void cmdClear_Click();
    /// Closes the result set and unloads the window; while a query runs, stops the query
    /// instead (the window stays).
    void cmdCancel_Click();
    /// True while Execute's query runs (the window's other controls wait).
    bool queryRunning() const { return m_query.running(); }
    /// The window closes (by any means): the result set is closed, every error ignored.
    void Form_Unload();
    /// True once the page asked for the window to be unloaded.
    bool unloadRequested() const { return m_unloadRequested; }

    // --- editor ------------------------------------------------------------------------------
    /// Recolours the editor's text; `caret` is the caret's editor offset. The page's text
    /// takes the keywords' upper case. A failure is shown and the editor keeps its text.
    QueryColors SetQueryColors(int caret);
    /// The editor's key-down handler: `caret` and the selection in editor offsets.
    KeyDownEffect txtSQL_KeyDown(int keyCode, int shift, int caret, int selStart, int selLength);
    void txtSQL_KeyUp(int keyCode, int shift);
    bool bCtrlDown() const { return m_keys.bCtrlDown(); }

    // --- history -----------------------------------------------------------------------------
    /// The "Previous Queries" menu's items, newest first.
    const std::vector<PreviousQueryItem> &ShowPreviousQueries();
    /// Puts the chosen entry into the editor, recoloured; returns what the editor shows.
    QueryColors mnuPreviousQuery_Click(int index);

    // --- the window's state ------------------------------------------------------------------
    /// The editor's text as the system keeps it: CR LF line breaks.
    std::string txtSQL;
    const ResultGrid &gridSQL;
    /// The result set of the last statement (closed when there is none).
    const db::Recordset &rsResults() const { return m_query.recordset(); }

    // --- hooks the window sets ---------------------------------------------------------------
    /// Told when the page wants the window unloaded (Cancel, a finished import).
    std::function<void()> unload;
    /// Told after a handler changed the grid.
    std::function<void()> gridChanged;

private:
    std::function<void(const std::string &)> reporter();
    void requestUnload();

    Host &m_host;
    RegistryAPI &m_registry;
    QueryEditorKeys m_keys;
    PreviousQueriesMenu m_menu;
    bool m_unloadRequested = false;
};

} // namespace search
} // namespace zeph
