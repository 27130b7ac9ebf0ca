// The first page's load step on stand-in hosts: every fatal check, the template lists, the
// account warning, and the start-up hook.
#include "app/MainPage.h"
#include "app/Program.h"
#include "support/TempHost.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

namespace fs = std::filesystem;
using zeph::MainPage;
using zeph::MsgAnswer;
using zeph::Program;
using zeph::ProgramEnded;
using zeph::test::TempHost;

namespace {

const char *kVersionMessage =
    "Error!  This tool only works on versions of Tarvo 4.0(3) or later.  Exiting application.";
const char *kDominoMessage = "This tool only works with Exchange 5.5, Exchange 2000 or Exchange "
                             "2003 as the Tarvo message store back end.  Exiting";
const char *kDatabaseMessage =
    "Unable to open TarvoDB with necessary rights needed for this tool.  Make sure you are "
    "running this tool logged in as a member of the local admins group.";

std::string serviceMessage(const std::string &service) {
    return "The " + service +
           " service must be up and runnig for this tool to work properly.  Please make sure "
           "this service is running and try again.";
}

void replaceInFile(TempHost &host, const std::string &file, const std::string &from,
                   const std::string &to) {
    std::string text = host.readFile(file);
    auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    host.writeFile(file, text);
}

void execSql(TempHost &host, const std::string &sql) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((host.folder() + "/TarvoDb.sqlite").c_str(), &db), SQLITE_OK);
    char *error = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    std::string text = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text;
}

// Runs the load step; returns the exit code when the program ended, -1 when it went on.
int load(TempHost &host) {
    Program program(host.host());
    MainPage page(program);
    try {
        page.Form_Load();
    } catch (const ProgramEnded &ended) {
        return ended.code();
    }
    return -1;
}

} // namespace

TEST(Startup, AHealthyHostLoadsWithoutAnyMessageAndListsItsTemplates) {
    TempHost host;
    Program program(host.host());
    MainPage page(program);
    ASSERT_NO_THROW(page.Form_Load());
    EXPECT_TRUE(host.ui().boxes().empty());
    ASSERT_FALSE(page.cmbSubscriberTemplateAlias.empty());
    EXPECT_EQ(page.cmbSubscriberTemplateAlias.size(), page.cmbTemplateListDisplayName.size());
    EXPECT_EQ(page.templateListIndex, -1) << "nothing is chosen at first";
    EXPECT_FALSE(page.chkPreserveAlternateExtensions);
    EXPECT_EQ(program.tarvoVersion.InstalledVersion.BuildLow, 20);
}

struct FatalCase {
    const char *name;
    void (*breakHost)(TempHost &);
    std::string message;
};

class FatalStartup : public testing::TestWithParam<FatalCase> {};

TEST_P(FatalStartup, ShowsItsMessageAndEndsTheProgram) {
    TempHost host;
    GetParam().breakHost(host);
    host.reopen();
    host.ui().expectBox(GetParam().message);
    EXPECT_EQ(load(host), zeph::kExitStartupFailed);
    ASSERT_EQ(host.ui().boxes().size(), 1u);
    EXPECT_EQ(host.ui().boxes()[0].text, GetParam().message);
    EXPECT_EQ(host.ui().boxes()[0].buttons, zeph::MsgButtons::OK);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCheck, FatalStartup,
    testing::Values(
        FatalCase{"VersionTooOld",
                  [](TempHost &h) {
                      replaceInFile(h, "registry.reg", "\"Build Number\"=dword:00030014",
                                    "\"Build Number\"=dword:00020013");
                  },
                  kVersionMessage},
        FatalCase{"VersionMissing",
                  [](TempHost &h) {
                      replaceInFile(h, "registry.reg", "\"Version Number\"=dword:00040000\r\n", "");
                  },
                  kVersionMessage},
        FatalCase{"DominoInCapitals",
                  [](TempHost &h) {
                      replaceInFile(h, "registry.reg", "Ostrix.ExchangeConnector.1",
                                    "OSTRIX.DOMINOCONNECTOR.1");
                  },
                  kDominoMessage},
        FatalCase{"FennixStopped", [](TempHost &h) { h.set("service.Fennix", "1"); },
                  serviceMessage("Fennix")},
        FatalCase{"NoRightsOnTheServiceManager", [](TempHost &h) { h.set("scm-access", "none"); },
                  serviceMessage("Fennix")},
        FatalCase{"MissingBackEndChecksFennix",
                  [](TempHost &h) {
                      replaceInFile(h, "registry.reg",
                                    "\"IDCProgID\"=\"Ostrix.ExchangeConnector.1\"\r\n", "");
                      h.set("service.Fennix", "7");
                      h.set("service.Morvin", "4");
                  },
                  serviceMessage("Fennix")},
        FatalCase{"DirectoryConnectorChecksMorvin",
                  [](TempHost &h) {
                      replaceInFile(h, "registry.reg", "Ostrix.ExchangeConnector.1",
                                    "ostrix.directoryconnector.1");
                      h.set("service.Morvin", "1");
                  },
                  serviceMessage("Morvin")},
        FatalCase{"NoDatabase", [](TempHost &h) { fs::remove(h.folder() + "/TarvoDb.sqlite"); },
                  kDatabaseMessage},
        FatalCase{"MissingNonPrimaryHandlerView",
                  [](TempHost &h) { execSql(h, "DROP VIEW vw_CallHandler_NonPrimary"); },
                  kDatabaseMessage},
        FatalCase{"CorruptDatabaseFile",
                  [](TempHost &h) { h.writeFile("TarvoDb.sqlite", std::string(4096, '\x5a')); },
                  kDatabaseMessage}),
    [](const testing::TestParamInfo<FatalCase> &param) { return std::string(param.param.name); });

