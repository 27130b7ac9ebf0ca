#include "ChooseSubscribersPage.h"
#include "platform/AsciiText.h"

#include "CsvText.h"
#include "CsvUnmatched.h"
#include "NumberChecks.h"
#include "app/ScopeGuards.h"
#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "i18n/OwnStrings.h"
#include "i18n/modLocalize.h"
#include "platform/Error.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace zeph {

namespace {

using db::adLockReadOnly;
using db::adOpenForwardOnly;
using db::adOpenKeyset;
using db::adUseClient;

constexpr long kInvalidPropertyArrayIndex = 381;
// The largest subscriber list read: far more than the lines of the most subscribers the grid
// holds, and never the whole of a device or a runaway file.
constexpr std::size_t kCsvMaxBytes = std::size_t{64} * 1024 * 1024;

// The criterion list, in the order its entries are added; the texts are fixed English.
struct CriterionEntry {
    const char *text;
    int code;
};
constexpr CriterionEntry kCriteria[] = {
    {"All subscribers", kCriterionAllSubscribers},
    {"Subscribers with extension numbers from:", kCriterionExtensionRange},
    {"Subscribers associated with this switch:", kCriterionSwitch},
    {"Subscribers referenced in this CSV file:", kCriterionCsvFile},
    {"Subscribers associated with this class of service:", kCriterionClassOfService},
    {"Subscribers homed on this mail server:", kCriterionMailServer},
};

constexpr const char *kIntegration1 =
    "SOFTWARE\\Ambrel\\Telvo\\1.0\\Initialization\\Integrations\\Integration1";
constexpr const char *kIntegration2 =
    "SOFTWARE\\Ambrel\\Telvo\\1.0\\Initialization\\Integrations\\Integration2";

constexpr const char *kMailServerQuery =
    "select homeserver from subscriber where homeserver is not null group by homeserver";

// The searches' texts; each inserted value is a "?" bound at its place.
#define ZEPH_BASE_CONDITION "WHERE vw_Subscriber.SubscriberType IN (1,3)"
constexpr const char *kAllQuery =
    "SELECT Alias, SubscriberObjectID from vw_Subscriber " ZEPH_BASE_CONDITION " ORDER BY Alias";
constexpr const char *kExtensionRangeQuery =
    "SELECT DISTINCT vw_Subscriber.SubscriberObjectID "
    "FROM vw_Subscriber INNER JOIN vw_DTMFAccessID "
    "ON vw_Subscriber.SubscriberObjectID=vw_DTMFAccessID.ParentObjectID " ZEPH_BASE_CONDITION
    " AND vw_DTMFAccessID.DTMFAccessID<= CAST(? as BigInt)"
    " AND vw_DTMFAccessID.DTMFAccessID>=CAST(? as BigInt)";
constexpr const char *kClassOfServiceQuery =
    "SELECT SubscriberObjectID, Alias from vw_Subscriber " ZEPH_BASE_CONDITION
    " AND COSObjectID=? ORDER By Alias";
constexpr const char *kFirstSwitchQuery =
    "Select Alias, SubscriberObjectID from vw_Subscriber " ZEPH_BASE_CONDITION
    " AND (SwitchID IS NULL or SwitchID=0)";
constexpr const char *kOtherSwitchQuery =
    "Select Alias, SubscriberObjectID from vw_Subscriber " ZEPH_BASE_CONDITION " AND SwitchID=?";
constexpr const char *kMailServerSubscribersQuery =
    "SELECT Alias, SubscriberObjectID from vw_Subscriber " ZEPH_BASE_CONDITION " AND HomeServer=?";
#undef ZEPH_BASE_CONDITION

// The same searches as listings: the grid's columns of each subscriber found, in the search's
// order, read in one query without the cached tables. A subscriber is listed as the grid would
// add it: of type 1 or 3 and with its primary call handler; its extension is its primary one,
// the class of service by its name.
#define ZEPH_LISTING_COLUMNS                                                                       \
    "SELECT vw_Subscriber.Alias, vw_Subscriber.DisplayName, vw_Subscriber.FirstName, "             \
    "vw_Subscriber.LastName, vw_Subscriber.DTMFAccessID, vw_Subscriber.HomeServer, "               \
    "(SELECT vw_COS.TextName FROM vw_COS WHERE vw_COS.COSObjectID=vw_Subscriber.COSObjectID), "    \
    "vw_Subscriber.LegacyMailbox, vw_Subscriber.RemoteNodeID, vw_Subscriber.CallHandlerObjectID, " \
    "vw_Subscriber.SubscriberObjectID FROM vw_Subscriber "
#define ZEPH_LISTING_CONDITION                                                                     \
    "WHERE vw_Subscriber.SubscriberType IN (1,3) AND EXISTS (SELECT 1 FROM "                       \
    "vw_CallHandler_Primary "                                                                      \
    "WHERE vw_CallHandler_Primary.CallHandlerObjectID=vw_Subscriber.CallHandlerObjectID)"
constexpr const char *kAllListing =
    ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION " ORDER BY vw_Subscriber.Alias";
// The search's DISTINCT gives each subscriber once, in the order of their object ids.
constexpr const char *kExtensionRangeListing = ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION
    " AND vw_Subscriber.SubscriberObjectID IN (SELECT vw_DTMFAccessID.ParentObjectID "
    "FROM vw_DTMFAccessID WHERE vw_DTMFAccessID.DTMFAccessID<= CAST(? as BigInt)"
    " AND vw_DTMFAccessID.DTMFAccessID>=CAST(? as BigInt))"
    " ORDER BY vw_Subscriber.SubscriberObjectID";
constexpr const char *kClassOfServiceListing = ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION
    " AND vw_Subscriber.COSObjectID=? ORDER BY vw_Subscriber.Alias";
constexpr const char *kFirstSwitchListing = ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION
    " AND (vw_Subscriber.SwitchID IS NULL or vw_Subscriber.SwitchID=0)";
constexpr const char *kOtherSwitchListing =
    ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION " AND vw_Subscriber.SwitchID=?";
constexpr const char *kMailServerListing =
    ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION " AND vw_Subscriber.HomeServer=?";
#undef ZEPH_LISTING_CONDITION
#undef ZEPH_LISTING_COLUMNS

constexpr const char *kCsvExtensionQuery =
    "SELECT vw_Subscriber.Alias, vw_Subscriber.SubscriberObjectID, vw_DTMFAccessID.DTMFAccessID "
    "FROM vw_Subscriber INNER JOIN vw_DTMFAccessID "
    "ON vw_Subscriber.SubscriberObjectID=vw_DTMFAccessID.ParentObjectID "
    "WHERE vw_DTMFAccessID.DTMFAccessID=?"
    " AND vw_Subscriber.SubscriberType IN (1,3) ORDER BY vw_Subscriber.Alias";
constexpr const char *kCsvAliasQuery =
    "SELECT Alias, SubscriberObjectID FROM Subscriber WHERE Alias=?"
    " AND SubscriberType IN (1,3) ORDER BY Alias";

constexpr const char *kInvalidSelection = "Error! Invalid subscriber selection value.";
constexpr const char *kOnlyNumbers = "Only numbers are allowed for extension range values";
constexpr const char *kSelectOneToReset = "You must select at least one subscriber to reset";

// Grid header cells and their string ids, in the order the texts are set.
constexpr std::pair<const char *, std::uint32_t> kGridHeaders[] = {
    {"Alias", 30},     {"DisplayName", 110}, {"Extension", 134}, {"FirstName", 139},
    {"LastName", 170}, {"HomeServer", 155},  {"COS", 79},
};

// A field as text; a null value or a field that cannot be read gives "".
std::string fieldText(db::Recordset &rs, std::string_view name) {
    try {
        const DbValue &value = rs.Fields(name).Value();
        return db::isNull(value) ? std::string() : db::valueText(value);
    } catch (const std::exception &) {
        return {};
    }
}

// The cached tables and query sets report failures as exceptions; every step that the system passes
// over silently catches them here.
template <class Step> void silently(Step &&step) {
    try {
        step();
    } catch (const std::exception &) {
    }
}

// The number of lines read is kept in a signed 16-bit counter that stops at its top.
int countLine(int linesRead) {
    return std::min(linesRead + 1, 32767);
}

} // namespace

