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
    /// One group of figures only ("" for all): tables, selection, colors, reset, tds or startup.
    std::string only;
    /// A large host made before; "" to make one (and time it).
    std::string largeHost;

    bool wants(const std::string &group) const { return only.empty() || only == group; }

    int scaled(int full) const { return quick ? full / 10 : full; }
    /// The large host of the cached tables, the selection and the CSV import.
    int hostSubscribers() const { return scaled(30000); }
    /// The two reset runs compared for their growth.
    int resetLarge() const { return scaled(5000); }
    int resetSmall() const { return scaled(100); }
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

/// reset_per_subscriber_ms, reset_floor_per_subscriber_ms, reset_vs_floor_ratio and
/// reset_scaling_ratio, on hosts of their own.
void measureReset(const BenchOptions &options, Report &report);

/// reset_embedded_cli_per_subscriber_ms, reset_over_tds_per_subscriber_ms and their ratio:
/// whole zephrane-cli runs in process and over ODBC to zephrane-sim serve, on virtual time.
void measureOverTds(const BenchOptions &options, Report &report);

/// list_templates_empty_logs_ms, list_templates_kept_journals_ms and their ratio: the start of
/// zephrane-cli with a month of kept journals against an empty logs folder.
void measureStartUp(const BenchOptions &options, Report &report);

class Floor;
/// Resets every subscriber of a host as the wizard does ("All subscribers" on the selection
/// page, the first template, alternate extensions kept, the run confirmed), each request to the
/// database passed to the floor. Returns the time of the run, the floor's share included, and
/// the grid's rows.
/// With `fileSyncs`, the syncs of the run's own files (log, journal) go there.
Timing resetEverySubscriber(const std::string &hostFolder, const std::shared_ptr<Floor> &floor,
                            int &gridRows, long *fileSyncs = nullptr, long *peakGrowthKb = nullptr);

/// The disk syncs of a reset run and of its floor, counted.
struct ResetSyncs {
    long program = 0;
    long floor = 0;
};

} // namespace zeph::bench
