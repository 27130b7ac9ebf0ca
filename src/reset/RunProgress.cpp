#include "RunProgress.h"

#include <algorithm>
#include <cstdio>

namespace zeph {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::seconds;

void RunProgress::useClock(IClock &hostClock) {
    clock = [&hostClock] {
        return Clock::time_point(
            duration_cast<Clock::duration>(hostClock.now().time_since_epoch()));
    };
}

void RunProgress::start(int total) {
    start(total, now());
}

void RunProgress::start(int total, Clock::time_point now) {
    m_start = now;
    m_lastDone = now;
    m_end.reset();
    m_started = true;
    m_total = total;
    m_done = 0;
    m_current.clear();
    stopping = false;
}

void RunProgress::update(int done, const std::string &current) {
    update(done, current, now());
}

void RunProgress::update(int done, const std::string &current, Clock::time_point now) {
    if (done != m_done)
        m_lastDone = now;
    m_done = done;
    m_current = current;
}

void RunProgress::finish() {
    finish(now());
}

void RunProgress::finish(Clock::time_point now) {
    if (m_started && !m_end)
        m_end = std::max(now, m_start);
}

RunProgress::Clock::time_point RunProgress::until(Clock::time_point now) const {
    return m_end ? *m_end : now;
}

seconds RunProgress::elapsed(Clock::time_point now) const {
    if (!m_started)
        return seconds(0);
    return duration_cast<seconds>(until(now) - m_start);
}

std::optional<seconds> RunProgress::remaining(Clock::time_point now) const {
    if (!m_started)
        return std::nullopt;
    if (m_end || (m_total > 0 && m_done >= m_total))
        return seconds(0);
    if (m_done <= 0)
        return std::nullopt;
    // The pace of every subscriber finished so far, not of the last one alone.
    const auto each = duration_cast<milliseconds>(m_lastDone - m_start) / m_done;
    const int left = m_total - m_done;
    const auto underWay = std::max(milliseconds(0), duration_cast<milliseconds>(now - m_lastDone));
    const auto estimate = std::max(each * left - underWay, each * (left - 1));
    return duration_cast<seconds>(estimate + milliseconds(500));
}

std::string RunProgress::text(Clock::time_point now) const {
    // The one under way is numbered; between subscribers the count is of those finished.
    const int shown = m_current.empty() ? m_done : std::min(m_done + 1, m_total);
    std::string line = std::to_string(shown) + " of " + std::to_string(m_total);
    if (!m_current.empty())
        line += ": " + m_current;
    line += ", " + durationText(elapsed(now)) + " elapsed";
    if (m_end)
        return line;
    if (stopping)
        line += m_current.empty() ? ", stopping" : ", stopping after this subscriber";
    else if (const auto left = remaining(now))
        line += ", about " + durationText(*left) + " left";
    return line;
}

std::string RunProgress::durationText(seconds duration) {
    const long long total = std::max<long long>(0, duration.count());
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

} // namespace zeph