// --- ListControl ---------------------------------------------------------------------------------

void ListControl::Clear() {
    List.clear();
    ItemData.clear();
    ListIndex = -1;
    m_newIndex = -1;
}

void ListControl::AddItem(std::string text) {
    List.push_back(std::move(text));
    ItemData.push_back(0);
    m_newIndex = ListCount() - 1;
}

std::string ListControl::Text() const {
    if (ListIndex < 0 || ListIndex >= ListCount())
        return {};
    return List[static_cast<std::size_t>(ListIndex)];
}

long ListControl::itemDataAt(int index) const {
    if (index < 0 || index >= ListCount())
        throw Error(kInvalidPropertyArrayIndex, "Invalid property array index");
    return ItemData[static_cast<std::size_t>(index)];
}

void ListControl::setItemData(int index, long data) {
    if (index < 0 || index >= ListCount())
        throw Error(kInvalidPropertyArrayIndex, "Invalid property array index");
    ItemData[static_cast<std::size_t>(index)] = data;
}

// --- the page ------------------------------------------------------------------------------------

ChooseSubscribersPage::ChooseSubscribersPage(Host &host, RegistryAPI &registry,
                                             db::modTarvoDB &tarvoDb, i18n::modLocalize *localize,
                                             std::string commandLine)
    : m_host(host)
    , m_registry(registry)
    , m_db(tarvoDb)
    , m_localize(localize)
    , m_commandLine(std::move(commandLine)) {
    cmdAdvancedSearch.Caption = "Advanced Search";
    comHiddenCOS.Visible = false;
    // Assigned as a built text: a short literal here trips a false -Wrestrict of g++ 12 at -O3.
    txtUsersInGrid.Text = std::to_string(0);
}

