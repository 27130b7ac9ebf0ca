// Measurements, not checks: run with --gtest_also_run_disabled_tests in an optimised build.
// They print how long the cached tables take to open on 30,000 subscribers, how long a search
// takes, and how much memory the process holds.
#include "db/modTarvoDB.h"
#include "db_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>

using namespace zeph;
using namespace zeph::db;
using zeph::test::guidFor;
using zeph::test::TestDb;
using Clock = std::chrono::steady_clock;

namespace {

// "VmRSS" or "VmHWM" of this process, in kB.
long memoryKb(const std::string &key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(Measure, DISABLED_CachedTablesOf30000Subscribers) {
    const int n = 30000;
    TestDb file(n);
    auto db = file.database();
    const long rssBefore = memoryKb("VmRSS");

    modTarvoDB tarvo(*db);
    auto start = Clock::now();
    ASSERT_TRUE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
    const double openMs = msSince(start);
    const long rssOpen = memoryKb("VmRSS");

    // One search by id on the indexed table, repeated to be measurable.
    Recordset &subs = tarvo.rsSubscribers();
    const int rounds = 200000;
    std::vector<std::string> criteria;
    for (int i = 0; i < 1000; ++i)
        criteria.push_back("SubscriberObjectID='" + guidFor(1000 + (i * 7919) % n) + "'");
    int found = 0;
    start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        subs.MoveFirst();
        subs.Find(criteria[static_cast<std::size_t>(i) % criteria.size()]);
        found += !subs.Eof();
    }
    const double findNs = msSince(start) * 1e6 / rounds;
    ASSERT_EQ(found, rounds);

    // The same with the column and value given apart (no criterion text to read).
    std::vector<std::string> ids;
    for (int i = 0; i < 1000; ++i)
        ids.push_back(guidFor(1000 + (i * 7919) % n));
    start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        subs.MoveFirst();
        subs.Find("SubscriberObjectID", DbValue(ids[static_cast<std::size_t>(i) % ids.size()]));
    }
    const double findValueNs = msSince(start) * 1e6 / rounds;

    // A search on the primary call handlers, which have no index hint: the first ones scan.
    Recordset &handlers = tarvo.rsPrimaryCallHandlers();
    start = Clock::now();
    handlers.MoveFirst();
    handlers.Find("CallHandlerObjectID='" + guidFor(500000 + n - 1) + "'");
    const double scanUs = msSince(start) * 1e3;
    ASSERT_FALSE(handlers.Eof());

    std::printf("open of the five tables (%d subscribers): %.1f ms\n", n, openMs);
    std::printf("Find by SubscriberObjectID (indexed, criterion text): %.0f ns\n", findNs);
    std::printf("Find by SubscriberObjectID (indexed, column and value): %.0f ns\n", findValueNs);
    std::printf("Find by CallHandlerObjectID over %d rows (scan to the last row): %.0f us\n", n,
                scanUs);
    std::printf("memory: %ld kB before opening, %ld kB open (+%ld kB), peak %ld kB\n", rssBefore,
                rssOpen, rssOpen - rssBefore, memoryKb("VmHWM"));
}

} // namespace
