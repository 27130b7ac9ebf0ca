// zephrane: the wizard.
#include "app/MainPage.h"
#include "app/Program.h"
#include "standin/SimHost.h"
#include "ui/DrivenRun.h"
#include "ui/QtUserInterface.h"
#include "ui/Screenshots.h"
#include "ui/Wizard.h"

#include <QApplication>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

// Whether the system can make a window here at all. Where it cannot (a session without a
// display the system can draw on), every page and box of the wizard would stay invisible while
// the program waited for an answer to it: a frozen program with nothing on the screen.
bool windowsCanOpen() {
    QWindow probe;
    probe.create();
    return probe.handle() != nullptr;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zephrane"));
    if (!windowsCanOpen()) {
        std::cerr << "zephrane: cannot open a window: this session has no display the system "
                     "can draw on"
                  << std::endl;
        return zeph::kExitStartupFailed;
    }
    zeph::ui::QtUserInterface ui;
    zeph::IUserInterface &port = ui; // the port's default arguments

    auto notice = [](const std::string &text) { std::cerr << "zephrane: " << text << std::endl; };
    const zeph::Result<std::string> resolved = zeph::sim::resolveHostFolder(notice);
    if (!resolved) {
        port.messageBox(resolved.error(), zeph::MsgButtons::OK, zeph::MsgIcon::Critical);
        return zeph::kExitStartupFailed;
    }
    const std::string &folder = *resolved;
    auto host = zeph::sim::openHost(folder, [&port](const std::string &text) {
        std::cerr << "zephrane: " << text << std::endl;
        port.messageBox(text, zeph::MsgButtons::OK, zeph::MsgIcon::Warning);
    });
    host->ui = &ui;
    for (int i = 1; i < argc; ++i)
        host->commandLine += (i > 1 ? " " : "") + std::string(argv[i]);

    zeph::Program program(*host);
    // The program ends at once, wherever it is asked to; the run log is closed by then.
    program.exitHandler = [](int code) {
        std::fflush(nullptr);
        std::exit(code);
    };
    zeph::MainPage mainPage(program);
    // The wizard offers the recovery on a page of its own once it shows.
    mainPage.warnAboutUnfinishedResets = false;
    try {
        mainPage.Form_Load();
    } catch (const zeph::ProgramEnded &ended) {
        return ended.code();
    }
    zeph::Wizard wizard(program, mainPage);
    wizard.start();
    // scripts/screenshots: walk the pages, save a picture of each, and end.
    if (const QString shots = qEnvironmentVariable("ZEPHRANE_SCREENSHOTS"); !shots.isEmpty())
        zeph::takeScreenshots(wizard, shots);
    // tests/wine: a whole reset clicked through the windows.
    else if (const QString alias = qEnvironmentVariable("ZEPHRANE_DRIVE_RESET"); !alias.isEmpty())
        zeph::driveReset(wizard, mainPage, alias);
    return app.exec();
}
