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
using namespace zeph;
using zeph::test::TempHost;

namespace {

const char *kChooseTemplate = "You must first select a template to use when resetting subscribers";

std::string serviceMessage(const std::string &service) {
    return "The " + service +
           " service must be up and runnig for this tool to work properly.  Please make sure "
           "this service is running and try again.";
}

void replaceInRegistry(TempHost &host, const std::string &from, const std::string &to) {
    std::string text = host.readFile("registry.reg");
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    host.writeFile("registry.reg", text.replace(at, from.size(), to));
}

void execSql(TempHost &host, const std::string &sql) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((host.folder() + "/TarvoDb.sqlite").c_str(), &db), SQLITE_OK);
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << sql;
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

TEST(Startup, AHealthyHostLoadsWithoutAnyMessageAndNextNeedsAChosenTemplate) {
    TempHost host;
    Program program(host.host());
    MainPage page(program);
    ASSERT_NO_THROW(page.Form_Load());
    EXPECT_TRUE(host.ui().boxes().empty());
    ASSERT_FALSE(page.cmbSubscriberTemplateAlias.empty());
    EXPECT_EQ(page.cmbSubscriberTemplateAlias.size(), page.cmbTemplateListDisplayName.size());
    EXPECT_EQ(page.templateListIndex, -1) << "nothing is chosen at first";
    host.ui().expectBox(kChooseTemplate);
    EXPECT_FALSE(page.cmdNext_Click());
    page.templateListIndex = 0;
    EXPECT_TRUE(page.cmdNext_Click());
    EXPECT_EQ(page.chosenTemplateAlias(), page.cmbSubscriberTemplateAlias[0]);
    host.ui().verifyAllShown();
}

TEST(Startup, EveryFatalCheckShowsItsMessageAndEndsTheProgram) {
    const std::string version =
        "Error!  This tool only works on versions of Tarvo 4.0(3) or later.  Exiting application.";
    const std::string database =
        "Unable to open TarvoDB with necessary rights needed for this tool.  Make sure you are "
        "running this tool logged in as a member of the local admins group.";
    const std::string connector = "Ostrix.ExchangeConnector.1";
    const std::tuple<const char *, std::function<void(TempHost &)>, std::string> cases[] = {
        {"VersionTooOld",
         [](TempHost &h) {
             replaceInRegistry(h, "\"Build Number\"=dword:00030014",
                               "\"Build Number\"=dword:00020013");
         },
         version},
        {"VersionMissing",
         [](TempHost &h) { replaceInRegistry(h, "\"Version Number\"=dword:00040000\r\n", ""); },
         version},
        {"DominoInCapitals",
         [&](TempHost &h) { replaceInRegistry(h, connector, "OSTRIX.DOMINOCONNECTOR.1"); },
         "This tool only works with Exchange 5.5, Exchange 2000 or Exchange 2003 as the Tarvo "
         "message store back end.  Exiting"},
        {"FennixStopped", [](TempHost &h) { h.set("service.Fennix", "1"); },
         serviceMessage("Fennix")},
        {"NoRightsOnTheServiceManager", [](TempHost &h) { h.set("scm-access", "none"); },
         serviceMessage("Fennix")},
        {"MissingBackEndChecksFennix",
         [&](TempHost &h) {
             replaceInRegistry(h, "\"IDCProgID\"=\"" + connector + "\"\r\n", "");
             h.set("service.Fennix", "7");
         },
         serviceMessage("Fennix")},
        {"DirectoryConnectorChecksMorvin",
         [&](TempHost &h) {
             replaceInRegistry(h, connector, "ostrix.directoryconnector.1");
             h.set("service.Morvin", "1");
         },
         serviceMessage("Morvin")},
        {"NoDatabase", [](TempHost &h) { fs::remove(h.folder() + "/TarvoDb.sqlite"); }, database},
        {"MissingNonPrimaryHandlerView",
         [](TempHost &h) { execSql(h, "DROP VIEW vw_CallHandler_NonPrimary"); }, database},
        {"CorruptDatabaseFile",
         [](TempHost &h) { h.writeFile("TarvoDb.sqlite", std::string(4096, '\x5a')); }, database},
    };
    for (const auto &[name, breakHost, message] : cases) {
        SCOPED_TRACE(name);
        TempHost host;
        breakHost(host);
        host.reopen();
        host.ui().expectBox(message);
        EXPECT_EQ(load(host), kExitStartupFailed);
        ASSERT_EQ(host.ui().boxes().size(), 1u);
        EXPECT_EQ(host.ui().boxes()[0].text, message);
        EXPECT_EQ(host.ui().boxes()[0].buttons, MsgButtons::OK);
    }
}

TEST(Startup, DirectoryConnectorDoesNotCareAboutFennix) {
    TempHost host;
    replaceInRegistry(host, "Ostrix.ExchangeConnector.1", "Ostrix.DirectoryConnector.1");
    host.set("service.Fennix", "1");
    EXPECT_EQ(load(host), -1);
    EXPECT_TRUE(host.ui().boxes().empty());
}

TEST(Startup, AnEmptyTemplateTableIsReportedOnceAndLoadingGoesOn) {
    TempHost host;
    execSql(host, "DELETE FROM SubscriberTemplate");
    host.ui().expectBox("in procedure Form_Load of Form frmMain");
    Program program(host.host());
    MainPage page(program);
    ASSERT_NO_THROW(page.Form_Load());
    ASSERT_EQ(host.ui().boxes().size(), 1u);
    EXPECT_EQ(host.ui().boxes()[0].text.rfind("(error):", 0), 0u) << host.ui().boxes()[0].text;
    EXPECT_TRUE(page.cmbTemplateListDisplayName.empty());
    host.ui().expectBox(kChooseTemplate);
    EXPECT_FALSE(page.cmdNext_Click()) << "with no template the operator can only leave";
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

TEST(Startup, TheHookStartsTestBatWithVersionAndToolPageFromAFolderWithBlanks) {
    TempHost host;
    const std::string folder = host.folder() + "/Program Files/Zephrane";
    fs::create_directories(folder);
    host.host().programFolder = folder;
    const std::string out = host.folder() + "/hook-args.txt";
    std::ofstream(folder + "/test.bat") << "#!/bin/sh\necho \"$1 $2\" > '" << out << "'\n";
    fs::permissions(folder + "/test.bat", fs::perms::owner_all);
    EXPECT_EQ(load(host), -1);
    std::string args;
    for (int i = 0; i < 200 && args.empty(); ++i) { // the script runs detached
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::getline(std::ifstream(out), args);
    }
    EXPECT_EQ(args, "1.0.5 http://tools.ambrel.example/App_Zephrane.htm");
}

TEST(Startup, ExitApplicationClosesTheRunLog) {
    TempHost host;
    Program program(host.host());
    program.log.WriteLogHeader(program.log.GenerateNewLogFileName(), false);
    ASSERT_TRUE(program.log.IsLogOpen());
    int handled = -1;
    program.exitHandler = [&](int code) { handled = code; };
    EXPECT_THROW(program.ExitApplication(0), ProgramEnded);
    EXPECT_EQ(handled, 0);
    EXPECT_FALSE(program.log.IsLogOpen());
}
