#pragma once
// The advanced search window `frmAdvancedSubscriberSearch` without its window: the editor's
// text, the guard in front of the server, the statement's run on a connection that may only
// read, the result grid, the import into the selection grid, the key handlers, the query
// history and the resize rules. The window (frmAdvancedSubscriberSearch) draws this state and
// forwards its events here.

#include "SetQueryColors.h"
#include "db/Recordset.h"
#include "platform/Host.h"
#include "platform/Result.h"
#include "search/QueryEditorKeys.h"
#include "search/QueryHistory.h"

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

/// The start of every statement the window sends; the editor's text follows it unchanged.
inline constexpr const char *kFixedQueryStart = "SELECT vw_Subscriber.* FROM vw_Subscriber ";

/// Done when the editor's text may be sent to the server, else why not. First the four
/// refusals the window has always made (length, then UPDATE, DELETE, EXECUTE, DROP anywhere in
/// the text, letter case ignored), then the statements a single read cannot hold: a second
/// statement after ";" and the words that begin a statement which writes, outside quoted
/// values, quoted names and comments.
Status checkQuery(std::string_view editorText);

/// The result grid `gridSQL`: a header row of field names and one row per record, every value
/// as text (NULL as "").
struct ResultGrid {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> cells;

    /// Rows including the header row.
    int Rows() const { return static_cast<int>(cells.size()) + 1; }
    int Cols() const { return static_cast<int>(header.size()); }
    /// Row count 1: only the header row stays.
    void clearRows() { cells.clear(); }
    /// Row count 1 and column count 0.
    void clear();
    /// Cell text; row 0 is the header. Out of range reads as "".
    std::string TextMatrix(int row, int col) const;
};

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
    /// The window keeps what the operator ran; a script's queries (the terminal program) are
    /// not the operator's history, and a dry run must leave the registry as it was.
    bool keepHistory = true;
    /// Replaces the selection grid's rows with the result's subscribers, tells how many, and
    /// unloads the window.
    void cmdImport_Click();
    /// Execute and then Import for a query given rather than typed (a script's): the same
    /// guard and messages, the statement on a connection that may only read, the result
    /// replacing the selection grid's rows (an empty result leaves the grid empty). The query
    /// is not kept in the history. False when the statement did not run.
    bool selectByQuery(const std::string &editorText);
    /// The editor's whole text becomes the clipboard's text (not recoloured).
    void cmdPaste_Click();
    /// The editor's text becomes empty.
    void cmdClear_Click();
    /// Closes the result set and unloads the window; while a query runs, stops the query
    /// instead (the window stays).
    void cmdCancel_Click();
    /// True while Execute's query runs (the window's other controls wait).
    bool queryRunning() const { return m_queryRunning; }
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
    ResultGrid gridSQL;
    /// The result set of the last statement (closed when there is none).
    const db::Recordset &rsResults() const { return m_results; }

    // --- hooks the window sets ---------------------------------------------------------------
    /// Told when the page wants the window unloaded (Cancel, a finished import).
    std::function<void()> unload;
    /// Told after a handler changed the grid.
    std::function<void()> gridChanged;

private:
    void message(const std::string &text);
    std::function<void(const std::string &)> reporter();
    void closeResults();
    void execute();
    void importIntoSelection();
    void runStatement();
    void showResults();
    void importResults();
    /// Positions the cached tables on the result row's subscriber and its primary call
    /// handler; false when either is missing.
    bool positionOnResultRow();
    void requestUnload();

    Host &m_host;
    RegistryAPI &m_registry;
    db::modTarvoDB &m_db;
    SubscriberSearch &m_selection;
    db::Recordset m_results;
    // The statement whose rows m_results holds, on one line (the editor may change since).
    std::string m_resultsQuery;
    QueryEditorKeys m_keys;
    PreviousQueriesMenu m_menu;
    bool m_unloadRequested = false;
    bool m_queryRunning = false;
    bool m_cancelRequested = false;
};

} // namespace search
} // namespace zeph
