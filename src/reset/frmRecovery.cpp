#include "frmRecovery.h"

#include "ui/OwnText.h"
#include "ui/WizardKeys.h"

#include <QCloseEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zeph {

frmRecovery::frmRecovery(RecoveryPage &page, i18n::modLocalize *localize, QWidget *parent)
    : QDialog(parent)
    , m_page(page)
    , m_localize(localize) {
    setObjectName(QLatin1String(RecoveryPage::kFormName));
    setWindowTitle(QStringLiteral("Zephrane"));
    auto *layout = new QVBoxLayout(this);
    Label1 = new QLabel(text(516), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont heading = Label1->font();
    heading.setPointSize(heading.pointSize() + 6);
    heading.setBold(true);
    Label1->setFont(heading);
    layout->addWidget(Label1);
    lblExplanation = new QLabel(text(517), this);
    lblExplanation->setObjectName(QStringLiteral("lblExplanation"));
    lblExplanation->setWordWrap(true);
    layout->addWidget(lblExplanation);
    txtPlan = new QPlainTextEdit(this);
    txtPlan->setObjectName(QStringLiteral("txtPlan"));
    txtPlan->setReadOnly(true);
    txtPlan->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    layout->addWidget(txtPlan, 1);
    auto *buttons = new QHBoxLayout;
    cmdHelp = new QPushButton(
        QString::fromStdString(m_localize ? m_localize->myLoadResString(153) : std::string("Help")),
        this);
    cmdHelp->setObjectName(QStringLiteral("cmdHelp"));
    cmdRecover = new QPushButton(text(518), this);
    cmdRecover->setObjectName(QStringLiteral("cmdRecover"));
    cmdClose = new QPushButton(text(519), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    buttons->addWidget(cmdHelp);
    buttons->addStretch(1);
    buttons->addWidget(cmdRecover);
    buttons->addWidget(cmdClose);
    layout->addLayout(buttons);
    // Enter must not start a recovery: only a deliberate press of Recover does.
    cmdClose->setDefault(true);
    cmdRecover->setAutoDefault(false);
    cmdHelp->setAutoDefault(false);
    ui::giveMnemonics(this, {{cmdRecover, 'r'}, {cmdHelp, 'h'}, {cmdClose, 'n'}});
    resize(760, 480);

    connect(cmdRecover, &QPushButton::clicked, this, [this] {
        m_page.cmdRecover_Click();
        refresh();
    });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdHelp, &QPushButton::clicked, this, &frmRecovery::helpRequested);
    m_page.stateChanged = [this] { refresh(); };
    refresh();
}

frmRecovery::~frmRecovery() {
    m_page.stateChanged = nullptr;
}

void frmRecovery::reject() {
    if (!m_page.running())
        QDialog::reject();
}

void frmRecovery::closeEvent(QCloseEvent *event) {
    // Ending the recovery between a subscriber's steps would leave it as the interrupted run did.
    if (m_page.running())
        event->ignore();
    else
        QDialog::closeEvent(event);
}

QString frmRecovery::text(std::uint32_t id) const {
    return ui::ownText(m_localize, id);
}

void frmRecovery::refresh() {
    QString shown = QString::fromStdString(m_page.plan);
    for (const std::string &problem : m_page.problems)
        shown += QString::fromStdString(problem) + QLatin1Char('\n');
    if (!m_page.elsewhere.empty()) {
        shown += QLatin1Char('\n') + text(520) + QLatin1Char('\n');
        for (const std::string &line : m_page.elsewhere)
            shown += QString::fromStdString(line) + QLatin1Char('\n');
    }
    if (m_page.summary) {
        shown += QLatin1Char('\n') + QString::fromStdString(m_page.summary->closingMessage);
        if (!m_page.summary->logFilePath.empty())
            shown += QLatin1Char('\n') + QStringLiteral("Log: ") +
                     QString::fromStdString(m_page.nativePath(m_page.summary->logFilePath));
    }
    if (txtPlan->toPlainText() != shown)
        txtPlan->setPlainText(shown);
    cmdRecover->setEnabled(m_page.recoverEnabled());
    cmdClose->setEnabled(!m_page.running());
}

} // namespace zeph
