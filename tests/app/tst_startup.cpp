// The first page's load step on stand-in hosts: fatal checks, template lists, warning, hook.
#include "app/MainPage.h"
#include "app/Program.h"
#include "standin/FileRegistry.h"
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
    try {
        MainPage(program).Form_Load();
    } catch (const ProgramEnded &ended) {
        return ended.code();
    }
    return -1;
}

} // namespace

TEST(Startup, EveryFatalCheckShowsItsMessageAndEndsTheProgramAndAWarningDoesNot) {
    const std::string version =
        "Error!  This tool only works on versions of Tarvo 4.0(3) or later.  Exiting application.";
    const std::string database =
        "Unable to open TarvoDB with necessary rights needed for this tool.  Make sure you are "
        "running this tool logged in as a member of the local admins group.";
    const std::string exchange = "This tool only works with Exchange 5.5, Exchange 2000 or "
                                 "Exchange 2003 as the Tarvo message store back end.  Exiting";
    const std::string warning = "Warning!  It doesn't appear that you are logged into the local "
                                "system as the message store facing account (the account "
                                "associated with the Dravik service).It is _strongly_ recommended";
    const std::string connector = "Ostrix.ExchangeConnector.1";
    struct Case {
        std::string from, to, setting, value, sql, message;
        int code = kExitStartupFailed;
    };
    const Case cases[] = {
        {"\"Build Number\"=dword:00030014", "\"Build Number\"=dword:00020013", "", "", "", version},
        {"\"Version Number\"=dword:00040000\r\n", "", "", "", "", version},
        {connector, "OSTRIX.DOMINOCONNECTOR.1", "", "", "", exchange},
        {"", "", "scm-access", "none", "", serviceMessage("Fennix")},
        {"\"IDCProgID\"=\"" + connector + "\"\r\n", "", "service.Fennix", "7", "",
         serviceMessage("Fennix")},
        {connector, "ostrix.directoryconnector.1", "service.Morvin", "1", "",
         serviceMessage("Morvin")},
        {connector, "Ostrix.DirectoryConnector.1", "service.Fennix", "1", "", "", -1},
        {"", "", "", "", "DROP VIEW vw_CallHandler_NonPrimary", database},
        {"", "", "", "", "corrupt", database},
        {"", "", "user", "somebody-else", "", warning, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.from + c.setting + c.sql);
        TempHost host;
        if (!c.from.empty())
            replaceInRegistry(host, c.from, c.to);
        if (!c.setting.empty())
            host.set(c.setting, c.value);
        if (c.sql == "corrupt")
            host.writeFile("TarvoDb.sqlite", std::string(4096, '\x5a'));
        else if (!c.sql.empty())
            execSql(host, c.sql);
        host.reopen();
        if (!c.message.empty())
            host.ui().expectBox(c.message);
        EXPECT_EQ(load(host), c.code);
        host.ui().verifyAllShown();
        for (const auto &box : host.ui().boxes())
            EXPECT_TRUE(box.text.find(c.message) == 0 && box.buttons == MsgButtons::OK) << box.text;
    }
}

TEST(Startup, NextNeedsAChosenTemplateAnEmptyTemplateTableIsReportedAndExitClosesTheLog) {
    for (const bool empty : {false, true}) {
        TempHost host;
        if (empty) {
            execSql(host, "DELETE FROM SubscriberTemplate");
            host.ui().expectBox("in procedure Form_Load of Form frmMain");
        }
        Program program(host.host());
        MainPage page(program);
        ASSERT_NO_THROW(page.Form_Load());
        host.ui().verifyAllShown();
        EXPECT_EQ(page.cmbTemplateListDisplayName.empty(), empty);
        EXPECT_EQ(page.templateListIndex, -1) << "nothing is chosen at first";
        host.ui().expectBox("You must first select a template to use when resetting subscribers");
        EXPECT_FALSE(page.cmdNext_Click()) << "with no template the operator can only leave";
        if (!empty) {
            page.templateListIndex = 0;
            EXPECT_TRUE(page.cmdNext_Click());
            EXPECT_EQ(page.chosenTemplateAlias(), page.cmbSubscriberTemplateAlias.at(0));
            // Leaving the program closes the run log.
            program.log.WriteLogHeader(program.log.GenerateNewLogFileName(), false);
            int handled = -1;
            program.exitHandler = [&](int code) { handled = code; };
            EXPECT_THROW(program.ExitApplication(0), ProgramEnded);
            EXPECT_EQ(handled, 0);
            EXPECT_FALSE(program.log.IsLogOpen());
        }
    }
}

TEST(Startup, TheHookStartsTestBatWithVersionAndToolPageFromAFolderWithBlanks) {
    TempHost host;
    const std::string folder = host.folder() + "/Program Files/Zephrane";
    fs::create_directories(folder);
    host.host().programFolder = folder;
    const std::string out = host.folder() + "/hook-args.txt";
#ifdef _WIN32
    std::ofstream(folder + "/test.bat") << ">\"" << out << "\" echo %1 %2\r\n";
#else
    std::ofstream(folder + "/test.bat") << "#!/bin/sh\necho \"$1 $2\" > '" << out << "'\n";
#endif
    fs::permissions(folder + "/test.bat", fs::perms::owner_all);
    EXPECT_EQ(load(host), -1);
    std::string args;
    for (int i = 0; i < 200 && args.empty(); ++i) { // the script runs detached
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::getline(std::ifstream(out), args);
    }
    if (!args.empty() && args.back() == '\r')
        args.pop_back();
    EXPECT_EQ(args, "1.0.5 http://tools.ambrel.example/App_Zephrane.htm");
}

// A server's registry holds thousands of keys; a run reads the file's bytes at every call but
// parses them only when they changed, so a hand edit still counts from the next call.
TEST(Startup, TheRegistryFileIsParsedOnceAndAgainOnlyAfterAHandEdit) {
    TempHost host;
    std::string text = host.readFile("registry.reg");
    for (int i = 0; i < 20000; ++i)
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor" + std::to_string(i % 97) + "\\Key" +
                std::to_string(i) + "]\r\n\"Value\"=dword:" + std::to_string(i % 10) + "\r\n\r\n";
    host.writeFile("registry.reg", text);
    const std::size_t before = sim::registryFileParses();
    EXPECT_EQ(load(host), -1);
    EXPECT_EQ(load(host), -1);
    EXPECT_EQ(sim::registryFileParses() - before, 1u) << "two load steps, one parse";
    replaceInRegistry(host, "\"Version Number\"=dword:00040000",
                      "\"Version Number\"=dword:00030000");
    host.ui().expectBox("Error!  This tool only works on versions of Tarvo 4.0(3) or later.");
    EXPECT_EQ(load(host), kExitStartupFailed) << "the edited version is read at the next call";
    host.ui().verifyAllShown();
    EXPECT_EQ(sim::registryFileParses() - before, 2u);
}
