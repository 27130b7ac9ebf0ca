#include "frmChooseSubscribers.h"

#include "select/DistinctNames.h"
#include "ui/Fonts.h"
#include "ui/OwnText.h"
#include "ui/WindowPlacement.h"
#include "ui/WizardKeys.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace zeph {

namespace {

constexpr int kTwipsPerPixel = 15;

QString qs(const std::string &text) {
    return QString::fromStdString(text);
}

void showText(QLineEdit *box, const std::string &text) {
    const QString wanted = qs(text);
    if (box->text() != wanted) {
        QSignalBlocker block(box);
        box->setText(wanted);
    }
}

// `shown` (when given) holds the entries as they are shown, one for each of the list's.
void showList(QComboBox *box, const ListControl &list,
              const std::vector<std::string> *shown = nullptr) {
    QSignalBlocker block(box);
    const std::vector<std::string> &entries = shown ? *shown : list.List;
    bool same = box->count() == static_cast<int>(entries.size());
    for (int i = 0; same && i < box->count(); ++i)
        same = box->itemText(i) == qs(entries[static_cast<std::size_t>(i)]);
    if (!same) {
        box->clear();
        for (const std::string &entry : entries)
            box->addItem(qs(entry));
    }
    if (box->currentIndex() != list.ListIndex)
        box->setCurrentIndex(list.ListIndex);
    box->setVisible(list.Visible);
}

template <class Control> void showCaption(Control *control, const CaptionControl &caption) {
    control->setText(qs(caption.Caption));
    control->setVisible(caption.Visible);
}

QPushButton *button(const char *name, QWidget *parent) {
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QComboBox *dropDownList(const char *name, QWidget *parent) {
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setEditable(false);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return box;
}

QLineEdit *textBox(const char *name, QWidget *parent) {
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

// Numbers (extensions) sort by value, other texts without letter case.
class GridSortFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override {
        const QVariant leftCheck = left.data(Qt::CheckStateRole);
        if (leftCheck.isValid())
            return leftCheck.toInt() < right.data(Qt::CheckStateRole).toInt();
        const QString a = left.data().toString();
        const QString b = right.data().toString();
        bool aNumber = false;
        bool bNumber = false;
        const qlonglong x = a.toLongLong(&aNumber);
        const qlonglong y = b.toLongLong(&bNumber);
        if (aNumber && bNumber)
            return x < y;
        return a.compare(b, Qt::CaseInsensitive) < 0;
    }
};

} // namespace

// --- the grid model ------------------------------------------------------------------------------

SubscriberGridModel::SubscriberGridModel(ChooseSubscribersPage &page, QObject *parent)
    : QAbstractTableModel(parent)
    , m_page(&page)
    , m_selectedColumn(page.myGrid.ColIndex("Selected")) {
    m_page->myGrid.setListener(this);
}

SubscriberGridModel::~SubscriberGridModel() {
    if (m_page)
        m_page->myGrid.setListener(nullptr);
}

void SubscriberGridModel::detach() {
    beginResetModel();
    m_page->myGrid.setListener(nullptr);
    m_page = nullptr;
    endResetModel();
}

int SubscriberGridModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() || !m_page ? 0 : m_page->myGrid.Rows() - 1;
}

int SubscriberGridModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : SubscriberGrid::kColumnCount;
}

QVariant SubscriberGridModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || !m_page)
        return {};
    const int row = gridRow(index.row());
    if (index.column() == m_selectedColumn) {
        if (role == Qt::CheckStateRole)
            return m_page->myGrid.isChecked(row) ? Qt::Checked : Qt::Unchecked;
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return qs(m_page->myGrid.TextMatrix(row, index.column()));
    return {};
}

QVariant SubscriberGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (!m_page || orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_page->myGrid.Cols())
        return {};
    return qs(m_page->myGrid.column(section).header);
}

Qt::ItemFlags SubscriberGridModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (index.column() == m_selectedColumn)
        return Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool SubscriberGridModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!index.isValid() || !m_page || role != Qt::CheckStateRole)
        return false;
    const int row = gridRow(index.row());
    if (!m_page->myGrid_BeforeEdit(row, index.column()))
        return false;
    m_page->myGrid_CheckBoxEdited(row, value.toInt() == Qt::Checked);
    return true;
}

