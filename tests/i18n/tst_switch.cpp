// The language switch: windows that registered themselves get fonts, texts and a repaint.
#include "i18n/modLocalize.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

using namespace zeph::i18n;
using Events = std::vector<std::string>;

namespace {

// A window as the switch sees it: one font for all its controls.
struct FakeWindow {
    FakeWindow(std::string n, Events *e)
        : name(std::move(n))
        , events(e) {}

    LanguageWindow entry(std::function<void()> autoInit = {}) {
        LanguageWindow w;
        w.name = name;
        w.setFormFonts = [this](const FontRule &rule) {
            events->push_back(name + ".fonts(" + std::to_string(rule.charset) + ")");
            charset = rule.charset;
            face = rule.face;
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

    std::string name;
    Events *events;
    int charset = 0;
    std::string face;
};

class Switch : public ::testing::Test {
protected:
    zeph::test::TempHost m_host{0};
    modLocalize m_loc{m_host.host()};
    Events m_events;
    FakeWindow m_main{"frmMain", &m_events};
    FakeWindow m_select{"frmChooseSubscribers", &m_events};
};

} // namespace

TEST_F(Switch, RunsItsStepsInOrderUnderTheBusyPointer) {
    FakeWindow about{"frmAbout", &m_events};
    auto r1 = m_loc.registerWindow(m_main.entry());
    auto r2 = m_loc.registerWindow(m_select.entry([] {}));
    auto r3 = m_loc.registerWindow(about.entry());
    m_loc.switchLanguage(1041);
    const Events expected = {
        // InitalizeLanguages sets the fonts on every window ...
        "frmMain.fonts(128)", "frmChooseSubscribers.fonts(128)", "frmAbout.fonts(128)",
        // ... then each window in turn: fonts, its _Auto_Init if it has one, repaint.
        "frmMain.fonts(128)", "frmMain.repaint", "frmChooseSubscribers.fonts(128)",
        "frmChooseSubscribers_Auto_Init", "frmChooseSubscribers.repaint", "frmAbout.fonts(128)",
        "frmAbout.repaint"};
    EXPECT_EQ(m_events, expected);
    EXPECT_EQ(m_main.face, "\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");
    EXPECT_FALSE(m_host.ui().busy());
    EXPECT_EQ(m_host.ui().busyChanges(), 2);
    EXPECT_TRUE(m_host.ui().boxes().empty()) << "the switch shows no message";

    m_loc.switchLanguage(1033);
    EXPECT_EQ(m_select.charset, 1);
    EXPECT_EQ(m_select.face, "");
    m_events.clear();
    m_loc.setCurrentLangID(2052);
    m_loc.InitalizeLanguages(); // fonts only, the texts stay
    EXPECT_EQ(m_events, (Events{"frmMain.fonts(134)", "frmChooseSubscribers.fonts(134)",
                                "frmAbout.fonts(134)"}));
}

TEST_F(Switch, WindowsThatWentAreNotCalled) {
    auto keep = m_loc.registerWindow(m_main.entry());
    {
        auto gone = m_loc.registerWindow(m_select.entry());
        WindowRegistration moved = std::move(gone);
        EXPECT_EQ(m_loc.registeredWindows(), (Events{"frmMain", "frmChooseSubscribers"}));
    }
    EXPECT_EQ(m_loc.registeredWindows(), Events{"frmMain"});
    m_loc.switchLanguage(1042);
    EXPECT_EQ(m_select.charset, 0) << "a window not loaded keeps its fonts";

    // A window unloaded by an earlier window's refresh during the switch is passed over.
    keep.reset();
    WindowRegistration selectRegistration;
    auto unloading = m_loc.registerWindow(m_main.entry([&] { selectRegistration.reset(); }));
    selectRegistration = m_loc.registerWindow(m_select.entry());
    m_events.clear();
    m_loc.switchLanguage(1028);
    EXPECT_EQ(m_events.back(), "frmMain.repaint");
    EXPECT_EQ(std::count(m_events.begin(), m_events.end(), "frmChooseSubscribers.repaint"), 0);
}

TEST_F(Switch, FailingStepsArePassedOverWithoutAMessage) {
    LanguageWindow broken = m_main.entry([] { throw std::runtime_error("no such control"); });
    broken.setFormFonts = [](const FontRule &) { throw std::runtime_error("no font"); };
    broken.repaint = nullptr; // a window that cannot repaint
    auto r1 = m_loc.registerWindow(broken);
    auto r2 = m_loc.registerWindow(m_select.entry([] {}));
    m_loc.switchLanguage(1041);
    EXPECT_EQ(m_select.charset, 128);
    EXPECT_EQ(m_events.back(), "frmChooseSubscribers.repaint");
    EXPECT_TRUE(m_host.ui().boxes().empty());
    EXPECT_FALSE(m_host.ui().busy());
}
