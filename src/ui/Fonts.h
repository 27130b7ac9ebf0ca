#pragma once
// The language fonts on Qt widgets: a control's face is its font family, and its character set
// is kept with it as a dynamic property (Qt chooses glyphs by script, not by character set).

#include "i18n/FontRule.h"
#include "i18n/modLocalize.h"

#include <QStringList>

#include <functional>
#include <string>

class QWidget;

namespace zeph::ui {

/// The dynamic property that holds a control's character set.
inline constexpr const char *kCharsetProperty = "zephCharset";

/// The rule's face, followed (when this machine lacks it and the rule is for Japanese, Korean
/// or Chinese) by an installed face of that writing system.
QStringList fontFamiliesFor(const i18n::FontRule &rule);

/// Gives one control the rule's character set and face. An empty face gives the control the
/// application's default face for its kind.
void SetControlFont(QWidget *control, const i18n::FontRule &rule);

/// SetControlFont on every control of a window, and on the window itself so that controls
/// created later inherit the face.
void SetFormFonts(QWidget *form, const i18n::FontRule &rule);

/// The character set last set on a control, or -1 when none was set.
int controlCharset(const QWidget *control);

/// Asks every control of a window to repaint itself.
void repaintForm(QWidget *form);

/// Registers a window for the language switch: its fonts, its `autoInit` (the window's
/// "_Auto_Init", when it has one) and a repaint. Keep the registration as a member of the
/// window; a window deleted before its registration goes is passed over.
[[nodiscard]] i18n::WindowRegistration registerLanguageWindow(i18n::modLocalize &localize,
                                                              QWidget *window, std::string name,
                                                              std::function<void()> autoInit = {});

} // namespace zeph::ui