ChooseSubscribersPage::~ChooseSubscribersPage() {
    if (unloading)
        unloading();
}

std::string ChooseSubscribersPage::res(std::uint32_t id) const {
    if (m_localize)
        return m_localize->myLoadResString(id);
    return std::string(i18n::ownString(id).value_or(""));
}

void ChooseSubscribersPage::message(const std::string &text) {
    if (m_host.ui)
        m_host.ui->messageBox(text, MsgButtons::OK);
}

void ChooseSubscribersPage::refuse(const std::string &text) {
    m_inputRefused = true;
    if (m_host.ui)
        m_host.ui->messageBox(text, MsgButtons::OK, MsgIcon::Warning);
}

std::function<void(const std::string &)> ChooseSubscribersPage::reporter() {
    return [this](const std::string &text) {
        if (m_host.ui)
            m_host.ui->messageBox(text, MsgButtons::OK, MsgIcon::Critical);
    };
}

void ChooseSubscribersPage::changed() {
    if (controlsChanged)
        controlsChanged();
}

int ChooseSubscribersPage::criterionCode() const {
    const int index = cmbSubscriberSelectType.ListIndex;
    if (index < 0 || index >= cmbSubscriberSelectType.ListCount())
        return 0;
    return static_cast<int>(cmbSubscriberSelectType.ItemData[static_cast<std::size_t>(index)]);
}

// --- load ----------------------------------------------------------------------------------------

void ChooseSubscribersPage::Form_Load() {
    const Where where{"Form_Load", "Form", kFormName};
    const auto report = reporter();
    trap(where, report, [&] { frmChooseSubscribers_Auto_Init(); });
    trap(where, report, [&] {
        cmbSubscriberSelectType.Clear();
        for (const CriterionEntry &entry : kCriteria) {
            cmbSubscriberSelectType.AddItem(entry.text);
            cmbSubscriberSelectType.setItemData(cmbSubscriberSelectType.NewIndex(), entry.code);
        }
    });
    trap(where, report, [&] { chooseCriterion(0); });
    trap(where, report,
         [&] { cmdAdvancedSearch.Visible = containsIgnoreCase(m_commandLine, "Advanced"); });
    trap(where, report, [&] { myGrid.setRows(1); });
    trap(where, report, [&] { fillClassOfServiceLists(); });
    trap(where, report, [&] { fillMailServerList(); });
    trap(where, report, [&] { fillSwitchList(); });
    changed();
}

void ChooseSubscribersPage::fillClassOfServiceLists() {
    m_cosObjectIds.clear();
    // A listing reads the classes of service on their own; the wizard has them cached.
    db::Recordset read(m_db.database());
    const bool cached = m_db.rsCOS().State() == db::adStateOpen;
    if (!cached)
        read.Open("Select * from vw_COS", m_db.DbConnectionString(), adOpenForwardOnly,
                  adLockReadOnly);
    db::Recordset &cos = cached ? m_db.rsCOS() : read;
    cos.MoveFirst(); // an empty table fails here, and the list stays empty
    while (!cos.Eof()) {
        const std::string alias = cos["Alias"].Text();
        const std::string textName = cos["TextName"].Text();
        comHiddenCOS.AddItem(alias);
        m_cosObjectIds.push_back(cos["CosObjectID"].Value());
        ComSubscribersCOS.AddItem(textName);
        ComSubscribersCOS.setItemData(ComSubscribersCOS.NewIndex(), comHiddenCOS.NewIndex());
        cos.MoveNext();
    }
}

void ChooseSubscribersPage::fillMailServerList() {
    db::Recordset servers(m_db.database());
    servers.Open(kMailServerQuery, m_db.DbConnectionString(), adOpenKeyset, adLockReadOnly);
    if (servers.RecordCount() > 0) {
        while (!servers.Eof()) {
            comSubscriberMailServer.AddItem(servers["HomeServer"].Text());
            servers.MoveNext();
        }
    }
    servers.Close();
}

void ChooseSubscribersPage::fillSwitchList() {
    auto displayName = [this](const char *key) {
        return regText(
            m_registry.QueryValue(HKEY_LOCAL_MACHINE, key, "DisplayName", REG_SZ, std::string()));
    };
    comSubscriberSwitch.AddItem(displayName(kIntegration1));
    comSubscriberSwitch.setItemData(comSubscriberSwitch.NewIndex(), 1);
    if (m_registry.KeyExists(HKEY_LOCAL_MACHINE, kIntegration2)) {
        comSubscriberSwitch.AddItem(displayName(kIntegration2));
        comSubscriberSwitch.setItemData(comSubscriberSwitch.NewIndex(), 2);
    }
}

