// The language switch: windows that registered themselves get fonts, texts and a repaint.
#include "i18n/modLocalize.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef ZEPH_LANGUAGE_LIBRARIES
#define ZEPH_LANGUAGE_LIBRARIES 0
#endif

using zeph::i18n::FontRule;
using zeph::i18n::LanguageWindow;
using zeph::i18n::modLocalize;
using zeph::i18n::WindowRegistration;

namespace {

// A window page as the switch sees it: controls with a font and a caption each.
struct FakeControl {
    std::string caption;
    std::optional<int> charset;
    std::string face;
};

struct FakeWindow {
    std::string name;
    std::vector<FakeControl> controls;
    std::vector<std::string> *events = nullptr;

    LanguageWindow entry(std::function<void()> autoInit = {}) {
        LanguageWindow w;
        w.name = name;
        w.setFormFonts = [this](const FontRule &rule) {
            events->push_back(name + ".fonts(" + std::to_string(rule.charset) + ")");
            for (auto &c : controls) {
                c.charset = rule.charset;
                c.face = rule.face;
            }
        };
        if (autoInit) {
            w.autoInit = [this, autoInit] {
                events->push_back(name + "_Auto_Init");
                autoInit();
            };
        }
        w.repaint = [this] { events->push_back(name + ".repaint"); };
        return w;
    }
};

class Switch : public ::testing::Test {
protected:
    zeph::test::TempHost m_host{0};
    modLocalize m_loc{m_host.host()};
    std::vector<std::string> m_events;

    FakeWindow window(std::string name, std::vector<std::string> captions) {
        FakeWindow w{std::move(name), {}, &m_events};
        for (auto &c : captions)
            w.controls.push_back({std::move(c), std::nullopt, ""});
        return w;
    }
};

} // namespace

TEST_F(Switch, RunsItsStepsInOrderUnderTheBusyPointer) {
    FakeWindow main = window("frmMain", {"Next >>"});
    FakeWindow select = window("frmChooseSubscribers", {"Select Subscribers"});
    FakeWindow about = window("frmAbout", {"OK"});
    auto r1 = m_loc.registerWindow(main.entry());
    auto r2 = m_loc.registerWindow(select.entry([] {}));
    auto r3 = m_loc.registerWindow(about.entry());
    EXPECT_EQ(m_loc.registeredWindows(),
              (std::vector<std::string>{"frmMain", "frmChooseSubscribers", "frmAbout"}));

    m_loc.switchLanguage(1041);
    const std::vector<std::string> expected = {
        // InitalizeLanguages sets the fonts on every window ...
        "frmMain.fonts(128)", "frmChooseSubscribers.fonts(128)", "frmAbout.fonts(128)",
        // ... then each window in turn: fonts, its _Auto_Init if it has one, repaint.
        "frmMain.fonts(128)", "frmMain.repaint", "frmChooseSubscribers.fonts(128)",
        "frmChooseSubscribers_Auto_Init", "frmChooseSubscribers.repaint", "frmAbout.fonts(128)",
        "frmAbout.repaint"};
    EXPECT_EQ(m_events, expected);
    EXPECT_EQ(m_loc.CurrentLangID(), 1041);
    EXPECT_FALSE(m_host.ui().busy());
    EXPECT_EQ(m_host.ui().busyChanges(), 2);
    EXPECT_TRUE(m_host.ui().boxes().empty()) << "the switch shows no message";
}

TEST_F(Switch, JapaneseFontsOnEveryControlAndBackToEnglish) {
    FakeWindow main = window("frmMain", {"a", "b"});
    FakeWindow select = window("frmChooseSubscribers", {"c", "d", "e"});
    auto r1 = m_loc.registerWindow(main.entry());
    auto r2 = m_loc.registerWindow(select.entry());

    m_loc.switchLanguage(1041);
    for (const FakeWindow *w : {&main, &select}) {
        for (const auto &c : w->controls) {
            EXPECT_EQ(c.charset, 128);
            EXPECT_EQ(c.face, "\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");
        }
    }
    m_loc.switchLanguage(1033);
    for (const FakeWindow *w : {&main, &select}) {
        for (const auto &c : w->controls) {
            EXPECT_EQ(c.charset, 1);
            EXPECT_EQ(c.face, "");
        }
    }
}

TEST_F(Switch, InitalizeLanguagesSetsFontsOnlyAndKeepsTexts) {
    FakeWindow select = window("frmChooseSubscribers", {"x"});
    bool autoInitRan = false;
    auto r = m_loc.registerWindow(select.entry([&] { autoInitRan = true; }));
    m_loc.setCurrentLangID(2052);
    m_loc.InitalizeLanguages();
    EXPECT_EQ(m_events, std::vector<std::string>{"frmChooseSubscribers.fonts(134)"});
    EXPECT_FALSE(autoInitRan);
    EXPECT_EQ(m_loc.currentFontRule().charset, 134);
}

