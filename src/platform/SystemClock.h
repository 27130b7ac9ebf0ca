#pragma once
// The machine's clock, shared by the backends and the stand-in host: real time, local time by
// the backend's own rules, and sleeps that either wait or, with virtual time, return at once
// and move this clock forward by what they would have waited.

#include "Clock.h"

#include <chrono>
#include <thread>

namespace zeph {

class SystemClock : public IClock {
public:
    enum class Sleeps { Wait, MoveTime };
    using LocalTimeOf = LocalTime (*)(TimePoint);

    SystemClock(LocalTimeOf localTimeOf, Sleeps sleeps)
        : m_localTimeOf(localTimeOf)
        , m_sleeps(sleeps) {}

    TimePoint now() override { return std::chrono::system_clock::now() + m_offset; }
    LocalTime toLocal(TimePoint t) override { return m_localTimeOf(t); }
    void sleepMs(int milliseconds) override {
        if (milliseconds <= 0)
            return;
        if (m_sleeps == Sleeps::MoveTime)
            m_offset += std::chrono::milliseconds(milliseconds);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

private:
    LocalTimeOf m_localTimeOf;
    Sleeps m_sleeps;
    std::chrono::system_clock::duration m_offset{};
};

} // namespace zeph
