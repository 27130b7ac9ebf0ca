// The reset run over a real SQL Server driver against the embedded database, per subscriber,
// on virtual time: the same host copied twice, zephrane-cli run on one in process and on the
// other over unixODBC, FreeTDS and zephrane-sim serve. Both are whole program runs (start-up,
// cached tables, the run), so the difference is what the wire and the server's process add.
// Both run under strace, which counts their disk syncs (and the server's) at the few calls
// it stops for.
#include "BenchHost.h"
#include "Figures.h"
#include "Measure.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace zeph::bench {
namespace {

constexpr const char *kPassword = "bench-tds";

std::string quoted(const std::string &text) {
    return "'" + text + "'";
}

std::string readFile(const std::string &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// A command's prefix that counts the disk syncs of its process and children into `summary`.
std::string syncCounter(const std::string &summary) {
    return "strace -f -c --seccomp-bpf -e trace=fsync,fdatasync,sync_file_range,msync -o " +
           quoted(summary) + " ";
}

/// The calls of a strace summary's "total" line; throws when there is none.
long countedSyncs(const std::string &summary) {
    std::istringstream text(readFile(summary));
    for (std::string line; std::getline(text, line);) {
        std::istringstream fields(line);
        std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
        if (words.size() >= 5 && words.back() == "total")
            return std::stol(words[3]);
    }
    throw std::runtime_error("no count of disk syncs in " + summary + " (is strace installed?)");
}

/// Runs a reset of every subscriber; returns its wall time and how many were reset. Its disk
/// syncs are counted into `syncSummary`.
double timedReset(const std::string &environment, const std::string &cli, const std::string &output,
                  const std::string &syncSummary, int &reset) {
    const std::string command = environment + " " + syncCounter(syncSummary) + quoted(cli) +
                                " --template defaultTemplate --all --yes >" + quoted(output) +
                                " 2>&1";
    Stopwatch watch;
    const int status = std::system(command.c_str());
    const double ms = watch.ms();
    // Status 1: some of the seeded oddities failed, as they do on every backend.
    if (status != 0 && status != 256)
        throw std::runtime_error("the reset run failed (status " + std::to_string(status) +
                                 "): " + command);
    const std::string text = readFile(output);
    reset = 0;
    for (std::size_t at = text.find("** Resetting Subscriber **"); at != std::string::npos;
         at = text.find("** Resetting Subscriber **", at + 1))
        ++reset;
    if (reset == 0)
        throw std::runtime_error("the reset run reset no subscriber: " + command);
    return ms;
}

/// Starts zephrane-sim serve in the background; returns its port.
int startServe(const BenchOptions &options, const std::string &host, const std::string &base) {
    const std::string out = base + "/serve.out";
    const std::string command = syncCounter(base + "/serve.syncs") + quoted(options.simTool) +
                                " serve " + quoted(host) + " --port 0 >" + quoted(out) +
                                " 2>&1 & echo $! >" + quoted(base + "/serve.pid");
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("cannot start zephrane-sim serve");
    static const std::regex listening(R"(port (\d+))");
    for (int i = 0; i < 300; ++i) {
        std::smatch match;
        const std::string text = readFile(out);
        if (std::regex_search(text, match, listening))
            return std::stoi(match[1].str());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error("zephrane-sim serve did not start listening: " + readFile(out));
}

/// Ends the server (the child of the sync counter), so that the counter writes its summary.
void stopServe(const std::string &base) {
    const std::string command = "pkill -TERM -P $(cat " + quoted(base + "/serve.pid") + ")";
    if (std::system(command.c_str()) != 0)
        std::cerr << "zephrane-bench: zephrane-sim serve had ended already\n";
    for (int i = 0; i < 100 && readFile(base + "/serve.syncs").find("total") == std::string::npos;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

} // namespace

void measureOverTds(const BenchOptions &options, Report &report) {
    const int subscribers = options.resetSmall();
    const std::string base = options.workFolder + "/tds-" + std::to_string(subscribers);
    const std::string pristine = base + "/host";
    if (!fs::exists(pristine + "/registry.reg")) {
        fs::create_directories(base);
        if (!runSimTool(options, "init " + quoted(pristine) + " --subscribers " +
                                     std::to_string(subscribers) + " --seed " +
                                     std::to_string(options.seed)) ||
            !runSimTool(options, "set " + quoted(pristine) + " virtual-time on") ||
            !runSimTool(options, "set " + quoted(pristine) + " sql-password " + kPassword))
            throw std::runtime_error("cannot make the host of the runs over TDS");
    }
    const std::string embeddedHost = base + "/embedded";
    const std::string servedHost = base + "/served";
    copyHost(pristine, embeddedHost);
    copyHost(pristine, servedHost);
    const std::string cli = (fs::path(options.simTool).parent_path() / "zephrane-cli").string();

    int embeddedCount = 0;
    const double embeddedMs =
        timedReset("ZEPHRANE_HOST=" + quoted(embeddedHost), cli, base + "/embedded.out",
                   base + "/embedded.syncs", embeddedCount);
    const int port = startServe(options, servedHost, base);
    int servedCount = 0;
    double servedMs = 0;
    try {
        servedMs =
            timedReset("ZEPHRANE_HOST=" + quoted(servedHost) + " ZEPHRANE_DATABASE=" +
                           quoted("Driver={SQL Server};Server=127.0.0.1," + std::to_string(port) +
                                  ";Database=TarvoDb;UID=zephrane;PWD=" + kPassword +
                                  ";TDS_Version=7.4;ClientCharset=UTF-8"),
                       cli, base + "/served.out", base + "/served.syncs", servedCount);
    } catch (...) {
        stopServe(base);
        throw;
    }
    stopServe(base);
    const long embeddedSyncs = countedSyncs(base + "/embedded.syncs");
    const long servedSyncs =
        countedSyncs(base + "/served.syncs") + countedSyncs(base + "/serve.syncs");
    std::cerr << "zephrane-bench: reset of " << embeddedCount << " subscribers in process "
              << numberText(embeddedMs) << " ms (" << embeddedSyncs << " disk syncs), over TDS "
              << numberText(servedMs) << " ms (" << servedSyncs
              << " disk syncs, the program's and the server's)\n";
    report.add({"reset_embedded_cli_per_subscriber_ms", embeddedMs / embeddedCount, "ms",
                Goal::Reference, 0, "zephrane-cli, whole run"});
    report.add({"reset_over_tds_per_subscriber_ms", servedMs / servedCount, "ms", Goal::Reference,
                0, "over ODBC, FreeTDS and serve"});
    report.add({"reset_tds_vs_embedded_ratio",
                (servedMs / servedCount) / (embeddedMs / embeddedCount), "ratio", Goal::AtMost, 2,
                "wall time a subscriber"});
    report.add({"reset_embedded_cli_syncs_per_subscriber",
                static_cast<double>(embeddedSyncs) / embeddedCount, "count", Goal::Reference, 0,
                "fsync/fdatasync, strace"});
    report.add({"reset_over_tds_syncs_per_subscriber",
                static_cast<double>(servedSyncs) / servedCount, "count", Goal::AtMost, 8,
                "program and server, strace"});
}

} // namespace zeph::bench
