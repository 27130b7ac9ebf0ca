// The language fonts on real Qt widgets, and the switch over registered Qt windows.
#include "i18n/modLocalize.h"
#include "support/TempHost.h"
#include "ui/Fonts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <memory>

namespace {

const QString kMsPGothic = QString::fromUtf8("\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");

void startApplication() {
    static int argc = 1;
    static char name[] = "test_i18n_ui";
    static char *argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication instance(argc, argv);
}

// A window with controls at several depths; the label's font is bold and larger.
struct Window {
    std::unique_ptr<QWidget> form = std::make_unique<QWidget>();
    QLabel *label = new QLabel("Select Subscribers");
    QGroupBox *frame = new QGroupBox("Select Subscribers");
    QLineEdit *edit = new QLineEdit;

    Window() {
        auto *layout = new QVBoxLayout(form.get());
        layout->addWidget(label);
        layout->addWidget(frame);
        (new QVBoxLayout(frame))->addWidget(edit);
        QFont bold = label->font();
        bold.setPointSize(17);
        bold.setBold(true);
        label->setFont(bold);
    }
    void expectFonts(int charset, const QString &face) const {
        for (QWidget *control : {form.get(), static_cast<QWidget *>(label),
                                 static_cast<QWidget *>(frame), static_cast<QWidget *>(edit)}) {
            SCOPED_TRACE(control->metaObject()->className());
            EXPECT_EQ(zeph::ui::controlCharset(control), charset);
            EXPECT_EQ(control->font().family(),
                      face.isEmpty() ? QApplication::font(control).family() : face);
        }
        EXPECT_EQ(label->font().pointSize(), 17);
        EXPECT_TRUE(label->font().bold());
    }
};

} // namespace

TEST(QtFonts, ControlKeepsCharsetAndFace) {
    startApplication();
    QLabel label("x");
    EXPECT_EQ(zeph::ui::controlCharset(&label), -1);
    zeph::ui::SetControlFont(&label, zeph::i18n::fontRuleFor(2052));
    EXPECT_EQ(zeph::ui::controlCharset(&label), 134);
    EXPECT_EQ(label.font().family(), QString::fromUtf8("\u5B8B\u4F53"));
    zeph::ui::SetControlFont(nullptr, zeph::i18n::fontRuleFor(1041)); // passed over
}

TEST(QtFonts, SwitchReachesEveryControlOfRegisteredWindowsAndSkipsDeletedOnes) {
    startApplication();
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
    main.expectFonts(128, kMsPGothic);
    select.expectFonts(128, kMsPGothic);
    loc.switchLanguage(1033); // an empty face gives the default face
    EXPECT_EQ(autoInits, 2);
    main.expectFonts(1, "");
    EXPECT_FALSE(host.ui().busy());
}