void SubscriberGridModel::gridReset() {
    beginResetModel();
    endResetModel();
}

void SubscriberGridModel::gridRowsAppended(int first, int last) {
    beginInsertRows({}, first - 1, last - 1);
    endInsertRows();
}

void SubscriberGridModel::gridRowsChanged(int first, int last) {
    emit dataChanged(index(first - 1, 0), index(last - 1, columnCount() - 1));
}

void SubscriberGridModel::gridHeaderChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

// --- the window ----------------------------------------------------------------------------------

frmChooseSubscribers::frmChooseSubscribers(ChooseSubscribersPage &page, i18n::modLocalize *localize,
                                           QWidget *parent)
    : QMainWindow(parent)
    , m_page(&page)
    , m_localize(localize) {
    setObjectName(QLatin1String(ChooseSubscribersPage::kFormName));
    setWindowTitle(QLatin1String(ChooseSubscribersPage::kWindowCaption));

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);

    Label1 = new QLabel(central);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont headingFont = Label1->font();
    headingFont.setPointSize(headingFont.pointSize() + 6);
    headingFont.setBold(true);
    Label1->setFont(headingFont);
    layout->addWidget(Label1);

    frameSelectSubscribers = new QGroupBox(central);
    frameSelectSubscribers->setObjectName(QStringLiteral("frameSelectSubscribers"));
    auto *frameLayout = new QVBoxLayout(frameSelectSubscribers);
    frameLayout->addWidget(buildCriterionLine(frameSelectSubscribers));
    auto *searchButtons = new QHBoxLayout;
    cmdView = button("cmdView", frameSelectSubscribers);
    cmdAdvancedSearch = button("cmdAdvancedSearch", frameSelectSubscribers);
    searchButtons->addWidget(cmdView);
    searchButtons->addWidget(cmdAdvancedSearch);
    searchButtons->addStretch(1);
    frameLayout->addLayout(searchButtons);
    layout->addWidget(frameSelectSubscribers);

    buildGrid(central);
    layout->addWidget(myGrid, 1);

    auto *gridButtons = new QHBoxLayout;
    cmdSelectAll = button("cmdSelectAll", central);
    cmdUnselectAll = button("cmdUnselectAll", central);
    cmdClearGrid = button("cmdClearGrid", central);
    lblTotalGridRows = new QLabel(central);
    lblTotalGridRows->setObjectName(QStringLiteral("lblTotalGridRows"));
    txtUsersInGrid = textBox("txtUsersInGrid", central);
    txtUsersInGrid->setReadOnly(true);
    txtUsersInGrid->setMaximumWidth(90);
    lblTickedRows = new QLabel(central);
    lblTickedRows->setObjectName(QStringLiteral("lblTickedRows"));
    txtQuickFilter = textBox("txtQuickFilter", central);

    txtQuickFilter->setClearButtonEnabled(true);
    txtQuickFilter->setMaximumWidth(220);
    gridButtons->addWidget(cmdSelectAll);
    gridButtons->addWidget(cmdUnselectAll);
    gridButtons->addWidget(cmdClearGrid);
    gridButtons->addWidget(txtQuickFilter);
    gridButtons->addStretch(1);
    gridButtons->addWidget(lblTotalGridRows);
    gridButtons->addWidget(txtUsersInGrid);
    gridButtons->addWidget(lblTickedRows);
    layout->addLayout(gridButtons);

    auto *wizardButtons = new QHBoxLayout;
    cmdHelp = button("cmdHelp", central);
    cmdExit = button("cmdExit", central);
    cmdPrevious = button("cmdPrevious", central);
    cmdNext = button("cmdNext", central);
    wizardButtons->addWidget(cmdHelp);
    wizardButtons->addWidget(cmdExit);
    wizardButtons->addStretch(1);
    wizardButtons->addWidget(cmdPrevious);
    wizardButtons->addWidget(cmdNext);
    layout->addLayout(wizardButtons);

    setCentralWidget(central);
    ui::bindWizardKeys(this, cmdNext, cmdHelp);
    ui::setUsableMinimumSize(this);
    // Enter in a criterion field runs its search and in the filter applies it, instead of
    // pressing Next with the rows found before.
    for (QWidget *field : std::initializer_list<QWidget *>{
             cmbSubscriberSelectType, txtSubscriberExtensionRangeLow,
             txtSubscriberExtensionRangeHigh, comSubscriberSwitch, comSubscriberMailServer,
             ComSubscribersCOS, txtCSVPath, txtQuickFilter})
        field->installEventFilter(this);
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        txtQuickFilter->setFocus(Qt::ShortcutFocusReason);
        txtQuickFilter->selectAll();
    });
    myGrid->viewport()->installEventFilter(this);

    m_page->setFormFonts = [this] { applyFonts(); };
    m_page->controlsChanged = [this] { refresh(); };
    m_page->unloading = [this] { pageGone(); };
    if (m_localize) {
        m_languageRegistration =
            ui::registerLanguageWindow(*m_localize, this, ChooseSubscribersPage::kFormName,
                                       [this] { m_page->frmChooseSubscribers_Auto_Init(); });
    }
    connectEvents();
    refresh();
}

