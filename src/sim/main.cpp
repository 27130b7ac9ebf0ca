// zephrane-sim: creates and controls stand-in hosts.
#include "HostFolder.h"
#include "ServeCommand.h"
#include "standin/SimHost.h"
#include "standin/SimSettings.h"
#include "standin/server/StandInServer.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char *kUsage =
    "Usage: zephrane-sim COMMAND HOST [...]\n"
    "\n"
    "Creates and controls stand-in hosts: folders that imitate a voice-messaging server\n"
    "(registry, database, recordings, mailboxes, services) for zephrane and zephrane-cli.\n"
    "\n"
    "Commands:\n"
    "  init HOST [--subscribers N] [--seed S] [--busy B]\n"
    "                                           create a host folder (default 50 subscribers,\n"
    "                                           seed 1; the same seed gives the same host);\n"
    "                                           every subscriber has a mailbox and recordings\n"
    "                                           as on a small host, or only the first B\n"
    "                                           (the others few recordings and no mailbox)\n"
    "  set HOST NAME VALUE                      change a setting of the host (see show)\n"
    "  show HOST                                list the host's settings\n"
    "  check HOST                               verify the server database's invariants\n"
    "  serve HOST [--port N] [--verbose]        answer SQL Server clients (TDS) on 127.0.0.1\n"
    "                                           port N (default 1433; 0: any free port) from\n"
    "                                           the host's database, with the SQL login of\n"
    "                                           the settings sql-login and sql-password;\n"
    "                                           --verbose logs connections and statements\n"
    "\n"
    "Programs find their host through ZEPHRANE_HOST, or use the default host folder:\n"
    "  ";

int usage(const std::string &problem) {
    if (!problem.empty())
        std::cerr << "zephrane-sim: " << problem << "\n\n";
    (problem.empty() ? std::cout : std::cerr) << kUsage << zeph::sim::defaultHostFolder() << "\n";
    return 2;
}

bool parseCount(const std::string &text, long max, long &out) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stol(text);
    return out <= max;
}

int init(const std::vector<std::string> &args) {
    if (args.empty())
        return usage("init needs a HOST folder");
    zeph::sim::InitOptions options;
    for (std::size_t i = 1; i < args.size(); ++i) {
        long value = 0;
        if ((args[i] == "--subscribers" || args[i] == "--seed" || args[i] == "--busy") &&
            i + 1 < args.size()) {
            long max = args[i] == "--seed" ? 999999999L : 200000L;
            if (!parseCount(args[i + 1], max, value))
                return usage(args[i] + " takes a whole number from 0 to " + std::to_string(max));
            if (args[i] == "--seed")
                options.seed = static_cast<unsigned>(value);
            else if (args[i] == "--busy")
                options.busySubscribers = static_cast<int>(value);
            else
                options.subscribers = static_cast<int>(value);
            ++i;
        } else {
            return usage("unknown option for init: " + args[i]);
        }
    }
    if (const zeph::Status made = zeph::sim::initHost(args[0], options); !made) {
        std::cerr << "zephrane-sim: " << made.error() << "\n";
        return 1;
    }
    std::cout << "Created stand-in host " << args[0] << " with " << options.subscribers
              << " subscribers (seed " << options.seed << ").\n";
    return 0;
}

int set(const std::vector<std::string> &args) {
    if (args.size() != 3)
        return usage("set needs HOST NAME VALUE");
    if (!zeph::sim::requireHost(args[0]))
        return 1;
    auto settings = zeph::sim::loadSettings(args[0]);
    zeph::Status applied = settings.set(args[1], args[2]);
    if (applied)
        applied = settings.save(args[0]);
    if (!applied) {
        std::cerr << "zephrane-sim: " << applied.error() << "\n";
        return 1;
    }
    return 0;
}

int show(const std::vector<std::string> &args) {
    if (args.size() != 1)
        return usage("show needs HOST");
    if (!zeph::sim::requireHost(args[0]))
        return 1;
    auto settings = zeph::sim::loadSettings(args[0]);
    std::cout << "host " << args[0] << "\n";
    for (const auto &info : zeph::sim::SimSettings::known()) {
        std::string value = settings.get(info.name);
        bool isDefault = settings.stored().count(info.name) == 0;
        std::cout << "  " << info.name << " = " << value << (isDefault ? "  (default)" : "")
                  << "\n      " << info.help << "\n";
    }
    return 0;
}

int check(const std::vector<std::string> &args) {
    if (args.size() != 1)
        return usage("check needs HOST");
    if (!zeph::sim::requireHost(args[0]))
        return 1;
    const zeph::Result<std::vector<std::string>> violations =
        zeph::sqlite::checkServerDatabase(zeph::sim::databasePath(args[0]));
    if (!violations) {
        std::cerr << "zephrane-sim: cannot check " << args[0] << ": " << violations.error() << "\n";
        return 1;
    }
    for (const auto &v : *violations)
        std::cout << v << "\n";
    std::cout << (violations->empty() ? "All invariants hold.\n"
                                      : std::to_string(violations->size()) + " violation(s).\n");
    return violations->empty() ? 0 : 1;
}

int run(std::vector<std::string> args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help")
        return args.empty() ? usage("no command given") : (usage(""), 0);
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "init")
        return init(args);
    if (command == "set")
        return set(args);
    if (command == "show")
        return show(args);
    if (command == "check")
        return check(args);
    if (command == "serve")
        return zeph::sim::serveCommand(args);
    return usage("unknown command: " + command);
}

} // namespace

int main(int argc, char **argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception &e) {
        // What no command foresaw (a host folder that went away under it, memory) is said, and
        // the program ends as a failed command does rather than by abort.
        std::cerr << "zephrane-sim: " << e.what() << "\n";
        return 1;
    }
}
