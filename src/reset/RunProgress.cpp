#include "RunProgress.h"

#include <algorithm>
#include <cstdio>

namespace zeph {

void RunProgress::start(int total, Clock::time_point now) {
    m_start = now;
    m_started = true;
    m_total = total;
    m_done = 0;
    m_current.clear();
    stopping = false;
}

void RunProgress::update(int done, const std::string &current) {
    m_done = done;
    m_current = current;
}

std::chrono::seconds RunProgress::elapsed(Clock::time_point now) const {
    if (!m_started)
        return std::chrono::seconds(0);
    return std::chrono::duration_cast<std::chrono::seconds>(now - m_start);
}

std::optional<std::chrono::seconds> RunProgress::remaining(Clock::time_point now) const {
    if (!m_started || m_done <= 0 || m_total <= m_done)
        return m_total <= m_done && m_total > 0 ? std::optional(std::chrono::seconds(0))
                                                : std::nullopt;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_start);
    const auto left = spent * (m_total - m_done) / m_done;
    return std::chrono::duration_cast<std::chrono::seconds>(left + std::chrono::milliseconds(500));
}

std::string RunProgress::text(Clock::time_point now) const {
    // The one under way is numbered; between subscribers the count is of those finished.
    const int shown = m_current.empty() ? m_done : std::min(m_done + 1, m_total);
    std::string line = std::to_string(shown) + " of " + std::to_string(m_total);
    if (!m_current.empty())
        line += ": " + m_current;
    line += ", " + durationText(elapsed(now)) + " elapsed";
    if (stopping)
        line += m_current.empty() ? ", stopping" : ", stopping after this subscriber";
    else if (const auto left = remaining(now))
        line += ", about " + durationText(*left) + " left";
    return line;
}

std::string RunProgress::durationText(std::chrono::seconds duration) {
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
