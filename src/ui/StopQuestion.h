#pragma once
// The question a window asks before it stops a run under way (Escape, closing the window):
// not modal, so the run goes on while the operator reads it, and only Yes stops it. Shared by
// the reset page and the recovery page, whose runs stop alike after the subscriber under way.

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <functional>

namespace zeph::ui {

class StopQuestion : public QObject {
    Q_OBJECT
public:
    explicit StopQuestion(QWidget *owner);

    /// Shows `text` with Yes and No (No the default and Escape's); `onYes` runs when Yes is
    /// chosen. A question already open is raised instead of asking twice.
    void ask(const QString &text, std::function<void()> onYes);
    /// Closes an open question unanswered (the run has ended, or Stop was pressed).
    void close();
    /// The open question; null while none is open.
    QMessageBox *box() const { return m_box; }

private:
    QWidget *m_owner;
    QPointer<QMessageBox> m_box;
};

} // namespace zeph::ui
