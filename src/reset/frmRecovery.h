#pragma once
// The recovery page's window: what the unfinished resets of this server are, what the
// recovery found on the server and will do, and the Recover button. Shown at start, over the
// first page, only when there is something to recover.

#include "reset/RecoveryPage.h"

#include "i18n/modLocalize.h"

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
    QPushButton *cmdRecover = nullptr;
    QPushButton *cmdHelp = nullptr;
    QPushButton *cmdClose = nullptr;

    /// Escape and the frame's close button, refused while the recovery runs.
    void reject() override;

signals:
    void helpRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QString text(std::uint32_t id) const;

    RecoveryPage &m_page;
    i18n::modLocalize *m_localize;
};

} // namespace zeph
