#include "frmResetSubscribers.h"

#include "ui/Fonts.h"
#include "ui/OwnText.h"
#include "ui/WindowPlacement.h"
#include "ui/WizardKeys.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace zeph {

namespace {

QString qs(const char *text) {
    return QString::fromUtf8(text);
}

QPushButton *button(const char *name, const char *caption, QWidget *parent) {
    auto *b = new QPushButton(qs(caption), parent);
    b->setObjectName(qs(name));
    return b;
}

void showControl(QWidget *widget, const ControlState &state) {
    widget->setEnabled(state.Enabled);
    widget->setVisible(state.Visible);
}

} // namespace

frmResetSubscribers::frmResetSubscribers(ResetPage &page, i18n::modLocalize *localize,
                                         QWidget *parent)
    : QMainWindow(parent)
    , m_page(page)
    , m_localize(localize)
    , m_stopQuestion(new ui::StopQuestion(this)) {
    setWindowTitle(qs(ResetPage::kWindowCaption));
    setObjectName(qs(ResetPage::kFormName));
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);

    Label1 = new QLabel(qs(ResetPage::kHeading), central);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont headingFont = Label1->font();
    headingFont.setPointSize(headingFont.pointSize() + 6);
    headingFont.setBold(true);
    Label1->setFont(headingFont);
    layout->addWidget(Label1);

    lblAddSubscribers = new QLabel(qs(ResetPage::kInstructions), central);
    lblAddSubscribers->setObjectName(QStringLiteral("lblAddSubscribers"));
    lblAddSubscribers->setWordWrap(true);
    layout->addWidget(lblAddSubscribers);

    chkSkipDLResynch = new QCheckBox(qs(ResetPage::kSkipCaption), central);
    chkSkipDLResynch->setObjectName(QStringLiteral("chkSkipDLResynch"));
    layout->addWidget(chkSkipDLResynch);

    frmReview = new QGroupBox(central);
    frmReview->setObjectName(QStringLiteral("frmReview"));
    auto *reviewLayout = new QVBoxLayout(frmReview);
    lblReview = new QLabel(frmReview);
    lblReview->setObjectName(QStringLiteral("lblReview"));
    lblReview->setTextFormat(Qt::PlainText);
    lblReview->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblReview->setWordWrap(true);
    reviewLayout->addWidget(lblReview);
    layout->addWidget(frmReview);

    cmdResetSubscribers = button("cmdResetSubscribers", ResetPage::kResetCaption, central);
    cmdStop = button("cmdStop", "", central);
    auto *resetLine = new QHBoxLayout;
    resetLine->addStretch(1);
    resetLine->addWidget(cmdResetSubscribers);
    resetLine->addWidget(cmdStop);
    resetLine->addStretch(1);
    layout->addLayout(resetLine);

    frmProgress = new QGroupBox(qs(ResetPage::kProgressCaption), central);
    frmProgress->setObjectName(QStringLiteral("frmProgress"));
    auto *progressLayout = new QVBoxLayout(frmProgress);
    ProgressBar = new QProgressBar(frmProgress);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    progressLayout->addWidget(ProgressBar);
    auto *countLine = new QHBoxLayout;
    lblSubscribersAdded = new QLabel(qs(ResetPage::kCountCaption), frmProgress);
    lblSubscribersAdded->setObjectName(QStringLiteral("lblSubscribersAdded"));
    lblSubscribersAddedCount = new QLabel(frmProgress);
    lblSubscribersAddedCount->setObjectName(QStringLiteral("lblSubscribersAddedCount"));
    countLine->addWidget(lblSubscribersAdded);
    countLine->addWidget(lblSubscribersAddedCount);
    countLine->addStretch(1);
    progressLayout->addLayout(countLine);
    lblProgressDetail = new QLabel(frmProgress);
    lblProgressDetail->setObjectName(QStringLiteral("lblProgressDetail"));
    progressLayout->addWidget(lblProgressDetail);
    layout->addWidget(frmProgress);
    buildResults(central);
    layout->addWidget(frmResults);
    layout->addStretch(1);

    auto *wizardButtons = new QHBoxLayout;
    cmdHelp = button("cmdHelp", ResetPage::kHelpCaption, central);
    cmdExit = button("cmdExit", ResetPage::kExitCaption, central);
    cmdPrevious = button("cmdPrevious", ResetPage::kPreviousCaption, central);
    cmdNext = button("cmdNext", ResetPage::kNextCaption, central);
    wizardButtons->addWidget(cmdHelp);
    wizardButtons->addWidget(cmdExit);
    wizardButtons->addStretch(1);
    wizardButtons->addWidget(cmdPrevious);
    wizardButtons->addWidget(cmdNext);
    layout->addLayout(wizardButtons);

    setCentralWidget(central);
    // No default button: Enter must not start a reset (Next stays off on this page).
    ui::bindWizardKeys(this, nullptr, cmdHelp);

    // The run yields to the event loop after every log line; the state it changed is shown
    // then, so the progress and the count move while it runs.
    m_page.stateChanged = [this] { refresh(); };
    // The times move on during a long step (the directory waits), between the page's changes.
    auto *clock = new QTimer(this);
    connect(clock, &QTimer::timeout, this, [this] {
        if (m_page.running())
            lblProgressDetail->setText(QString::fromStdString(m_page.progress.text()));
    });
    clock->start(1000);
    if (m_localize) {
        m_languageRegistration = ui::registerLanguageWindow(*m_localize, this, ResetPage::kFormName,
                                                            [this] { retranslate(); });
        applyFonts();
    }
    connectEvents();
    retranslate();
    refresh();
}

