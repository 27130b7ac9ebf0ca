#pragma once
// The selection page `frmChooseSubscribers` without its window: the criterion list and the
// value controls of each criterion, the lists shown as the load fills them, the grid `myGrid`
// with its buttons, and the checks of Next. The searching itself ("Add Subscribers To Grid",
// the CSV import, the listings) is the page's SubscriberSearch, which owns the grid; the window
// (frmChooseSubscribers) draws these controls and forwards its events here, and the reset
// hand-over reads `myGrid` from the page.

#include "SubscriberGrid.h"
#include "SubscriberSearch.h"
#include "SubscriberSelection.h"
#include "platform/Host.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zeph {

class RegistryAPI;
namespace db {
class modTarvoDB;
} // namespace db
namespace i18n {
class modLocalize;
} // namespace i18n

/// A drop-down list: its entries, each with item data, the chosen entry and its visibility.
struct ListControl {
    std::vector<std::string> List;
    std::vector<long> ItemData;
    int ListIndex = -1; ///< the chosen entry; -1 when none is chosen
    bool Visible = true;

    void Clear();
    /// Appends an entry with item data 0; it becomes NewIndex.
    void AddItem(std::string text);
    int ListCount() const { return static_cast<int>(List.size()); }
    int NewIndex() const { return m_newIndex; }
    /// The chosen entry's text, "" when none is chosen.
    std::string Text() const;
    /// Item data of an entry; throws Error 381 for a position outside the list.
    long itemDataAt(int index) const;
    void setItemData(int index, long data);

private:
    int m_newIndex = -1;
};

struct TextControl {
    std::string Text;
    bool Visible = true;
};

/// A label, button or frame: its caption and whether it shows.
struct CaptionControl {
    std::string Caption;
    bool Visible = true;
};

class ChooseSubscribersPage {
    // First of the members: the page's grid is the search's, bound when the page is made.
    SubscriberSearch m_search;

public:
    static constexpr const char *kFormName = "frmChooseSubscribers";
    static constexpr const char *kWindowCaption = "Zephrane";

    /// `localize` may be null: texts then come from the program's own English table.
    ChooseSubscribersPage(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                          i18n::modLocalize *localize, std::string commandLine);
    /// Tells the window (unloading), so that a window that outlives its page lets it go.
    ~ChooseSubscribersPage();
    ChooseSubscribersPage(const ChooseSubscribersPage &) = delete;
    ChooseSubscribersPage &operator=(const ChooseSubscribersPage &) = delete;

    // --- window events ----------------------------------------------------------------------
    /// The load step: texts, criterion list, lists of classes of service, mail servers and
    /// switches. A failing step is reported and the next one runs.
    void Form_Load();
    /// Fonts and texts for the current language (also run by the language switch).
    void frmChooseSubscribers_Auto_Init();
    /// Picks criterion entry `index` and runs cmbSubscriberSelectType_Click.
    void chooseCriterion(int index);
    /// Shows the value controls of the chosen criterion and hides the others.
    void cmbSubscriberSelectType_Click();
    /// The extension box checks: after every change of the upper box, when the lower box
    /// loses the focus. A bad value is refused with a message and the box emptied.
    void txtSubscriberExtensionRangeHigh_Change();
    void txtSubscriberExtensionRangeLow_LostFocus();
    /// "Add Subscribers To Grid": replaces the grid's rows with the chosen criterion's
    /// subscribers and sets txtUsersInGrid.
    void cmdView_Click();
    /// What "Add Subscribers To Grid" does, for the selection given rather than the one the
    /// controls show: the same search, checks, refusals and messages.
    void addSubscribers(const SubscriberSelection &selection) {
        m_search.addSubscribers(selection);
    }
    /// "Browse...": lets the operator pick the CSV file into txtCSVPath.
    void cmdBrowseForCSV_Click();
    void cmdSelectAll_Click();
    void cmdUnselectAll_Click();
    /// Select All / deSelect All while a filter narrows the grid: only the rows shown (grid
    /// row numbers) change.
    void selectShown(const std::vector<int> &shownRows, bool checked);
    void cmdClearGrid_Click();
    /// Previous: the grid is cleared as by Clear Grid; the wizard then unloads the page.
    void cmdPrevious_Click() { cmdClearGrid_Click(); }
    /// Next: true when the wizard may move on to the reset page; otherwise a message was shown.
    bool cmdNext_Click();
    /// The checks of Next: true when the grid holds ticked subscribers to hand over to a reset;
    /// otherwise a message was shown.
    bool readyToHandOver() { return m_search.readyToHandOver(); }

