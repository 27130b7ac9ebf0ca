#include "frmAdvancedSubscriberSearch.h"

#include "i18n/modLocalize.h"
#include "ui/Fonts.h"
#include "ui/OwnText.h"

#include <QAction>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTableView>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include <limits>
#include <vector>

namespace zeph::search {

namespace {

constexpr int kTwipsPerPixel = 15;

QString qs(const std::string &text) {
    return QString::fromStdString(text);
}

QPushButton *button(const char *name, const char *caption, QWidget *parent) {
    auto *b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QLatin1String(name));
    // Return belongs to the editor's text; it never presses a button of the window.
    b->setAutoDefault(false);
    return b;
}

void place(QWidget *widget, const AdvancedSearchLayout::Box &box) {
    widget->setGeometry(box.left / kTwipsPerPixel, box.top / kTwipsPerPixel,
                        std::max(box.width / kTwipsPerPixel, 1),
                        std::max(box.height / kTwipsPerPixel, 1));
}

// Editor colour values hold red in the low byte and blue in the high byte.
QColor editorColor(std::uint32_t value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

QTextCharFormat colorFormat(std::uint32_t value) {
    QTextCharFormat format;
    format.setForeground(editorColor(value));
    return format;
}

// A stretch of widget positions [from, to) in one colour.
struct Span {
    int from = 0;
    int to = 0;
    std::uint32_t color = kPlainColor;
};

// The colour of every position of the text: the runs, and black between them.
std::vector<Span> wantedSpans(const QueryColors &colors, const EditorOffsetMap &offsets) {
    std::vector<Span> spans;
    spans.reserve(colors.runs.size() * 2 + 1);
    int at = 0;
    for (const ColorRun &run : colors.runs) {
        const int from = offsets.toWidget(run.start);
        const int to = offsets.toWidget(run.start + run.length);
        if (from > at)
            spans.push_back({at, from, kPlainColor});
        spans.push_back({from, to, run.color});
        at = to;
    }
    spans.push_back({at, std::numeric_limits<int>::max(), kPlainColor});
    return spans;
}

// The stretches whose colour in the document is not the wanted one (a character without a
// colour of its own counts as wrong), merged where they touch.
std::vector<Span> differingSpans(const QTextDocument &document, const std::vector<Span> &wanted) {
    std::vector<Span> differing;
    std::size_t s = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int begin = fragment.position();
            const int end = begin + fragment.length();
            const QBrush brush = fragment.charFormat().foreground();
            while (s < wanted.size() && wanted[s].to <= begin)
                ++s;
            for (std::size_t w = s; w < wanted.size() && wanted[w].from < end; ++w) {
                if (brush.style() != Qt::NoBrush && brush.color() == editorColor(wanted[w].color))
                    continue;
                const Span wrong{std::max(begin, wanted[w].from), std::min(end, wanted[w].to),
                                 wanted[w].color};
                if (!differing.empty() && differing.back().to == wrong.from &&
                    differing.back().color == wrong.color)
                    differing.back().to = wrong.to;
                else
                    differing.push_back(wrong);
            }
        }
    }
    return differing;
}

// A menu caption shows "&" as itself.
QString menuCaption(const std::string &caption) {
    return qs(caption).replace(QLatin1Char('&'), QLatin1String("&&"));
}

struct KeyCode {
    int qtKey;
    int windowsKey;
};

