#pragma once
// The recovery page's window: what the unfinished resets of this server are, what the
// recovery found on the server and will do, and the Recover button. Shown at start, over the
// first page, only when there is something to recover.

#include "reset/RecoveryPage.h"

#include "i18n/modLocalize.h"
#include "ui/StopQuestion.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace zeph {

class frmRecovery : public QDialog {
    Q_OBJECT
public:
    explicit frmRecovery(RecoveryPage &page, i18n::modLocalize *localize = nullptr,
                         QWidget *parent = nullptr);
    ~frmRecovery() override;

    /// Shows the page's state.
    void refresh();

    QLabel *Label1 = nullptr;
    QLabel *lblExplanation = nullptr;
    /// The plan, the damaged journals and the journals of other servers.
    QPlainTextEdit *txtPlan = nullptr;
    /// While the recovery runs and after: entry N of M, the subscriber under way, the times.
    QLabel *lblProgress = nullptr;
    /// Accepts the changes of the subscribers held because they were changed since.
    QPushButton *cmdAcceptChanged = nullptr;
    QPushButton *cmdRecover = nullptr;
    /// Stops the recovery after the subscriber under way; usable only while it runs.
    QPushButton *cmdStop = nullptr;
    QPushButton *cmdHelp = nullptr;
    QPushButton *cmdClose = nullptr;
    /// The question Escape or closing the window asks while the recovery runs (null while
    /// none is open); the recovery goes on meanwhile.
    QMessageBox *stopQuestion() const { return m_stopQuestion->box(); }

    /// Escape: while the recovery runs, asks whether to stop it; otherwise closes the page.
    void reject() override;

signals:
    void helpRequested();
    /// A recovery ran: the server's subscribers may differ from what was read at start.
    void recovered();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QString text(std::uint32_t id) const;
    void recover();
    /// Asks, without holding up the recovery, whether to stop it (and then close the page).
    void askToStop(bool thenClose);

    RecoveryPage &m_page;
    i18n::modLocalize *m_localize;
    ui::StopQuestion *m_stopQuestion;
    bool m_closeWhenEnded = false;
};

} // namespace zeph
