#include "ui_helpers.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace zeph::test {

namespace {

QApplication *g_application = nullptr;

// The application goes when the tests are done, before the exit handlers take down the
// statics it still uses.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        delete g_application;
        g_application = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment *const g_environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

} // namespace

QApplication &testApplication() {
    if (auto *existing = qobject_cast<QApplication *>(QCoreApplication::instance()))
        return *existing;
    static int argc = 1;
    static char name[] = "test_ui";
    static char *argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_application = new QApplication(argc, argv);
    return *g_application;
}

} // namespace zeph::test
