#pragma once
// modLocalize: the language in use, its language library beside the program, the texts looked
// up by string-table id, and the switch of the running program to another language.
//
// Windows take part in a language switch by registering themselves: each offers how to set
// its fonts, and optionally its "_Auto_Init" (re-read its texts) and a repaint. The switch
// walks the registered windows in the order they registered, as the program lists its loaded
// windows.

#include "FontRule.h"
#include "Languages.h"
#include "platform/Host.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zeph::i18n {

/// The most UTF-16 code units a looked-up text can have: the system's buffer holds 1200
/// characters including the terminating NUL.
inline constexpr std::size_t kMaxResStringUnits = 1199;

/// A window that follows the language in use.
struct LanguageWindow {
    std::string name; // "frmChooseSubscribers"
    /// SetFormFonts on this window: every control gets the rule's character set and face.
    std::function<void(const FontRule &)> setFormFonts;
    /// The window's name + "_Auto_Init", when it has one: re-reads its texts.
    std::function<void()> autoInit;
    /// Asks every control of the window to repaint itself.
    std::function<void()> repaint;
};

struct WindowList;

/// Keeps a window registered while it lives; move-only.
class WindowRegistration {
public:
    WindowRegistration() = default;
    WindowRegistration(std::weak_ptr<WindowList> list, std::uint64_t key)
        : m_list(std::move(list))
        , m_key(key) {}
    ~WindowRegistration() { reset(); }
    WindowRegistration(WindowRegistration &&other) noexcept;
    WindowRegistration &operator=(WindowRegistration &&other) noexcept;
    WindowRegistration(const WindowRegistration &) = delete;
    WindowRegistration &operator=(const WindowRegistration &) = delete;

    /// Takes the window off the list (a window that unloads).
    void reset();

private:
    std::weak_ptr<WindowList> m_list;
    std::uint64_t m_key = 0;
};

class modLocalize {
public:
    explicit modLocalize(Host &host);

    /// The language in use; 0 until first set.
    std::int32_t CurrentLangID() const { return m_currentLangId; }
    void setCurrentLangID(std::int32_t langId) { m_currentLangId = langId; }

    /// The loaded language library's path, "" when none is loaded.
    const std::string &hLangLib() const { return m_langLib; }

    /// Codes of the language libraries found by the last InitalizeLanguages, in the folder's
    /// listing order; one empty entry when none was found (and before the first call).
    const std::vector<std::string> &AvailableLanguages() const { return m_available; }

    /// Loads the library of the current language (the user's default language when none is
    /// set yet), lists the libraries beside the program and sets the language's fonts on
    /// every registered window. A failing step is reported and the next step runs.
    void InitalizeLanguages();

    /// The text with this string-table id: from the loaded library when it has the id (cut
    /// to 1199 UTF-16 code units), otherwise the program's own English text. An id the own
    /// table lacks is reported and gives "".
    std::string myLoadResString(std::uint32_t id);

    /// The library file of a language code: program folder \ executable name _ code .dll
    std::string languageLibraryPath(const std::string &code) const;

    /// The user's default language, from the locale the workstation reports.
    std::int32_t userDefaultLangId() const;

    /// The font rule of the current language.
    FontRule currentFontRule() const { return fontRuleFor(m_currentLangId); }

    /// Registers a window for fonts and text refreshes until the registration goes.
    [[nodiscard]] WindowRegistration registerWindow(LanguageWindow window);
    /// Names of the registered windows, in registration order.
    std::vector<std::string> registeredWindows() const;

    /// The language switch: busy pointer; the new language; InitalizeLanguages; then for each
    /// registered window its fonts, its _Auto_Init and a repaint; the default pointer again.
    /// Failures of a window's steps are passed over without a message.
    void switchLanguage(std::int32_t langId);

private:
    void loadLibrary();
    void listLanguages();
    void applyFontsToWindows();
    void reportInitFailure(const std::string &description);

    template <class Step> void initStep(Step &&step);

    Host &m_host;
    std::int32_t m_currentLangId = 0;
    std::string m_langLib;
    std::vector<std::string> m_available{""};
    std::shared_ptr<WindowList> m_windows;
};

} // namespace zeph::i18n
