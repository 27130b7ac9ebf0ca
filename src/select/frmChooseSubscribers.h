#pragma once
// The selection page's window: criterion list with the value controls on its line, the grid over
// the page's rows, the grid buttons and the wizard's buttons. Every event goes to the page
// (ChooseSubscribersPage); the window only draws the page's state.

#include "select/ChooseSubscribersPage.h"

#include "i18n/modLocalize.h"

#include <QAbstractTableModel>
#include <QMainWindow>

#include <utility>
#include <vector>

class QAbstractButton;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace zeph {

/// The grid `myGrid` as a Qt model: one row per subscriber row of the grid, the grid's header row
/// as the horizontal header. Only the check boxes of "Selected" can change, and only through the
/// page.
class SubscriberGridModel : public QAbstractTableModel, private GridListener {
    Q_OBJECT
public:
    explicit SubscriberGridModel(ChooseSubscribersPage &page, QObject *parent = nullptr);
    ~SubscriberGridModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

    /// The page goes before its window: the model shows nothing from now on.
    void detach();

    /// Grid row of a model row (the grid's row 0 is the header).
    static int gridRow(int modelRow) { return modelRow + 1; }

private:
    void gridReset() override;
    void gridRowsAppended(int first, int last) override;
    void gridRowsChanged(int first, int last) override;
    void gridHeaderChanged() override;

    ChooseSubscribersPage *m_page; // null once the page has gone
    int m_selectedColumn;
};

class frmChooseSubscribers : public QMainWindow {
    Q_OBJECT
public:
    /// `localize` (may be null) gives the language fonts and the language switch.
    frmChooseSubscribers(ChooseSubscribersPage &page, i18n::modLocalize *localize = nullptr,
                         QWidget *parent = nullptr);
    ~frmChooseSubscribers() override;

    /// The load step: the page's Form_Load, then the window shows its state and puts the focus on
    /// the criterion list. The wizard calls it once, before showing the window.
    void Form_Load();
    /// Shows the page's state (lists, texts, captions, visibility).
    void refresh();

    QLabel *Label1 = nullptr;
    QGroupBox *frameSelectSubscribers = nullptr;
    QComboBox *cmbSubscriberSelectType = nullptr;
    QLineEdit *txtSubscriberExtensionRangeLow = nullptr;
    QLabel *lblExtensionRangeTo = nullptr;
    QLineEdit *txtSubscriberExtensionRangeHigh = nullptr;
    QComboBox *comSubscriberSwitch = nullptr;
    QComboBox *comSubscriberMailServer = nullptr;
    QComboBox *ComSubscribersCOS = nullptr;
    QLineEdit *txtCSVPath = nullptr;
    QPushButton *cmdBrowseForCSV = nullptr;
    QPushButton *cmdView = nullptr;
    QPushButton *cmdAdvancedSearch = nullptr;
    QTableView *myGrid = nullptr;
    QPushButton *cmdSelectAll = nullptr;
    QPushButton *cmdUnselectAll = nullptr;
    QPushButton *cmdClearGrid = nullptr;
    QLabel *lblTotalGridRows = nullptr;
    QLineEdit *txtUsersInGrid = nullptr;
    /// "N of M ticked" beside the row count.
    QLabel *lblTickedRows = nullptr;
    /// Shows only the grid rows that contain its text (any column, any letter case); the
    /// ticks and the run still cover every row.
    QLineEdit *txtQuickFilter = nullptr;
    QPushButton *cmdHelp = nullptr;
    QPushButton *cmdPrevious = nullptr;
    QPushButton *cmdExit = nullptr;
    QPushButton *cmdNext = nullptr;

    SubscriberGridModel *gridModel() const { return m_model; }
    /// What the grid view shows: the rows in the order of the header clicked (the grid's own
    /// order until one is), narrowed by the quick filter.
    QSortFilterProxyModel *gridView() const { return m_view; }

signals:
    /// Next passed its checks: the wizard shows the reset page.
    void nextRequested();
    /// Previous: the grid is already cleared; the wizard shows the first page and unloads this.
    void previousRequested();
    void helpRequested();
    void exitRequested();
    void advancedSearchRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildCriterionLine(QWidget *parent);
    void buildGrid(QWidget *parent);
    void connectEvents();
    void applyFonts();
    /// Widens the columns whose header text (in the language's font) does not fit.
    void fitHeaders();
    void showTickedCount();
    /// Select All / deSelect All say whether they act on the rows a filter shows.
    void showFilterCaptions();
    /// Spreads the window's width over the columns, each at least as wide as its header and
    /// the texts of its first rows.
    void fitColumns();
    /// The grid rows the filter shows.
    std::vector<int> shownRows() const;
    /// Enter in a criterion field runs its search; in the filter it applies the filter.
    bool enterInField(QObject *watched, QEvent *event);
    QString text(std::uint32_t id) const;
    /// The buttons' preferred Alt keys.
    std::vector<std::pair<QAbstractButton *, char>> wizardMnemonics() const;
    /// Space on a row toggles its tick, as a click on its check box does.
    void toggleCurrentRow();
    /// Grid row of a row of the view.
    int gridRowOf(const QModelIndex &viewIndex) const;
    /// Runs a page handler with the window closed to input, so that the events the page lets
    /// through while it works (a long import) cannot start another.
    template <class Handler> void whileBusy(Handler &&handler);
    /// The page went first (the wizard unloaded it): the window stops forwarding events.
    void pageGone();

    ChooseSubscribersPage *m_page; // null once the page has gone
    i18n::modLocalize *m_localize;
    SubscriberGridModel *m_model = nullptr;
    QSortFilterProxyModel *m_view = nullptr;
    bool m_tickedCountDue = false;
    bool m_columnsDue = false;
    i18n::WindowRegistration m_languageRegistration;
};

} // namespace zeph
