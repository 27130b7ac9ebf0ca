#pragma once
// The keys a wizard page answers as dialogs do: Enter presses the default button (Next), or the
// push button that has the focus; F1 presses Help.

#include <utility>
#include <vector>

class QAbstractButton;
class QPushButton;
class QWidget;

namespace zeph::ui {

/// `defaultButton` may be null (a page whose Enter must not start anything).
void bindWizardKeys(QWidget *page, QPushButton *defaultButton, QPushButton *help);

/// Underlines the first `letter` (any case) of the button's text as its Alt key, unless the
/// text has a mnemonic already or no such letter (a translated caption).
void addMnemonic(QPushButton *button, char letter);
/// Help, Exit, Previous and Next of a wizard page get H, X, P and N.
void addWizardMnemonics(QPushButton *help, QPushButton *exit, QPushButton *previous,
                        QPushButton *next);

/// Gives every button and check box of `window` an Alt key of its own, in every language:
/// a text's own mnemonic stays; otherwise the preferred letter, then a word's first letter,
/// then any letter of the text that no other control of the window uses; a text without a
/// free Latin letter (Japanese, Chinese, Korean) gets one appended as "(&X)", as those
/// languages write it. Run again after the texts change.
void giveMnemonics(QWidget *window,
                   const std::vector<std::pair<QAbstractButton *, char>> &preferred);

/// Escape closes `window` (a window that is not a dialog, such as Help).
void closeOnEscape(QWidget *window);

} // namespace zeph::ui
