#include "modLocalize.h"
#include "platform/AsciiText.h"

#include "OwnStrings.h"
#include "Utf16.h"
#include "platform/Error.h"

#include <cctype>
#include <new>
#include <utility>

namespace zeph::i18n {

struct WindowList {
    std::uint64_t nextKey = 1;
    std::vector<std::pair<std::uint64_t, LanguageWindow>> entries;

    const LanguageWindow *find(std::uint64_t key) const {
        for (const auto &[k, window] : entries) {
            if (k == key)
                return &window;
        }
        return nullptr;
    }

    // The windows' keys as they stand now: a window's own step may change the list.
    std::vector<std::uint64_t> keys() const {
        std::vector<std::uint64_t> out;
        for (const auto &entry : entries)
            out.push_back(entry.first);
        return out;
    }
};

WindowRegistration::WindowRegistration(WindowRegistration &&other) noexcept
    : m_list(std::move(other.m_list))
    , m_key(std::exchange(other.m_key, 0)) {}

WindowRegistration &WindowRegistration::operator=(WindowRegistration &&other) noexcept {
    if (this != &other) {
        reset();
        m_list = std::move(other.m_list);
        m_key = std::exchange(other.m_key, 0);
    }
    return *this;
}

void WindowRegistration::reset() {
    if (auto list = m_list.lock()) {
        std::erase_if(list->entries, [this](const auto &entry) { return entry.first == m_key; });
    }
    m_list.reset();
    m_key = 0;
}

namespace {

// Steps back over one UTF-8 character that ends at `end`; returns where it starts.
std::size_t previousCharacter(std::string_view text, std::size_t end) {
    std::size_t pos = end - 1;
    while (pos > 0 && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80)
        --pos;
    return pos;
}

// The three characters that stand before the last four characters of a file name (the code
// of "zephrane_DEU.dll"); nothing when the name is too short to hold them.
std::optional<std::string> codeOfLibraryName(std::string_view name) {
    std::size_t end = name.size();
    for (int i = 0; i < 4; ++i) {
        if (end == 0)
            return std::nullopt;
        end = previousCharacter(name, end);
    }
    std::size_t begin = end;
    for (int i = 0; i < 3; ++i) {
        if (begin == 0)
            return std::nullopt;
        begin = previousCharacter(name, begin);
    }
    return std::string(name.substr(begin, end - begin));
}

// Runs one callback of a window; the language switch passes over whatever fails in it.
template <class Callback, class... Args> void quietly(const Callback &callback, Args &&...args) {
    if (!callback)
        return;
    try {
        callback(std::forward<Args>(args)...);
    } catch (...) {
        // A window or control that cannot take the step is passed over.
    }
}

} // namespace

modLocalize::modLocalize(Host &host)
    : m_host(host)
    , m_windows(std::make_shared<WindowList>()) {}

template <class Step> void modLocalize::initStep(Step &&step) {
    try {
        step();
    } catch (const Error &e) {
        reportInitFailure(e.description());
    } catch (const std::bad_alloc &) {
        reportInitFailure("Out of memory");
    } catch (const std::exception &e) {
        reportInitFailure(e.what());
    }
}

void modLocalize::reportInitFailure(const std::string &description) {
    if (m_host.ui)
        m_host.ui->messageBox("Error in InitalizeLanguages: " + description, MsgButtons::OK);
}

void modLocalize::InitalizeLanguages() {
    initStep([this] {
        if (m_currentLangId == 0)
            m_currentLangId = userDefaultLangId();
    });
    initStep([this] { loadLibrary(); });
    initStep([this] { listLanguages(); });
    initStep([this] { applyFontsToWindows(); });
}

std::int32_t modLocalize::userDefaultLangId() const {
    if (!m_host.workstation)
        return kEnglishUs;
    return langIdFromLocale(m_host.workstation->userLocale());
}

std::string modLocalize::languageLibraryPath(const std::string &code) const {
    return m_host.programFolder + "\\" + m_host.exeName + "_" + code + ".dll";
}

void modLocalize::loadLibrary() {
    // The library is only ever read as data; "loading" it is noting which file to read.
    m_langLib.clear();
    const std::string path = languageLibraryPath(LangIdToCode(m_currentLangId));
    if (m_host.files && m_host.files->fileExists(path))
        m_langLib = path;
}

void modLocalize::listLanguages() {
    // The list is never left without its one entry, even when the listing fails.
    m_available.assign(1, "");
    if (!m_host.files)
        return;
    const std::string prefix = lowerAscii(m_host.exeName + "_");
    std::vector<std::string> found;
    for (const FileEntry &file : m_host.files->listFiles(m_host.programFolder)) {
        const std::string name = lowerAscii(file.name);
        if (!name.starts_with(prefix) || !name.ends_with("dll"))
            continue;
        if (auto code = codeOfLibraryName(file.name))
            found.push_back(*code);
    }
    if (!found.empty())
        m_available = std::move(found);
}

void modLocalize::applyFontsToWindows() {
    const FontRule rule = currentFontRule();
    for (std::uint64_t key : m_windows->keys()) {
        if (const LanguageWindow *window = m_windows->find(key)) {
            auto setFonts = window->setFormFonts; // the call may unregister the window
            quietly(setFonts, rule);
        }
    }
}

std::string modLocalize::myLoadResString(std::uint32_t id) {
    if (!m_langLib.empty() && m_host.resources) {
        std::optional<std::string> text;
        try {
            text = m_host.resources->loadString(m_langLib, id);
        } catch (const std::exception &) {
            // A library that cannot be read serves nothing; the own table does.
        }
        if (text && !text->empty())
            return cutToUtf16Units(*text, kMaxResStringUnits);
    }
    if (auto own = ownString(id))
        return std::string(*own);
    if (m_host.ui) {
        m_host.ui->messageBox("error in myLoadResString: Resource with identifier '" +
                                  std::to_string(id) + "' not found",
                              MsgButtons::OK);
    }
    return {};
}

WindowRegistration modLocalize::registerWindow(LanguageWindow window) {
    const std::uint64_t key = m_windows->nextKey++;
    m_windows->entries.emplace_back(key, std::move(window));
    return WindowRegistration(m_windows, key);
}

std::vector<std::string> modLocalize::registeredWindows() const {
    std::vector<std::string> names;
    for (const auto &entry : m_windows->entries)
        names.push_back(entry.second.name);
    return names;
}

void modLocalize::switchLanguage(std::int32_t langId) {
    if (m_host.ui)
        m_host.ui->setBusy(true);
    m_currentLangId = langId;
    InitalizeLanguages();

    const FontRule rule = currentFontRule();
    for (std::uint64_t key : m_windows->keys()) {
        const LanguageWindow *window = m_windows->find(key);
        if (!window)
            continue; // unloaded by an earlier window's refresh
        // Copies: a window's own step may unregister it.
        LanguageWindow steps = *window;
        quietly(steps.setFormFonts, rule);
        quietly(steps.autoInit);
        quietly(steps.repaint);
    }

    if (m_host.ui)
        m_host.ui->setBusy(false);
}

} // namespace zeph::i18n
