// Measurements, not checks: run with --gtest_also_run_disabled_tests in an optimised build.
// They print how long the cached tables take to open on 30,000 subscribers, how long a search
// takes, and how much memory the process holds.
#include "db/modTarvoDB.h"
#include "db_helpers.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <time.h>

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

// Bytes of heap in use (the process's resident size also keeps what earlier work freed).
long heapKb() {
    return static_cast<long>(mallinfo2().uordblks / 1024);
}

// Processor time of this process, so that other work on the machine does not count.
double cpuNs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Searches by id (MoveFirst, then Find), taking the ids in a scattered order over all of them,
// over a thousand, and always the same one; prints wall and processor time per search.
void measureFinds(Recordset &subs, const std::vector<std::string> &criteria) {
    const int rounds = 200000;
    for (std::size_t spread : {criteria.size(), std::size_t{1000}, std::size_t{1}}) {
        int found = 0;
        const double cpu = cpuNs();
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i) {
            subs.MoveFirst();
            subs.Find(criteria[(static_cast<std::size_t>(i) * 7919) % spread]);
            found += !subs.Eof();
        }
        std::printf("Find by SubscriberObjectID (indexed, %zu ids): %.0f ns (%.0f ns processor)\n",
                    spread, msSince(start) * 1e6 / rounds, (cpuNs() - cpu) / rounds);
        EXPECT_EQ(found, rounds);
    }
}

TEST(Measure, DISABLED_CachedTablesOf30000Subscribers) {
    const int n = 30000;
    TestDb file(n);
    auto db = file.database();
    const long rssBefore = memoryKb("VmRSS");
    const long heapBefore = heapKb();

    modTarvoDB tarvo(*db);
    auto start = Clock::now();
    ASSERT_TRUE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
    const double openMs = msSince(start);
    const long rssOpen = memoryKb("VmRSS");
    const long heapOpen = heapKb();

    Recordset &subs = tarvo.rsSubscribers();
    std::vector<std::string> criteria;
    for (int i = 0; i < n; ++i)
        criteria.push_back("SubscriberObjectID='" + guidFor(1000 + i) + "'");
    std::printf("open of the five tables (%d subscribers): %.1f ms\n", n, openMs);
    measureFinds(subs, criteria);

    // A search on the primary call handlers, which have no index hint: the first ones scan.
    Recordset &handlers = tarvo.rsPrimaryCallHandlers();
    start = Clock::now();
    handlers.MoveFirst();
    handlers.Find("CallHandlerObjectID='" + guidFor(500000 + n - 1) + "'");
    const double scanUs = msSince(start) * 1e3;
    ASSERT_FALSE(handlers.Eof());
    std::printf("Find by CallHandlerObjectID over %d rows (scan to the last row): %.0f us\n", n,
                scanUs);
    std::printf("memory: %ld kB before opening, %ld kB open (+%ld kB; heap +%ld kB), peak %ld kB\n",
                rssBefore, rssOpen, rssOpen - rssBefore, heapOpen - heapBefore, memoryKb("VmHWM"));
}

} // namespace

namespace {

TEST(Measure, DISABLED_CachedTablesOfAStandInHostOf30000Subscribers) {
    auto start = Clock::now();
    test::TempHost host(30000);
    std::printf("stand-in host of 30000 subscribers made in %.0f ms\n", msSince(start));
    const long heapBefore = heapKb();
    modTarvoDB tarvo(*host.host().database);
    start = Clock::now();
    ASSERT_TRUE(tarvo.bOpenDatabase(tarvo.DbConnectionString()));
    const double openMs = msSince(start);
    const long heapOpen = heapKb();

    Recordset &subs = tarvo.rsSubscribers();
    std::vector<std::string> criteria;
    for (subs.MoveFirst(); !subs.Eof(); subs.MoveNext())
        criteria.push_back("SubscriberObjectID='" + subs["SubscriberObjectID"].Text() + "'");
    measureFinds(subs, criteria);
    std::printf("rows: %ld subscribers (%zu fields), %ld primary call handlers\n",
                subs.RecordCount(), subs.FieldCount(), tarvo.rsPrimaryCallHandlers().RecordCount());
    std::printf("open of the five tables: %.1f ms\n", openMs);
    std::printf(
        "memory: heap +%ld kB for the open tables; process peak %ld kB (seeding included)\n",
        heapOpen - heapBefore, memoryKb("VmHWM"));
}

} // namespace
