#pragma once
// How far a reset run has got, told the same way by the wizard and the terminal program:
// subscriber N of M (the ticked rows), the one under way, the time taken and the time left.

#include <chrono>
#include <optional>
#include <string>

namespace zeph {

class RunProgress {
public:
    using Clock = std::chrono::steady_clock;

    /// A run over `total` subscribers begins now.
    void start(int total, Clock::time_point now = Clock::now());
    /// `done` subscribers are finished; `current` is the one under way ("" between them).
    void update(int done, const std::string &current);

    /// True once start() was called: before it there is no run to tell of.
    bool started() const { return m_started; }
    int done() const { return m_done; }
    int total() const { return m_total; }
    const std::string &current() const { return m_current; }
    /// From the run's start; zero before it has started.
    std::chrono::seconds elapsed(Clock::time_point now = Clock::now()) const;
    /// Estimated from the pace so far; nothing to go on before the first subscriber is done.
    std::optional<std::chrono::seconds> remaining(Clock::time_point now = Clock::now()) const;

    /// "3 of 10: jsmith, 0:42 elapsed, about 1:38 left"; once a stop is asked for,
    /// "3 of 10: jsmith, 0:42 elapsed, stopping after this subscriber".
    std::string text(Clock::time_point now = Clock::now()) const;

    /// A stop has been asked for: the run ends after the subscriber under way.
    bool stopping = false;

    /// "0:07", "12:30", "1:02:03".
    static std::string durationText(std::chrono::seconds duration);

private:
    Clock::time_point m_start{};
    bool m_started = false;
    int m_total = 0;
    int m_done = 0;
    std::string m_current;
};

} // namespace zeph
