#pragma once
// Where the wizard's windows go: all pages share one size, each page takes the place of the
// one it replaces, and every window lies wholly on the screen it opens on.

class QSize;
class QWidget;

namespace zeph::ui {

/// The size every wizard page takes: the largest page's, no larger than the screen allows.
QSize wizardPageSize(const QWidget *page);

/// Gives `to` the client area of `from` (the same place and size, whatever frame a window
/// manager draws around both), then keeps it on its screen.
void takePlaceOf(QWidget *to, const QWidget *from);

/// Centres `window` over `over` (or its screen when there is none) and keeps it on that screen.
void placeOver(QWidget *window, const QWidget *over);

/// Sets the smallest size at which every control of the page stays whole and apart: at least
/// `width` wide, and as high as its wrapped texts need at that width. Run again when a text
/// of the page changes.
void setUsableMinimumSize(QWidget *page, int width = 600);

/// Moves and, when it is larger, shrinks a window so that it and its frame lie wholly within
/// the available area of its screen.
void keepOnScreen(QWidget *window);

} // namespace zeph::ui