void ChooseSubscribersPage::frmChooseSubscribers_Auto_Init() {
    if (setFormFonts)
        setFormFonts();
    cmdHelp.Caption = res(153);
    frameSelectSubscribers.Caption = res(237);
    cmdView.Caption = res(24);
    cmdSelectAll.Caption = res(230);
    cmdUnselectAll.Caption = res(299);
    cmdBrowseForCSV.Caption = res(69);
    cmdClearGrid.Caption = res(98);
    lblExtensionRangeTo.Caption = res(274);
    lblTotalGridRows.Caption = res(289);
    cmdPrevious.Caption = res(18);
    cmdExit.Caption = res(132);
    cmdNext.Caption = res(191);
    Label1.Caption = res(237);
    for (const auto &[key, id] : kGridHeaders)
        myGrid.setHeaderText(myGrid.ColIndex(key), res(id));
    changed();
}

// --- criterion and value controls ----------------------------------------------------------------

void ChooseSubscribersPage::chooseCriterion(int index) {
    cmbSubscriberSelectType.ListIndex = index;
    cmbSubscriberSelectType_Click();
}

void ChooseSubscribersPage::cmbSubscriberSelectType_Click() {
    const Where where{"cmbSubscriberSelectType_Click", "Form", kFormName};
    trap(where, reporter(), [&] {
        txtSubscriberExtensionRangeHigh.Visible = false;
        txtSubscriberExtensionRangeLow.Visible = false;
        lblExtensionRangeTo.Visible = false;
        comSubscriberSwitch.Visible = false;
        comSubscriberMailServer.Visible = false;
        txtCSVPath.Visible = false;
        cmdBrowseForCSV.Visible = false;
        ComSubscribersCOS.Visible = false;
    });
    trap(where, reporter(), [&] {
        switch (cmbSubscriberSelectType.itemDataAt(cmbSubscriberSelectType.ListIndex)) {
        case kCriterionAllSubscribers:
            break;
        case kCriterionExtensionRange:
            txtSubscriberExtensionRangeLow.Visible = true;
            lblExtensionRangeTo.Visible = true;
            txtSubscriberExtensionRangeHigh.Visible = true;
            break;
        case kCriterionSwitch:
            comSubscriberSwitch.Visible = true;
            break;
        case kCriterionMailServer:
            comSubscriberMailServer.Visible = true;
            break;
        case kCriterionCsvFile:
            txtCSVPath.Visible = true;
            cmdBrowseForCSV.Visible = true;
            break;
        case kCriterionClassOfService:
            ComSubscribersCOS.Visible = true;
            break;
        default:
            message(kInvalidSelection);
            break;
        }
    });
    changed();
}

void ChooseSubscribersPage::checkExtensionBox(TextControl &box) {
    if (!box.Text.empty() && !MyIsNumber(box.Text, 0, 0)) {
        message(kOnlyNumbers);
        box.Text.clear();
        changed();
    }
}

void ChooseSubscribersPage::txtSubscriberExtensionRangeHigh_Change() {
    checkExtensionBox(txtSubscriberExtensionRangeHigh);
}

void ChooseSubscribersPage::txtSubscriberExtensionRangeLow_LostFocus() {
    checkExtensionBox(txtSubscriberExtensionRangeLow);
}

// --- searches ------------------------------------------------------------------------------------

void ChooseSubscribersPage::cmdView_Click() {
    addSubscribers(chosenSelection());
}

void ChooseSubscribersPage::addSubscribers(const SubscriberSelection &selection) {
    // A press may already be running: the user interface was let in while it worked.
    if (m_busy)
        return;
    searchIntoGrid(selection);
    changed();
    if (m_gridFullHit && !m_gridFullReported) {
        m_gridFullReported = true;
        message(gridFullMessage());
    }
}

// The press's search: the page is busy until it returns, however it returns.
void ChooseSubscribersPage::searchIntoGrid(const SubscriberSelection &selection) {
    const SaveAndRestore busy(m_busy, true);
    m_inputRefused = false;
    m_gridFullHit = false;
    m_gridFullReported = false;
    if (m_host.ui)
        m_host.ui->setBusy(true);
    const ScopeExit idle([this] {
        if (m_host.ui)
            m_host.ui->setBusy(false);
    });
    myGrid.setRedraw(false);
    myGrid.setRows(1);

    // A step that fails is passed over without a report; the press ends as usual.
    try {
        search(selection);
    } catch (const std::exception &) {
    }

    myGrid.setRedraw(true);
    showUsersInGrid();
    gridSource = myGrid.Rows() > 1 ? describe(selection) : std::string();
}

// Into the grid, or told row by row while a listing is made (a listing never reads a CSV file).
void ChooseSubscribersPage::search(const SubscriberSelection &selection) {
    switch (selection.criterion) {
    case kCriterionAllSubscribers:
        searchAll();
        break;
    case kCriterionExtensionRange:
        searchExtensionRange(selection);
        break;
    case kCriterionClassOfService:
        searchClassOfService(selection);
        break;
    case kCriterionSwitch:
        searchSwitch(selection);
        break;
    case kCriterionMailServer:
        searchMailServer(selection);
        break;
    case kCriterionCsvFile:
        if (!m_listRow)
            ImportCSV(selection.csvPath);
        break;
    case kCriterionNone:
        break;
    }
}

