#pragma once
// The About window: the product's logo, the project's address and copyright, the version and
// the language choice.

#include "extras/AboutPage.h"

#include <QDialog>

class QLabel;
class QShowEvent;
class QMenu;
class QPushButton;

namespace zeph {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(AboutPage &page, QWidget *parent = nullptr);

    /// The load step: the page's, then the version label and the language menu.
    void Form_Load();

    QLabel *lblVersion = nullptr;
    QLabel *lblChangeLanguage = nullptr;
    QPushButton *cmdOK = nullptr;
    QMenu *mnuSelectLanguage = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void lblChangeLanguage_Click();
    AboutPage &m_page;
};

} // namespace zeph
