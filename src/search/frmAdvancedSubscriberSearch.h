#pragma once
// The advanced search window, modal over the selection window: the fixed start of the
// statement, the query editor with its keyword colours, the buttons, the result grid and the
// "Previous Queries" menu. Every event goes to the page (AdvancedSearchPage); the window only
// draws the page's state and applies the colours the page computes.

#include "search/AdvancedSearchPage.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QList>
#include <QTextEdit>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTableView;

namespace zeph {
namespace i18n {
class modLocalize;
} // namespace i18n

namespace search {

/// The result grid `gridSQL` as a Qt model: the field names as the horizontal header, one row
/// per record.
class ResultGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultGridModel(const ResultGrid &grid, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// The grid's rows or columns changed.
    void reload();

private:
    const ResultGrid &m_grid;
};

/// The query editor: a rich text box whose key handlers run before the box applies the key,
/// and whose copy and cut give plain text only.
class QueryTextEdit : public QTextEdit {
    Q_OBJECT
public:
    explicit QueryTextEdit(QWidget *parent = nullptr);

    std::function<void(QKeyEvent *)> keyDown;
    std::function<void(QKeyEvent *)> keyUp;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    QMimeData *createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
};

/// The Windows key code (as the editor's handlers know keys) of a Qt key; 0 for none.
int windowsKeyCode(int qtKey, Qt::KeyboardModifiers modifiers);
/// The handlers' shift state: 1 Shift, 2 Ctrl, 4 Alt.
int windowsShiftState(Qt::KeyboardModifiers modifiers);

class frmAdvancedSubscriberSearch : public QDialog {
    Q_OBJECT
public:
    /// `localize` (may be null) gives the language fonts.
    explicit frmAdvancedSubscriberSearch(AdvancedSearchPage &page,
                                         i18n::modLocalize *localize = nullptr,
                                         QWidget *parent = nullptr);
    ~frmAdvancedSubscriberSearch() override;

    /// Shows the editor's text and colours as the page's colouring gave them.
    void showColors(const QueryColors &colors);
    /// Shows the page's editor text, all black.
    void showPlainText();
    void showRowCount();

    QLabel *Label1 = nullptr;
    QueryTextEdit *txtSQL = nullptr;
    QTableView *gridSQL = nullptr;
    /// The row count of the last result, beside the grid's buttons.
    QLabel *lblRowCount = nullptr;
    QPushButton *cmdExecute = nullptr;
    QPushButton *cmdClear = nullptr;
    QPushButton *cmdPaste = nullptr;
    QPushButton *cmdPreviousQueries = nullptr;
    QPushButton *cmdImport = nullptr;
    QPushButton *cmdCancel = nullptr;
    QMenu *mnuPreviousQueriesPopup = nullptr;
    /// The menu's items, from 0; created on demand and kept for the life of the window.
    QList<QAction *> mnuPreviousQuery;

    ResultGridModel *resultModel() const { return m_model; }

public slots:
    void done(int result) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void connectEvents();
    void editorKeyDown(QKeyEvent *event);
    void editorTextChanged();
    void showPreviousQueries();
    void placeControls();

    AdvancedSearchPage &m_page;
    i18n::modLocalize *m_localize;
    ResultGridModel *m_model = nullptr;
    AdvancedSearchLayout m_layout;
    /// Set while the window itself changes the editor, so that the change is not read back.
    bool m_applying = false;
    bool m_cancelling = false;
};

} // namespace search
} // namespace zeph
