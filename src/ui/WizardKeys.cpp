#include "WizardKeys.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QWidget>

namespace zeph::ui {

namespace {

void press(QPushButton *button) {
    if (button && button->isEnabled() && button->isVisible())
        button->click();
}

} // namespace

namespace {

// Tells whether a drop-down list of the page closed during the key event being handled: the
// list closes on Enter before the page's Enter is looked up, and that Enter was the list's.
class ClosingLists : public QObject {
public:
    explicit ClosingLists(QWidget *page)
        : QObject(page) {
        for (QComboBox *list : page->findChildren<QComboBox *>())
            list->view()->window()->installEventFilter(this);
    }
    bool closedJustNow() const { return m_closed; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Hide && !m_closed) {
            m_closed = true;
            QTimer::singleShot(0, this, [this] { m_closed = false; });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_closed = false;
};

} // namespace

void bindWizardKeys(QWidget *page, QPushButton *defaultButton, QPushButton *help) {
    if (defaultButton) {
        auto *lists = new ClosingLists(page);
        defaultButton->setDefault(true);
        // A main window has no default-button handling of its own, so Enter is bound here.
        for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
            auto *enter = new QShortcut(QKeySequence(key), page);
            QObject::connect(enter, &QShortcut::activated, page, [defaultButton, key, lists] {
                // An open drop-down list takes Enter as its own: it chooses the entry and
                // closes, and nothing else happens.
                if (lists->closedJustNow())
                    return;
                if (QWidget *popup = QApplication::activePopupWidget()) {
                    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
                    QWidget *target = popup->focusWidget() ? popup->focusWidget() : popup;
                    QCoreApplication::sendEvent(target, &press);
                    return;
                }
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

namespace {

// The letter after a single '&' (a doubled one is a literal ampersand); 0 when there is none.
QChar mnemonicOf(const QString &text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toUpper();
    }
    return QChar();
}

bool latinLetter(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

} // namespace

void giveMnemonics(QWidget *window,
                   const std::vector<std::pair<QAbstractButton *, char>> &preferred) {
    QList<QAbstractButton *> buttons;
    for (const auto &[button, letter] : preferred)
        if (button)
            buttons << button;
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
        if (!buttons.contains(button))
            buttons << button;
    QString used;
    for (QAbstractButton *button : buttons)
        if (const QChar taken = mnemonicOf(button->text()); !taken.isNull())
            used += taken;
    auto preferredOf = [&preferred](QAbstractButton *button) {
        for (const auto &[b, letter] : preferred)
            if (b == button)
                return QChar(QLatin1Char(letter)).toUpper();
        return QChar();
    };
    for (QAbstractButton *button : buttons) {
        QString text = button->text();
        if (text.isEmpty() || !mnemonicOf(text).isNull())
            continue;
        const QChar wish = preferredOf(button);
        qsizetype at = -1;
        auto freeAt = [&](qsizetype i) {
            return latinLetter(text[i]) && !used.contains(text[i].toUpper());
        };
        // The wished letter, then the first letter of a word, then any letter.
        if (!wish.isNull())
            for (qsizetype i = 0; at < 0 && i < text.size(); ++i)
                if (text[i].toUpper() == wish && freeAt(i))
                    at = i;
        for (qsizetype i = 0; at < 0 && i < text.size(); ++i)
            if ((i == 0 || text[i - 1].isSpace()) && freeAt(i))
                at = i;
        for (qsizetype i = 0; at < 0 && i < text.size(); ++i)
            if (freeAt(i))
                at = i;
        if (at >= 0) {
            used += text[at].toUpper();
            text.insert(at, QLatin1Char('&'));
        } else {
            QChar letter = !wish.isNull() && !used.contains(wish) ? wish : QChar();
            for (char c = 'A'; letter.isNull() && c <= 'Z'; ++c)
                if (!used.contains(QLatin1Char(c)))
                    letter = QLatin1Char(c);
            if (letter.isNull())
                continue; // every letter is taken
            used += letter;
            text += QStringLiteral("(&") + letter + QLatin1Char(')');
        }
        button->setText(text);
    }
}

void closeOnEscape(QWidget *window) {
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
}

} // namespace zeph::ui
