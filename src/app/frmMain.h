#pragma once
// The first wizard page's window: template choice, keep-alternate-extensions check box, menu.

#include "app/MainPage.h"

#include <QMainWindow>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace zeph {

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    frmMain(MainPage &page, QWidget *parent = nullptr);

    /// Shows the page's state (after its load step).
    void refresh();

    QComboBox *cmbTemplateListDisplayName = nullptr;
    QCheckBox *chkPreserveAlternateExtensions = nullptr;
    QPushButton *cmdNext = nullptr;
    QPushButton *cmdPrevious = nullptr;
    QPushButton *cmdHelp = nullptr;
    QPushButton *cmdExit = nullptr;

signals:
    void nextRequested();
    void helpRequested();
    void aboutRequested();
    void updateCheckRequested();
    void exitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenu();
    MainPage &m_page;
};

} // namespace zeph