TEST_F(Switch, WindowsThatWentAreNotCalled) {
    FakeWindow main = window("frmMain", {"a"});
    FakeWindow select = window("frmChooseSubscribers", {"b"});
    auto keep = m_loc.registerWindow(main.entry());
    {
        auto gone = m_loc.registerWindow(select.entry());
        WindowRegistration moved = std::move(gone);
        EXPECT_EQ(m_loc.registeredWindows().size(), 2u);
    }
    EXPECT_EQ(m_loc.registeredWindows(), std::vector<std::string>{"frmMain"});
    m_loc.switchLanguage(1042);
    for (const auto &e : m_events)
        EXPECT_EQ(e.rfind("frmMain", 0), 0u) << e;
    EXPECT_FALSE(select.controls[0].charset) << "a window not loaded keeps its fonts";
}

TEST_F(Switch, AWindowUnloadedDuringTheSwitchIsPassedOver) {
    FakeWindow main = window("frmMain", {"a"});
    FakeWindow select = window("frmChooseSubscribers", {"b"});
    WindowRegistration selectRegistration;
    // The first window's refresh unloads the second one.
    auto r1 = m_loc.registerWindow(main.entry([&] { selectRegistration.reset(); }));
    selectRegistration = m_loc.registerWindow(select.entry());
    m_loc.switchLanguage(1028);
    EXPECT_EQ(m_events.back(), "frmMain.repaint");
    EXPECT_EQ(m_loc.registeredWindows(), std::vector<std::string>{"frmMain"});
}

TEST_F(Switch, FailingStepsArePassedOverWithoutAMessage) {
    FakeWindow main = window("frmMain", {"a"});
    FakeWindow select = window("frmChooseSubscribers", {"b"});
    LanguageWindow broken = main.entry([] { throw std::runtime_error("no such control"); });
    broken.setFormFonts = [](const FontRule &) { throw std::runtime_error("no font"); };
    broken.repaint = nullptr; // a window that cannot repaint
    auto r1 = m_loc.registerWindow(broken);
    auto r2 = m_loc.registerWindow(select.entry([] {}));
    m_loc.switchLanguage(1041);
    EXPECT_EQ(select.controls[0].charset, 128);
    EXPECT_EQ(m_events.back(), "frmChooseSubscribers.repaint");
    EXPECT_TRUE(m_host.ui().boxes().empty());
    EXPECT_FALSE(m_host.ui().busy());
}

// The selection window re-reads its captions and grid headers; the other windows have fixed
// English texts and no _Auto_Init.
TEST_F(Switch, SelectionWindowTakesTheNewLanguageOthersKeepEnglish) {
    if (!ZEPH_LANGUAGE_LIBRARIES)
        GTEST_SKIP() << "this build has no MinGW resource compiler";
    for (const char *code : {"DEU", "JPN"}) {
        const std::string name = std::string("zephrane_") + code + ".dll";
        std::filesystem::copy_file(std::string(ZEPH_BIN_DIR) + "/" + name,
                                   m_host.programFolder() + "/" + name);
    }
    FakeWindow main = window("frmMain", {"Next >>", "Exit"});
    FakeWindow select = window("frmChooseSubscribers", {});
    const std::vector<std::uint32_t> ids = {237, 24,  230, 299, 98,  289, 30,
                                            110, 134, 139, 170, 155, 79};
    // frmChooseSubscribers_Auto_Init: its fonts and texts for the current language.
    auto autoInit = [&] {
        const FontRule rule = m_loc.currentFontRule();
        select.controls.clear();
        for (auto id : ids)
            select.controls.push_back({m_loc.myLoadResString(id), rule.charset, rule.face});
    };
    autoInit(); // Form_Load
    auto r1 = m_loc.registerWindow(main.entry());
    auto r2 = m_loc.registerWindow(select.entry(autoInit));
    EXPECT_EQ(select.controls[0].caption, "Select Subscribers");

    m_loc.switchLanguage(1031);
    EXPECT_EQ(select.controls[0].caption, "Teilnehmer ausw\u00e4hlen");
    EXPECT_EQ(select.controls[7].caption, "Anzeigename");
    EXPECT_EQ(select.controls[8].caption, "Durchwahl");
    EXPECT_EQ(main.controls[0].caption, "Next >>");

    m_loc.switchLanguage(1041);
    EXPECT_EQ(select.controls[0].caption, "\u52a0\u5165\u8005\u306e\u9078\u629e");
    EXPECT_EQ(select.controls[0].charset, 128);
    EXPECT_EQ(main.controls[1].caption, "Exit");
    EXPECT_EQ(main.controls[1].charset, 128);

    m_loc.switchLanguage(1033); // no English library: the own table
    EXPECT_EQ(m_loc.hLangLib(), "");
    EXPECT_EQ(select.controls[0].caption, "Select Subscribers");
    EXPECT_EQ(m_loc.AvailableLanguages().size(), 2u);
}
