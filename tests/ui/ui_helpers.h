#pragma once
// One QApplication for the test program, offscreen; deleted before the exit handlers run.

#include <QApplication>
#include <gtest/gtest.h>

namespace zeph::test {

inline QApplication *g_application = nullptr;

struct ApplicationEnvironment : ::testing::Environment {
    void TearDown() override {
        delete g_application;
        g_application = nullptr;
    }
};

inline ::testing::Environment *const g_environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

/// A button's text without its Alt key marker.
inline QString plainText(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == QLatin1Char('&'))
            text.remove(i, 1); // a doubled one leaves one, which the loop then passes
    // Japanese, Chinese and Korean captions carry their key as "(&X)" after the text.
    if (text.size() >= 3 && text.endsWith(QLatin1Char(')')) &&
        text[text.size() - 3] == QLatin1Char('('))
        text.chop(3);
    return text;
}

/// Lets the event loop lay out and paint what changed.
inline void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

inline QApplication &testApplication() {
    static int argc = 1;
    static char *argv[] = {const_cast<char *>("test_ui"), nullptr};
    if (!g_application) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        g_application = new QApplication(argc, argv);
    }
    return *g_application;
}

} // namespace zeph::test
