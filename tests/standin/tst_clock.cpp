// The machine's clock as the programs and the stand-in host use it: sleeps that wait, and with
// virtual time sleeps that move the clock instead.
#include "platform/Native.h"
#include "platform/SystemClock.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace zeph;
using namespace std::chrono_literals;

namespace {

// How far the clock stands from the machine's real time.
std::chrono::system_clock::duration offsetOf(IClock &clock) {
    return clock.now() - std::chrono::system_clock::now();
}

TEST(SystemClock, VirtualSleepsMoveTheClockByWhatTheyWouldHaveWaited) {
    struct Case {
        int milliseconds;
        std::chrono::milliseconds moved; // in all, after this sleep and those above it
    };
    const Case cases[] = {
        {0, 0ms}, {-5000, 0ms}, {250, 250ms}, {3600000, 3600250ms}, {-1, 3600250ms},
    };
    SystemClock clock(&native::localTimeOf, SystemClock::Sleeps::MoveTime);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.milliseconds);
        clock.sleepMs(c.milliseconds);
        const auto offset = offsetOf(clock);
        // Real time passes between the two readings, never as much as a second here.
        EXPECT_GE(offset, c.moved - 1s);
        EXPECT_LE(offset, c.moved + 1ms);
    }
}

TEST(SystemClock, RealSleepsWaitAndLeaveTheClockOnRealTime) {
    SystemClock clock(&native::localTimeOf, SystemClock::Sleeps::Wait);
    const auto before = std::chrono::steady_clock::now();
    clock.sleepMs(30);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 30ms);
    EXPECT_LE(offsetOf(clock), 1ms);
    EXPECT_GE(offsetOf(clock), -1s);
    auto machine = native::makeSystemClock();
    EXPECT_LE(offsetOf(*machine), 1ms);
    EXPECT_GE(offsetOf(*machine), -1s);
}

TEST(SystemClock, LocalTimeFollowsTheBackendsRules) {
    SystemClock clock([](TimePoint) { return LocalTime{2026, 12, 6, 23, 30, 5}; },
                      SystemClock::Sleeps::Wait);
    const LocalTime local = clock.toLocal(clock.now());
    EXPECT_EQ(local.year, 2026);
    EXPECT_EQ(local.hour, 23);
    EXPECT_EQ(local.second, 5);
    const TimePoint t = std::chrono::system_clock::now();
    const LocalTime machine = native::makeSystemClock()->toLocal(t);
    const LocalTime direct = native::localTimeOf(t);
    EXPECT_EQ(machine.day, direct.day);
    EXPECT_EQ(machine.minute, direct.minute);
}

} // namespace