// Keys whose Windows code is not their character's code.
constexpr KeyCode kKeyCodes[] = {
    {Qt::Key_Backspace, 8},
    {Qt::Key_Tab, 9},
    {Qt::Key_Backtab, 9},
    {Qt::Key_Return, 13},
    {Qt::Key_Enter, 13},
    {Qt::Key_Shift, 16},
    {Qt::Key_Control, 17},
    {Qt::Key_Alt, 18},
    {Qt::Key_Pause, 19},
    {Qt::Key_CapsLock, 20},
    {Qt::Key_Escape, 27},
    {Qt::Key_Space, 32},
    {Qt::Key_PageUp, 33},
    {Qt::Key_PageDown, 34},
    {Qt::Key_End, 35},
    {Qt::Key_Home, 36},
    {Qt::Key_Left, 37},
    {Qt::Key_Up, 38},
    {Qt::Key_Right, 39},
    {Qt::Key_Down, 40},
    {Qt::Key_Insert, 45},
    {Qt::Key_Delete, 46},
    {Qt::Key_Meta, 91},
    // A shifted digit key reports its character; Windows reports the digit's key (US layout).
    {Qt::Key_ParenRight, 48},
    {Qt::Key_Exclam, 49},
    {Qt::Key_At, 50},
    {Qt::Key_NumberSign, 51},
    {Qt::Key_Dollar, 52},
    {Qt::Key_Percent, 53},
    {Qt::Key_AsciiCircum, 54},
    {Qt::Key_Ampersand, 55},
    {Qt::Key_Asterisk, 56},
    {Qt::Key_ParenLeft, 57},
    {Qt::Key_Semicolon, 186},
    {Qt::Key_Colon, 186},
    {Qt::Key_Equal, 187},
    {Qt::Key_Plus, 187},
    {Qt::Key_Comma, 188},
    {Qt::Key_Less, 188},
    {Qt::Key_Minus, 189},
    {Qt::Key_Underscore, 189},
    {Qt::Key_Period, 190},
    {Qt::Key_Greater, 190},
    {Qt::Key_Slash, 191},
    {Qt::Key_Question, 191},
    {Qt::Key_QuoteLeft, 192},
    {Qt::Key_AsciiTilde, 192},
    {Qt::Key_BracketLeft, 219},
    {Qt::Key_BraceLeft, 219},
    {Qt::Key_Backslash, 220},
    {Qt::Key_Bar, 220},
    {Qt::Key_BracketRight, 221},
    {Qt::Key_BraceRight, 221},
    {Qt::Key_Apostrophe, 222},
    {Qt::Key_QuoteDbl, 222},
};

constexpr KeyCode kKeypadCodes[] = {
    {Qt::Key_Asterisk, 106}, {Qt::Key_Plus, 107},  {Qt::Key_Minus, 109},
    {Qt::Key_Period, 110},   {Qt::Key_Slash, 111},
};

} // namespace

int windowsKeyCode(int qtKey, Qt::KeyboardModifiers modifiers) {
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return keypad ? 96 + (qtKey - Qt::Key_0) : qtKey;
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return qtKey;
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    if (keypad) {
        for (const KeyCode &k : kKeypadCodes) {
            if (k.qtKey == qtKey)
                return k.windowsKey;
        }
    }
    for (const KeyCode &k : kKeyCodes) {
        if (k.qtKey == qtKey)
            return k.windowsKey;
    }
    return 0;
}

int windowsShiftState(Qt::KeyboardModifiers modifiers) {
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) |
           (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

// --- result grid ---------------------------------------------------------------------------

ResultGridModel::ResultGridModel(const ResultGrid &grid, QObject *parent)
    : QAbstractTableModel(parent)
    , m_grid(grid) {}

int ResultGridModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_grid.Rows() - 1;
}

int ResultGridModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_grid.Cols();
}

QVariant ResultGridModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return qs(m_grid.TextMatrix(index.row() + 1, index.column()));
}

QVariant ResultGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return qs(m_grid.TextMatrix(0, section));
    return section + 1;
}

void ResultGridModel::reload() {
    beginResetModel();
    endResetModel();
}

// --- editor --------------------------------------------------------------------------------

QueryTextEdit::QueryTextEdit(QWidget *parent)
    : QTextEdit(parent) {
    // Pasted text comes in as plain text; the colours are the window's own.
    setAcceptRichText(false);
    // The recolouring after each key would be all that an undo takes back.
    setUndoRedoEnabled(false);
}

void QueryTextEdit::keyPressEvent(QKeyEvent *event) {
    if (keyDown)
        keyDown(event);
    QTextEdit::keyPressEvent(event); // the key is never swallowed
}