std::string ChooseSubscribersPage::entryAt(const ListControl &list, int index) {
    if (index < 0 || index >= list.ListCount())
        return {};
    return list.List[static_cast<std::size_t>(index)];
}

SubscriberSelection ChooseSubscribersPage::chosenSelection() const {
    SubscriberSelection selection;
    selection.criterion = static_cast<SubscriberCriterion>(criterionCode());
    switch (selection.criterion) {
    case kCriterionExtensionRange:
        selection.extensionLow = txtSubscriberExtensionRangeLow.Text;
        selection.extensionHigh = txtSubscriberExtensionRangeHigh.Text;
        break;
    case kCriterionSwitch: {
        const int at = comSubscriberSwitch.ListIndex;
        selection.switchNumber = at >= 0 && at < comSubscriberSwitch.ListCount() ? at + 1 : 0;
        break;
    }
    case kCriterionMailServer:
        selection.mailServer = comSubscriberMailServer.Text();
        break;
    case kCriterionCsvFile:
        selection.csvPath = txtCSVPath.Text;
        break;
    case kCriterionClassOfService: {
        // The shown list's entries carry the position of their alias in the hidden list.
        const int at = ComSubscribersCOS.ListIndex;
        if (at >= 0 && at < ComSubscribersCOS.ListCount())
            selection.classOfService =
                entryAt(comHiddenCOS,
                        static_cast<int>(ComSubscribersCOS.ItemData[static_cast<std::size_t>(at)]));
        break;
    }
    case kCriterionAllSubscribers:
    case kCriterionNone:
        break;
    }
    return selection;
}

int ChooseSubscribersPage::classOfServiceIndex(const std::string &alias) const {
    if (alias.empty())
        return -1;
    for (int i = 0; i < comHiddenCOS.ListCount(); ++i) {
        if (comHiddenCOS.List[static_cast<std::size_t>(i)] == alias)
            return i;
    }
    return -1;
}

std::string ChooseSubscribersPage::classOfServiceName(const std::string &alias) const {
    const int hidden = classOfServiceIndex(alias);
    for (int i = 0; hidden >= 0 && i < ComSubscribersCOS.ListCount(); ++i) {
        if (ComSubscribersCOS.ItemData[static_cast<std::size_t>(i)] == hidden)
            return ComSubscribersCOS.List[static_cast<std::size_t>(i)];
    }
    return {};
}

std::vector<std::vector<std::string>> ChooseSubscribersPage::gridRows() const {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(static_cast<std::size_t>(myGrid.Rows()));
    for (int row = 1; row < myGrid.Rows(); ++row) {
        std::vector<std::string> cells;
        cells.reserve(kListingColumns.size());
        for (const std::string &key : kListingColumns)
            cells.push_back(myGrid.TextMatrix(row, myGrid.ColIndex(key)));
        rows.push_back(std::move(cells));
    }
    return rows;
}

std::string ChooseSubscribersPage::criterionDescription() const {
    return describe(chosenSelection());
}

std::string ChooseSubscribersPage::describe(const SubscriberSelection &selection) const {
    std::string entry;
    for (int i = 0; i < cmbSubscriberSelectType.ListCount(); ++i) {
        if (cmbSubscriberSelectType.ItemData[static_cast<std::size_t>(i)] == selection.criterion)
            entry = cmbSubscriberSelectType.List[static_cast<std::size_t>(i)];
    }
    // The list's texts lead to their value with a colon.
    if (entry.ends_with(':'))
        entry.pop_back();
    switch (selection.criterion) {
    case kCriterionExtensionRange:
        return entry + " " + selection.extensionLow + " " +
               (lblExtensionRangeTo.Caption.ends_with(':')
                    ? lblExtensionRangeTo.Caption.substr(0, lblExtensionRangeTo.Caption.size() - 1)
                    : lblExtensionRangeTo.Caption) +
               " " + selection.extensionHigh;
    case kCriterionSwitch:
        return entry + ": " + entryAt(comSubscriberSwitch, selection.switchNumber - 1);
    case kCriterionCsvFile:
        return entry + ": " + selection.csvPath;
    case kCriterionMailServer:
        return entry + ": " + selection.mailServer;
    case kCriterionClassOfService: {
        const std::string &alias = selection.classOfService;
        return entry + ": " + classOfServiceName(alias) + (alias.empty() ? "" : " (" + alias + ")");
    }
    case kCriterionAllSubscribers:
    case kCriterionNone:
        break;
    }
    return entry;
}

void ChooseSubscribersPage::showUsersInGrid() {
    txtUsersInGrid.Text = myGrid.Rows() >= 2 ? std::to_string(myGrid.Rows() - 1) : "0";
}

std::string ChooseSubscribersPage::gridFullMessage() const {
    return "The search found more subscribers than the grid can hold.  Only the first " +
           std::to_string(myGrid.rowLimit()) +
           " were added to the grid; narrow the search to reach the others.";
}

