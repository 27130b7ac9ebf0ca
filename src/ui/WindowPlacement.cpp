#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace zeph::ui {

namespace {

// The largest page (the selection grid) needs this much.
constexpr int kPageWidth = 900;
constexpr int kPageHeight = 600;

QScreen *screenOf(const QWidget *window) {
    if (window && window->screen())
        return window->screen();
    return QGuiApplication::primaryScreen();
}

// The frame a window manager adds; before a window was first shown Qt does not know it, so a
// typical title bar is allowed for.
QMargins frameOf(const QWidget *window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    if (window->isVisible() && (margins.top() > 0 || margins.left() > 0))
        return margins;
    return QMargins(4, 30, 4, 4);
}

// Keeps the window and a frame of `frame` within its screen's available area.
void keepWithin(QWidget *window, const QMargins &frame) {
    QScreen *screen = screenOf(window);
    if (!screen)
        return;
    const QRect room = screen->availableGeometry().marginsRemoved(frame);
    QRect rect = window->geometry();
    rect.setSize(rect.size().boundedTo(room.size()));
    rect.moveLeft(std::clamp(rect.left(), room.left(), room.right() - rect.width() + 1));
    rect.moveTop(std::clamp(rect.top(), room.top(), room.bottom() - rect.height() + 1));
    if (rect != window->geometry())
        window->setGeometry(rect);
}

} // namespace

QSize wizardPageSize(const QWidget *page) {
    QSize size(kPageWidth, kPageHeight);
    if (QScreen *screen = screenOf(page)) {
        const QSize room = screen->availableGeometry().size() - QSize(8, 34);
        size = size.boundedTo(room);
    }
    return size;
}

void takePlaceOf(QWidget *to, const QWidget *from) {
    to->setGeometry(from->geometry());
    // The page shown so far knows the frame; the one replacing it gets the same.
    keepWithin(to, frameOf(from));
}

void placeOver(QWidget *window, const QWidget *over) {
    QScreen *screen = screenOf(over ? over : window);
    const QRect area = over ? over->geometry() : (screen ? screen->availableGeometry() : QRect());
    QRect rect(QPoint(), window->size());
    rect.moveCenter(area.center());
    window->setGeometry(rect);
    keepOnScreen(window);
}

void setUsableMinimumSize(QWidget *page, int width) {
    auto *window = qobject_cast<QMainWindow *>(page);
    QWidget *central = window ? window->centralWidget() : page;
    QLayout *layout = central ? central->layout() : nullptr;
    if (!layout)
        return;
    layout->activate();
    const QSize least = layout->minimumSize();
    width = std::max(width, least.width());
    int height = least.height();
    if (layout->hasHeightForWidth())
        height = std::max(height, layout->totalHeightForWidth(width));
    // The main window adds its menu bar to what its central widget asks for.
    central->setMinimumSize(width, height);
    if (window)
        window->setMinimumSize(window->minimumSizeHint());
}

void keepOnScreen(QWidget *window) {
    keepWithin(window, frameOf(window));
}

} // namespace zeph::ui
