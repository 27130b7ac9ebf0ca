#include "CommandLine.h"

#include "app/MainPage.h"
#include "app/Program.h"
#include "platform/posix/Posix.h"
#include "platform/sim/SimHost.h"

#include <memory>

namespace zeph::cli {

namespace {

const char *kUsage =
    "Usage:\n"
    "  zephrane-cli --list-templates      run the start-up checks, then list the subscriber\n"
    "                                     templates (alias TAB display name)\n"
    "  zephrane-cli --host-info           show which stand-in host is used\n"
    "  zephrane-cli --help                this text\n"
    "\n"
    "The host is the stand-in host folder named by ZEPHRANE_HOST, or the default host\n"
    "(created on first use).\n"
    "\n"
    "Exit status: 0 done, 1 a run that logged errors, 2 nothing was run (usage, a failed\n"
    "start-up check).\n";

struct Options {
    bool help = false;
    bool hostInfo = false;
    bool listTemplates = false;
    bool yes = false;
};

bool parse(const std::vector<std::string> &args, Options &options, std::string &problem) {
    for (const auto &arg : args) {
        if (arg == "--help" || arg == "-h")
            options.help = true;
        else if (arg == "--host-info")
            options.hostInfo = true;
        else if (arg == "--list-templates")
            options.listTemplates = true;
        else if (arg == "--yes")
            options.yes = true;
        else {
            problem = "unknown argument: " + arg;
            return false;
        }
    }
    if (!options.help && !options.hostInfo && !options.listTemplates) {
        problem = "nothing to do";
        return false;
    }
    return true;
}

} // namespace

int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
    Options options;
    std::string problem;
    if (!parse(args, options, problem)) {
        err << "zephrane-cli: " << problem << "\n\n" << kUsage;
        return kExitNothingRun;
    }
    if (options.help) {
        out << kUsage;
        return kExitOk;
    }

    auto notice = [&err](const std::string &text) { err << "zephrane-cli: " << text << "\n"; };
    std::string error;
    const std::string folder = sim::resolveHostFolder(notice, error);
    if (folder.empty()) {
        err << "zephrane-cli: " << error << "\n";
        return kExitNothingRun;
    }
    if (options.hostInfo) {
        out << "stand-in host: " << folder << "\n";
        return kExitOk;
    }

    std::unique_ptr<Host> host = sim::openHost(folder, notice);
    auto ui = posix::makeTerminalUi(options.yes);
    host->ui = ui.get();
    host->programFolder = posix::executableFolder();
    host->exeName = "zephrane-cli";
    for (const auto &arg : args)
        host->commandLine += (host->commandLine.empty() ? "" : " ") + arg;

    Program program(*host);
    MainPage mainPage(program);
    try {
        mainPage.Form_Load();
    } catch (const ProgramEnded &ended) {
        return ended.code();
    }

    if (options.listTemplates) {
        for (std::size_t i = 0; i < mainPage.cmbSubscriberTemplateAlias.size(); ++i)
            out << mainPage.cmbSubscriberTemplateAlias[i] << "\t"
                << mainPage.cmbTemplateListDisplayName[i] << "\n";
    }
    return kExitOk;
}

} // namespace zeph::cli
