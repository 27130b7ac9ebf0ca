#include "DrivenRun.h"

#include "Wizard.h"
#include "app/MainPage.h"
#include "app/frmMain.h"
#include "reset/ResetPage.h"
#include "reset/frmResetSubscribers.h"
#include "select/ChooseSubscribersPage.h"
#include "select/frmChooseSubscribers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace zeph {

namespace {

constexpr int kStepFailed = 3;

[[noreturn]] void stepFailed(const std::string &why) {
    std::cerr << "zephrane: the driven run cannot go on: " << why << std::endl;
    std::fflush(nullptr);
    std::exit(kStepFailed);
}

void press(QPushButton *button, const char *what) {
    if (!button || !button->isVisible() || !button->isEnabled())
        stepFailed(std::string(what) + " cannot be pressed");
    button->click();
}

// The steps run one after another from the event loop, each once the windows the one before
// it opened have been shown; a step that returns false is tried again a little later (a run
// under way, a box not open yet).
using Step = std::function<bool()>;

void runSteps(QObject *owner, std::shared_ptr<std::vector<Step>> steps, std::size_t next = 0) {
    if (next >= steps->size())
        return;
    QTimer::singleShot(100, owner, [owner, steps, next] {
        const bool done = (*steps)[next]();
        runSteps(owner, steps, done ? next + 1 : next);
    });
}

// Answers the reset's boxes while they open: the question with Yes; the closing message (OK
// and Cancel) is printed and answered with Cancel, so that no text viewer starts.
void answerRunBoxes(QObject *owner, std::shared_ptr<bool> closed) {
    auto *watch = new QTimer(owner);
    QObject::connect(watch, &QTimer::timeout, owner, [watch, closed] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box->text().startsWith(QString::fromUtf8(ResetPage::kConfirmation))) {
            box->button(QMessageBox::Yes)->click();
        } else if (QAbstractButton *cancel = box->button(QMessageBox::Cancel)) {
            std::cout << box->text().toStdString() << std::endl;
            cancel->click();
            *closed = true;
            watch->deleteLater();
        } else {
            stepFailed("a box came up that a reset run does not show: " +
                       box->text().toStdString());
        }
    });
    watch->start(50);
}

} // namespace

void driveReset(Wizard &wizard, const MainPage &mainPage, const QString &templateAlias) {
    Wizard *w = &wizard;
    const MainPage *page = &mainPage;
    const std::string alias = templateAlias.toStdString();
    auto closed = std::make_shared<bool>(false);
    auto steps = std::make_shared<std::vector<Step>>();
    steps->push_back([w, page, alias] {
        if (w->recoveryWindow())
            stepFailed("the start found an unfinished run to recover first");
        const auto &aliases = page->cmbSubscriberTemplateAlias;
        for (std::size_t i = 0; i < aliases.size(); ++i) {
            if (aliases[i] == alias) {
                w->mainWindow()->cmbTemplateListDisplayName->setCurrentIndex(static_cast<int>(i));
                press(w->mainWindow()->cmdNext, "Next on the first page");
                return true;
            }
        }
        stepFailed("the server has no template " + alias);
    });
    steps->push_back([w] {
        if (!w->chooseWindow())
            stepFailed("Next on the first page opened no selection page");
        press(w->chooseWindow()->cmdView, "View");
        return true;
    });
    steps->push_back([w] {
        if (w->choosePage()->myGrid.Rows() <= 1)
            stepFailed("View put no subscriber in the grid");
        press(w->chooseWindow()->cmdSelectAll, "Select All");
        return true;
    });
    steps->push_back([w] {
        press(w->chooseWindow()->cmdNext, "Next on the selection page");
        return true;
    });
    steps->push_back([w, closed] {
        if (!w->resetWindow())
            stepFailed("Next on the selection page opened no reset page");
        answerRunBoxes(w, closed);
        press(w->resetWindow()->cmdResetSubscribers, "Reset Subscribers");
        return true;
    });
    steps->push_back([w, closed] {
        if (!*closed || w->resetPage()->running())
            return false;
        if (!w->resetPage()->finished())
            stepFailed("the run ended without its summary");
        press(w->resetWindow()->cmdExit, "Exit");
        return true;
    });
    runSteps(w, steps);
}

} // namespace zeph
