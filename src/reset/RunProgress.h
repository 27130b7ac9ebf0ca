#pragma once
// How far a reset run has got, told the same way by the wizard and the terminal program:
// subscriber N of M (the ticked rows), the one under way, the time taken and the time left.

#include "platform/Clock.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace zeph {

class RunProgress {
public:
    using Clock = std::chrono::steady_clock;

    /// Where the times come from; the machine's steady clock unless set (the reset page sets
    /// the host's clock, so that a rehearsal on virtual time counts the time it stands for).
    std::function<Clock::time_point()> clock;
    /// Takes the times from `hostClock`, which must outlive this.
    void useClock(IClock &hostClock);

    /// A run over `total` subscribers begins now.
    void start(int total);
    void start(int total, Clock::time_point now);
    /// `done` subscribers are finished; `current` is the one under way ("" between them).
    void update(int done, const std::string &current);
    void update(int done, const std::string &current, Clock::time_point now);
    /// The run has ended: the elapsed time stands still from here on (a closing message that
    /// stays open is no part of the run), and nothing is left.
    void finish();
    void finish(Clock::time_point now);

    /// True once start() was called: before it there is no run to tell of.
    bool started() const { return m_started; }
    /// True once finish() was called for the run started last.
    bool finished() const { return m_end.has_value(); }
    int done() const { return m_done; }
    int total() const { return m_total; }
    const std::string &current() const { return m_current; }
    /// From the run's start to now or to its end; zero before it has started.
    std::chrono::seconds elapsed() const { return elapsed(now()); }
    std::chrono::seconds elapsed(Clock::time_point now) const;
    /// Estimated from the pace of all the subscribers finished so far, less the time the one
    /// under way has taken already (never below what the others not yet begun take): it moves
    /// down evenly while a subscriber takes its usual time instead of jumping at each one.
    /// Nothing to go on before the first subscriber is done.
    std::optional<std::chrono::seconds> remaining() const { return remaining(now()); }
    std::optional<std::chrono::seconds> remaining(Clock::time_point now) const;

    /// "3 of 10: jsmith, 0:42 elapsed, about 1:38 left"; once a stop is asked for,
    /// "3 of 10: jsmith, 0:42 elapsed, stopping after this subscriber".
    std::string text() const { return text(now()); }
    std::string text(Clock::time_point now) const;

    /// A stop has been asked for: the run ends after the subscriber under way.
    bool stopping = false;

    /// "0:07", "12:30", "1:02:03".
    static std::string durationText(std::chrono::seconds duration);

private:
    Clock::time_point now() const { return clock ? clock() : Clock::now(); }
    /// The moment the times are told for: `now`, or the run's end once it has ended.
    Clock::time_point until(Clock::time_point now) const;

    Clock::time_point m_start{};
    /// When the last subscriber was finished (the start before the first).
    Clock::time_point m_lastDone{};
    std::optional<Clock::time_point> m_end;
    bool m_started = false;
    int m_total = 0;
    int m_done = 0;
    std::string m_current;
};

} // namespace zeph
