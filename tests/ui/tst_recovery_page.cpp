// The recovery page: a reset interrupted in another process (the real terminal program, ended
// by the stand-in right after a subscriber's removal) is offered for recovery when the wizard
// starts, and Recover finishes it.
#include "reset/RecoveryPage.h"
#include "reset/frmRecovery.h"
#include "wizard_helpers.h"

#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace zeph;
using test::WizardRun;

namespace {

constexpr int kAborted = 86; // the stand-in's exit status at its abort point

std::string quoted(const std::string &text) {
    return "'" + text + "'";
}

// Runs zephrane-cli from the host's program folder (its logs and journals go there, where the
// wizard looks) and returns its exit status.
int cli(test::TempHost &host, const std::string &args) {
    const fs::path program = fs::path(host.programFolder()) / "zephrane-cli";
    if (!fs::exists(program))
        fs::copy_file(fs::path(ZEPH_BIN_DIR) / "zephrane-cli", program);
    const std::string command = "ZEPHRANE_HOST=" + quoted(host.folder()) + " " +
                                quoted(program.string()) + " " + args + " </dev/null >" +
                                quoted(host.folder() + "/cli.out") + " 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A reset of every subscriber that the stand-in ends after the first removal.
void interruptedRun(test::TempHost &host) {
    host.set("abort-after", "removed");
    ASSERT_EQ(cli(host, "--template defaultTemplate --all --yes"), kAborted)
        << host.readFile("cli.out");
    host.set("abort-after", "");
}

// Three runs, each ended after its first removal: each skips the subscribers left unfinished
// before it, so three subscribers wait in three journals.
void threeInterruptedRuns(test::TempHost &host) {
    host.set("abort-after", "removed");
    for (int run = 0; run < 3; ++run)
        ASSERT_EQ(cli(host, "--template defaultTemplate --all --yes"), kAborted)
            << host.readFile("cli.out");
    host.set("abort-after", "");
}

// A run ended after its first journal record (nothing of the subscriber at extension 4001 was
// changed yet), whose subscriber an administrator then renamed by hand.
void interruptedThenChanged(test::TempHost &host) {
    host.set("abort-after", "journal");
    ASSERT_EQ(cli(host, "--template defaultTemplate --extensions 4001-4001 --yes"), kAborted)
        << host.readFile("cli.out");
    host.set("abort-after", "");
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((host.folder() + "/TarvoDb.sqlite").c_str(), &db), SQLITE_OK);
    const char *rename = "UPDATE Subscriber SET LastName='Changed' WHERE SubscriberObjectID="
                         "(SELECT ParentObjectID FROM DTMFAccessID WHERE DTMFAccessID='4001' AND "
                         "IsPrimaryID=1)";
    EXPECT_EQ(sqlite3_exec(db, rename, nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_close(db);
}

// Waits (up to a minute) until `ready` says yes.
bool waitFor(const std::function<bool()> &ready) {
    for (int i = 0; i < 600; ++i) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// The subscriber with this alias is in the wizard's cached subscribers.
bool cached(WizardRun &run, const std::string &alias) {
    db::Recordset &subscribers = run.program->tarvoDb.rsSubscribers();
    for (subscribers.MoveFirst(); !subscribers.Eof(); subscribers.MoveNext())
        if (subscribers.Fields("Alias").Text() == alias)
            return true;
    return false;
}

// The server's invariants hold.
bool serverWhole(test::TempHost &host) {
    const std::string check = "'" + std::string(ZEPH_BIN_DIR) + "/zephrane-sim' check " +
                              quoted(host.folder()) + " >/dev/null 2>&1";
    return std::system(check.c_str()) == 0;
}

} // namespace

TEST(RecoveryPage, AnInterruptedRunIsOfferedAtStartAndRecoverFinishesIt) {
    WizardRun run({}, {}, interruptedRun);
    frmRecovery *page = run.wizard->recoveryWindow();
    ASSERT_NE(page, nullptr) << "no recovery page at start";
    EXPECT_TRUE(page->isVisible());
    const std::string plan = page->txtPlan->toPlainText().toStdString();
    EXPECT_NE(plan.find("found: removed and not created again"), std::string::npos) << plan;
    EXPECT_NE(plan.find("owes the synchronisation of all distribution lists"), std::string::npos);
    EXPECT_EQ(run.wizard->recoveryPage()->subscribers, 1u) << plan;
    EXPECT_TRUE(page->cmdRecover->isEnabled());
    EXPECT_FALSE(page->cmdRecover->isDefault()) << "Enter must not start a recovery";
    // No first: nothing changes.
    run.ui.expectBox("Recover 1 subscriber(s) as listed above now?", MsgAnswer::No);
    run.click(page->cmdRecover);
    EXPECT_FALSE(run.wizard->recoveryPage()->summary.has_value());
    // The removed subscriber is missing from what the wizard read at start.
    const std::string plan0 = page->txtPlan->toPlainText().toStdString();
    const std::string alias = plan0.substr(0, plan0.find(' '));
    EXPECT_FALSE(cached(run, alias)) << alias;
    // Yes: the subscriber is finished, with a log, and the page says so.
    run.ui.expectBox("Recover 1 subscriber(s)", MsgAnswer::Yes);
    run.ui.expectBox("");
    run.click(page->cmdRecover);
    run.ui.verifyAllShown();
    ASSERT_TRUE(run.wizard->recoveryPage()->summary.has_value());
    const RecoverySummary &summary = *run.wizard->recoveryPage()->summary;
    EXPECT_EQ(summary.subscribersFinished, 1) << summary.closingMessage;
    EXPECT_EQ(summary.errorCount, 0) << summary.closingMessage;
    EXPECT_TRUE(run.host.host().files->fileExists(summary.logFilePath)) << summary.logFilePath;
    EXPECT_FALSE(page->cmdRecover->isEnabled()) << "one recovery per page";
    EXPECT_NE(page->txtPlan->toPlainText().toStdString().find(summary.closingMessage.substr(0, 20)),
              std::string::npos);
    // The wizard reads its tables again: the recovered subscriber can be looked up by a reset,
    // and the template list is still there.
    EXPECT_TRUE(cached(run, alias)) << alias;
    EXPECT_GT(run.wizard->mainWindow()->cmbTemplateListDisplayName->count(), 0);
    run.click(page->cmdClose);
    EXPECT_FALSE(page->isVisible());
    // The server is whole again, and a new start has nothing to recover.
    EXPECT_EQ(cli(run.host, "--recover --yes"), 0) << run.host.readFile("cli.out");
    EXPECT_NE(run.host.readFile("cli.out").find("No interrupted reset to finish"),
              std::string::npos)
        << run.host.readFile("cli.out");
    EXPECT_TRUE(serverWhole(run.host));
}

TEST(RecoveryPage, NothingToRecoverShowsNoPage) {
    WizardRun run;
    EXPECT_EQ(run.wizard->recoveryWindow(), nullptr);
    EXPECT_TRUE(run.wizard->mainWindow()->isVisible());
}

// Stop, Escape and closing the page while a recovery of three subscribers is under way: the
// subscriber under way is finished, the other two stay open in their journals for the next
// recovery, and nothing modal holds the recovery up meanwhile; a close also closes the page.
TEST(RecoveryPage, StopFinishesTheSubscriberUnderWayAndLeavesTheRestInTheJournals) {
    enum class How { StopButton, Escape, Close };
    for (const How how : {How::StopButton, How::Escape, How::Close}) {
        SCOPED_TRACE(static_cast<int>(how));
        WizardRun run({}, {}, threeInterruptedRuns);
        frmRecovery *page = run.wizard->recoveryWindow();
        ASSERT_NE(page, nullptr);
        RecoveryPage &recovery = *run.wizard->recoveryPage();
        ASSERT_EQ(recovery.subscribers, 3u) << page->txtPlan->toPlainText().toStdString();
        EXPECT_FALSE(page->cmdStop->isEnabled()) << "nothing to stop before Recover";
        int entriesBegun = 0;
        int lines = 0;
        run.program->log.setLineObserver([&](const std::string &line) {
            ++lines;
            if (line.find("Finishing the interrupted reset") != std::string::npos)
                ++entriesBegun;
        });
        bool pressed = false;
        int linesWhenAsked = -1;
        int linesWhenAnswered = -1;
        run.ui.onPass = [&] {
            if (!recovery.running() || entriesBegun < 1)
                return;
            if (!pressed) {
                pressed = true;
                switch (how) {
                case How::StopButton:
                    EXPECT_TRUE(page->cmdStop->isEnabled());
                    QTest::mouseClick(page->cmdStop, Qt::LeftButton);
                    EXPECT_FALSE(page->cmdStop->isEnabled());
                    EXPECT_TRUE(page->lblProgress->text().contains(
                        QLatin1String("stopping after this subscriber")))
                        << page->lblProgress->text().toStdString();
                    break;
                case How::Escape:
                    QApplication::setActiveWindow(page);
                    QTest::keyClick(page, Qt::Key_Escape);
                    break;
                case How::Close:
                    page->close();
                    break;
                }
                linesWhenAsked = lines;
                return;
            }
            QMessageBox *question = page->stopQuestion();
            if (how != How::StopButton && question && lines >= linesWhenAsked + 3 &&
                linesWhenAnswered < 0) {
                EXPECT_FALSE(question->isModal());
                EXPECT_TRUE(page->isVisible()) << "the page closed before the recovery ended";
                linesWhenAnswered = lines;
                question->button(QMessageBox::Yes)->click();
            }
        };
        run.ui.expectBox("Recover 3 subscriber(s)", MsgAnswer::Yes);
        run.ui.expectBox("Recovery stopped by request: 1 interrupted reset(s) finished");
        run.click(page->cmdRecover);
        run.ui.onPass = nullptr;
        run.program->log.setLineObserver(nullptr);
        run.ui.verifyAllShown();
        ASSERT_TRUE(pressed);
        ASSERT_TRUE(recovery.summary.has_value());
        const RecoverySummary &summary = *recovery.summary;
        EXPECT_TRUE(summary.stoppedByRequest) << summary.closingMessage;
        EXPECT_EQ(summary.subscribersFinished, 1) << summary.closingMessage;
        EXPECT_EQ(summary.entriesLeft, 2) << summary.closingMessage;
        EXPECT_EQ(summary.errorCount, 0) << summary.closingMessage;
        EXPECT_EQ(entriesBegun, 1) << "a subscriber was begun after the stop";
        if (how != How::StopButton) {
            EXPECT_GT(linesWhenAnswered, linesWhenAsked) << "the recovery waited for the question";
        }
        EXPECT_EQ(page->stopQuestion(), nullptr) << "a question was left open";
        EXPECT_FALSE(page->cmdStop->isEnabled());
        EXPECT_TRUE(page->lblProgress->text().startsWith(QLatin1String("1 of 3, ")))
            << page->lblProgress->text().toStdString();
        EXPECT_EQ(page->isVisible(), how != How::Close);
        EXPECT_TRUE(run.program->scanRecoveryJournals().needsAttention());
        // The next recovery finishes the two left, and the server is whole.
        EXPECT_EQ(cli(run.host, "--recover --yes"), 0) << run.host.readFile("cli.out");
        EXPECT_NE(run.host.readFile("cli.out").find("Recovery complete: 2 interrupted reset(s)"),
                  std::string::npos)
            << run.host.readFile("cli.out");
        EXPECT_TRUE(serverWhole(run.host));
    }
}

// A subscriber changed by hand since its reset was interrupted is held; Accept Changed names it
// with its differences and, on Yes, lets Recover take it as "--accept-changed ALIAS" does.
TEST(RecoveryPage, AcceptChangedRecoversASubscriberChangedSinceItsJournal) {
    WizardRun run({}, {}, interruptedThenChanged);
    frmRecovery *page = run.wizard->recoveryWindow();
    ASSERT_NE(page, nullptr);
    RecoveryPage &recovery = *run.wizard->recoveryPage();
    const std::string held = page->txtPlan->toPlainText().toStdString();
    EXPECT_NE(held.find("will do: it was changed since the journal was written"), std::string::npos)
        << held;
    EXPECT_NE(held.find("Accept Changed"), std::string::npos) << held;
    ASSERT_EQ(recovery.changedSubscribers.size(), 1u);
    EXPECT_TRUE(page->cmdAcceptChanged->isVisible());
    EXPECT_TRUE(page->cmdAcceptChanged->isEnabled());
    // No: still held.
    run.ui.expectBox("LastName: ", MsgAnswer::No);
    run.click(page->cmdAcceptChanged);
    EXPECT_EQ(page->txtPlan->toPlainText().toStdString(), held);
    // Yes: the plan says the change is accepted, and nothing was changed yet.
    run.ui.expectBox("in the journal, 'Changed' on the server", MsgAnswer::Yes);
    run.click(page->cmdAcceptChanged);
    const std::string accepted = page->txtPlan->toPlainText().toStdString();
    EXPECT_NE(accepted.find("accepted change: LastName"), std::string::npos) << accepted;
    EXPECT_EQ(accepted.find("will do: it was changed since"), std::string::npos) << accepted;
    EXPECT_TRUE(recovery.changedSubscribers.empty());
    EXPECT_FALSE(page->cmdAcceptChanged->isEnabled());
    EXPECT_FALSE(recovery.summary.has_value());
    run.ui.expectBox("Recover 1 subscriber(s)", MsgAnswer::Yes);
    run.ui.expectBox("Recovery complete: 0 interrupted reset(s) finished, 1 closed without a "
                     "reset, 0 left open");
    run.click(page->cmdRecover);
    run.ui.verifyAllShown();
    ASSERT_TRUE(recovery.summary.has_value());
    EXPECT_EQ(recovery.summary->entriesHeld, 0);
    EXPECT_FALSE(run.program->scanRecoveryJournals().needsAttention());
    EXPECT_TRUE(serverWhole(run.host));
}

// A start while another program resets this server: the run under way is named with who runs
// it, its open journal entry is not taken for an unfinished reset, and no recovery is offered.
TEST(RecoveryPage, AStartWhileAnotherRunChangesTheServerSaysSoAndOffersNoRecovery) {
    const auto startRun = [](test::TempHost &host) {
        // Real time: the directory waits keep the run going while the wizard starts.
        host.set("virtual-time", "off");
        ASSERT_EQ(cli(host, "--version"), 0);
        const std::string command =
            "(ZEPHRANE_HOST=" + quoted(host.folder()) + " " +
            quoted(host.programFolder() + "/zephrane-cli") +
            " --template defaultTemplate --extensions 4001-4002 --yes </dev/null >" +
            quoted(host.folder() + "/run.out") + " 2>&1; echo $? >" +
            quoted(host.folder() + "/run.status") + ") &";
        ASSERT_EQ(std::system(command.c_str()), 0);
        ASSERT_TRUE(waitFor([&] {
            return host.readFile("run.out").find("    Removing subscriber from SQL") !=
                   std::string::npos;
        })) << host.readFile("run.out");
    };
    WizardRun run({}, {}, [&run, &startRun](test::TempHost &host) {
        run.ui.expectBox("A reset is running now (");
        startRun(host);
    });
    run.ui.verifyAllShown();
    ASSERT_FALSE(run.ui.boxes().empty());
    const std::string told = run.ui.boxes().front().text;
    EXPECT_NE(told.find("zephrane-cli"), std::string::npos) << told;
    for (const char *wrong : {"did not finish", "--recover", "unfinished"})
        EXPECT_EQ(told.find(wrong), std::string::npos) << wrong << " in " << told;
    EXPECT_EQ(run.wizard->recoveryWindow(), nullptr);
    EXPECT_TRUE(run.wizard->mainWindow()->isVisible());
    // The other run ends as it would have alone.
    ASSERT_TRUE(
        waitFor([&] { return std::filesystem::exists(run.host.folder() + "/run.status"); }));
    EXPECT_NE(run.host.readFile("run.out").find("Subscriber mailbox reset process complete, "),
              std::string::npos)
        << run.host.readFile("run.out");
}