TEST(Startup, DirectoryConnectorDoesNotCareAboutFennix) {
    TempHost host;
    replaceInFile(host, "registry.reg", "Ostrix.ExchangeConnector.1",
                  "Ostrix.DirectoryConnector.1");
    host.set("service.Fennix", "1");
    EXPECT_EQ(load(host), -1);
    EXPECT_TRUE(host.ui().boxes().empty());
}

TEST(Startup, AnEmptyTemplateTableIsReportedOnceAndLoadingGoesOn) {
    TempHost host;
    execSql(host, "DELETE FROM SubscriberTemplate");
    host.ui().expectBox("in procedure Form_Load of Form frmMain");
    Program program(host.host());
    MainPage loaded(program);
    ASSERT_NO_THROW(loaded.Form_Load());
    ASSERT_EQ(host.ui().boxes().size(), 1u);
    EXPECT_EQ(host.ui().boxes()[0].text.rfind("(error):", 0), 0u) << host.ui().boxes()[0].text;
    EXPECT_TRUE(loaded.cmbSubscriberTemplateAlias.empty());
    EXPECT_TRUE(loaded.cmbTemplateListDisplayName.empty());
    host.ui().expectBox("You must first select a template to use when resetting subscribers");
    EXPECT_FALSE(loaded.cmdNext_Click()) << "with no template the operator can only leave";
}

TEST(Startup, TheAccountWarningIsShownAfterTheListsAndDoesNotStop) {
    TempHost host;
    host.set("user", "somebody-else");
    host.ui().expectBox("Warning!  It doesn't appear that you are logged into the local system as "
                        "the message store facing account (the account associated with the "
                        "Dravik service).It is _strongly_ recommended");
    Program program(host.host());
    MainPage page(program);
    ASSERT_NO_THROW(page.Form_Load());
    EXPECT_EQ(host.ui().boxes().size(), 1u);
    EXPECT_FALSE(page.cmbTemplateListDisplayName.empty());
}

TEST(Startup, NextNeedsAChosenTemplate) {
    TempHost host;
    Program program(host.host());
    MainPage page(program);
    page.Form_Load();
    host.ui().expectBox("You must first select a template to use when resetting subscribers");
    EXPECT_FALSE(page.cmdNext_Click());
    page.templateListIndex = 0;
    EXPECT_TRUE(page.cmdNext_Click());
    EXPECT_EQ(page.chosenTemplateAlias(), page.cmbSubscriberTemplateAlias[0]);
    host.ui().verifyAllShown();
}

TEST(Startup, TheHookStartsTestBatWithVersionAndToolPage) {
    TempHost host;
    const std::string out = host.folder() + "/hook-args.txt";
    const std::string script = host.programFolder() + "/test.bat";
    {
        std::ofstream s(script);
        s << "#!/bin/sh\necho \"$1 $2\" > '" << out << "'\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    EXPECT_EQ(load(host), -1);
    std::string args;
    for (int i = 0; i < 100 && args.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream in(out);
        std::getline(in, args);
    }
    EXPECT_EQ(args, "1.0.5 http://tools.ambrel.example/App_Zephrane.htm");
}

TEST(Startup, ExitApplicationClosesTheRunLog) {
    TempHost host;
    Program program(host.host());
    const std::string path = program.log.GenerateNewLogFileName();
    program.log.WriteLogHeader(path, false);
    ASSERT_TRUE(program.log.IsLogOpen());
    int handled = -1;
    program.exitHandler = [&](int code) { handled = code; };
    EXPECT_THROW(program.ExitApplication(0), ProgramEnded);
    EXPECT_EQ(handled, 0);
    EXPECT_FALSE(program.log.IsLogOpen());
}
