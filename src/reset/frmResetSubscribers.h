#pragma once
// The reset page's window: the texts, the skip check box, "Reset Subscribers", the progress
// frame and the count, and the wizard's buttons. Clicks go to the page (ResetPage); the window
// only draws the page's state, and refuses to close while a run is under way.

#include "reset/ResetPage.h"

#include "i18n/modLocalize.h"
#include "ui/StopQuestion.h"

#include <QMainWindow>

class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QLabel;

class QProgressBar;
class QPushButton;

namespace zeph {

class frmResetSubscribers : public QMainWindow {
    Q_OBJECT
public:
    /// `localize` (may be null) gives the language fonts and the language switch.
    explicit frmResetSubscribers(ResetPage &page, i18n::modLocalize *localize = nullptr,
                                 QWidget *parent = nullptr);
    ~frmResetSubscribers() override;

    /// The load step: the page's Form_Load, then the window shows its state. The wizard calls
    /// it once, before the window is first shown.
    void Form_Load();
    /// Shows the page's state (buttons, check box, progress, count).
    void refresh();

    /// Asks the run under way to stop after the subscriber under way (Stop, Escape after its
    /// question). The run goes on while the question is open.
    void stopRun();

    QLabel *Label1 = nullptr;
    QLabel *lblAddSubscribers = nullptr;
    QCheckBox *chkSkipDLResynch = nullptr;
    /// What the run will reset, before its button is pressed: the criterion, the count, the
    /// template by name and alias, the first rows and how many more.
    QGroupBox *frmReview = nullptr;
    QLabel *lblReview = nullptr;
    QPushButton *cmdResetSubscribers = nullptr;
    /// Stops the run after the subscriber under way; usable only while a run goes on.
    QPushButton *cmdStop = nullptr;
    /// The question that Escape or closing the window asks during a run; it does not hold the
    /// run up (null while none is open).
    QMessageBox *stopQuestion() const { return m_stopQuestion->box(); }
    QGroupBox *frmProgress = nullptr;
    QProgressBar *ProgressBar = nullptr;
    QLabel *lblSubscribersAdded = nullptr;
    QLabel *lblSubscribersAddedCount = nullptr;
    /// Under the bar: subscriber N of M (the ticked ones), the one under way, elapsed and
    /// remaining time.
    QLabel *lblProgressDetail = nullptr;
    /// Shown once a run has ended and kept: its counts, the paths of its log and failed-records
    /// file, and buttons that open them and their folder.
    QGroupBox *frmResults = nullptr;
    QLabel *lblResults = nullptr;
    QPushButton *cmdOpenLog = nullptr;
    QPushButton *cmdOpenFailedRecords = nullptr;
    QPushButton *cmdOpenLogFolder = nullptr;
    QPushButton *cmdPrevious = nullptr;
    QPushButton *cmdNext = nullptr;
    QPushButton *cmdHelp = nullptr;
    QPushButton *cmdExit = nullptr;

signals:
    void previousRequested();
    void nextRequested();
    void helpRequested();
    void exitRequested();
    /// A run has ended (after its closing message).
    void runFinished();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void connectEvents();
    void applyFonts();
    void buildResults(QWidget *central);
    void showResults();
    void showReview();
    /// The window's added texts in the language in use, and every button's Alt key.
    void retranslate();
    QString text(std::uint32_t id) const;

    /// Asks, without holding up the run, whether to stop it (and then close the program).
    void askToStop(bool thenExit);
    /// The run has ended: a pending question has nothing left to ask, and an exit asked for
    /// during the run is carried out.
    void runEnded();

    ResetPage &m_page;
    i18n::modLocalize *m_localize;
    ui::StopQuestion *m_stopQuestion;
    bool m_exitWhenEnded = false;
    i18n::WindowRegistration m_languageRegistration;
};

} // namespace zeph