void ChooseSubscribersPage::noteGridFull() {
    m_gridFullHit = true;
}

void ChooseSubscribersPage::searchAll() {
    silently([&] { m_db.rsSubscribers().MoveFirst(); });
    addFromQuery(kAllQuery, kAllListing, {});
}

void ChooseSubscribersPage::searchExtensionRange(const SubscriberSelection &selection) {
    const auto low = numericValue(selection.extensionLow);
    const auto high = numericValue(selection.extensionHigh);
    if (!low || !high) {
        refuse(res(169));
        return;
    }
    if (*low >= 0 && *low <= *high && *high >= 0) {
        addFromQuery(kExtensionRangeQuery, kExtensionRangeListing,
                     {numberText(*high), numberText(*low)});
        return;
    }
    refuse(res(168));
}

void ChooseSubscribersPage::searchClassOfService(const SubscriberSelection &selection) {
    // A class of service without a name in the list is refused as no choice.
    const std::string &alias = selection.classOfService;
    if (classOfServiceName(alias).empty()) {
        refuse(res(333));
        return;
    }
    if (m_listRow) {
        const int hidden = classOfServiceIndex(alias);
        addFromQuery(kClassOfServiceQuery, kClassOfServiceListing,
                     {m_cosObjectIds.at(static_cast<std::size_t>(hidden))});
        return;
    }
    db::Recordset &cos = m_db.rsCOS();
    cos.MoveFirst();
    cos.Find("Alias", alias);
    // The class of service may have gone since the list was filled: then nothing is added.
    if (cos.Eof())
        return;
    addFromQuery(kClassOfServiceQuery, kClassOfServiceListing, {cos["CosObjectID"].Value()});
}

void ChooseSubscribersPage::searchSwitch(const SubscriberSelection &selection) {
    const int position = selection.switchNumber - 1;
    if (entryAt(comSubscriberSwitch, position).empty()) {
        refuse(res(331));
        return;
    }
    if (position == 0)
        addFromQuery(kFirstSwitchQuery, kFirstSwitchListing, {});
    else
        addFromQuery(kOtherSwitchQuery, kOtherSwitchListing, {std::int64_t{position}});
}

void ChooseSubscribersPage::searchMailServer(const SubscriberSelection &selection) {
    const std::string &server = selection.mailServer;
    if (server.empty()) {
        refuse(res(332));
        return;
    }
    addFromQuery(kMailServerSubscribersQuery, kMailServerListing, {server});
}

void ChooseSubscribersPage::addFromQuery(const std::string &sql, const std::string &listing,
                                         const std::vector<DbValue> &params) {
    if (m_listRow) {
        listFromQuery(listing, params);
        return;
    }
    db::Recordset query(m_db.database());
    query.CursorLocation(adUseClient);
    query.Open(sql, m_db.DbConnectionString(), adOpenForwardOnly, adLockReadOnly, params);
    while (!query.Eof()) {
        Lookup result = Lookup::NotFound;
        silently([&] { result = lookUpAndAdd(query["SubscriberObjectID"].Text()); });
        if (result == Lookup::GridFull) {
            noteGridFull();
            break;
        }
        query.MoveNext();
    }
    query.Close();
}

void ChooseSubscribersPage::listFromQuery(const std::string &sql,
                                          const std::vector<DbValue> &params) {
    std::unique_ptr<IDbConnection> connection = m_db.database().connect(m_db.DbConnectionString());
    std::vector<std::string> cells(kListingColumns.size());
    int rows = 0;
    connection->readRows(sql, params, [&](const std::vector<DbValue> &values) {
        if (rows >= myGrid.rowLimit()) {
            noteGridFull();
            return false;
        }
        ++rows;
        for (std::size_t c = 0; c < cells.size() && c < values.size(); ++c)
            cells[c] = db::isNull(values[c]) ? std::string() : db::valueText(values[c]);
        (*m_listRow)(cells);
        return true;
    });
}

bool ChooseSubscribersPage::listSubscribers(const ListRow &row) {
    return listSubscribers(chosenSelection(), row);
}

bool ChooseSubscribersPage::listSubscribers(const SubscriberSelection &selection,
                                            const ListRow &row) {
    if (selection.criterion == kCriterionCsvFile)
        return false;
    m_inputRefused = false;
    m_gridFullHit = false;
    m_gridFullReported = false;
    const SaveAndRestore listing(m_listRow, &row);
    search(selection);
    if (m_gridFullHit) {
        m_gridFullReported = true;
        message(gridFullMessage());
    }
    return true;
}

bool ChooseSubscribersPage::positionOn(const std::string &subscriberObjectId) {
    db::Recordset &subscribers = m_db.rsSubscribers();
    subscribers.MoveFirst();
    subscribers.Find("SubscriberObjectID", DbValue(subscriberObjectId));
    if (subscribers.Eof())
        return false;
    const DbValue handler = subscribers["CallHandlerObjectID"].Value();
    if (db::isNull(handler))
        return false;
    db::Recordset &handlers = m_db.rsPrimaryCallHandlers();
    handlers.MoveFirst();
    handlers.Find("CallHandlerObjectID", handler);
    return !handlers.Eof();
}

