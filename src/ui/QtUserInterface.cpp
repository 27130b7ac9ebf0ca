#include "QtUserInterface.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

#include <cctype>

namespace zeph::ui {

QtUserInterface::QtUserInterface(QWidget *fallbackParent)
    : m_parent(fallbackParent) {}

QWidget *QtUserInterface::parentWidget() const {
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return m_parent;
}

MsgIcon QtUserInterface::iconOf(const std::string &text, MsgButtons buttons, MsgIcon asked) {
    if (asked != MsgIcon::None)
        return asked;
    std::string start = text.substr(0, 7);
    for (char &c : start)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (start.starts_with("(error)") || start.starts_with("error"))
        return MsgIcon::Critical;
    return buttons == MsgButtons::YesNo ? MsgIcon::Question : MsgIcon::Information;
}

MsgAnswer QtUserInterface::messageBox(const std::string &text, MsgButtons buttons, MsgIcon icon,
                                      const std::string &title) {
    QMessageBox box(parentWidget());
    box.setWindowTitle(title.empty() ? QStringLiteral("Zephrane") : QString::fromStdString(title));
    box.setText(QString::fromStdString(text));
    switch (iconOf(text, buttons, icon)) {
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::None:
        break;
    }
    switch (buttons) {
    case MsgButtons::OK:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgButtons::OKCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    }
    const int result = execBox(box);
    switch (result) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Cancel:
        return MsgAnswer::Cancel;
    default:
        // Escape on a Yes/No box means No; on OK/Cancel it means Cancel.
        if (buttons == MsgButtons::YesNo && result != QMessageBox::Yes)
            return MsgAnswer::No;
        if (buttons == MsgButtons::OKCancel && result != QMessageBox::Ok)
            return MsgAnswer::Cancel;
        return MsgAnswer::OK;
    }
}

MsgAnswer QtUserInterface::askDestructive(const std::string &text, const std::string &details) {
    QMessageBox box(parentWidget());
    box.setWindowTitle(QStringLiteral("Zephrane"));
    box.setIcon(QMessageBox::Warning);
    box.setText(QString::fromStdString(text));
    box.setInformativeText(QString::fromStdString(details));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    // Enter must not destroy anything: only a deliberate Yes does.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return execBox(box) == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

int QtUserInterface::execBox(QMessageBox &box) {
    // A box must be answerable while the busy pointer is up.
    const bool wasBusy = m_busy;
    if (wasBusy)
        QGuiApplication::restoreOverrideCursor();
    const int result = box.exec();
    if (wasBusy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    return result;
}

void QtUserInterface::setBusy(bool busy) {
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void QtUserInterface::doEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::optional<std::string> QtUserInterface::openFileDialog(const std::string &title,
                                                           const std::string &filter) {
    // "Description|*.ext|Other|*.*" becomes Qt's "Description (*.ext);;Other (*.*)".
    QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + QStringLiteral(" (") +
                       parts[i + 1].replace(QLatin1Char(';'), QLatin1Char(' ')) +
                       QStringLiteral(")");
    QString chosen = QFileDialog::getOpenFileName(parentWidget(), QString::fromStdString(title),
                                                  QString(), filters.join(QStringLiteral(";;")));
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

std::string QtUserInterface::clipboardText() {
    return QGuiApplication::clipboard()->text().toStdString();
}

void QtUserInterface::setClipboardText(const std::string &text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

} // namespace zeph::ui
