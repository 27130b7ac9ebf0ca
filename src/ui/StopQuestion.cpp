#include "StopQuestion.h"

#include <QPushButton>

namespace zeph::ui {

StopQuestion::StopQuestion(QWidget *owner)
    : QObject(owner)
    , m_owner(owner) {}

void StopQuestion::ask(const QString &text, std::function<void()> onYes) {
    if (m_box) {
        m_box->raise();
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Question, QStringLiteral("Zephrane"), text,
                                QMessageBox::Yes | QMessageBox::No, m_owner);
    box->setObjectName(QStringLiteral("stopQuestion"));
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [box, onYes = std::move(onYes)](int) {
        if (box->clickedButton() == box->button(QMessageBox::Yes) && onYes)
            onYes();
    });
    m_box = box;
    box->show();
}

void StopQuestion::close() {
    if (m_box)
        m_box->close();
}

} // namespace zeph::ui