ChooseSubscribersPage::Lookup
ChooseSubscribersPage::lookUpAndAdd(const std::string &subscriberObjectId) {
    if (!positionOn(subscriberObjectId))
        return Lookup::NotFound;
    switch (AddUserToGrid()) {
    case AddResult::Added:
        return Lookup::Added;
    case AddResult::GridFull:
        return Lookup::GridFull;
    case AddResult::NotAdded:
        break;
    }
    return Lookup::NotAdded;
}

// --- the grid ------------------------------------------------------------------------------------

ChooseSubscribersPage::AddResult ChooseSubscribersPage::AddUserToGrid() {
    db::Recordset &subscribers = m_db.rsSubscribers();
    db::Recordset &handlers = m_db.rsPrimaryCallHandlers();

    std::int64_t type = 0;
    silently([&] { type = subscribers["SubscriberType"].Long(); });
    if (type != 1 && type != 3)
        return AddResult::NotAdded;

    const std::string alias = fieldText(subscribers, "Alias");
    const std::string firstName = fieldText(subscribers, "FirstName");
    const std::string lastName = fieldText(subscribers, "LastName");
    const std::string displayName = fieldText(subscribers, "DisplayName");
    const std::string extension = fieldText(handlers, "DTMFAccessID");
    const std::string homeServer = fieldText(subscribers, "HomeServer");
    const std::string remoteNodeId = fieldText(subscribers, "RemoteNodeID");
    const std::string legacyMailbox = fieldText(subscribers, "LegacyMailbox");

    std::string cosName;
    silently([&] {
        db::Recordset &cos = m_db.rsCOS();
        cos.MoveFirst();
        cos.Find("CosObjectID", subscribers["COSObjectID"].Value());
        if (!cos.Eof())
            cosName = fieldText(cos, "TextName");
    });

    const std::string objectId = fieldText(subscribers, "SubscriberObjectID");
    const std::string handlerObjectId = fieldText(handlers, "CallHandlerObjectID");

    if (!myGrid.AddItem(std::to_string(myGrid.Rows())))
        return AddResult::GridFull;
    const int row = myGrid.Row;
    myGrid.setChecked(row, true);
    const std::pair<const char *, const std::string *> cells[] = {
        {"Alias", &alias},
        {"DisplayName", &displayName},
        {"FirstName", &firstName},
        {"LastName", &lastName},
        {"Extension", &extension},
        {"HomeServer", &homeServer},
        {"COS", &cosName},
        {"ObjectID", &objectId},
        {"HandlerObjectID", &handlerObjectId},
        {"RemoteNodeID", &remoteNodeId},
        {"LegacyMailbox", &legacyMailbox},
    };
    for (const auto &[key, text] : cells)
        myGrid.setTextMatrix(row, myGrid.ColIndex(key), *text);
    return AddResult::Added;
}

void ChooseSubscribersPage::myGrid_Click() {
    if (m_busy)
        return;
    myGrid.cellClicked();
}

bool ChooseSubscribersPage::myGrid_BeforeEdit(int row, int col) const {
    return !m_busy && myGrid.mayEdit(row, col);
}

void ChooseSubscribersPage::myGrid_CheckBoxEdited(int row, bool checked) {
    if (!myGrid_BeforeEdit(row, myGrid.ColIndex("Selected")))
        return;
    myGrid.setChecked(row, checked);
    myGrid.afterEdit();
}

void ChooseSubscribersPage::cmdSelectAll_Click() {
    if (!m_busy)
        myGrid.selectAll();
}

void ChooseSubscribersPage::cmdUnselectAll_Click() {
    if (!m_busy)
        myGrid.deselectAll();
}

void ChooseSubscribersPage::selectShown(const std::vector<int> &shownRows, bool checked) {
    if (!m_busy)
        myGrid.setCheckedRows(shownRows, checked);
}

void ChooseSubscribersPage::cmdClearGrid_Click() {
    if (m_busy)
        return;
    myGrid.setRows(1);
    gridSource.clear();
    txtUsersInGrid.Text = std::to_string(0);
    changed();
}

bool ChooseSubscribersPage::cmdNext_Click() {
    return readyToHandOver();
}

bool ChooseSubscribersPage::readyToHandOver() {
    if (m_busy)
        return false;
    if (myGrid.Rows() < 2) {
        message(res(296));
        return false;
    }
    if (myGrid.firstCheckedRow() == 0) {
        message(kSelectOneToReset);
        return false;
    }
    return true;
}

// --- the CSV file --------------------------------------------------------------------------------

