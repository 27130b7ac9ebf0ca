// The programs' start with kept history: zephrane-cli --list-templates with a logs folder of a
// month of kept journals against the same with an empty logs folder. A start reads the journals
// that may hold open work; a closed one costs a look at its last line, however long it is.
#include "Figures.h"
#include "platform/posix/Posix.h"
#include "reset/RecoveryJournal.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>

namespace fs = std::filesystem;

namespace zeph::bench {
namespace {

constexpr int kKeptDays = 30;

// One run of the listing; the fastest of several counts.
double fastestListing(const std::string &cli, const std::string &host, int runs) {
    const std::string command =
        "ZEPHRANE_HOST='" + host + "' '" + cli + "' --list-templates >/dev/null 2>&1";
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        Stopwatch watch;
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("zephrane-cli --list-templates failed: " + command);
        best = std::min(best, watch.ms());
    }
    return best;
}

// A closed journal of a whole run over `subscribers`, written as a run writes it, then kept
// once a day for the month under the names of that day's logs.
void keepJournals(const std::string &logs, int subscribers) {
    fs::create_directories(logs);
    std::unique_ptr<IFileSystem> files = posix::makeFileSystem();
    const std::string first = logs + "/Zephrane_Log_20261101_09_00_00.TXT";
    {
        RecoveryJournal journal(*files, first, "stand-in server {BENCH}");
        auto written = [](const Status &recorded) {
            if (!recorded)
                throw std::runtime_error("a journal for the start-up figures: " + recorded.error());
        };
        written(journal.listSyncOwed());
        for (int i = 0; i < subscribers; ++i) {
            SubscriberSnapshot s;
            s.Alias = "subscriber" + std::to_string(i);
            s.DTMFAccessID = std::to_string(10000 + i);
            written(journal.begin(s, "defaultTemplate", "{TICKET}"));
            written(journal.created({"{NEW}", "{NEW-CH}"}, "{TICKET-2}"));
            written(journal.finished());
        }
        written(journal.listSyncDone());
    }
    for (int day = 2; day <= kKeptDays; ++day) {
        const std::string stamp =
            "202611" + std::string(day < 10 ? "0" : "") + std::to_string(day) + "_09_00_00.TXT";
        fs::copy_file(journalPath(first), journalPath(logs + "/Zephrane_Log_" + stamp));
    }
}

} // namespace

void measureStartUp(const BenchOptions &options, Report &report) {
    const std::string root = options.workFolder + "/startup";
    fs::remove_all(root);
    const std::string host = root + "/host";
    if (!runSimTool(options,
                    "init '" + host + "' --subscribers 200 --seed " + std::to_string(options.seed)))
        return;
    // A program folder of its own: the programs keep their logs beside themselves.
    const std::string programs = root + "/programs";
    fs::create_directories(programs);
    const std::string cli = programs + "/zephrane-cli";
    fs::copy_file(fs::path(options.simTool).parent_path() / "zephrane-cli", cli);

    const double empty = fastestListing(cli, host, options.runs() + 2);
    keepJournals(programs + "/logs", options.scaled(3000));
    const double kept = fastestListing(cli, host, options.runs() + 2);
    report.add({"list_templates_empty_logs_ms", empty, "ms", Goal::Reference, 0,
                "zephrane-cli --list-templates, empty logs folder"});
    report.add({"list_templates_kept_journals_ms", kept, "ms", Goal::Reference, 0,
                "the same with 30 days of kept journals"});
    report.add({"list_templates_kept_journals_ratio", kept / empty, "", Goal::AtMost, 1.1,
                "30 days of kept journals against an empty logs folder"});
}

} // namespace zeph::bench
