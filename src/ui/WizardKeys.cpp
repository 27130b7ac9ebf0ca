#include "WizardKeys.h"

#include <QApplication>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QWidget>

namespace zeph::ui {

namespace {

void press(QPushButton *button) {
    if (button && button->isEnabled() && button->isVisible())
        button->click();
}

} // namespace

void bindWizardKeys(QWidget *page, QPushButton *defaultButton, QPushButton *help) {
    if (defaultButton) {
        defaultButton->setDefault(true);
        // A main window has no default-button handling of its own, so Enter is bound here.
        for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
            auto *enter = new QShortcut(QKeySequence(key), page);
            QObject::connect(enter, &QShortcut::activated, page, [defaultButton] {
                auto *focused = qobject_cast<QPushButton *>(QApplication::focusWidget());
                press(focused ? focused : defaultButton);
            });
        }
    }
    if (help) {
        auto *f1 = new QShortcut(QKeySequence(QKeySequence::HelpContents), page);
        QObject::connect(f1, &QShortcut::activated, page, [help] { press(help); });
    }
}

void addMnemonic(QPushButton *button, char letter) {
    QString text = button->text();
    if (text.contains(QLatin1Char('&')))
        return;
    const int at = text.indexOf(QLatin1Char(letter), 0, Qt::CaseInsensitive);
    if (at < 0)
        return;
    text.insert(at, QLatin1Char('&'));
    button->setText(text);
}

void addWizardMnemonics(QPushButton *help, QPushButton *exit, QPushButton *previous,
                        QPushButton *next) {
    addMnemonic(help, 'h');
    addMnemonic(exit, 'x');
    addMnemonic(previous, 'p');
    addMnemonic(next, 'n');
}

void closeOnEscape(QWidget *window) {
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
}

} // namespace zeph::ui
