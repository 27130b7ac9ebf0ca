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