void ChooseSubscribersPage::cmdBrowseForCSV_Click() {
    if (m_busy)
        return;
    const std::string remembered = txtCSVPath.Text;
    std::optional<std::string> chosen;
    silently([&] {
        if (m_host.ui)
            chosen = m_host.ui->openFileDialog(res(231), "All Files | *.*");
    });
    txtCSVPath.Text = chosen && characterCount(*chosen) >= 4 ? *chosen : remembered;
    changed();
}

void ChooseSubscribersPage::ImportCSV(const std::string &path) {
    const int rowsBefore = gridDataRows();
    int linesRead = 0;

    std::optional<std::string> bytes;
    std::string problem = "it cannot be read";
    silently([&] {
        Result<std::string> read = m_host.files->readPlainFile(path, kCsvMaxBytes);
        if (read)
            bytes = std::move(read).value();
        else
            problem = read.error();
    });
    if (!bytes) {
        refuse(res(131) + "\r\n" + m_host.files->nativePath(path) + ": " + problem);
        csvSummary(linesRead, rowsBefore);
        return;
    }
    const std::string text = decodeAnsiText(*bytes, m_host.ansiText);
    bytes.reset();

    LineReader lines(text);
    std::string_view header;
    if (!lines.next(header) || characterCount(header) < 2) {
        refuse(res(130));
        csvSummary(linesRead, rowsBefore);
        return;
    }
    const CsvColumns columns = findCsvColumns(header, res(300));
    if (!columns.any()) {
        refuse(res(130));
        csvSummary(linesRead, rowsBefore);
        return;
    }

    db::Connection connection(m_db.database());
    std::string_view line;
    int sinceYield = 0;
    long lineNumber = 1; // the header's; unlike the count read, it does not stop at 32,767
    CsvUnmatchedLines unmatched;
    while (lines.next(line)) {
        linesRead = countLine(linesRead);
        ++lineNumber;
        if (++sinceYield >= kCsvYieldLines) {
            sinceYield = 0;
            if (m_host.ui)
                m_host.ui->doEvents();
        }
        Lookup result = Lookup::NotFound;
        // A line that fails (a lost connection, a value the server refuses) is passed over.
        silently([&] { result = importLine(line, columns.alias, columns.extension, connection); });
        if (result == Lookup::GridFull) {
            noteGridFull();
            break;
        }
        if (result == Lookup::NotFound && namesSubscriber(line, columns.alias, columns.extension))
            unmatched.add(lineNumber);
    }
    if (m_gridFullHit) {
        m_gridFullReported = true;
        message(gridFullMessage());
    }
    csvSummary(linesRead, rowsBefore);
    // The counts alone do not say which lines to correct; the summary stays as it always was.
    if (!unmatched.empty())
        message(unmatched.message());
}

ChooseSubscribersPage::Lookup ChooseSubscribersPage::importLine(std::string_view line,
                                                                int aliasColumn,
                                                                int extensionColumn,
                                                                db::Connection &connection) {
    const auto fields = splitFields(line);
    auto field = [&](int column) -> std::optional<std::string_view> {
        if (column < 0 || static_cast<std::size_t>(column) >= fields.size())
            return std::nullopt;
        return fields[static_cast<std::size_t>(column)];
    };
    if (!connection.IsOpen())
        connection.Open(m_db.DbConnectionString());

    // Extension first: the first row that leads to a subscriber ends the line.
    // A cell written so that a spreadsheet cannot run it carries a text marker, dropped here.
    if (auto extension = field(extensionColumn);
        extension && isNumericText(csvCellValue(*extension))) {
        db::Recordset query;
        query.CursorLocation(adUseClient);
        query.Open(kCsvExtensionQuery, connection, adOpenKeyset, adLockReadOnly,
                   {std::string(csvCellValue(*extension))});
        while (!query.Eof()) {
            const std::string id = fieldText(query, "SubscriberObjectID");
            if (positionOn(id)) {
                const AddResult added = AddUserToGrid();
                return added == AddResult::GridFull ? Lookup::GridFull
                       : added == AddResult::Added  ? Lookup::Added
                                                    : Lookup::NotAdded;
            }
            query.MoveNext();
        }
        query.Close();
    }

    // Alias second: every row that leads to a subscriber is added.
    Lookup result = Lookup::NotFound;
    if (auto alias = field(aliasColumn)) {
        db::Recordset query;
        query.CursorLocation(adUseClient);
        query.Open(kCsvAliasQuery, connection, adOpenForwardOnly, adLockReadOnly,
                   {std::string(csvCellValue(*alias))});
        while (!query.Eof()) {
            if (positionOn(fieldText(query, "SubscriberObjectID"))) {
                const AddResult added = AddUserToGrid();
                if (added == AddResult::GridFull)
                    return Lookup::GridFull;
                if (added == AddResult::Added)
                    result = Lookup::Added;
            }
            query.MoveNext();
        }
        query.Close();
    }
    return result;
}

void ChooseSubscribersPage::csvSummary(int linesRead, int rowsBefore) {
    message(res(308) + std::to_string(linesRead) + res(309) +
            std::to_string(gridDataRows() - rowsBefore) + res(310));
}

} // namespace zeph
