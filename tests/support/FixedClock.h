#pragma once
// A clock that stands where the test puts it and moves only by sleeps. Local time is UTC, so
// times set by a test land on the calendar days it means.

#include "platform/Clock.h"

#include <chrono>

namespace zeph::test {

class FixedClock : public IClock {
public:
    explicit FixedClock(TimePoint start = {})
        : at(start) {}
    TimePoint now() override { return at; }
    LocalTime toLocal(TimePoint t) override {
        using namespace std::chrono;
        const auto day = floor<days>(t);
        const year_month_day ymd(day);
        const hh_mm_ss time(floor<seconds>(t - day));
        return {
            int(ymd.year()),           int(unsigned(ymd.month())),  int(unsigned(ymd.day())),
            int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count())};
    }
    void sleepMs(int ms) override { at += std::chrono::milliseconds(ms); }

    TimePoint at;
};

/// A moment given in UTC calendar terms.
inline TimePoint utcTime(int y, unsigned mo, unsigned d, int h, int mi, int s) {
    using namespace std::chrono;
    return sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s);
}

} // namespace zeph::test
