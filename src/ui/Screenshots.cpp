#include "Screenshots.h"

#include "Wizard.h"
#include "app/frmMain.h"
#include "extras/frmHelp.h"
#include "reset/RecoveryPage.h"
#include "reset/ResetPage.h"
#include "reset/frmRecovery.h"
#include "reset/frmResetSubscribers.h"
#include "select/ChooseSubscribersPage.h"
#include "select/frmChooseSubscribers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <iostream>
#include <memory>
#include <vector>

namespace zeph {

namespace {

constexpr std::int32_t kJapanese = 1041;
constexpr std::int32_t kEnglish = 1033;

void save(QWidget *window, const QString &folder, const QString &name) {
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (window && window->grab().save(path))
        std::cout << path.toStdString() << "\n";
    else
        std::cerr << "zephrane: could not save " << path.toStdString() << "\n";
}

// Answers the boxes of a reset run as they open: the question (saved first) with Yes, the
// closing message with Cancel, so that no text viewer is started.
void answerRunBoxes(QObject *owner, const QString &folder) {
    auto *watch = new QTimer(owner);
    QObject::connect(watch, &QTimer::timeout, owner, [watch, folder] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box->text().startsWith(QString::fromUtf8(ResetPage::kConfirmation))) {
            save(box, folder, QStringLiteral("4-confirm"));
            box->button(QMessageBox::Yes)->click();
        } else if (box->button(QMessageBox::Cancel)) {
            box->button(QMessageBox::Cancel)->click();
            watch->deleteLater();
        }
    });
    watch->start(200);
}

// Runs the steps one after another from the event loop, each after the windows the one
// before it showed have been laid out and painted.
void runSteps(QObject *owner, std::shared_ptr<std::vector<std::function<void()>>> steps,
              std::size_t next = 0) {
    if (next >= steps->size())
        return;
    QTimer::singleShot(400, owner, [owner, steps, next] {
        (*steps)[next]();
        runSteps(owner, steps, next + 1);
    });
}

// Presses Stop once the run has finished its first subscriber and saves the page then.
void stopDuringTheRun(Wizard *w, const QString &folder) {
    auto *watch = new QTimer(w);
    QObject::connect(watch, &QTimer::timeout, w, [w, watch, folder] {
        ResetPage *page = w->resetPage();
        if (!page || !page->running() || page->ProgressBar.Value < 1)
            return;
        w->resetWindow()->cmdStop->click();
        save(w->resetWindow(), folder, QStringLiteral("5-stop"));
        watch->deleteLater();
    });
    watch->start(50);
}

// Presses the recovery page's Stop once its first subscriber is done and saves the page then.
void stopDuringTheRecovery(Wizard *w, const QString &folder) {
    auto *watch = new QTimer(w);
    QObject::connect(watch, &QTimer::timeout, w, [w, watch, folder] {
        RecoveryPage *page = w->recoveryPage();
        if (!page || !page->running() || page->progress.done() < 1)
            return;
        w->recoveryWindow()->cmdStop->click();
        save(w->recoveryWindow(), folder, QStringLiteral("0-recovery-stop"));
        watch->deleteLater();
    });
    watch->start(50);
}

// Answers the recovery's question with Yes and its closing message with OK.
void answerRecoveryBoxes(QObject *owner) {
    auto *watch = new QTimer(owner);
    QObject::connect(watch, &QTimer::timeout, owner, [watch] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (QAbstractButton *yes = box->button(QMessageBox::Yes)) {
            yes->click();
        } else if (QAbstractButton *ok = box->button(QMessageBox::Ok)) {
            ok->click();
            watch->deleteLater();
        }
    });
    watch->start(200);
}

} // namespace

void takeScreenshots(Wizard &wizard, const QString &folder) {
    QDir().mkpath(folder);
    Wizard *w = &wizard;
    auto steps = std::make_shared<std::vector<std::function<void()>>>();
    // A start that found an interrupted run shows the recovery page first.
    steps->push_back([w, folder] {
        if (!w->recoveryWindow())
            return;
        save(w->recoveryWindow(), folder, QStringLiteral("0-recovery"));
        answerRecoveryBoxes(w);
        stopDuringTheRecovery(w, folder);
        w->recoveryWindow()->cmdRecover->click();
    });
    steps->push_back([w, folder] {
        if (!w->recoveryWindow())
            return;
        save(w->recoveryWindow(), folder, QStringLiteral("0-recovered"));
        w->recoveryWindow()->cmdClose->click();
    });
    steps->push_back([w, folder] {
        w->mainWindow()->cmbTemplateListDisplayName->setCurrentIndex(0);
        save(w->mainWindow(), folder, QStringLiteral("1-template"));
        w->mainNext();
    });
    steps->push_back([w, folder] {
        frmChooseSubscribers *choose = w->chooseWindow();
        choose->cmdView->click();
        // A few unticked rows show in the count beside the grid.
        SubscriberGrid &grid = w->choosePage()->myGrid;
        for (int row = 2; row < std::min(grid.Rows(), 5); ++row)
            grid.setChecked(row, false);
    });
    steps->push_back([w, folder] {
        save(w->chooseWindow(), folder, QStringLiteral("2-subscribers"));
        w->localize().switchLanguage(kJapanese);
    });
    steps->push_back([w, folder] {
        save(w->chooseWindow(), folder, QStringLiteral("2-subscribers-ja"));
        w->localize().switchLanguage(kEnglish);
        // A short run: five subscribers.
        SubscriberGrid &grid = w->choosePage()->myGrid;
        grid.deselectAll();
        for (int row = 1; row < std::min(grid.Rows(), 6); ++row)
            grid.setChecked(row, true);
        w->chooseWindow()->cmdNext->click();
    });
    steps->push_back([w, folder] {
        save(w->resetWindow(), folder, QStringLiteral("3-reset"));
        answerRunBoxes(w, folder);
        stopDuringTheRun(w, folder);
        w->resetWindow()->cmdResetSubscribers->click();
    });
    steps->push_back([w, folder] {
        save(w->resetWindow(), folder, QStringLiteral("5-results"));
        w->localize().switchLanguage(kJapanese);
    });
    steps->push_back([w, folder] {
        save(w->resetWindow(), folder, QStringLiteral("5-results-ja"));
        w->localize().switchLanguage(kEnglish);
        w->showHelp();
    });
    steps->push_back([w, folder] {
        save(w->helpWindow(), folder, QStringLiteral("6-help"));
        QApplication::quit();
    });
    runSteps(w, steps);
}

} // namespace zeph
