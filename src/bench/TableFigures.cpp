// The cached tables of a large host: how long they take to open, what memory they hold, and
// what a look-up of a subscriber by its id costs with the index and without.
#include "BenchHost.h"
#include "Figures.h"
#include "Measure.h"
#include "db/modTarvoDB.h"

#include <algorithm>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>

namespace zeph::bench {
namespace {

// The criteria of the look-ups, in a scattered order over all ids, so that consecutive
// look-ups do not find their rows side by side in the caches.
std::vector<std::string> scatteredCriteria(db::Recordset &subscribers) {
    std::vector<std::string> ids;
    db::Field id = subscribers["SubscriberObjectID"];
    for (subscribers.MoveFirst(); !subscribers.Eof(); subscribers.MoveNext())
        ids.push_back("SubscriberObjectID='" + id.Text() + "'");
    std::vector<std::string> criteria;
    criteria.reserve(ids.size());
    const std::size_t step = 7919; // a prime: every id is taken once
    for (std::size_t i = 0; i < ids.size(); ++i)
        criteria.push_back(ids[(i * step) % ids.size()]);
    return criteria;
}

/// Processor time per look-up (MoveFirst, then Find), in nanoseconds, the best of the runs.
/// Fails when a subscriber is not found.
double lookUpNs(int runs, db::Recordset &subscribers, const std::vector<std::string> &criteria,
                int rounds, const std::function<void()> &beforeEach = {}) {
    std::size_t found = 0;
    const Timing best = bestOf(runs, [&] {
        for (int i = 0; i < rounds; ++i) {
            if (beforeEach)
                beforeEach();
            subscribers.MoveFirst();
            subscribers.Find(criteria[static_cast<std::size_t>(i) % criteria.size()]);
            found += subscribers.Eof() ? 0 : 1;
        }
    });
    if (found != static_cast<std::size_t>(rounds) * static_cast<std::size_t>(std::max(runs, 1)))
        throw std::runtime_error("a look-up by SubscriberObjectID did not find its subscriber");
    return best.cpuMs * 1e6 / rounds;
}

} // namespace

void measureCachedTables(const BenchOptions &options, const std::string &hostFolder,
                         Report &report) {
    BenchHost bench(hostFolder);
    IDatabase &database = *bench.host().database;

    // The first opening sets the peak: nothing else of size has been held by the process yet.
    std::unique_ptr<db::modTarvoDB> tarvo;
    long peakKb = 0;
    Timing open{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
    for (int i = 0; i < options.runs(); ++i) {
        tarvo.reset(); // one set of tables at a time, as in the program; not timed
        tarvo = std::make_unique<db::modTarvoDB>(database);
        Stopwatch watch;
        if (!tarvo->bOpenDatabase(tarvo->DbConnectionString()))
            throw std::runtime_error("the cached tables do not open on " + hostFolder);
        open.wallMs = std::min(open.wallMs, watch.ms());
        open.cpuMs = std::min(open.cpuMs, watch.cpuMs());
        if (i == 0)
            peakKb = peakResidentKb();
    }
    std::cerr << "zephrane-bench: cached tables opened in " << numberText(open.wallMs)
              << " ms wall time at best\n";
    report.add({"open_cached_tables_ms", open.cpuMs, "ms", Goal::Below, 500, ""});
    report.add({"open_cached_tables_peak_rss_mb", static_cast<double>(peakKb) / 1024.0, "MB",
                Goal::Below, 150, ""});

    db::Recordset &subscribers = tarvo->rsSubscribers();
    const std::vector<std::string> criteria = scatteredCriteria(subscribers);
    if (criteria.empty())
        throw std::runtime_error("the host has no subscribers");
    std::cerr << "zephrane-bench: " << criteria.size() << " subscribers, "
              << subscribers.FieldCount() << " fields each\n";

    const int rounds = options.quick ? 100000 : 500000;
    const double findNs = lookUpNs(options.runs(), subscribers, criteria, rounds);
    report.add({"find_subscriber_ns", findNs, "ns", Goal::Below, 1000, ""});

    // The same search with the index dropped before each look-up: Find then walks the rows
    // from the first, as it does on a field without the index hint.
    db::Field key = subscribers["SubscriberObjectID"];
    const int scans = options.quick ? 2000 : 1000;
    const double linearNs = lookUpNs(1, subscribers, criteria, scans, [&] { key.Optimize(false); });
    key.Optimize(true);
    report.add({"find_subscriber_linear_ns", linearNs, "ns", Goal::Reference, 0,
                "plain scan, for comparison"});
}

} // namespace zeph::bench
