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
    , m_localize(localize)
    , m_stopQuestion(new ui::StopQuestion(this)) {
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
    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    layout->addWidget(lblProgress);
    auto *buttons = new QHBoxLayout;
    cmdHelp = new QPushButton(text(153), this);
    cmdHelp->setObjectName(QStringLiteral("cmdHelp"));
    cmdAcceptChanged = new QPushButton(text(531), this);
    cmdAcceptChanged->setObjectName(QStringLiteral("cmdAcceptChanged"));
    cmdRecover = new QPushButton(text(518), this);
    cmdRecover->setObjectName(QStringLiteral("cmdRecover"));
    cmdStop = new QPushButton(text(510), this);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    cmdStop->setToolTip(text(515));
    cmdClose = new QPushButton(text(519), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    buttons->addWidget(cmdHelp);
    buttons->addStretch(1);
    for (QPushButton *b : {cmdAcceptChanged, cmdRecover, cmdStop, cmdClose})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    // Enter must not start a recovery: only a deliberate press of Recover does.
    cmdClose->setDefault(true);
    for (QPushButton *b : {cmdAcceptChanged, cmdRecover, cmdStop, cmdHelp})
        b->setAutoDefault(false);
    ui::giveMnemonics(this, {{cmdRecover, 'r'},
                             {cmdHelp, 'h'},
                             {cmdClose, 'n'},
                             {cmdStop, 's'},
                             {cmdAcceptChanged, 'a'}});
    resize(760, 480);

    connect(cmdRecover, &QPushButton::clicked, this, &frmRecovery::recover);
    connect(cmdStop, &QPushButton::clicked, this, [this] {
        m_stopQuestion->close();
        m_page.requestStop();
        refresh();
    });
    connect(cmdAcceptChanged, &QPushButton::clicked, this, [this] {
        m_page.cmdAcceptChanged_Click();
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

void frmRecovery::recover() {
    const bool ran = m_page.cmdRecover_Click();
    m_stopQuestion->close();
    refresh();
    if (ran)
        emit recovered();
    // A close asked for during the recovery is carried out once it has ended.
    if (m_closeWhenEnded) {
        m_closeWhenEnded = false;
        accept();
    }
}

void frmRecovery::askToStop(bool thenClose) {
    if (!m_page.stopEnabled())
        return;
    m_stopQuestion->ask(text(532), [this, thenClose] {
        m_closeWhenEnded = m_closeWhenEnded || thenClose;
        m_page.requestStop();
        refresh();
    });
}

void frmRecovery::reject() {
    if (m_page.running())
        askToStop(false);
    else
        QDialog::reject();
}

void frmRecovery::closeEvent(QCloseEvent *event) {
    // Ending the recovery between a subscriber's steps would leave it as the interrupted run
    // did: closing asks to stop after the subscriber under way, and closes once it has.
    if (m_page.running()) {
        event->ignore();
        askToStop(true);
    } else {
        QDialog::closeEvent(event);
    }
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
            shown += QLatin1Char('\n') + text(527).arg(QString::fromStdString(
                                             m_page.nativePath(m_page.summary->logFilePath)));
    }
    if (txtPlan->toPlainText() != shown)
        txtPlan->setPlainText(shown);
    lblProgress->setVisible(m_page.progress.started());
    lblProgress->setText(QString::fromStdString(m_page.progress.text()));
    cmdRecover->setEnabled(m_page.recoverEnabled());
    cmdAcceptChanged->setEnabled(m_page.acceptChangedEnabled());
    cmdAcceptChanged->setVisible(!m_page.changedSubscribers.empty() || m_page.summary);
    cmdStop->setEnabled(m_page.stopEnabled());
    cmdClose->setEnabled(!m_page.running());
}

} // namespace zeph
