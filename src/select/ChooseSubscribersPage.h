#pragma once
// The selection page `frmChooseSubscribers` without its window: the criterion list and the
// value controls of each criterion, the lists filled at load, the search behind "Add
// Subscribers To Grid", the grid `myGrid` with its buttons, the CSV import and the checks of
// Next. The window (frmChooseSubscribers) draws these controls and forwards its events here;
// the reset run reads `myGrid` from the page.

#include "SubscriberGrid.h"
#include "SubscriberSelection.h"
#include "platform/Host.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zeph {

class RegistryAPI;
namespace db {
class Connection;
class Recordset;
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
    void addSubscribers(const SubscriberSelection &selection);
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
    bool readyToHandOver();

    /// A click on a grid cell; myGrid.Row and myGrid.Col name it first.
    void myGrid_Click();
    /// Before an edit of a cell: false cancels it (only check boxes may change).
    bool myGrid_BeforeEdit(int row, int col) const;
    /// The operator changed a check box (the grid's own check box handling).
    void myGrid_CheckBoxEdited(int row, bool checked);

    /// What AddUserToGrid did.
    enum class AddResult { Added, NotAdded, GridFull };
    /// Appends the subscriber at the current row of rsSubscribers with its primary call
    /// handler at the current row of rsPrimaryCallHandlers, checked. Subscribers of a type
    /// other than 1 and 3 are not added; GridFull (nothing added) once the grid holds its most
    /// rows. The caller updates txtUsersInGrid afterwards.
    AddResult AddUserToGrid();
    /// The message shown once when a search found more subscribers than the grid can hold.
    std::string gridFullMessage() const;
    /// Subscriber rows in the grid.
    int gridDataRows() const { return myGrid.Rows() - 1; }
    /// txtUsersInGrid from the grid's row count.
    void showUsersInGrid();

    /// The criterion code of the chosen entry (0 when none is chosen).
    int criterionCode() const;
    /// The criterion and value the controls show.
    SubscriberSelection chosenSelection() const;
    /// The ticked rows of the grid, in the grid's order: the subscribers a reset takes.
    std::vector<SelectedSubscriber> tickedSubscribers() const { return myGrid.tickedSubscribers(); }
    /// Every row of the grid, its cells in the order of kListingColumns.
    std::vector<std::vector<std::string>> gridRows() const;
    /// The lists the criteria choose from, as Form_Load filled them: how many telephone-system
    /// integrations, the mail servers' names, the classes of service's aliases.
    int switchCount() const { return comSubscriberSwitch.ListCount(); }
    const std::vector<std::string> &mailServers() const { return comSubscriberMailServer.List; }
    const std::vector<std::string> &classOfServiceAliases() const { return comHiddenCOS.List; }
    /// True while a search or import runs (events the window lets through are then ignored).
    bool busy() const { return m_busy; }
    /// True when the last View refused its input (a value that is no number, a reversed
    /// range, no criterion value, a file that cannot be read or has no subscriber columns):
    /// a caller without a window learns that the grid is empty because of the input.
    bool inputRefused() const { return m_inputRefused; }

    /// What the grid's rows came from, in the operator's words ("Subscribers with extension
    /// numbers from 4000 to 4010"): set by the search or import that filled the grid, so that
    /// the reset page reviews the rows the grid holds, not what the controls show since; ""
    /// while the grid is empty.
    std::string gridSource;
    /// The chosen criterion and its value as the operator set them.
    std::string criterionDescription() const;
    /// A selection in the operator's words.
    std::string describe(const SubscriberSelection &selection) const;

    /// Lines of a CSV file between two yields to the user interface.
    static constexpr int kCsvYieldLines = 256;

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
    SubscriberGrid myGrid;