    /// A click on a grid cell; myGrid.Row and myGrid.Col name it first.
    void myGrid_Click();
    /// Before an edit of a cell: false cancels it (only check boxes may change).
    bool myGrid_BeforeEdit(int row, int col) const;
    /// The operator changed a check box (the grid's own check box handling).
    void myGrid_CheckBoxEdited(int row, bool checked);

    /// The search the page's controls drive: its lists, its grid, its searches.
    SubscriberSearch &search() { return m_search; }
    const SubscriberSearch &search() const { return m_search; }
    /// The message shown once when a search found more subscribers than the grid can hold.
    std::string gridFullMessage() const { return m_search.gridFullMessage(); }
    /// Subscriber rows in the grid.
    int gridDataRows() const { return m_search.gridDataRows(); }
    /// txtUsersInGrid from the grid's row count.
    void showUsersInGrid();

    /// The criterion code of the chosen entry (0 when none is chosen).
    int criterionCode() const;
    /// The criterion and value the controls show.
    SubscriberSelection chosenSelection() const;
    /// The ticked rows of the grid, in the grid's order: the subscribers a reset takes.
    std::vector<SelectedSubscriber> tickedSubscribers() const {
        return m_search.tickedSubscribers();
    }
    /// Every row of the grid, its cells in the order of kListingColumns.
    std::vector<std::vector<std::string>> gridRows() const { return m_search.gridRows(); }
    /// True while a search or import runs (events the window lets through are then ignored).
    bool busy() const { return m_search.busy(); }
    /// True when the last View refused its input (see SubscriberSearch::inputRefused).
    bool inputRefused() const { return m_search.inputRefused(); }

    /// What the grid's rows came from, in the operator's words, so that the reset page reviews
    /// the rows the grid holds, not what the controls show since; "" while the grid is empty.
    const std::string &gridSource() const { return m_search.gridSource(); }
    /// The chosen criterion and its value as the operator set them.
    std::string criterionDescription() const { return describe(chosenSelection()); }
    /// A selection in the operator's words.
    std::string describe(const SubscriberSelection &selection) const {
        return m_search.describe(selection);
    }

    /// Lines of a CSV file between two yields to the user interface.
    static constexpr int kCsvYieldLines = SubscriberSearch::kCsvYieldLines;

    // --- the window's controls --------------------------------------------------------------
    CaptionControl Label1, frameSelectSubscribers, cmdView, cmdAdvancedSearch, cmdSelectAll,
        cmdUnselectAll, cmdClearGrid, lblTotalGridRows, cmdBrowseForCSV, lblExtensionRangeTo,
        cmdHelp, cmdPrevious, cmdExit, cmdNext;
    ListControl cmbSubscriberSelectType;
    ListControl comSubscriberSwitch;
    ListControl comSubscriberMailServer;
    ListControl ComSubscribersCOS;
    /// Never shown: the aliases at the positions of ComSubscribersCOS.
    ListControl comHiddenCOS;
    TextControl txtSubscriberExtensionRangeLow, txtSubscriberExtensionRangeHigh, txtCSVPath,
        txtUsersInGrid;
    /// The search's grid.
    SubscriberGrid &myGrid;

    // --- a listing ---------------------------------------------------------------------------
    using ListRow = SubscriberSearch::ListRow;
    static inline const std::vector<std::string> &kListingColumns =
        SubscriberSearch::kListingColumns;
    /// The chosen criterion's subscribers as "Add Subscribers To Grid" would put them in the
    /// grid (see SubscriberSearch::listSubscribers).
    bool listSubscribers(const ListRow &row) {
        return m_search.listSubscribers(chosenSelection(), row);
    }
    /// The same for the selection given rather than the one the controls show.
    bool listSubscribers(const SubscriberSelection &selection, const ListRow &row) {
        return m_search.listSubscribers(selection, row);
    }

    // --- hooks the window sets --------------------------------------------------------------
    /// SetFormFonts on the window, run first by frmChooseSubscribers_Auto_Init.
    std::function<void()> setFormFonts;
    /// Told after a handler changed the controls (lists, texts, visibility, captions).
    std::function<void()> controlsChanged;
    /// Told when the page goes (the wizard unloads it).
    std::function<void()> unloading;

private:
    std::string res(std::uint32_t id) const;
    void message(const std::string &text);
    std::function<void(const std::string &)> reporter();
    void changed();

    /// The search's lists into the list controls.
    void showLists();
    void checkExtensionBox(TextControl &box);
    /// The entry of a list at a position, "" outside it.
    static std::string entryAt(const ListControl &list, int index);

    Host &m_host;
    i18n::modLocalize *m_localize;
    std::string m_commandLine;
};

} // namespace zeph
