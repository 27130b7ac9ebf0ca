// The reset page once a run has ended: the results panel speaks the language in use, its
// buttons keep their Alt keys in every language, and the run's time stands still while the
// closing message waits.
#include "reset/ResetPage.h"
#include "reset/frmResetSubscribers.h"
#include "wizard_helpers.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>

using namespace zeph;
using test::settle;
using test::WizardRun;

// After a run the panel's texts and buttons follow a language switch; the English words the
// program adds never show in another language, and no button loses its Alt key.
TEST(Results, ThePanelSpeaksTheLanguageInUseWithItsAltKeys) {
    WizardRun run;
    if (!run.installLanguages())
        GTEST_SKIP() << "the language libraries were not built";
    frmResetSubscribers *reset = run.toResetPage(2);
    ASSERT_NE(reset, nullptr);
    run.ui.expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
    run.ui.expectBox("Subscriber mailbox reset process complete", MsgAnswer::Cancel);
    run.click(reset->cmdResetSubscribers);
    run.ui.verifyAllShown();
    ASSERT_TRUE(reset->frmResults->isVisibleTo(reset));

    const struct {
        std::int32_t language;
        const char *count;   // the panel's first line
        const char *outcome; // its second
        const char *title;
        const char *openLog; // the button's text without its Alt key
    } languages[] = {
        {1031, "Zurückgesetzte Teilnehmer: 2", "2 zurückgesetzt, 0 mit Fehlern zurückgesetzt",
         "Ergebnisse", "Protokoll öffnen"},
        {1036, "Abonnés réinitialisés : 2", "2 réinitialisés, 0 réinitialisés avec erreurs",
         "Résultats", "Ouvrir le journal"},
        {1041, "リセットした加入者: 2", "リセット 2 件、エラーありでリセット 0 件", "結果",
         "ログを開く"},
        {1033, "Subscribers reset: 2", "2 reset, 0 reset with errors, 0 skipped, 0 not attempted",
         "Results", "Open Log"},
    };
    for (const auto &l : languages) {
        SCOPED_TRACE(l.language);
        run.program->localize.switchLanguage(l.language);
        settle();
        const QStringList lines = reset->lblResults->text().split(QLatin1Char('\n'));
        ASSERT_GE(lines.size(), 5);
        EXPECT_EQ(lines[0].toStdString(), l.count);
        EXPECT_TRUE(lines[1].startsWith(QString::fromUtf8(l.outcome))) << lines[1].toStdString();
        EXPECT_EQ(reset->frmResults->title().toStdString(), l.title);
        EXPECT_EQ(test::plainText(reset->cmdOpenLog->text()).toStdString(), l.openLog);
        if (l.language != 1033) {
            for (const char *english : {"Subscribers reset", "reset with errors",
                                        "Errors:", "Log:", "Failed records", "subscribers)"})
                EXPECT_FALSE(reset->lblResults->text().contains(QLatin1String(english)))
                    << english << " in " << reset->lblResults->text().toStdString();
        }
        for (QAbstractButton *button : {static_cast<QAbstractButton *>(reset->cmdOpenLog),
                                        static_cast<QAbstractButton *>(reset->cmdOpenFailedRecords),
                                        static_cast<QAbstractButton *>(reset->cmdOpenLogFolder),
                                        static_cast<QAbstractButton *>(reset->cmdStop)})
            EXPECT_FALSE(QKeySequence::mnemonic(button->text()).isEmpty())
                << button->objectName().toStdString() << " \"" << button->text().toStdString()
                << "\" has no Alt key";
    }
}

// The run's time stands still once it has ended: an hour that the closing message stands open
// (on the host's virtual clock) adds nothing to the elapsed time the page shows.
TEST(Results, TheElapsedTimeStopsWhenTheRunEnds) {
    WizardRun run;
    frmResetSubscribers *reset = run.toResetPage(3);
    ASSERT_NE(reset, nullptr);
    std::string shownAtEnd;
    std::chrono::seconds elapsedAtEnd{-1};
    std::vector<std::string> seenDuringRun;
    run.ui.onPass = [&] {
        if (run.wizard->resetPage()->running())
            seenDuringRun.push_back(reset->lblProgressDetail->text().toStdString());
    };
    run.ui.onBox = [&](const std::string &text) {
        if (text.find("Subscriber mailbox reset process complete") == std::string::npos)
            return;
        settle();
        shownAtEnd = reset->lblProgressDetail->text().toStdString();
        elapsedAtEnd = run.wizard->resetPage()->progress.elapsed();
        run.host.host().clock->sleepMs(3600 * 1000); // the box stands an hour
    };
    run.ui.expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
    run.ui.expectBox("Subscriber mailbox reset process complete", MsgAnswer::Cancel);
    run.click(reset->cmdResetSubscribers);
    run.ui.onPass = nullptr;
    run.ui.onBox = nullptr;
    run.ui.verifyAllShown();
    ASSERT_FALSE(shownAtEnd.empty());
    // The run's own waits count (the host's clock moved through its directory waits).
    EXPECT_GT(elapsedAtEnd, std::chrono::seconds(0)) << shownAtEnd;
    EXPECT_TRUE(shownAtEnd.starts_with("3 of 3, ")) << shownAtEnd;
    EXPECT_EQ(shownAtEnd.find("left"), std::string::npos) << "nothing is left once it ended";
    settle();
    EXPECT_EQ(run.wizard->resetPage()->progress.elapsed(), elapsedAtEnd);
    EXPECT_EQ(reset->lblProgressDetail->text().toStdString(), shownAtEnd);
    // While it ran, the estimate was told once a subscriber was done.
    EXPECT_NE(std::find_if(seenDuringRun.begin(), seenDuringRun.end(),
                           [](const std::string &t) { return t.find(" left") != t.npos; }),
              seenDuringRun.end());
}
