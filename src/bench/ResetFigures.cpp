// The reset run on virtual time, per subscriber, beside the floor of the same reset, and its
// growth with the number of subscribers it resets.
//
// One host is made for the runs and copied twice for each: the program resets subscribers of
// one copy, and the floor (Floor.h), the least work a correct reset needs, resets the same
// subscribers of the other, one after each that the program finished. Both copies must then
// hold the same content. The large run resets every subscriber, the small ones a sample spread
// over the same host, so that both meet a database of the same size: the growth is the
// program's, not that of the database with its size.
//
// The reset of a whole large host runs alone, without the floor, whose time would double the
// run's and whose bookkeeping would be in the memory figure.
#include "BenchHost.h"
#include "Figures.h"
#include "Floor.h"
#include "HostContent.h"
#include "Measure.h"
#include "SpreadSelection.h"
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
#include <set>
#include <stdexcept>

namespace fs = std::filesystem;

namespace zeph::bench {
namespace {

constexpr std::uint64_t kServerGuidSeed = 0x5EED;

struct ResetTiming {
    int gridRows = 0;
    int programReset = 0; // the subscribers each reset
    int floorReset = 0;
    Timing program; // the program's own share of the run
    Timing floor;
    ResetSyncs syncs;
    ResetSyncs commits;
    long differences = 0; // rows and files in which the floor's host differs from the program's
    long peakGrowthKb = -1;
    double programPerSubscriber() const { return program.wallMs / gridRows; }
    double floorPerSubscriber() const { return floor.wallMs / gridRows; }
    double syncsPerSubscriber() const {
        return static_cast<double>(syncs.program) / std::max(1, programReset);
    }
    double commitsPerSubscriber() const {
        return static_cast<double>(commits.program) / std::max(1, programReset);
    }
};

std::string firstTemplateAlias(db::modTarvoDB &tarvo) {
    db::Recordset &templates = tarvo.rsSubscriberTemplates();
    templates.MoveFirst();
    return templates["Alias"].Text();
}

// The floor resets the subscribers the run is asked to reset, alternate extensions kept.
FloorPlan floorPlan(const std::vector<SelectedSubscriber> &subscribers,
                    const std::string &templateAlias) {
    FloorPlan plan;
    plan.templateAlias = templateAlias;
    plan.preserveAlternateExtensions = true;
    for (const SelectedSubscriber &subscriber : subscribers)
        plan.objectIds.push_back(subscriber.objectId);
    return plan;
}

} // namespace

ResetRunResult runReset(const std::string &folder, const ResetRunSetup &setup) {
    const std::shared_ptr<Floor> &floor = setup.floor;
    BenchHost bench(folder, kServerGuidSeed);
    Host &host = bench.host();
    // The run's log, journal and failed-records files are counted where they are synced.
    auto fileCounts = std::make_shared<FileSyncCounts>();
    host.files = std::make_unique<SyncCountingFiles>(std::move(host.files), fileCounts);
    // The floor resets a subscriber when the program has finished one. A run alone notes its
    // peak memory there instead, which tells the growth over the subscribers from what the
    // run's end adds.
    long peakAtLastFinishedKb = -1;
    host.stepReached = [floor, &peakAtLastFinishedKb](const std::string &step) {
        if (step != "finished")
            return;
        if (floor)
            floor->resetNext();
        else
            peakAtLastFinishedKb = peakResidentKb();
    };
    RegistryAPI registry(*host.registry);
    db::modTarvoDB tarvo(*host.database);
    if (!tarvo.bOpenDatabase(tarvo.DbConnectionString()))
        throw std::runtime_error("the cached tables do not open on " + folder);
    Logging log(host);

    ResetRunResult result;
    ChooseSubscribersPage selection(host, registry, tarvo, nullptr, "");
    selection.Form_Load();
    result.gridRows = selectSpread(selection, folder + "/spread.csv", setup.spread);
    if (result.gridRows == 0)
        throw std::runtime_error("no subscriber to reset on " + folder);

    const std::string templateAlias = firstTemplateAlias(tarvo);
    ResetPage page(host, registry, tarvo, log, [&selection, templateAlias] {
        ResetRequest request;
        request.templateAlias = templateAlias;
        request.preserveAlternateExtensions = true;
        request.subscribers = selection.tickedSubscribers();
        return request;
    });
    page.Form_Load();
    if (floor)
        floor->plan(floorPlan(selection.tickedSubscribers(), templateAlias));

    // The run's memory beyond what the cached tables and the grid hold already.
    releaseFreeMemory();
    const long residentBefore = residentKb();
    const bool peakKnown = restartPeakResident();
    if (floor)
        floor->active = true;
    const long fileSyncsBefore = fileCounts->syncs;
    Stopwatch watch;
    page.cmdResetSubscribers_Click();
    if (floor)
        floor->endRun();
    result.run = {watch.ms(), watch.cpuMs()};
    if (floor)
        floor->active = false;
    result.fileSyncs = fileCounts->syncs - fileSyncsBefore;
    result.peakGrowthKb = peakKnown ? peakResidentKb() - residentBefore : -1;
    if (peakKnown && peakAtLastFinishedKb >= 0)
        result.peakGrowthToLastFinishedKb = peakAtLastFinishedKb - residentBefore;

    if (!page.summary())
        throw std::runtime_error("the reset run did not run on " + folder);
    result.subscribersReset = page.summary()->subscribersReset;
    std::cerr << "zephrane-bench: reset run over " << result.gridRows
              << " subscribers: " << result.subscribersReset << " reset, "
              << page.summary()->errorCount << " error line(s)";
    if (floor)
        std::cerr << "; the floor " << floor->subscribersReset() << " reset, "
                  << floor->subscribersSkipped() << " skipped";
    std::cerr << "; resident " << residentBefore / 1024 << " MB before it\n";
    return result;
}

namespace {

// A run over `spread` subscribers (0: all) of a copy of the runs' host, beside the floor; with
// `compare`, what the two leave is compared.
ResetTiming timeReset(const BenchOptions &options, int spread, bool compare) {
    const int subscribers = options.resetLarge();
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
    const long programCommitsBefore = sqlite::databaseCommitsUnder(programHost);
    const long floorCommitsBefore = sqlite::databaseCommitsUnder(floorHost);
    const ResetRunResult result = runReset(programHost, {floor, spread});
    const Timing &run = result.run;
    timing.gridRows = result.gridRows;
    timing.programReset = result.subscribersReset;
    timing.floorReset = floor->subscribersReset();
    timing.peakGrowthKb = result.peakGrowthKb;
    timing.syncs.program =
        result.fileSyncs + sqlite::databaseSyncsUnder(programHost) - programDbBefore;
    timing.syncs.floor =
        floor->journalSyncs() + sqlite::databaseSyncsUnder(floorHost) - floorDbBefore;
    timing.commits.program = sqlite::databaseCommitsUnder(programHost) - programCommitsBefore;
    timing.commits.floor = sqlite::databaseCommitsUnder(floorHost) - floorCommitsBefore;
    timing.floor = floor->spent();
    timing.program = {run.wallMs - timing.floor.wallMs, run.cpuMs - timing.floor.cpuMs};
    std::cerr << "zephrane-bench: the program " << numberText(timing.program.wallMs) << " ms ("
              << numberText(timing.program.cpuMs) << " ms processor time), the floor "
              << numberText(timing.floor.wallMs) << " ms (" << numberText(timing.floor.cpuMs)
              << " ms processor time)\n";
    if (floor->failures() != 0) {
        std::cerr << "zephrane-bench: the floor's server refused " << floor->failures()
                  << " step(s), the first: " << floor->firstFailure() << "\n";
    }
    // The floor is a floor only when it did the program's work: both hosts hold the same.
    if (!compare)
        return timing;
    const std::set<std::string> known = idsOf(pristine);
    const ContentDifference differs =
        difference(hostContent(programHost, known), hostContent(floorHost, known));
    timing.differences = differs.count;
    if (differs.count != 0) {
        std::cerr << "zephrane-bench: the floor's host differs from the program's in "
                  << differs.count << " rows or files (the first is the program's):\n"
                  << differs.sample;
    }
    return timing;
}

} // namespace

void measureReset(const BenchOptions &options, Report &report) {
    sqlite::countDatabaseSyncs(); // before the reset hosts' databases open
    // The small runs before and after the large one, so that they see the conditions of the
    // large run.
    const int smallRuns = 2;
    double smallWall = std::numeric_limits<double>::infinity(); // the best
    double smallCpu = 0;                                        // the mean
    double smallFloorCpu = 0;                                   // the mean
    int smallRows = 0;
    auto runSmall = [&] {
        const ResetTiming t = timeReset(options, options.resetSmall(), false);
        smallWall = std::min(smallWall, t.program.wallMs / t.gridRows);
        smallCpu += t.program.cpuMs / t.gridRows / smallRuns;
        smallFloorCpu += t.floor.cpuMs / t.gridRows / smallRuns;
        smallRows = t.gridRows;
    };
    for (int i = 0; i < smallRuns / 2; ++i)
        runSmall();
    const ResetTiming large = timeReset(options, 0, true);
    for (int i = 0; i < smallRuns / 2; ++i)
        runSmall();

    report.add({"reset_per_subscriber_ms", large.programPerSubscriber(), "ms", Goal::Reference, 0,
                "see the ratio"});
    report.add({"reset_floor_per_subscriber_ms", large.floorPerSubscriber(), "ms", Goal::Reference,
                0, "floor"});
    // On a shared disk the wall time follows the number of times a subscriber waits for the
    // disk: the ratio of the wall times tends to that of the syncs when the disk is slow.
    report.add({"reset_vs_floor_ratio", large.program.wallMs / large.floor.wallMs, "ratio",
                Goal::AtMost, 1.3, "wall time"});
    report.add({"reset_cpu_vs_floor_ratio", large.program.cpuMs / large.floor.cpuMs, "ratio",
                Goal::AtMost, 1.3, "processor time"});
    report.add({"reset_syncs_per_subscriber", large.syncsPerSubscriber(), "count", Goal::AtMost,
                3.5, "fsync/fdatasync a subscriber reset, counted"});
    report.add({"reset_commits_per_subscriber", large.commitsPerSubscriber(), "count", Goal::AtMost,
                3, "transactions written to the database a subscriber reset"});
    report.add({"reset_floor_differences", static_cast<double>(large.differences), "count",
                Goal::AtMost, 0, "rows and files the floor's host holds otherwise"});
    // The target is held by the reset of a whole large host, run without the floor; here the
    // floor's own bookkeeping is in the figure.
    report.add({"reset_peak_rss_above_tables_mb", static_cast<double>(large.peakGrowthKb) / 1024,
                "MB", Goal::Reference, 0,
                "over " + std::to_string(large.gridRows) + " subscribers, the floor's included"});
    report.add({"reset_floor_syncs_per_subscriber",
                static_cast<double>(large.syncs.floor) / std::max(1, large.floorReset), "count",
                Goal::Reference, 0, "floor"});
    report.add({"reset_floor_commits_per_subscriber",
                static_cast<double>(large.commits.floor) / std::max(1, large.floorReset), "count",
                Goal::Reference, 0, "floor"});
    report.add({"reset_per_subscriber_small_ms", smallWall, "ms", Goal::Reference, 0,
                std::to_string(smallRows) + " of " + std::to_string(large.gridRows) +
                    " subscribers, best of " + std::to_string(smallRuns)});
    // The growth is judged on processor time: the wall time of a run on a shared disk follows
    // the disk's speed of the moment (it changed tenfold within minutes on the build machine),
    // while what could grow faster than the subscribers (a search that scans, a statement that
    // touches more pages) costs processor time; the number of disk syncs per subscriber is
    // fixed by the run's steps. The small runs' mean is taken, as the large run is one run.
    const double largeCpu = large.program.cpuMs / large.gridRows;
    const double largeFloorCpu = large.floor.cpuMs / large.gridRows;
    std::cerr << "zephrane-bench: per subscriber " << numberText(largeCpu)
              << " ms processor time over " << large.gridRows << ", " << numberText(smallCpu)
              << " ms over " << smallRows << "; by the best wall times the growth is "
              << numberText(large.programPerSubscriber() / smallWall) << "\n";
    report.add(
        {"reset_scaling_ratio", largeCpu / smallCpu, "ratio", Goal::AtMost, 1.2, "processor time"});
    // The same growth of the floor: SQLite's own work per subscriber, on the same database.
    report.add({"reset_floor_scaling_ratio", largeFloorCpu / smallFloorCpu, "ratio",
                Goal::Reference, 0, "the floor's processor time"});
}

void measureLargeReset(const BenchOptions &options, const std::string &hostFolder, Report &report) {
    const std::string base =
        options.workFolder + "/reset-" + std::to_string(options.hostSubscribers());
    const std::string copy = base + "/program";
    fs::create_directories(base);
    copyHost(hostFolder, copy);
    if (!runSimTool(options, "set '" + copy + "' virtual-time on"))
        throw std::runtime_error("cannot put the copy of the large host on virtual time");
    const ResetRunResult result = runReset(copy);
    fs::remove_all(copy); // the size of the large host again; nothing reads it afterwards
    const double perSubscriber = result.run.wallMs / result.gridRows;
    std::cerr << "zephrane-bench: the whole large host reset in " << numberText(result.run.wallMs)
              << " ms (" << numberText(result.run.cpuMs / result.gridRows)
              << " ms processor time per subscriber)\n";
    const std::string over = std::to_string(result.gridRows) + " subscribers";
    report.add({"reset_30k_s", result.run.wallMs / 1000, "s", Goal::Reference, 0,
                over + " on virtual time"});
    report.add({"reset_30k_per_subscriber_ms", perSubscriber, "ms", Goal::Reference, 0,
                "wall time, no floor beside it"});
    report.add({"reset_30k_peak_rss_above_tables_mb",
                static_cast<double>(result.peakGrowthKb) / 1024, "MB", Goal::AtMost, 20,
                "over " + over});
    report.add({"reset_30k_peak_rss_to_last_subscriber_mb",
                static_cast<double>(result.peakGrowthToLastFinishedKb) / 1024, "MB",
                Goal::Reference, 0, "the same until the last subscriber's end"});
}

} // namespace zeph::bench
