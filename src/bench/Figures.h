#pragma once
// The benchmark's measurements, one function per group of figures. Each adds its figures to
// the report as it takes them.

#include "Measure.h"
#include "Report.h"

#include <memory>
#include <string>

namespace zeph::bench {

struct BenchOptions {
    /// One tenth of every size, for a run within a minute.
    bool quick = false;
    /// A folder of the benchmark's own, for the hosts it makes and the files it writes.
    std::string workFolder;
    /// The host tool, zephrane-sim.
    std::string simTool;
    unsigned seed = 7;
    /// One group of figures only ("" for all): tables, selection, colors, reset, reset30k, tds
    /// or startup.
    std::string only;
    /// A large host made before; "" to make one (and time it).
    std::string largeHost;

    bool wants(const std::string &group) const { return only.empty() || only == group; }

    int scaled(int full) const { return quick ? full / 10 : full; }
    /// The large host of the cached tables, the selection, the CSV import and the reset of a
    /// whole large host.
    int hostSubscribers() const { return scaled(30000); }
    /// The reset runs compared for their growth work on copies of one host of this size: the
    /// large run resets all of it, the small runs resetSmall() subscribers spread over it.
    int resetLarge() const { return scaled(5000); }
    /// Not scaled: with fewer subscribers the run's own start and end and chance would weigh
    /// on the figure per subscriber, and a hundred cost a few seconds.
    int resetSmall() const { return 100; }
    /// Runs of each short measurement; the fastest counts.
    int runs() const { return quick ? 2 : 3; }
};

/// Runs the host tool with its arguments; false (with a note on standard error) when it fails.
bool runSimTool(const BenchOptions &options, const std::string &arguments);

/// sim_init_30k_s: makes the large host with the host tool and returns its folder ("" when the
/// tool failed).
std::string measureHostCreation(const BenchOptions &options, Report &report);

/// open_cached_tables_ms, open_cached_tables_peak_rss_mb, find_subscriber_ns,
/// find_subscriber_linear_ns. Runs first in the process, so that the peak is the tables'.
void measureCachedTables(const BenchOptions &options, const std::string &hostFolder,
                         Report &report);

/// select_all_to_grid_ms and csv_import_30k_ms, through the selection page.
void measureSelection(const BenchOptions &options, const std::string &hostFolder, Report &report);

/// set_query_colors_32k_ms.
void measureQueryColors(const BenchOptions &options, Report &report);

/// reset_per_subscriber_ms, reset_floor_per_subscriber_ms, reset_vs_floor_ratio,
/// reset_cpu_vs_floor_ratio, the syncs and commits a subscriber of the run and of its floor,
/// whether the floor left the same content, reset_scaling_ratio and reset_floor_scaling_ratio,
/// on copies of a host of their own.
void measureReset(const BenchOptions &options, Report &report);

/// reset_30k_s, reset_30k_per_subscriber_ms and reset_30k_peak_rss_above_tables_mb: every
/// subscriber of a copy of the large host reset on virtual time, with no floor beside it.
void measureLargeReset(const BenchOptions &options, const std::string &hostFolder, Report &report);

/// reset_embedded_cli_per_subscriber_ms, reset_over_tds_per_subscriber_ms and their ratio:
/// whole zephrane-cli runs in process and over ODBC to zephrane-sim serve, on virtual time.
void measureOverTds(const BenchOptions &options, Report &report);

/// list_templates_empty_logs_ms, list_templates_kept_journals_ms and their ratio: the start of
/// zephrane-cli with a month of kept journals against an empty logs folder.
void measureStartUp(const BenchOptions &options, Report &report);

class Floor;

/// What a reset run of the benchmark does beside the reset.
struct ResetRunSetup {
    /// Resets the same subscribers on a copy of the host, one after each the run finished;
    /// none for a run on its own.
    std::shared_ptr<Floor> floor;
    /// The subscribers to reset, spread over "All subscribers" (SpreadSelection.h); 0 for all.
    int spread = 0;
};

/// What a reset run took.
struct ResetRunResult {
    /// The whole run, the floor's share included.
    Timing run;
    int gridRows = 0;
    int subscribersReset = 0;
    /// The syncs of the run's own files (log, journal, failed records).
    long fileSyncs = 0;
    /// The rise of the peak resident size during the run above the size with the cached tables
    /// and the grid open; -1 when the system does not tell.
    long peakGrowthKb = -1;
    /// The same rise until the end of the last subscriber the run finished, before what the
    /// run's end adds; noted only in a run without the floor.
    long peakGrowthToLastFinishedKb = -1;
};

/// Resets subscribers of a host as the wizard does (the chosen subscribers in the grid, the
/// first template, alternate extensions kept, the run confirmed).
ResetRunResult runReset(const std::string &hostFolder, const ResetRunSetup &setup = {});

/// The disk syncs (or the commits) of a reset run and of its floor, counted.
struct ResetSyncs {
    long program = 0;
    long floor = 0;
};

} // namespace zeph::bench