frmChooseSubscribers::~frmChooseSubscribers() {
    m_languageRegistration.reset();
    if (m_page) {
        m_page->setFormFonts = nullptr;
        m_page->controlsChanged = nullptr;
        m_page->unloading = nullptr;
    }
}

void frmChooseSubscribers::pageGone() {
    m_page = nullptr;
    m_model->detach();
    // Every event of the window's controls went to the page; none may arrive any more.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
}

QWidget *frmChooseSubscribers::buildCriterionLine(QWidget *parent) {
    // The value controls stand on the criterion list's line, to its right.
    auto *line = new QWidget(parent);
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    cmbSubscriberSelectType = dropDownList("cmbSubscriberSelectType", line);
    txtSubscriberExtensionRangeLow = textBox("txtSubscriberExtensionRangeLow", line);
    lblExtensionRangeTo = new QLabel(line);
    lblExtensionRangeTo->setObjectName(QStringLiteral("lblExtensionRangeTo"));
    txtSubscriberExtensionRangeHigh = textBox("txtSubscriberExtensionRangeHigh", line);
    comSubscriberSwitch = dropDownList("comSubscriberSwitch", line);
    comSubscriberMailServer = dropDownList("comSubscriberMailServer", line);
    ComSubscribersCOS = dropDownList("ComSubscribersCOS", line);
    txtCSVPath = textBox("txtCSVPath", line);
    txtCSVPath->setMinimumWidth(240);
    cmdBrowseForCSV = button("cmdBrowseForCSV", line);
    txtSubscriberExtensionRangeLow->setMaximumWidth(100);
    txtSubscriberExtensionRangeHigh->setMaximumWidth(100);
    for (QWidget *w : std::initializer_list<QWidget *>{
             cmbSubscriberSelectType, txtSubscriberExtensionRangeLow, lblExtensionRangeTo,
             txtSubscriberExtensionRangeHigh, comSubscriberSwitch, comSubscriberMailServer,
             ComSubscribersCOS, txtCSVPath, cmdBrowseForCSV})
        row->addWidget(w);
    row->addStretch(1);
    txtSubscriberExtensionRangeLow->installEventFilter(this);
    return line;
}

