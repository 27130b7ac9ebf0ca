// The language fonts on real Qt widgets, and the switch over registered Qt windows.
#include "i18n/modLocalize.h"
#include "support/TempHost.h"
#include "ui/Fonts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

TEST(QtFonts, SwitchReachesEveryControlOfRegisteredWindowsAndSkipsDeletedOnes) {
    static int argc = 1;
    static char name[] = "test_i18n_ui", *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    zeph::test::TempHost host(0);
    zeph::i18n::modLocalize loc(host.host());
    QWidget form; // a window with controls at several depths; the label's font is bold and larger.
    auto *label = new QLabel("Select Subscribers");
    auto *frame = new QGroupBox("Select Subscribers");
    auto *edit = new QLineEdit;
    (new QVBoxLayout(&form))->addWidget(label);
    form.layout()->addWidget(frame);
    (new QVBoxLayout(frame))->addWidget(edit);
    label->setFont(QFont("Sans", 17, QFont::Bold));
    int autoInits = 0;
    auto r1 = zeph::ui::registerLanguageWindow(loc, &form, "frmMain", [&] { ++autoInits; });
    auto gone = std::make_unique<QWidget>();
    auto r2 = zeph::ui::registerLanguageWindow(loc, gone.get(), "frmAbout");
    gone.reset(); // deleted while still registered

    for (const auto &[langId, charset, face] :
         {std::tuple(1041, 128, QString::fromUtf8("\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF")),
          std::tuple(1033, 1, QString())}) { // an empty face gives the default face
        loc.switchLanguage(langId);
        for (QWidget *control : {&form, static_cast<QWidget *>(label),
                                 static_cast<QWidget *>(frame), static_cast<QWidget *>(edit)}) {
            EXPECT_EQ(zeph::ui::controlCharset(control), charset) << langId;
            EXPECT_EQ(control->font().family(),
                      face.isEmpty() ? QApplication::font(control).family() : face);
        }
        EXPECT_EQ(label->font().pointSize(), 17);
        EXPECT_TRUE(label->font().bold());
    }
    EXPECT_EQ(autoInits, 2);
    // A machine without the Windows face shows Japanese in an installed Japanese face.
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    const QStringList families = zeph::ui::fontFamiliesFor(zeph::i18n::fontRuleFor(1041));
    if (japanese.isEmpty()) {
        EXPECT_EQ(families.size(), 1);
    } else {
        ASSERT_EQ(families.size(), 2);
        EXPECT_TRUE(japanese.contains(families[1])) << families[1].toStdString();
    }
    EXPECT_EQ(zeph::ui::fontFamiliesFor(zeph::i18n::fontRuleFor(1033)), QStringList{QString()});
    zeph::ui::SetControlFont(nullptr, zeph::i18n::fontRuleFor(1041)); // passed over
}
