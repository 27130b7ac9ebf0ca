#include "AdvancedSearchPage.h"
#include "platform/AsciiText.h"

#include "app/registry/RegistryAPI.h"
#include "platform/Error.h"
#include "select/SubscriberSearch.h"

#include <algorithm>
#include <utility>

namespace zeph::search {

namespace {

const Where kColorsWhere{"SetQueryColors", "Form", AdvancedSearchPage::kFormName};

// The byte position of an editor offset (characters from 0, CR and LF one each).
std::size_t bytePosition(std::string_view text, int editorOffset) {
    int offset = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && offset++ == editorOffset)
            return i;
    }
    return text.size();
}

} // namespace

// --- layout --------------------------------------------------------------------------------

AdvancedSearchLayout designLayout() {
    AdvancedSearchLayout base;
    // What the resize rules leave alone; the rest follows from the design size.
    base.label = {120, 120, 5000, 255};
    base.txtSQL = {120, 420, 0, 1455};
    base.cmdExecute = {0, 420, 1035, 375};
    base.cmdClear = {0, 900, 1035, 375};
    base.cmdPaste = {0, 1380, 1035, 375};
    base.gridSQL = {55, 1995, 0, 0};
    base.cmdPreviousQueries = {120, 0, 1815, 375};
    base.cmdImport = {0, 0, 1935, 375};
    base.cmdCancel = {0, 0, 1215, 375};
    return Form_Resize(base, AdvancedSearchLayout::kDesignWidth,
                       AdvancedSearchLayout::kDesignHeight, false);
}

AdvancedSearchLayout Form_Resize(const AdvancedSearchLayout &current, int width, int height,
                                 bool minimized) {
    if (minimized)
        return current;
    AdvancedSearchLayout out = current;
    out.width = std::max(width, AdvancedSearchLayout::kMinWidth);
    out.height = std::max(height, AdvancedSearchLayout::kMinHeight);
    const int w = out.width, h = out.height;
    out.txtSQL.width = w - 1320;
    out.cmdClear.left = out.cmdExecute.left = out.cmdPaste.left = w - 1155;
    out.gridSQL.width = w - 110;
    out.gridSQL.height = h - 2805;
    out.cmdCancel.top = h - out.cmdCancel.height - 400;
    out.cmdCancel.left = w - 1335;
    out.cmdImport.top = out.cmdPreviousQueries.top = out.cmdCancel.top;
    out.cmdImport.left = w - 3435;
    return out;
}

// --- page ----------------------------------------------------------------------------------

AdvancedSearchPage::AdvancedSearchPage(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                                       SubscriberSearch &selection)
    : m_query(host, registry, tarvoDb, selection, SubscriberSearch::messageBoxes(host))
    , gridSQL(m_query.results())
    , m_host(host)
    , m_registry(registry) {
    m_query.resultsChanged = [this] {
        if (gridChanged)
            gridChanged();
    };
}

AdvancedSearchPage::~AdvancedSearchPage() = default;

std::function<void(const std::string &)> AdvancedSearchPage::reporter() {
    return [this](const std::string &text) {
        if (m_host.ui)
            m_host.ui->messageBox(text, MsgButtons::OK, MsgIcon::Critical);
    };
}

void AdvancedSearchPage::cmdExecute_Click() {
    m_query.execute(txtSQL);
}

void AdvancedSearchPage::cmdImport_Click() {
    if (m_query.importIntoSelection())
        requestUnload();
}

void AdvancedSearchPage::cmdPaste_Click() {
    if (m_host.ui)
        txtSQL = toEditorLineBreaks(m_host.ui->clipboardText());
}

void AdvancedSearchPage::cmdClear_Click() {
    txtSQL.clear();
}

void AdvancedSearchPage::cmdCancel_Click() {
    if (m_query.running()) {
        m_query.stop(); // the query stops; the window stays
        return;
    }
    Form_Unload();
    requestUnload();
}

void AdvancedSearchPage::Form_Unload() {
    m_query.close();
}

void AdvancedSearchPage::requestUnload() {
    m_unloadRequested = true;
    if (unload)
        unload();
}

// --- editor --------------------------------------------------------------------------------

QueryColors AdvancedSearchPage::SetQueryColors(int caret) {
    QueryColors colors;
    colors.text = txtSQL;
    colors.caret = std::clamp(caret, 0, editorLength(txtSQL));
    trap(kColorsWhere, reporter(), [&] { colors = search::SetQueryColors(txtSQL, caret); });
    txtSQL = colors.text;
    return colors;
}

KeyDownEffect AdvancedSearchPage::txtSQL_KeyDown(int keyCode, int shift, int caret, int selStart,
                                                 int selLength) {
    KeyDownEffect effect;
    effect.action = m_keys.keyDown(keyCode, shift);
    switch (effect.action) {
    case QueryKeyAction::None:
        break;
    case QueryKeyAction::Recolor:
        effect.colors = SetQueryColors(caret);
        break;
    case QueryKeyAction::CopyPlainText:
    case QueryKeyAction::CutPlainText: {
        const std::size_t from = bytePosition(txtSQL, std::max(selStart, 0));
        const std::size_t to = bytePosition(txtSQL, std::max(selStart, 0) + std::max(selLength, 0));
        if (m_host.ui)
            m_host.ui->setClipboardText(txtSQL.substr(from, to - from));
        if (effect.action == QueryKeyAction::CutPlainText) {
            txtSQL.erase(from, to - from);
            effect.removeSelection = true;
        }
        break;
    }
    }
    return effect;
}

void AdvancedSearchPage::txtSQL_KeyUp(int keyCode, int shift) {
    m_keys.keyUp(keyCode, shift);
}

// --- history -------------------------------------------------------------------------------

const std::vector<PreviousQueryItem> &AdvancedSearchPage::ShowPreviousQueries() {
    return m_menu.ShowPreviousQueries(m_registry);
}

QueryColors AdvancedSearchPage::mnuPreviousQuery_Click(int index) {
    QueryColors colors = m_host.ui ? m_menu.mnuPreviousQuery_Click(m_registry, *m_host.ui, index)
                                   : search::SetQueryColors(std::string(), 0);
    txtSQL = colors.text;
    return colors;
}

} // namespace zeph::search
