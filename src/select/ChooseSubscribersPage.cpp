#include "ChooseSubscribersPage.h"
#include "platform/AsciiText.h"

#include "CsvText.h"
#include "NumberChecks.h"
#include "i18n/OwnStrings.h"
#include "i18n/modLocalize.h"
#include "platform/Error.h"

#include <utility>

namespace zeph {

namespace {

constexpr long kInvalidPropertyArrayIndex = 381;

constexpr const char *kInvalidSelection = "Error! Invalid subscriber selection value.";
constexpr const char *kOnlyNumbers = "Only numbers are allowed for extension range values";

// Grid header cells and their string ids, in the order the texts are set.
constexpr std::pair<const char *, std::uint32_t> kGridHeaders[] = {
    {"Alias", 30},     {"DisplayName", 110}, {"Extension", 134}, {"FirstName", 139},
    {"LastName", 170}, {"HomeServer", 155},  {"COS", 79},
};

// The cached tables report failures as exceptions; a step the system passes over silently
// catches them here.
template <class Step> void silently(Step &&step) {
    try {
        step();
    } catch (const std::exception &) {
    }
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
    : m_search(host, registry, tarvoDb, localize, SubscriberSearch::messageBoxes(host))
    , myGrid(m_search.grid())
    , m_host(host)
    , m_localize(localize)
    , m_commandLine(std::move(commandLine)) {
    m_search.rowsReplaced = [this] {
        showUsersInGrid();
        changed();
    };
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
        for (const SubscriberSearch::CriterionEntry &entry : SubscriberSearch::criteria()) {
            cmbSubscriberSelectType.AddItem(entry.text);
            cmbSubscriberSelectType.setItemData(cmbSubscriberSelectType.NewIndex(), entry.code);
        }
    });
    trap(where, report, [&] { chooseCriterion(0); });
    trap(where, report,
         [&] { cmdAdvancedSearch.Visible = containsIgnoreCase(m_commandLine, "Advanced"); });
    trap(where, report, [&] { myGrid.setRows(1); });
    m_search.loadLists();
    showLists();
    changed();
}

void ChooseSubscribersPage::showLists() {
    comHiddenCOS.Clear();
    for (const std::string &alias : m_search.classOfServiceAliases())
        comHiddenCOS.AddItem(alias);
    // The shown entries carry the position of their alias in the hidden list.
    ComSubscribersCOS.Clear();
    for (const std::string &name : m_search.classOfServiceNames()) {
        ComSubscribersCOS.AddItem(name);
        ComSubscribersCOS.setItemData(ComSubscribersCOS.NewIndex(), ComSubscribersCOS.NewIndex());
    }
    comSubscriberMailServer.Clear();
    for (const std::string &server : m_search.mailServers())
        comSubscriberMailServer.AddItem(server);
    comSubscriberSwitch.Clear();
    for (const std::string &name : m_search.switchNames()) {
        comSubscriberSwitch.AddItem(name);
        comSubscriberSwitch.setItemData(comSubscriberSwitch.NewIndex(),
                                        comSubscriberSwitch.NewIndex() + 1);
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

void ChooseSubscribersPage::showUsersInGrid() {
    txtUsersInGrid.Text = myGrid.Rows() >= 2 ? std::to_string(myGrid.Rows() - 1) : "0";
}

// --- the grid ------------------------------------------------------------------------------------

void ChooseSubscribersPage::myGrid_Click() {
    if (busy())
        return;
    myGrid.cellClicked();
}

bool ChooseSubscribersPage::myGrid_BeforeEdit(int row, int col) const {
    return !busy() && myGrid.mayEdit(row, col);
}

void ChooseSubscribersPage::myGrid_CheckBoxEdited(int row, bool checked) {
    if (!myGrid_BeforeEdit(row, myGrid.ColIndex("Selected")))
        return;
    myGrid.setChecked(row, checked);
    myGrid.afterEdit();
}

void ChooseSubscribersPage::cmdSelectAll_Click() {
    if (!busy())
        myGrid.selectAll();
}

void ChooseSubscribersPage::cmdUnselectAll_Click() {
    if (!busy())
        myGrid.deselectAll();
}

void ChooseSubscribersPage::selectShown(const std::vector<int> &shownRows, bool checked) {
    if (!busy())
        myGrid.setCheckedRows(shownRows, checked);
}

void ChooseSubscribersPage::cmdClearGrid_Click() {
    if (!busy())
        m_search.clearGrid();
}

bool ChooseSubscribersPage::cmdNext_Click() {
    return readyToHandOver();
}

// --- the CSV file --------------------------------------------------------------------------------

void ChooseSubscribersPage::cmdBrowseForCSV_Click() {
    if (busy())
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

} // namespace zeph