void frmResetSubscribers::retranslate() {
    frmReview->setTitle(text(505));
    frmResults->setTitle(text(511));
    cmdOpenLog->setText(text(512));
    cmdOpenFailedRecords->setText(text(513));
    cmdOpenLogFolder->setText(text(514));
    cmdStop->setText(text(510));
    cmdStop->setToolTip(text(515));
    ui::giveMnemonics(this, {{cmdStop, 's'},
                             {cmdHelp, 'h'},
                             {cmdExit, 'x'},
                             {cmdPrevious, 'p'},
                             {cmdNext, 'n'},
                             {cmdResetSubscribers, 'r'},
                             {cmdOpenLog, 'l'},
                             {cmdOpenFailedRecords, 'f'},
                             {cmdOpenLogFolder, 'd'}});
    showReview();
    showResults();
    ui::setUsableMinimumSize(this);
}

frmResetSubscribers::~frmResetSubscribers() {
    m_languageRegistration.reset();
    m_page.stateChanged = nullptr;
}

QString frmResetSubscribers::text(std::uint32_t id) const {
    return ui::ownText(m_localize, id);
}

void frmResetSubscribers::showReview() {
    // The review is taken when the page shows and stays as the run found it once it started.
    if (m_page.running() || m_page.finished())
        return;
    const ResetReview review = m_page.review();
    QStringList lines;
    if (!review.criterion.empty())
        lines << text(506).arg(QString::fromStdString(review.criterion));
    lines << text(507).arg(review.count);
    lines << text(508).arg(QString::fromStdString(review.templateText));
    for (const std::string &row : review.rows)
        lines << QStringLiteral("    ") + QString::fromStdString(row);
    if (review.more > 0)
        lines << QStringLiteral("    ") + text(509).arg(review.more);
    const QString shown = lines.join(QLatin1Char('\n'));
    if (shown == lblReview->text())
        return;
    lblReview->setText(shown);
    ui::setUsableMinimumSize(this);
}

void frmResetSubscribers::buildResults(QWidget *central) {
    frmResults = new QGroupBox(central);
    frmResults->setObjectName(QStringLiteral("frmResults"));
    auto *resultsLayout = new QVBoxLayout(frmResults);
    lblResults = new QLabel(frmResults);
    lblResults->setObjectName(QStringLiteral("lblResults"));
    lblResults->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblResults->setWordWrap(true);
    resultsLayout->addWidget(lblResults);
    auto *openLine = new QHBoxLayout;
    cmdOpenLog = button("cmdOpenLog", "", frmResults);
    cmdOpenFailedRecords = button("cmdOpenFailedRecords", "", frmResults);
    cmdOpenLogFolder = button("cmdOpenLogFolder", "", frmResults);
    for (QPushButton *open : {cmdOpenLog, cmdOpenFailedRecords, cmdOpenLogFolder})
        openLine->addWidget(open);
    openLine->addStretch(1);
    resultsLayout->addLayout(openLine);
    frmResults->setVisible(false);
}

void frmResetSubscribers::showResults() {
    const std::optional<ResetSummary> &summary = m_page.summary();
    frmResults->setVisible(summary.has_value());
    if (!summary)
        return;
    const RunOutcome &outcome = summary->outcome;
    QStringList lines;
    lines << text(summary->dryRun ? 524 : 523).arg(summary->subscribersReset);
    // What became of each ticked subscriber, counted once.
    lines << text(525)
                 .arg(outcome.reset)
                 .arg(outcome.resetWithErrors)
                 .arg(outcome.skipped)
                 .arg(outcome.notAttempted);
    lines << text(526).arg(summary->errorCount);
    lines << text(527).arg(QString::fromStdString(m_page.nativePath(summary->logFilePath)));
    if (!summary->failedRecordsPath.empty())
        lines << text(summary->failedRecords.size() == 1 ? 528 : 529)
                     .arg(QString::fromStdString(m_page.nativePath(summary->failedRecordsPath)))
                     .arg(summary->failedRecords.size());
    else
        lines << text(530).arg(QString::fromStdString(summary->failedRecordsProblem));
    lblResults->setText(lines.join(QLatin1Char('\n')));
    cmdOpenLog->setEnabled(!summary->logFilePath.empty());
    cmdOpenLogFolder->setEnabled(!summary->logFilePath.empty());
    cmdOpenFailedRecords->setEnabled(!summary->failedRecordsPath.empty());
}

