// zephrane: the wizard.
#include "platform/posix/Posix.h"
#include "platform/sim/SimHost.h"
#include "ui/QtUserInterface.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <iostream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zephrane"));
    zeph::ui::QtUserInterface ui;

    std::string error;
    auto notice = [](const std::string &text) { std::cerr << "zephrane: " << text << std::endl; };
    std::string folder = zeph::sim::resolveHostFolder(notice, error);
    if (folder.empty()) {
        ui.messageBox(error, zeph::MsgButtons::OK, zeph::MsgIcon::Critical);
        return 2;
    }
    auto host = zeph::sim::openHost(folder, notice);
    host->ui = &ui;
    for (int i = 1; i < argc; ++i)
        host->commandLine += (i > 1 ? " " : "") + std::string(argv[i]);

    QLabel window(QStringLiteral("Zephrane"));
    window.setWindowTitle(QStringLiteral("Zephrane"));
    window.resize(480, 320);
    window.show();
    return app.exec();
}
