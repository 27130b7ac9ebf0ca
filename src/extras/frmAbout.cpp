#include "frmAbout.h"

#include "ui/WindowPlacement.h"

#include <QCursor>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace zeph {

namespace {

// The product's logo: its name on the product's colour.
QLabel *productLogo(QWidget *parent) {
    auto *logo = new QLabel(QStringLiteral("Z"), parent);
    QFont font = logo->font();
    font.setPointSize(36);
    font.setBold(true);
    logo->setFont(font);
    logo->setAlignment(Qt::AlignCenter);
    logo->setFixedSize(84, 84);
    logo->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: qlineargradient(x1:0, y1:0, x2:1, y2:1, "
                       "stop:0 #1d4e89, stop:1 #00a6a6); border-radius: 14px; }"));
    return logo;
}

} // namespace

frmAbout::frmAbout(AboutPage &page, QWidget *parent)
    : QDialog(parent)
    , m_page(page) {
    setWindowTitle(QStringLiteral("Zephrane"));
    setObjectName(QStringLiteral("frmAbout"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);

    auto *top = new QHBoxLayout;
    top->addWidget(productLogo(this));
    auto *title = new QLabel(QStringLiteral("<b style='font-size:18pt'>Zephrane</b><br>"
                                            "Subscriber reset for voice-messaging servers"),
                             this);
    top->addWidget(title, 1);
    layout->addLayout(top);

    auto *address = new QVBoxLayout;
    address->addWidget(new QLabel(QStringLiteral("The Zephrane project"), this));
    address->addWidget(new QLabel(QStringLiteral("Administrator tools for voice messaging"), this));
    address->addWidget(new QLabel(QStringLiteral("Worldwide"), this));
    layout->addLayout(address);

    auto *trademark = new QLabel(
        QStringLiteral("Zephrane is a name of the Zephrane project. The names of the "
                       "voice-messaging server and of its mail store are the marks of their "
                       "owners."),
        this);
    trademark->setWordWrap(true);
    layout->addWidget(trademark);
    layout->addWidget(
        new QLabel(QStringLiteral("Copyright \u00a9 2026 the Zephrane project"), this));

    auto *version = new QHBoxLayout;
    version->addWidget(new QLabel(QStringLiteral("Version:"), this));
    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    version->addWidget(lblVersion, 1);
    layout->addLayout(version);

    auto *bottom = new QHBoxLayout;
    lblChangeLanguage = new QLabel(QStringLiteral("<a href='#'>Change Language</a>"), this);
    lblChangeLanguage->setObjectName(QStringLiteral("lblChangeLanguage"));
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    bottom->addWidget(lblChangeLanguage);
    bottom->addStretch(1);
    bottom->addWidget(cmdOK);
    layout->addLayout(bottom);

    mnuSelectLanguage = new QMenu(QStringLiteral("Select Language"), this);
    mnuSelectLanguage->setObjectName(QStringLiteral("mnuSelectLanguage"));

    connect(lblChangeLanguage, &QLabel::linkActivated, this,
            [this](const QString &) { lblChangeLanguage_Click(); });
    // OK hides the window; it stays loaded, and the next showing runs no new load step.
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::hide);
    // Never so small that the texts run over the logo or each other, in any language's font.
    ui::setUsableMinimumSize(this, 420);
}

void frmAbout::Form_Load() {
    m_page.Form_Load();
    lblVersion->setText(QString::fromStdString(m_page.lblVersion));
    mnuSelectLanguage->clear();
    for (std::size_t i = 0; i < m_page.mnuLanguageList.size(); ++i) {
        const LanguageMenuItem &item = m_page.mnuLanguageList[i];
        QAction *action = mnuSelectLanguage->addAction(QString::fromStdString(item.caption));
        action->setData(QString::fromStdString(item.tag));
        const int index = static_cast<int>(i);
        connect(action, &QAction::triggered, this,
                [this, index] { m_page.mnuLanguageList_Click(index); });
    }
}

void frmAbout::showEvent(QShowEvent *event) {
    // The language may have changed the fonts since the box was last shown.
    ui::setUsableMinimumSize(this, 420);
    QDialog::showEvent(event);
}

void frmAbout::lblChangeLanguage_Click() {
    const QList<QAction *> actions = mnuSelectLanguage->actions();
    for (int i = 0; i < actions.size(); ++i) {
        actions[i]->setCheckable(true);
        actions[i]->setChecked(m_page.isCurrentLanguage(i));
    }
    mnuSelectLanguage->popup(QCursor::pos());
}

} // namespace zeph
