#include "Measure.h"

#include <algorithm>
#include <ctime>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <fstream>
#include <limits>
#include <string>

namespace zeph::bench {
namespace {

long statusKb(const std::string &key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

} // namespace

double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

long residentKb() {
    return statusKb("VmRSS");
}

long peakResidentKb() {
    return statusKb("VmHWM");
}

bool restartPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

void releaseFreeMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

Timing bestOf(int runs, const std::function<void()> &work) {
    Timing best{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
    for (int i = 0; i < std::max(runs, 1); ++i) {
        Stopwatch watch;
        work();
        best.cpuMs = std::min(best.cpuMs, watch.cpuMs());
        best.wallMs = std::min(best.wallMs, watch.ms());
    }
    return best;
}

} // namespace zeph::bench