void QueryTextEdit::keyReleaseEvent(QKeyEvent *event) {
    if (keyUp)
        keyUp(event);
    QTextEdit::keyReleaseEvent(event);
}

QMimeData *QueryTextEdit::createMimeDataFromSelection() const {
    auto *data = new QMimeData;
    data->setText(textCursor().selection().toPlainText());
    return data;
}

bool QueryTextEdit::canInsertFromMimeData(const QMimeData *source) const {
    return source->hasText();
}

void QueryTextEdit::insertFromMimeData(const QMimeData *source) {
    if (!source->hasText())
        return;
    // A text document takes CR and LF each as a line break of its own: a CR LF pair from a
    // Windows clipboard is one line break.
    QString text = source->text();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QTextCursor cursor = textCursor();
    cursor.insertText(text);
    setTextCursor(cursor);
    ensureCursorVisible();
}

// --- window --------------------------------------------------------------------------------

frmAdvancedSubscriberSearch::frmAdvancedSubscriberSearch(AdvancedSearchPage &page,
                                                         i18n::modLocalize *localize,
                                                         QWidget *parent)
    : QDialog(parent)
    , m_page(page)
    , m_localize(localize)
    , m_layout(designLayout()) {
    setObjectName(QLatin1String(AdvancedSearchPage::kFormName));
    setWindowTitle(QString::fromUtf8(AdvancedSearchPage::kWindowCaption));
    setModal(true);

    Label1 = new QLabel(QString::fromUtf8(AdvancedSearchPage::kStartLabel), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    txtSQL = new QueryTextEdit(this);
    txtSQL->setObjectName(QStringLiteral("txtSQL"));
    cmdExecute = button("cmdExecute", AdvancedSearchPage::kExecuteCaption, this);
    cmdClear = button("cmdClear", AdvancedSearchPage::kClearCaption, this);
    cmdPaste = button("cmdPaste", AdvancedSearchPage::kPasteCaption, this);
    gridSQL = new QTableView(this);
    gridSQL->setObjectName(QStringLiteral("gridSQL"));
    m_model = new ResultGridModel(m_page.gridSQL, this);
    gridSQL->setModel(m_model);
    gridSQL->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridSQL->verticalHeader()->setDefaultSectionSize(gridSQL->fontMetrics().height() + 4);
    cmdPreviousQueries =
        button("cmdPreviousQueries", AdvancedSearchPage::kPreviousQueriesCaption, this);
    cmdImport = button("cmdImport", AdvancedSearchPage::kImportCaption, this);
    cmdCancel = button("cmdCancel", AdvancedSearchPage::kCancelCaption, this);
    mnuPreviousQueriesPopup = new QMenu(this);
    mnuPreviousQueriesPopup->setObjectName(QStringLiteral("mnuPreviousQueriesPopup"));
    // Item 0 exists from the start, as in the window's design.
    mnuPreviousQuery.append(mnuPreviousQueriesPopup->addAction(QString()));

    setMinimumSize(AdvancedSearchLayout::kMinWidth / kTwipsPerPixel,
                   AdvancedSearchLayout::kMinHeight / kTwipsPerPixel);
    resize(m_layout.width / kTwipsPerPixel, m_layout.height / kTwipsPerPixel);
    lblRowCount = new QLabel(this);
    lblRowCount->setObjectName(QStringLiteral("lblRowCount"));
    lblRowCount->setAlignment(Qt::AlignCenter);
    placeControls();
    if (localize)
        ui::SetFormFonts(this, localize->currentFontRule());
    // A query reads best with its columns lined up.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSize(txtSQL->font().pointSize());
    txtSQL->setFont(fixed);

    // An import that finished accepts the window; Cancel rejects it.
    m_page.unload = [this] { done(m_cancelling ? QDialog::Rejected : QDialog::Accepted); };
    m_page.gridChanged = [this] {
        m_model->reload();
        showRowCount();
    };
    connectEvents();
    showPlainText();
}

frmAdvancedSubscriberSearch::~frmAdvancedSubscriberSearch() {
    m_page.unload = nullptr;
    m_page.gridChanged = nullptr;
}

void frmAdvancedSubscriberSearch::connectEvents() {
    txtSQL->keyDown = [this](QKeyEvent *event) { editorKeyDown(event); };
    txtSQL->keyUp = [this](QKeyEvent *event) {
        m_page.txtSQL_KeyUp(windowsKeyCode(event->key(), event->modifiers()),
                            windowsShiftState(event->modifiers()));
    };
    connect(txtSQL, &QTextEdit::textChanged, this, &frmAdvancedSubscriberSearch::editorTextChanged);
    connect(cmdExecute, &QPushButton::clicked, this, [this] {
        // While the query runs the window answers only Cancel, which stops it.
        const QList<QWidget *> waiting = {txtSQL,   cmdExecute, cmdImport,
                                          cmdPaste, cmdClear,   cmdPreviousQueries};
        for (QWidget *w : waiting)
            w->setEnabled(false);
        m_page.cmdExecute_Click();
        for (QWidget *w : waiting)
            w->setEnabled(true);
    });
    connect(cmdImport, &QPushButton::clicked, this, [this] { m_page.cmdImport_Click(); });
    connect(cmdPaste, &QPushButton::clicked, this, [this] {
        m_page.cmdPaste_Click();
        showPlainText();
    });
    connect(cmdClear, &QPushButton::clicked, this, [this] {
        m_page.cmdClear_Click();
        showPlainText();
    });
    connect(cmdPreviousQueries, &QPushButton::clicked, this,
            &frmAdvancedSubscriberSearch::showPreviousQueries);
    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        m_cancelling = true;
        m_page.cmdCancel_Click();
        m_cancelling = false;
    });
}

