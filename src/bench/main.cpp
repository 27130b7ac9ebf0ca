// zephrane-bench: the program's speed and memory on stand-in hosts of the largest size a
// server holds, beside the targets it must meet. Prints one JSON object per line as each
// figure is taken ({"name": ..., "value": ..., "unit": ...}), then a table with the targets.
//
//     zephrane-bench --work FOLDER [--sim PATH] [--quick] [--seed N] [--only GROUP] [--host DIR]
//
// Exit status: 0 every target met, 1 a target missed, 2 the benchmark could not run.
#include "Figures.h"
#include "platform/Native.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

using zeph::bench::BenchOptions;

constexpr const char *kUsage =
    "usage: zephrane-bench --work FOLDER [--sim PATH] [--quick] [--seed N]\n"
    "  --work FOLDER  a folder for the hosts and files the benchmark makes (kept afterwards)\n"
    "  --sim PATH     the host tool (default: zephrane-sim beside this program)\n"
    "  --quick        every size one tenth, for a run within a minute\n"
    "  --seed N       the seed of the hosts (default 7)\n"
    "  --only GROUP   one group of figures: tables, selection, colors, reset,\n"
    "                 reset30k, tds or startup\n"
    "  --host FOLDER  a large host made before, for the tables, the selection and the reset\n"
    "                 of a whole host (the time of making one is then not measured)\n";

bool parse(const std::vector<std::string> &args, BenchOptions &options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--quick") {
            options.quick = true;
        } else if (a == "--work" && hasValue) {
            options.workFolder = args[++i];
        } else if (a == "--sim" && hasValue) {
            options.simTool = args[++i];
        } else if (a == "--host" && hasValue) {
            options.largeHost = args[++i];
        } else if (a == "--only" && hasValue) {
            options.only = args[++i];
        } else if (a == "--seed" && hasValue) {
            const std::string &n = args[++i];
            if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos)
                return false;
            options.seed = static_cast<unsigned>(std::stoul(n));
        } else {
            return false;
        }
    }
    return !options.workFolder.empty();
}

} // namespace

int main(int argc, char **argv) {
    BenchOptions options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        std::cout << kUsage;
        return 0;
    }
    if (!parse(args, options)) {
        std::cerr << kUsage;
        return 2;
    }
    if (options.simTool.empty())
        options.simTool = zeph::native::executableFolder() + "/zephrane-sim";
    options.workFolder = std::filesystem::absolute(options.workFolder).string();

    zeph::bench::Report report(std::cout);
    try {
        std::filesystem::create_directories(options.workFolder);
        std::string host = options.largeHost;
        if (host.empty() &&
            (options.wants("tables") || options.wants("selection") || options.wants("reset30k"))) {
            host = zeph::bench::measureHostCreation(options, report);
            if (host.empty())
                return 2;
        }
        // The cached tables first: the process's peak memory is theirs.
        if (options.wants("tables"))
            zeph::bench::measureCachedTables(options, host, report);
        if (options.wants("selection"))
            zeph::bench::measureSelection(options, host, report);
        if (options.wants("colors"))
            zeph::bench::measureQueryColors(options, report);
        if (options.wants("reset"))
            zeph::bench::measureReset(options, report);
        if (options.wants("reset30k"))
            zeph::bench::measureLargeReset(options, host, report);
        if (options.wants("tds"))
            zeph::bench::measureOverTds(options, report);
        if (options.wants("startup"))
            zeph::bench::measureStartUp(options, report);
    } catch (const std::exception &e) {
        std::cerr << "zephrane-bench: " << e.what() << "\n";
        report.printTable(std::cout, "Zephrane benchmark (incomplete)");
        return 2;
    }
    report.printTable(std::cout, options.quick ? "Zephrane benchmark, quick: every size one tenth"
                                               : "Zephrane benchmark");
    return report.misses() == 0 ? 0 : 1;
}
