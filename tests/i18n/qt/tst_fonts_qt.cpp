// The language fonts on real Qt widgets, and the switch over registered Qt windows.
#include "i18n/modLocalize.h"
#include "support/TempHost.h"
#include "ui/Fonts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

namespace {

const QString kMsPGothic = QString::fromUtf8("\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");

QApplication &app() {
    static int argc = 1;
    static char name[] = "test_i18n_ui";
    static char *argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication instance(argc, argv);
    return instance;
}

// A window with controls at several depths.
struct Window {
    std::unique_ptr<QWidget> form = std::make_unique<QWidget>();
    QLabel *label = new QLabel("Select Subscribers");
    QPushButton *button = new QPushButton("Next >>");
    QGroupBox *frame = new QGroupBox("Select Subscribers");
    QLineEdit *edit = new QLineEdit;

    Window() {
        auto *layout = new QVBoxLayout(form.get());
        layout->addWidget(label);
        layout->addWidget(button);
        auto *inner = new QVBoxLayout(frame);
        inner->addWidget(edit);
        layout->addWidget(frame);
    }
    std::vector<QWidget *> controls() const { return {form.get(), label, button, frame, edit}; }
};

class QtFonts : public ::testing::Test {
protected:
    void SetUp() override { app(); }
};

} // namespace

TEST_F(QtFonts, ControlKeepsCharsetAndFace) {
    QLabel label("x");
    EXPECT_EQ(zeph::ui::controlCharset(&label), -1);
    const QString defaultFace = QApplication::font(&label).family();

    zeph::ui::SetControlFont(&label, zeph::i18n::fontRuleFor(2052));
    EXPECT_EQ(zeph::ui::controlCharset(&label), 134);
    EXPECT_EQ(label.font().family(), QString::fromUtf8("\u5B8B\u4F53"));

    zeph::ui::SetControlFont(&label, zeph::i18n::fontRuleFor(1033));
    EXPECT_EQ(zeph::ui::controlCharset(&label), 1);
    EXPECT_EQ(label.font().family(), defaultFace) << "an empty face gives the default face";
    zeph::ui::SetControlFont(nullptr, zeph::i18n::fontRuleFor(1041)); // passed over
}

TEST_F(QtFonts, FormFontsReachEveryControlAndKeepSizes) {
    Window w;
    QFont bold = w.label->font();
    bold.setPointSize(17);
    bold.setBold(true);
    w.label->setFont(bold);
    zeph::ui::SetFormFonts(w.form.get(), zeph::i18n::fontRuleFor(1041));
    for (QWidget *control : w.controls()) {
        SCOPED_TRACE(control->metaObject()->className());
        EXPECT_EQ(zeph::ui::controlCharset(control), 128);
        EXPECT_EQ(control->font().family(), kMsPGothic);
    }
    EXPECT_EQ(w.label->font().pointSize(), 17);
    EXPECT_TRUE(w.label->font().bold());
}

TEST_F(QtFonts, SwitchReachesRegisteredWindowsAndSkipsDeletedOnes) {
    zeph::test::TempHost host(0);
    zeph::i18n::modLocalize loc(host.host());
    Window main;
    Window select;
    auto gone = std::make_unique<Window>();
    int autoInits = 0;
    auto r1 = zeph::ui::registerLanguageWindow(loc, main.form.get(), "frmMain");
    auto r2 = zeph::ui::registerLanguageWindow(loc, select.form.get(), "frmChooseSubscribers",
                                               [&] { ++autoInits; });
    auto r3 = zeph::ui::registerLanguageWindow(loc, gone->form.get(), "frmAbout");
    gone.reset(); // deleted while still registered

    loc.switchLanguage(1041);
    EXPECT_EQ(autoInits, 1);
    for (const Window *w : {&main, &select}) {
        for (QWidget *control : w->controls()) {
            EXPECT_EQ(zeph::ui::controlCharset(control), 128);
            EXPECT_EQ(control->font().family(), kMsPGothic);
        }
    }
    loc.switchLanguage(1033);
    EXPECT_EQ(autoInits, 2);
    for (QWidget *control : main.controls()) {
        EXPECT_EQ(zeph::ui::controlCharset(control), 1);
        EXPECT_EQ(control->font().family(), QApplication::font(control).family());
    }
    EXPECT_FALSE(host.ui().busy());
}