void frmAdvancedSubscriberSearch::done(int result) {
    // Closing while a query runs stops the query and keeps the window.
    if (m_page.queryRunning()) {
        m_page.cmdCancel_Click();
        return;
    }
    // Closing by any means (Cancel, the frame, Escape, a finished import) unloads the page's
    // result set.
    m_page.Form_Unload();
    QDialog::done(result);
}

void frmAdvancedSubscriberSearch::editorTextChanged() {
    if (m_applying)
        return;
    m_page.txtSQL = toEditorLineBreaks(txtSQL->toPlainText().toStdString());
}

void frmAdvancedSubscriberSearch::editorKeyDown(QKeyEvent *event) {
    // A key without a Windows code of its own is one of "every other" key.
    const int keyCode = windowsKeyCode(event->key(), event->modifiers());
    const EditorOffsetMap offsets(m_page.txtSQL);
    const QTextCursor cursor = txtSQL->textCursor();
    const int selStart = offsets.toEditor(cursor.selectionStart());
    const int selEnd = offsets.toEditor(cursor.selectionEnd());
    const KeyDownEffect effect =
        m_page.txtSQL_KeyDown(keyCode, windowsShiftState(event->modifiers()),
                              offsets.toEditor(cursor.position()), selStart, selEnd - selStart);
    if (effect.colors)
        showColors(*effect.colors);
    if (effect.removeSelection) {
        m_applying = true;
        QTextCursor remove = txtSQL->textCursor();
        remove.removeSelectedText();
        txtSQL->setTextCursor(remove);
        m_applying = false;
    }
}

