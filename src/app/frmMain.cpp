#include "frmMain.h"

#include "select/DistinctNames.h"
#include "ui/WindowPlacement.h"
#include "ui/WizardKeys.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace zeph {

namespace {

QLabel *wrappedLabel(const char *text, QWidget *parent) {
    auto *label = new QLabel(QString::fromUtf8(text), parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

frmMain::frmMain(MainPage &page, QWidget *parent)
    : QMainWindow(parent)
    , m_page(page) {
    setWindowTitle(QStringLiteral("Zephrane"));
    setObjectName(QStringLiteral("frmMain"));
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);

    auto *heading = new QLabel(QString::fromUtf8(MainPage::kHeading), central);
    QFont headingFont = heading->font();
    headingFont.setPointSize(headingFont.pointSize() + 8);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    layout->addWidget(heading);
    layout->addWidget(wrappedLabel(MainPage::kDescription, central));
    layout->addWidget(wrappedLabel(MainPage::kExplanation, central));
    layout->addSpacing(12);
    layout->addWidget(wrappedLabel(MainPage::kTemplatePrompt, central));

    cmbTemplateListDisplayName = new QComboBox(central);
    cmbTemplateListDisplayName->setObjectName(QStringLiteral("cmbTemplateListDisplayName"));
    cmbTemplateListDisplayName->setPlaceholderText(QStringLiteral("(choose a template)"));
    layout->addWidget(cmbTemplateListDisplayName);
    chkPreserveAlternateExtensions =
        new QCheckBox(QString::fromUtf8(MainPage::kPreserveCaption), central);
    chkPreserveAlternateExtensions->setObjectName(QStringLiteral("chkPreserveAlternateExtensions"));
    layout->addWidget(chkPreserveAlternateExtensions);
    layout->addStretch(1);

    auto *buttons = new QHBoxLayout;
    cmdHelp = new QPushButton(QStringLiteral("Help"), central);
    cmdExit = new QPushButton(QStringLiteral("Exit"), central);
    cmdPrevious = new QPushButton(QStringLiteral("<< Previous"), central);
    cmdNext = new QPushButton(QStringLiteral("Next >>"), central);
    cmdHelp->setObjectName(QStringLiteral("cmdHelp"));
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    cmdPrevious->setObjectName(QStringLiteral("cmdPrevious"));
    cmdNext->setObjectName(QStringLiteral("cmdNext"));
    cmdPrevious->setEnabled(false);
    buttons->addWidget(cmdHelp);
    buttons->addWidget(cmdExit);
    buttons->addStretch(1);
    buttons->addWidget(cmdPrevious);
    buttons->addWidget(cmdNext);
    layout->addLayout(buttons);
    setCentralWidget(central);
    buildMenu();

    connect(cmbTemplateListDisplayName, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_page.templateListIndex = index; });
    connect(chkPreserveAlternateExtensions, &QCheckBox::toggled, this,
            [this](bool on) { m_page.chkPreserveAlternateExtensions = on; });
    connect(cmdNext, &QPushButton::clicked, this, [this] {
        if (m_page.cmdNext_Click())
            emit nextRequested();
    });
    connect(cmdHelp, &QPushButton::clicked, this, &frmMain::helpRequested);
    connect(cmdExit, &QPushButton::clicked, this, &frmMain::exitRequested);
    ui::bindWizardKeys(this, cmdNext, cmdHelp);
    ui::setUsableMinimumSize(this);
    ui::giveMnemonics(this, {{cmdHelp, 'h'}, {cmdExit, 'x'}, {cmdPrevious, 'p'}, {cmdNext, 'n'}});
}

void frmMain::buildMenu() {
    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction *mnuHelp = help->addAction(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    help->addSeparator();
    QAction *about = help->addAction(QStringLiteral("&About"));
    QAction *update = help->addAction(QStringLiteral("&Check for updated version"));
    update->setObjectName(QStringLiteral("mnuCheckForUpdatedVersion"));
    connect(mnuHelp, &QAction::triggered, this, &frmMain::helpRequested);
    connect(about, &QAction::triggered, this, &frmMain::aboutRequested);
    connect(update, &QAction::triggered, this, &frmMain::updateCheckRequested);
}

void frmMain::refresh() {
    QSignalBlocker block(cmbTemplateListDisplayName);
    cmbTemplateListDisplayName->clear();
    // Two templates may share a display name; the alias after it tells them apart.
    for (const auto &name :
         namesToldApart(m_page.cmbTemplateListDisplayName, m_page.cmbSubscriberTemplateAlias))
        cmbTemplateListDisplayName->addItem(QString::fromStdString(name));
    cmbTemplateListDisplayName->setCurrentIndex(m_page.templateListIndex);
    chkPreserveAlternateExtensions->setChecked(m_page.chkPreserveAlternateExtensions);
}

void frmMain::closeEvent(QCloseEvent *event) {
    // Closing through the frame ends the program the way Exit does.
    event->ignore();
    emit exitRequested();
}

} // namespace zeph