void frmChooseSubscribers::buildGrid(QWidget *parent) {
    myGrid = new QTableView(parent);
    myGrid->setObjectName(QStringLiteral("myGrid"));
    m_model = new SubscriberGridModel(*m_page, this);
    m_view = new GridSortFilter(this);
    m_view->setSourceModel(m_model);
    m_view->setFilterKeyColumn(-1);
    m_view->setFilterCaseSensitivity(Qt::CaseInsensitive);
    myGrid->setModel(m_view);
    // No column is sorted until a header is clicked: the grid's own order shows first.
    myGrid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    myGrid->setSortingEnabled(true);
    // Tab leaves the grid (30,000 rows are no place to walk through); the arrows move in it.
    myGrid->setTabKeyNavigation(false);
    myGrid->installEventFilter(this);
    myGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    myGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    myGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    myGrid->setWordWrap(false);
    // Fixed row heights keep scrolling over 32,767 rows free of per-row measuring.
    QHeaderView *rows = myGrid->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(myGrid->fontMetrics().height() + 6);
    rows->hide();
    // However small the window, the grid shows a few rows under its header.
    myGrid->setMinimumHeight(6 * rows->defaultSectionSize() + 2 * myGrid->frameWidth() +
                             myGrid->horizontalHeader()->sizeHint().height() +
                             myGrid->horizontalScrollBar()->sizeHint().height());
    myGrid->horizontalHeader()->setHighlightSections(false);
    // The check box column is narrower than a header section's default least width.
    myGrid->horizontalHeader()->setMinimumSectionSize(12);
    const SubscriberGrid &grid = m_page->myGrid;
    for (int col = 0; col < grid.Cols(); ++col) {
        myGrid->setColumnWidth(col, grid.column(col).width / kTwipsPerPixel);
        myGrid->setColumnHidden(col, grid.column(col).hidden);
    }
    fitHeaders();
}

void frmChooseSubscribers::connectEvents() {
    connect(cmbSubscriberSelectType, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_page->chooseCriterion(index); });
    connect(comSubscriberSwitch, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_page->comSubscriberSwitch.ListIndex = index; });
    connect(comSubscriberMailServer, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_page->comSubscriberMailServer.ListIndex = index; });
    connect(ComSubscribersCOS, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_page->ComSubscribersCOS.ListIndex = index; });
    connect(txtSubscriberExtensionRangeLow, &QLineEdit::textEdited, this,
            [this](const QString &text) {
                m_page->txtSubscriberExtensionRangeLow.Text = text.toStdString();
            });
    connect(txtSubscriberExtensionRangeHigh, &QLineEdit::textEdited, this,
            [this](const QString &text) {
                m_page->txtSubscriberExtensionRangeHigh.Text = text.toStdString();
                m_page->txtSubscriberExtensionRangeHigh_Change();
            });
    connect(txtCSVPath, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_page->txtCSVPath.Text = text.toStdString(); });

    connect(cmdView, &QPushButton::clicked, this,
            [this] { whileBusy([this] { m_page->cmdView_Click(); }); });
    connect(cmdBrowseForCSV, &QPushButton::clicked, this,
            [this] { m_page->cmdBrowseForCSV_Click(); });
    // While a filter narrows the grid, the buttons act on the rows it shows (and say so).
    connect(cmdSelectAll, &QPushButton::clicked, this, [this] {
        if (txtQuickFilter->text().isEmpty())
            m_page->cmdSelectAll_Click();
        else
            m_page->selectShown(shownRows(), true);
    });
    connect(cmdUnselectAll, &QPushButton::clicked, this, [this] {
        if (txtQuickFilter->text().isEmpty())
            m_page->cmdUnselectAll_Click();
        else
            m_page->selectShown(shownRows(), false);
    });
    connect(cmdClearGrid, &QPushButton::clicked, this, [this] { m_page->cmdClearGrid_Click(); });
    connect(cmdAdvancedSearch, &QPushButton::clicked, this,
            &frmChooseSubscribers::advancedSearchRequested);
    connect(myGrid, &QTableView::clicked, this, [this](const QModelIndex &index) {
        m_page->myGrid.Row = gridRowOf(index);
        m_page->myGrid.Col = index.column();
        m_page->myGrid_Click();
    });
    connect(txtQuickFilter, &QLineEdit::textChanged, this, [this](const QString &filter) {
        m_view->setFilterFixedString(filter);
        showFilterCaptions();
        showTickedCount();
    });
    // A new search shows its rows from the top-left, the tick column in sight.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        myGrid->scrollToTop();
        myGrid->horizontalScrollBar()->setValue(0);
    });
    connect(m_model, &QAbstractItemModel::headerDataChanged, this,
            &frmChooseSubscribers::fitHeaders);
    connect(m_model, &QAbstractItemModel::modelReset, this, &frmChooseSubscribers::showTickedCount);
    connect(m_model, &QAbstractItemModel::modelReset, this, &frmChooseSubscribers::fitColumns);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &frmChooseSubscribers::fitColumns);
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            &frmChooseSubscribers::showTickedCount);
    connect(m_model, &QAbstractItemModel::dataChanged, this,
            &frmChooseSubscribers::showTickedCount);

    connect(cmdNext, &QPushButton::clicked, this, [this] {
        if (m_page->cmdNext_Click())
            emit nextRequested();
    });
    connect(cmdPrevious, &QPushButton::clicked, this, [this] {
        if (m_page->busy())
            return;
        m_page->cmdPrevious_Click();
        emit previousRequested();
    });
    connect(cmdHelp, &QPushButton::clicked, this, &frmChooseSubscribers::helpRequested);
    connect(cmdExit, &QPushButton::clicked, this, &frmChooseSubscribers::exitRequested);
}

