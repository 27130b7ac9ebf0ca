#include "Fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPointer>
#include <QVariant>
#include <QWidget>

#include <optional>

namespace zeph::ui {

namespace {

// The writing system a character set of the language rules stands for.
std::optional<QFontDatabase::WritingSystem> writingSystemOf(int charset) {
    switch (charset) {
    case 128:
        return QFontDatabase::Japanese;
    case 129:
        return QFontDatabase::Korean;
    case 134:
        return QFontDatabase::SimplifiedChinese;
    case 136:
        return QFontDatabase::TraditionalChinese;
    default:
        return std::nullopt;
    }
}

} // namespace

QStringList fontFamiliesFor(const i18n::FontRule &rule) {
    QStringList families{QString::fromStdString(rule.face)};
    const auto writing = writingSystemOf(rule.charset);
    if (!writing || QFontDatabase::hasFamily(families.front()))
        return families;
    // The rule's face is a Windows font that this machine may lack: an installed face of the
    // same writing system stands in for it, so that the texts do not show as empty boxes.
    const QStringList installed = QFontDatabase::families(*writing);
    if (!installed.isEmpty())
        families << installed.front();
    return families;
}

void SetControlFont(QWidget *control, const i18n::FontRule &rule) {
    if (!control)
        return;
    control->setProperty(kCharsetProperty, rule.charset);
    QFont font = control->font();
    if (rule.face.empty()) {
        // No face of its own: the platform's default face for this kind of control.
        font.setFamily(QApplication::font(control).family());
    } else {
        font.setFamilies(fontFamiliesFor(rule));
    }
    control->setFont(font);
}

void SetFormFonts(QWidget *form, const i18n::FontRule &rule) {
    if (!form)
        return;
    SetControlFont(form, rule);
    for (QWidget *control : form->findChildren<QWidget *>())
        SetControlFont(control, rule);
}

int controlCharset(const QWidget *control) {
    if (!control)
        return -1;
    const QVariant value = control->property(kCharsetProperty);
    return value.isValid() ? value.toInt() : -1;
}

void repaintForm(QWidget *form) {
    if (!form)
        return;
    form->update();
    for (QWidget *control : form->findChildren<QWidget *>())
        control->update();
}

i18n::WindowRegistration registerLanguageWindow(i18n::modLocalize &localize, QWidget *window,
                                                std::string name, std::function<void()> autoInit) {
    QPointer<QWidget> guard(window);
    i18n::LanguageWindow entry;
    entry.name = std::move(name);
    entry.setFormFonts = [guard](const i18n::FontRule &rule) {
        if (guard)
            SetFormFonts(guard, rule);
    };
    if (autoInit) {
        entry.autoInit = [guard, autoInit = std::move(autoInit)] {
            if (guard)
                autoInit();
        };
    }
    entry.repaint = [guard] {
        if (guard)
            repaintForm(guard);
    };
    return localize.registerWindow(std::move(entry));
}

} // namespace zeph::ui