void frmResetSubscribers::connectEvents() {
    connect(chkSkipDLResynch, &QCheckBox::toggled, this,
            [this](bool on) { m_page.chkSkipDLResynch.Value = on; });
    connect(cmdResetSubscribers, &QPushButton::clicked, this, [this] {
        bool wasFinished = m_page.finished();
        m_page.cmdResetSubscribers_Click();
        refresh();
        if (!wasFinished && m_page.finished()) {
            emit runFinished();
            runEnded();
        }
    });
    connect(cmdStop, &QPushButton::clicked, this, &frmResetSubscribers::stopRun);
    connect(cmdPrevious, &QPushButton::clicked, this, [this] {
        if (m_page.cmdPrevious.Enabled)
            emit previousRequested();
    });
    connect(cmdNext, &QPushButton::clicked, this, [this] {
        if (m_page.cmdNext.Enabled)
            emit nextRequested();
    });
    connect(cmdHelp, &QPushButton::clicked, this, &frmResetSubscribers::helpRequested);
    connect(cmdOpenLog, &QPushButton::clicked, this, [this] { m_page.cmdOpenLog_Click(); });
    connect(cmdOpenFailedRecords, &QPushButton::clicked, this,
            [this] { m_page.cmdOpenFailedRecords_Click(); });
    connect(cmdOpenLogFolder, &QPushButton::clicked, this,
            [this] { m_page.cmdOpenLogFolder_Click(); });
    connect(cmdExit, &QPushButton::clicked, this, [this] {
        if (m_page.cmdExit.Enabled)
            emit exitRequested();
    });
}

void frmResetSubscribers::Form_Load() {
    m_page.Form_Load();
    refresh();
}

void frmResetSubscribers::applyFonts() {
    if (m_localize)
        ui::SetFormFonts(this, m_localize->currentFontRule());
}

void frmResetSubscribers::refresh() {
    showControl(cmdResetSubscribers, m_page.cmdResetSubscribers);
    showControl(cmdPrevious, m_page.cmdPrevious);
    showControl(cmdNext, m_page.cmdNext);
    showControl(cmdHelp, m_page.cmdHelp);
    showControl(cmdExit, m_page.cmdExit);
    cmdStop->setEnabled(m_page.running() && !m_page.stopRequested());
    showControl(chkSkipDLResynch, m_page.chkSkipDLResynch);
    {
        QSignalBlocker block(chkSkipDLResynch);
        chkSkipDLResynch->setChecked(m_page.chkSkipDLResynch.Value);
    }
    ProgressBar->setMaximum(m_page.ProgressBar.Max);
    ProgressBar->setValue(std::min(m_page.ProgressBar.Value, m_page.ProgressBar.Max));
    lblSubscribersAddedCount->setText(QString::fromStdString(m_page.lblSubscribersAddedCount));
    const bool started = m_page.running() || m_page.finished();
    lblProgressDetail->setText(started ? QString::fromStdString(m_page.progress.text())
                                       : QString());
    showReview();
    showResults();
}

void frmResetSubscribers::stopRun() {
    m_stopQuestion->close();
    m_page.requestStop();
    refresh();
}

void frmResetSubscribers::askToStop(bool thenExit) {
    if (!m_page.running() || m_page.stopRequested())
        return;
    // Not modal: the run goes on while the operator reads, and stops only on Yes.
    m_stopQuestion->ask(text(thenExit ? 522 : 521), [this, thenExit] {
        m_exitWhenEnded = m_exitWhenEnded || thenExit;
        m_page.requestStop();
        refresh();
    });
}

void frmResetSubscribers::runEnded() {
    m_stopQuestion->close();
    if (m_exitWhenEnded) {
        m_exitWhenEnded = false;
        emit exitRequested();
    }
}

void frmResetSubscribers::keyPressEvent(QKeyEvent *event) {
    // Escape during a run asks whether to stop it; otherwise it means nothing here.
    if (event->key() == Qt::Key_Escape && m_page.running()) {
        askToStop(false);
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void frmResetSubscribers::closeEvent(QCloseEvent *event) {
    event->ignore();
    // Ending the program between a subscriber's removal and its re-creation would lose it:
    // during a run, closing asks whether to stop after the subscriber under way and then end.
    if (m_page.running()) {
        askToStop(true);
        return;
    }
    // Otherwise closing through the frame ends the program the way Exit does.
    emit exitRequested();
}

} // namespace zeph
