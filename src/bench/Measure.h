#pragma once
// Clocks and memory readings of the benchmark process.

#include <chrono>
#include <functional>

namespace zeph::bench {

/// Processor time this process has used, in milliseconds.
double processCpuMs();

/// Wall time and processor time from construction (or the last restart).
class Stopwatch {
public:
    Stopwatch() { restart(); }
    void restart() {
        m_start = std::chrono::steady_clock::now();
        m_cpuStart = processCpuMs();
    }
    double ms() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start)
            .count();
    }
    double cpuMs() const { return processCpuMs() - m_cpuStart; }

private:
    std::chrono::steady_clock::time_point m_start;
    double m_cpuStart = 0;
};

/// What one piece of work took.
struct Timing {
    double wallMs = 0;
    double cpuMs = 0;
};

/// Resident memory of this process now and at its peak ("VmRSS", "VmHWM"), in kB; -1 when the
/// system does not tell.
long residentKb();
long peakResidentKb();
/// Starts the peak anew from the present resident size; false when the system cannot.
bool restartPeakResident();
/// Gives the memory the allocator holds free back to the system, so that the resident size is
/// what is in use: memory freed by an earlier measurement would otherwise be used again by the
/// next without raising the resident size, and hide its growth.
void releaseFreeMemory();

/// Runs `work` `runs` times and returns the shortest wall time and the shortest processor time.
/// The machine may be shared: the least disturbed run is the truest figure of the program's
/// own cost, and processor time leaves out the time others had the processor.
Timing bestOf(int runs, const std::function<void()> &work);

} // namespace zeph::bench