void frmAdvancedSubscriberSearch::showColors(const QueryColors &colors) {
    const EditorOffsetMap offsets(colors.text);
    const QString wanted = qs(toWidgetLineBreaks(colors.text));
    QTextDocument *document = txtSQL->document();
    m_applying = true;
    // Redrawing stays off until every colour is in place.
    txtSQL->setUpdatesEnabled(false);
    {
        QTextCursor cursor(document);
        cursor.beginEditBlock();
        if (txtSQL->toPlainText().size() == wanted.size()) {
            // Only letter case changes: the keywords take their upper case where they stand.
            for (const ColorRun &run : colors.runs) {
                if (run.color != kKeywordColor)
                    continue;
                const int from = offsets.toWidget(run.start);
                const int to = offsets.toWidget(run.start + run.length);
                cursor.setPosition(from);
                cursor.setPosition(to, QTextCursor::KeepAnchor);
                const QString word = wanted.mid(from, to - from);
                if (cursor.selectedText() != word)
                    cursor.insertText(word);
            }
        }
        if (txtSQL->toPlainText() != wanted) {
            cursor.select(QTextCursor::Document);
            cursor.insertText(wanted);
        }
        // Everything black, keywords blue and strings red; only the characters whose colour
        // differs from that are touched, which after one key are a few.
        for (const Span &span : differingSpans(*document, wantedSpans(colors, offsets))) {
            cursor.setPosition(span.from);
            cursor.setPosition(span.to, QTextCursor::KeepAnchor);
            cursor.setCharFormat(colorFormat(span.color));
        }
        cursor.endEditBlock();
    }
    // Back to the remembered caret, without a selection, typing in black.
    QTextCursor caret(document);
    caret.setPosition(offsets.toWidget(colors.caret));
    txtSQL->setTextCursor(caret);
    txtSQL->setCurrentCharFormat(colorFormat(kPlainColor));
    txtSQL->setUpdatesEnabled(true);
    txtSQL->viewport()->update();
    m_applying = false;
}

void frmAdvancedSubscriberSearch::showRowCount() {
    // The grid's first row holds the column names.
    const int rows = std::max(0, m_page.gridSQL.Rows() - 1);
    lblRowCount->setText(rows == 1 ? ui::ownText(m_localize, 533)
                                   : ui::ownText(m_localize, 534).arg(rows));
}

void frmAdvancedSubscriberSearch::showPlainText() {
    QueryColors plain;
    plain.text = m_page.txtSQL;
    showColors(plain);
}

void frmAdvancedSubscriberSearch::showPreviousQueries() {
    const std::vector<PreviousQueryItem> &items = m_page.ShowPreviousQueries();
    for (int i = static_cast<int>(mnuPreviousQuery.size()); i < static_cast<int>(items.size());
         ++i) {
        QAction *item = mnuPreviousQueriesPopup->addAction(QString());
        mnuPreviousQuery.append(item);
    }
    for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        QAction *item = mnuPreviousQuery[i];
        item->setText(menuCaption(items[static_cast<std::size_t>(i)].caption));
        item->setVisible(true);
        item->disconnect(this);
        connect(item, &QAction::triggered, this,
                [this, i] { showColors(m_page.mnuPreviousQuery_Click(i)); });
    }
    // The menu opens at the button's top right corner.
    const QPoint corner(cmdPreviousQueries->x() + cmdPreviousQueries->width(),
                        cmdPreviousQueries->y());
    mnuPreviousQueriesPopup->popup(mapToGlobal(corner));
}

void frmAdvancedSubscriberSearch::resizeEvent(QResizeEvent *event) {
    QDialog::resizeEvent(event);
    const AdvancedSearchLayout layout =
        Form_Resize(m_layout, width() * kTwipsPerPixel, height() * kTwipsPerPixel, isMinimized());
    m_layout = layout;
    placeControls();
}

void frmAdvancedSubscriberSearch::placeControls() {
    place(Label1, m_layout.label);
    place(txtSQL, m_layout.txtSQL);
    place(cmdExecute, m_layout.cmdExecute);
    place(cmdClear, m_layout.cmdClear);
    place(cmdPaste, m_layout.cmdPaste);
    place(gridSQL, m_layout.gridSQL);
    place(cmdPreviousQueries, m_layout.cmdPreviousQueries);
    place(cmdImport, m_layout.cmdImport);
    // The result's row count between Previous Queries and Import.
    AdvancedSearchLayout::Box count = m_layout.cmdPreviousQueries;
    count.left += count.width;
    count.width = std::max(0, m_layout.cmdImport.left - count.left);
    place(lblRowCount, count);
    place(cmdCancel, m_layout.cmdCancel);
}

} // namespace zeph::search