int frmChooseSubscribers::gridRowOf(const QModelIndex &viewIndex) const {
    return SubscriberGridModel::gridRow(m_view->mapToSource(viewIndex).row());
}

void frmChooseSubscribers::toggleCurrentRow() {
    const QModelIndex current = myGrid->currentIndex();
    if (!m_page || !current.isValid())
        return;
    const int selected = m_page->myGrid.ColIndex("Selected");
    const QModelIndex check = m_view->index(current.row(), selected);
    const bool ticked = check.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    m_view->setData(check, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

void frmChooseSubscribers::fitHeaders() {
    QHeaderView *header = myGrid->horizontalHeader();
    for (int col = 0; col < header->count(); ++col) {
        if (myGrid->isColumnHidden(col))
            continue;
        // The header's text in its font, the sort arrow and the section's margins.
        const QString text = m_model->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
        const int needed = header->fontMetrics().horizontalAdvance(text) +
                           3 * header->style()->pixelMetric(QStyle::PM_HeaderMargin) +
                           header->style()->pixelMetric(QStyle::PM_HeaderMarkSize);
        if (header->sectionSize(col) < needed)
            header->resizeSection(col, needed);
    }
}

QString frmChooseSubscribers::text(std::uint32_t id) const {
    return ui::ownText(m_localize, id);
}

std::vector<int> frmChooseSubscribers::shownRows() const {
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(m_view->rowCount()));
    for (int row = 0; row < m_view->rowCount(); ++row)
        rows.push_back(gridRowOf(m_view->index(row, 0)));
    return rows;
}

void frmChooseSubscribers::showFilterCaptions() {
    if (!m_page)
        return;
    const bool filtered = !txtQuickFilter->text().isEmpty();
    cmdSelectAll->setText(filtered ? text(500) : qs(m_page->cmdSelectAll.Caption));
    cmdUnselectAll->setText(filtered ? text(501) : qs(m_page->cmdUnselectAll.Caption));
    ui::giveMnemonics(this, wizardMnemonics());
}

void frmChooseSubscribers::fitColumns() {
    // Rows arrive in many steps: the widths are taken once they are in.
    if (m_columnsDue)
        return;
    m_columnsDue = true;
    QTimer::singleShot(0, this, [this] {
        m_columnsDue = false;
        if (!m_page)
            return;
        QHeaderView *header = myGrid->horizontalHeader();
        const QFontMetrics cells = myGrid->fontMetrics();
        const int margin = 3 * header->style()->pixelMetric(QStyle::PM_HeaderMargin) +
                           header->style()->pixelMetric(QStyle::PM_HeaderMarkSize);
        const SubscriberGrid &grid = m_page->myGrid;
        // The texts of the first rows stand for the rest: measuring 30,000 rows would stall.
        const int sample = std::min(grid.Rows(), 201);
        std::vector<int> wanted(static_cast<std::size_t>(header->count()), 0);
        int total = 0;
        for (int col = 0; col < header->count(); ++col) {
            if (myGrid->isColumnHidden(col))
                continue;
            const QString title =
                m_model->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
            int width = std::max(grid.column(col).width / kTwipsPerPixel,
                                 header->fontMetrics().horizontalAdvance(title) + margin);
            if (col != grid.ColIndex("Selected"))
                for (int row = 1; row < sample; ++row)
                    width = std::max(width, cells.horizontalAdvance(qs(grid.TextMatrix(row, col))) +
                                                margin);
            wanted[static_cast<std::size_t>(col)] = width;
            total += width;
        }
        // Room left over goes to the text columns in proportion to what they need.
        const int room = myGrid->viewport()->width();
        const int tick = grid.ColIndex("Selected");
        const int spread = total - wanted[static_cast<std::size_t>(tick)];
        const int extra = room > total && spread > 0 ? room - total : 0;
        int given = 0;
        int last = -1;
        for (int col = 0; col < header->count(); ++col) {
            int width = wanted[static_cast<std::size_t>(col)];
            if (width == 0)
                continue;
            if (col != tick) {
                const int share = static_cast<int>(static_cast<long long>(extra) * width / spread);
                width += share;
                given += share;
                last = col;
            }
            header->resizeSection(col, width);
        }
        // What rounding kept back goes to the last column, so the columns fill the width.
        if (last >= 0 && extra > given)
            header->resizeSection(last, header->sectionSize(last) + extra - given);
    });
}

void frmChooseSubscribers::showTickedCount() {
    // A search appends rows in many steps: the count is taken once they are in.
    if (m_tickedCountDue)
        return;
    m_tickedCountDue = true;
    QTimer::singleShot(0, this, [this] {
        m_tickedCountDue = false;
        if (!m_page)
            return;
        const SubscriberGrid &grid = m_page->myGrid;
        QString counts = text(503).arg(grid.checkedCount()).arg(grid.Rows() - 1);
        if (!txtQuickFilter->text().isEmpty())
            counts += QStringLiteral(", ") + text(504).arg(m_view->rowCount());
        lblTickedRows->setText(counts);
    });
}

template <class Handler> void frmChooseSubscribers::whileBusy(Handler &&handler) {
    QWidget *central = centralWidget();
    // Disabling moves the focus away: the field that ran the search gets it back.
    QPointer<QWidget> focused = QApplication::focusWidget();
    central->setEnabled(false);
    handler();
    central->setEnabled(true);
    if (focused && isAncestorOf(focused))
        focused->setFocus();
}

void frmChooseSubscribers::Form_Load() {
    if (!m_page)
        return;
    m_page->Form_Load();
    refresh();
    cmbSubscriberSelectType->setFocus();
}

void frmChooseSubscribers::applyFonts() {
    if (m_localize && m_page)
        ui::SetFormFonts(this, m_localize->currentFontRule());
    fitHeaders();
    ui::setUsableMinimumSize(this);
}

void frmChooseSubscribers::refresh() {
    if (!m_page)
        return;
    showCaption(Label1, m_page->Label1);
    frameSelectSubscribers->setTitle(qs(m_page->frameSelectSubscribers.Caption));
    showCaption(cmdView, m_page->cmdView);
    showCaption(cmdAdvancedSearch, m_page->cmdAdvancedSearch);
    showCaption(cmdSelectAll, m_page->cmdSelectAll);
    showCaption(cmdUnselectAll, m_page->cmdUnselectAll);
    showCaption(cmdClearGrid, m_page->cmdClearGrid);
    showCaption(lblTotalGridRows, m_page->lblTotalGridRows);
    showCaption(cmdBrowseForCSV, m_page->cmdBrowseForCSV);
    showCaption(lblExtensionRangeTo, m_page->lblExtensionRangeTo);
    showCaption(cmdHelp, m_page->cmdHelp);
    showCaption(cmdPrevious, m_page->cmdPrevious);
    showCaption(cmdExit, m_page->cmdExit);
    showCaption(cmdNext, m_page->cmdNext);
    txtQuickFilter->setPlaceholderText(text(502));
    showFilterCaptions();

    showList(cmbSubscriberSelectType, m_page->cmbSubscriberSelectType);
    showList(comSubscriberSwitch, m_page->comSubscriberSwitch);
    showList(comSubscriberMailServer, m_page->comSubscriberMailServer);
    // Two classes of service may share a name; the alias after it tells them apart.
    std::vector<std::string> cosAliases;
    for (const long hidden : m_page->ComSubscribersCOS.ItemData)
        cosAliases.push_back(hidden >= 0 && hidden < m_page->comHiddenCOS.ListCount()
                                 ? m_page->comHiddenCOS.List[static_cast<std::size_t>(hidden)]
                                 : std::string());
    const std::vector<std::string> cosShown =
        namesToldApart(m_page->ComSubscribersCOS.List, cosAliases);
    showList(ComSubscribersCOS, m_page->ComSubscribersCOS, &cosShown);

    showText(txtSubscriberExtensionRangeLow, m_page->txtSubscriberExtensionRangeLow.Text);
    txtSubscriberExtensionRangeLow->setVisible(m_page->txtSubscriberExtensionRangeLow.Visible);
    showText(txtSubscriberExtensionRangeHigh, m_page->txtSubscriberExtensionRangeHigh.Text);
    txtSubscriberExtensionRangeHigh->setVisible(m_page->txtSubscriberExtensionRangeHigh.Visible);
    showText(txtCSVPath, m_page->txtCSVPath.Text);
    txtCSVPath->setVisible(m_page->txtCSVPath.Visible);
    showText(txtUsersInGrid, m_page->txtUsersInGrid.Text);
    showTickedCount();
    // The criterion's controls and the texts decide how small the window may be.
    ui::setUsableMinimumSize(this);
}

std::vector<std::pair<QAbstractButton *, char>> frmChooseSubscribers::wizardMnemonics() const {
    return {{cmdHelp, 'h'},        {cmdExit, 'x'},      {cmdPrevious, 'p'},
            {cmdNext, 'n'},        {cmdView, 'a'},      {cmdSelectAll, 's'},
            {cmdUnselectAll, 'd'}, {cmdClearGrid, 'c'}, {cmdAdvancedSearch, 'v'},
            {cmdBrowseForCSV, 'b'}};
}

bool frmChooseSubscribers::enterInField(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (watched != txtQuickFilter &&
        !frameSelectSubscribers->isAncestorOf(qobject_cast<QWidget *>(watched)))
        return false;
    // Taken here, so that the window's Enter (Next) does not see it.
    event->accept();
    if (event->type() == QEvent::ShortcutOverride)
        return true;
    if (watched == txtQuickFilter) {
        m_view->setFilterFixedString(txtQuickFilter->text());
        return true;
    }
    // The boxes' texts as typed, then the search of the criterion shown.
    m_page->txtSubscriberExtensionRangeLow.Text =
        txtSubscriberExtensionRangeLow->text().toStdString();
    m_page->txtSubscriberExtensionRangeHigh.Text =
        txtSubscriberExtensionRangeHigh->text().toStdString();
    m_page->txtCSVPath.Text = txtCSVPath->text().toStdString();
    whileBusy([this] { m_page->cmdView_Click(); });
    return true;
}

bool frmChooseSubscribers::eventFilter(QObject *watched, QEvent *event) {
    if (m_page && enterInField(watched, event))
        return true;
    if (m_page && watched == myGrid->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    if (m_page && watched == myGrid && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space) {
        toggleCurrentRow();
        return true;
    }
    if (m_page && watched == txtSubscriberExtensionRangeLow && event->type() == QEvent::FocusOut) {
        // Leaving the box is never refused: the check only empties a bad value.
        m_page->txtSubscriberExtensionRangeLow.Text =
            txtSubscriberExtensionRangeLow->text().toStdString();
        m_page->txtSubscriberExtensionRangeLow_LostFocus();
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmChooseSubscribers::closeEvent(QCloseEvent *event) {
    // Closing through the frame ends the program the way Exit does.
    event->ignore();
    emit exitRequested();
}

} // namespace zeph
