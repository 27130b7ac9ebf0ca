// The recovery page: a reset interrupted in another process (the real terminal program, ended
// by the stand-in right after a subscriber's removal) is offered for recovery when the wizard
// starts, and Recover finishes it.
#include "reset/RecoveryPage.h"
#include "reset/frmRecovery.h"
#include "wizard_helpers.h"

#include <QLabel>
#include <QPlainTextEdit>

#include <cstdlib>
#include <filesystem>

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
    host.set("abort-after", "sp_DeleteSubscriber");
    ASSERT_EQ(cli(host, "--template defaultTemplate --all --yes"), kAborted)
        << host.readFile("cli.out");
    host.set("abort-after", "");
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
    run.click(page->cmdClose);
    EXPECT_FALSE(page->isVisible());
    // The server is whole again, and a new start has nothing to recover.
    EXPECT_EQ(cli(run.host, "--recover --yes"), 0) << run.host.readFile("cli.out");
    EXPECT_NE(run.host.readFile("cli.out").find("No interrupted reset to finish"),
              std::string::npos)
        << run.host.readFile("cli.out");
    const std::string check = "'" + std::string(ZEPH_BIN_DIR) + "/zephrane-sim' check " +
                              quoted(run.host.folder()) + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0);
}

TEST(RecoveryPage, NothingToRecoverShowsNoPage) {
    WizardRun run;
    EXPECT_EQ(run.wizard->recoveryWindow(), nullptr);
    EXPECT_TRUE(run.wizard->mainWindow()->isVisible());
}