    // --- a listing ---------------------------------------------------------------------------
    /// A subscriber's cells in the order of kListingColumns.
    using ListRow = std::function<void(const std::vector<std::string> &cells)>;
    /// The columns of a listing, by their grid keys.
    static inline const std::vector<std::string> kListingColumns = {
        "Alias", "DisplayName",   "FirstName",    "LastName",        "Extension", "HomeServer",
        "COS",   "LegacyMailbox", "RemoteNodeID", "HandlerObjectID", "ObjectID"};
    /// The chosen criterion's subscribers as "Add Subscribers To Grid" would put them in the
    /// grid, told to `row` one at a time as the server reads them, in one query and without
    /// the cached tables or the grid; the input is checked and refused as by that button (see
    /// inputRefused), and a search beyond the grid's rows stops where the grid would, with its
    /// message. False (nothing done) for a CSV file, whose lines are looked up one by one.
    /// Throws Error when the server fails the query.
    bool listSubscribers(const ListRow &row);
    /// The same for the selection given rather than the one the controls show.
    bool listSubscribers(const SubscriberSelection &selection, const ListRow &row);

    // --- hooks the window sets --------------------------------------------------------------
    /// SetFormFonts on the window, run first by frmChooseSubscribers_Auto_Init.
    std::function<void()> setFormFonts;
    /// Told after a handler changed the controls (lists, texts, visibility, captions).
    std::function<void()> controlsChanged;
    /// Told when the page goes (the wizard unloads it).
    std::function<void()> unloading;

private:
    enum class Lookup { NotFound, Added, NotAdded, GridFull };

    std::string res(std::uint32_t id) const;
    void message(const std::string &text);
    /// A message that refuses the search's input (see inputRefused).
    void refuse(const std::string &text);
    std::function<void(const std::string &)> reporter();
    void changed();

    void fillClassOfServiceLists();
    void fillMailServerList();
    void fillSwitchList();
    void checkExtensionBox(TextControl &box);

    // The searches of cmdView_Click, one per criterion, the one place that picks the search of
    // a criterion (for the grid and for a listing), and the part of the press that runs them
    // with the page busy.
    void searchIntoGrid(const SubscriberSelection &selection);
    void search(const SubscriberSelection &selection);
    void searchAll();
    void searchExtensionRange(const SubscriberSelection &selection);
    void searchClassOfService(const SubscriberSelection &selection);
    void searchSwitch(const SubscriberSelection &selection);
    void searchMailServer(const SubscriberSelection &selection);
    /// A class of service's position in the hidden list and its name in the shown one (-1 and
    /// "" when the lists lack it).
    int classOfServiceIndex(const std::string &alias) const;
    std::string classOfServiceName(const std::string &alias) const;
    /// The entry of a list at a position, "" outside it.
    static std::string entryAt(const ListControl &list, int index);
    /// Opens a query and runs the lookup-and-add loop over its rows; while a listing is made,
    /// runs `listing` instead and tells its rows.
    void addFromQuery(const std::string &sql, const std::string &listing,
                      const std::vector<DbValue> &params);
    void listFromQuery(const std::string &sql, const std::vector<DbValue> &params);
    /// Positions the cached tables on a subscriber and its primary call handler.
    bool positionOn(const std::string &subscriberObjectId);
    Lookup lookUpAndAdd(const std::string &subscriberObjectId);

    // The CSV import.
    void ImportCSV(const std::string &path);
    Lookup importLine(std::string_view line, int aliasColumn, int extensionColumn,
                      db::Connection &connection);
    void csvSummary(int linesRead, int rowsBefore);

    void noteGridFull();

    Host &m_host;
    RegistryAPI &m_registry;
    db::modTarvoDB &m_db;
    i18n::modLocalize *m_localize;
    std::string m_commandLine;
    bool m_busy = false;
    bool m_inputRefused = false;
    bool m_gridFullHit = false;          // a search of this press found more than the grid holds
    bool m_gridFullReported = false;     // and its message has been shown
    const ListRow *m_listRow = nullptr;  // set while a listing is made
    std::vector<DbValue> m_cosObjectIds; // the object id of each entry of comHiddenCOS
};

} // namespace zeph
