#include "Screenshots.h"

#include "Wizard.h"
#include "app/frmMain.h"
#include "extras/frmHelp.h"
#include "reset/frmResetSubscribers.h"
#include "select/frmChooseSubscribers.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <iostream>

namespace zeph {

namespace {

void save(QWidget *window, const QString &folder, const QString &name) {
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (window && window->grab().save(path))
        std::cout << path.toStdString() << "\n";
    else
        std::cerr << "zephrane: could not save " << path.toStdString() << "\n";
}

} // namespace

void takeScreenshots(Wizard &wizard, const QString &folder) {
    QDir().mkpath(folder);
    // Each step runs from the event loop, after the windows have been laid out and painted.
    QTimer::singleShot(300, &wizard, [&wizard, folder] {
        frmMain *main = wizard.mainWindow();
        main->cmbTemplateListDisplayName->setCurrentIndex(0);
        save(main, folder, QStringLiteral("1-template"));
        wizard.mainNext();
        QTimer::singleShot(300, &wizard, [&wizard, folder] {
            frmChooseSubscribers *choose = wizard.chooseWindow();
            choose->cmdView->click();
            QApplication::processEvents();
            save(choose, folder, QStringLiteral("2-subscribers"));
            choose->cmdNext->click();
            QTimer::singleShot(300, &wizard, [&wizard, folder] {
                save(wizard.resetWindow(), folder, QStringLiteral("3-reset"));
                wizard.showHelp();
                QTimer::singleShot(500, &wizard, [&wizard, folder] {
                    save(wizard.helpWindow(), folder, QStringLiteral("4-help"));
                    QApplication::quit();
                });
            });
        });
    });
}

} // namespace zeph
