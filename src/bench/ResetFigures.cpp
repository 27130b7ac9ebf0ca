// The reset run on virtual time, per subscriber, beside the floor that SQLite sets for the same
// requests, and its growth from a small host to a larger one.
//
// Each size gets a host of its own, made once and copied twice: the program resets every
// subscriber of one copy, and each of its requests to the database is issued again straight to
// SQLite on the other copy (Floor.h).
#include "BenchHost.h"
#include "Figures.h"
#include "Floor.h"
#include "Measure.h"
#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "log/Logging.h"
#include "platform/SyncCountingFiles.h"
#include "platform/sqlite/SyncCountingVfs.h"
#include "reset/ResetPage.h"
#include "select/ChooseSubscribersPage.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <limits>
#include <stdexcept>

namespace fs = std::filesystem;

namespace zeph::bench {
namespace {

constexpr std::uint64_t kServerGuidSeed = 0x5EED;

struct ResetTiming {
    int gridRows = 0;
    Timing program; // the program's own share of the run
    Timing floor;
    ResetSyncs syncs;
    long peakGrowthKb = -1;
    double programPerSubscriber() const { return program.wallMs / gridRows; }
    double floorPerSubscriber() const { return floor.wallMs / gridRows; }
};

std::string firstTemplateAlias(db::modTarvoDB &tarvo) {
    db::Recordset &templates = tarvo.rsSubscriberTemplates();
    templates.MoveFirst();
    return templates["Alias"].Text();
}

} // namespace

Timing resetEverySubscriber(const std::string &folder, const std::shared_ptr<Floor> &floor,
                            int &gridRows, long *fileSyncs, long *peakGrowthKb) {
    BenchHost bench(folder, kServerGuidSeed, [floor](std::unique_ptr<IDatabase> database) {
        return mirroredDatabase(std::move(database), floor);
    });
    Host &host = bench.host();
    // The run's log, journal and failed-records files are counted where they are synced.
    auto fileCounts = std::make_shared<FileSyncCounts>();
    host.files = std::make_unique<SyncCountingFiles>(std::move(host.files), fileCounts);
    // The floor commits each subscriber's transaction when the program has finished it.
    host.stepReached = [floor](const std::string &step) {
        if (step == "finished")
            floor->endSubscriber();
    };
    RegistryAPI registry(*host.registry);
    db::modTarvoDB tarvo(*host.database);
    if (!tarvo.bOpenDatabase(tarvo.DbConnectionString()))
        throw std::runtime_error("the cached tables do not open on " + folder);
    Logging log(host);

    ChooseSubscribersPage selection(host, registry, tarvo, nullptr, "");
    selection.Form_Load();
    selection.chooseCriterion(0); // "All subscribers" leads the list
    selection.cmdView_Click();
    gridRows = selection.gridDataRows();
    if (gridRows == 0)
        throw std::runtime_error("no subscriber to reset on " + folder);

    const std::string templateAlias = firstTemplateAlias(tarvo);
    ResetInputs inputs;
    inputs.grid = [&selection]() -> const SubscriberGrid & { return selection.myGrid; };
    inputs.templateAlias = [templateAlias] { return templateAlias; };
    inputs.preserveAlternateExtensions = [] { return true; };
    ResetPage page(host, registry, tarvo, log, inputs);
    page.Form_Load();

    // The run's memory beyond what the cached tables and the grid hold already.
    const long residentBefore = residentKb();
    const bool peakKnown = restartPeakResident();
    floor->active = true;
    const long fileSyncsBefore = fileCounts->syncs;
    Stopwatch watch;
    page.cmdResetSubscribers_Click();
    floor->endRun();
    const Timing run{watch.ms(), watch.cpuMs()};
    floor->active = false;
    if (fileSyncs)
        *fileSyncs = fileCounts->syncs - fileSyncsBefore;
    if (peakGrowthKb)
        *peakGrowthKb = peakKnown ? peakResidentKb() - residentBefore : -1;

    if (!page.summary())
        throw std::runtime_error("the reset run did not run on " + folder);
    std::cerr << "zephrane-bench: reset run over " << gridRows
              << " subscribers: " << page.summary()->subscribersReset << " reset, "
              << page.summary()->errorCount << " error line(s), " << floor->requests()
              << " database requests\n";
    return run;
}

namespace {

ResetTiming timeReset(const BenchOptions &options, int subscribers) {
    const std::string base = options.workFolder + "/reset-" + std::to_string(subscribers);
    const std::string pristine = base + "/host";
    if (!fs::exists(pristine + "/registry.reg")) {
        fs::create_directories(base);
        if (!runSimTool(options, "init '" + pristine + "' --subscribers " +
                                     std::to_string(subscribers) + " --seed " +
                                     std::to_string(options.seed)) ||
            !runSimTool(options, "set '" + pristine + "' virtual-time on"))
            throw std::runtime_error("cannot make the host of the reset run");
    }
    const std::string programHost = base + "/program";
    const std::string floorHost = base + "/floor";
    copyHost(pristine, programHost);
    copyHost(pristine, floorHost);

    ResetTiming timing;
    auto floor = std::make_shared<Floor>(floorHost, kServerGuidSeed);
    const long programDbBefore = sqlite::databaseSyncsUnder(programHost);
    const long floorDbBefore = sqlite::databaseSyncsUnder(floorHost);
    long programFiles = 0;
    const Timing run = resetEverySubscriber(programHost, floor, timing.gridRows, &programFiles,
                                            &timing.peakGrowthKb);
    timing.syncs.program = programFiles + sqlite::databaseSyncsUnder(programHost) - programDbBefore;
    timing.syncs.floor =
        floor->journalSyncs() + sqlite::databaseSyncsUnder(floorHost) - floorDbBefore;
    timing.floor = floor->spent();
    timing.program = {run.wallMs - timing.floor.wallMs, run.cpuMs - timing.floor.cpuMs};
    std::cerr << "zephrane-bench: the program " << numberText(timing.program.wallMs) << " ms ("
              << numberText(timing.program.cpuMs) << " ms processor time), the same requests "
              << "straight to SQLite " << numberText(timing.floor.wallMs) << " ms ("
              << numberText(timing.floor.cpuMs) << " ms processor time)\n";
    if (floor->mismatches() != 0) {
        std::cerr << "zephrane-bench: warning: " << floor->mismatches() << " of "
                  << floor->requests()
                  << " requests came out otherwise straight to SQLite than in the program, "
                     "the first: "
                  << floor->firstMismatch() << "\n";
    }
    return timing;
}

} // namespace

void measureReset(const BenchOptions &options, Report &report) {
    sqlite::countDatabaseSyncs(); // before the reset hosts' databases open
    // The small runs before and after the large one, so that they see the conditions of the
    // large run. A small run is cheap, and the fewer its subscribers the more chance weighs,
    // so the quick benchmark makes more of them.
    const int smallRuns = options.quick ? 4 : 2;
    double smallWall = std::numeric_limits<double>::infinity(); // the best
    double smallCpu = 0;                                        // the mean
    auto runSmall = [&] {
        const ResetTiming t = timeReset(options, options.resetSmall());
        smallWall = std::min(smallWall, t.program.wallMs / t.gridRows);
        smallCpu += t.program.cpuMs / t.gridRows / smallRuns;
    };
    for (int i = 0; i < smallRuns / 2; ++i)
        runSmall();
    const ResetTiming large = timeReset(options, options.resetLarge());
    for (int i = 0; i < smallRuns / 2; ++i)
        runSmall();

    report.add({"reset_per_subscriber_ms", large.programPerSubscriber(), "ms", Goal::Reference, 0,
                "see the ratio"});
    report.add({"reset_floor_per_subscriber_ms", large.floorPerSubscriber(), "ms", Goal::Reference,
                0, "floor"});
    report.add({"reset_vs_floor_ratio", large.program.wallMs / large.floor.wallMs, "ratio",
                Goal::AtMost, 1.5, "wall time"});
    report.add({"reset_cpu_vs_floor_ratio", large.program.cpuMs / large.floor.cpuMs, "ratio",
                Goal::AtMost, 1.5, "processor time"});
    report.add({"reset_syncs_per_subscriber",
                static_cast<double>(large.syncs.program) / large.gridRows, "count", Goal::AtMost, 8,
                "fsync/fdatasync, counted"});
    report.add({"reset_peak_rss_above_tables_mb", static_cast<double>(large.peakGrowthKb) / 1024,
                "MB", Goal::AtMost, 20,
                "over " + std::to_string(large.gridRows) + " subscribers, the floor's included"});
    report.add({"reset_floor_syncs_per_subscriber",
                static_cast<double>(large.syncs.floor) / large.gridRows, "count", Goal::Reference,
                0, "floor"});
    report.add({"reset_per_subscriber_small_ms", smallWall, "ms", Goal::Reference, 0,
                std::to_string(options.resetSmall()) + " subscribers, best of " +
                    std::to_string(smallRuns)});
    // The growth is judged on processor time: the wall time of a run on a shared disk follows
    // the disk's speed of the moment (it changed tenfold within minutes on the build machine),
    // while what could grow faster than the subscribers (a search that scans, a statement that
    // touches more pages) costs processor time; the number of disk syncs per subscriber is
    // fixed by the run's steps. The small runs' mean is taken, as the large run is one run.
    const double largeCpu = large.program.cpuMs / large.gridRows;
    std::cerr << "zephrane-bench: per subscriber " << numberText(largeCpu)
              << " ms processor time at " << options.resetLarge() << ", " << numberText(smallCpu)
              << " ms at " << options.resetSmall() << "; by the best wall times the growth is "
              << numberText(large.programPerSubscriber() / smallWall) << "\n";
    report.add(
        {"reset_scaling_ratio", largeCpu / smallCpu, "ratio", Goal::AtMost, 1.2, "processor time"});
}

} // namespace zeph::bench
