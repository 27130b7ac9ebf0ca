#pragma once
// Limits on a statement that an operator wrote (the advanced search, zephrane-cli --where), so
// that no text can hold the program: how long it may run, how many rows and how long a value
// are read, and a way to stop it while it runs. Every backend reports a stopped statement with
// the same numbers and texts.

#include "Error.h"

#include <cstddef>
#include <functional>
#include <string>

namespace zeph {

struct DbQueryLimits {
    /// Seconds the statement may run, reading its rows included; 0: no limit.
    int timeoutSeconds = 0;
    /// Rows read at most (0: no limit); when there are more, DbRowSet::cut is set and the rest
    /// is never read.
    std::size_t maxRows = 0;
    /// Longest value read, in bytes (0: the backend's own limit); a longer one stops the
    /// statement, so that one value cannot take the memory.
    std::size_t maxValueBytes = 0;
    /// Bytes of text and data read in all (0: no limit); more stops the statement.
    std::size_t maxTotalBytes = 0;
    /// Asked several times a second while the statement runs, on the caller's thread (it may
    /// let the user interface handle its events); false stops the statement.
    std::function<bool()> keepGoing;
};

/// The numbers of a statement stopped by its limits (the driver's "Query timeout expired" and
/// "Operation canceled").
inline constexpr long kQueryTimedOut = -2147217871;
inline constexpr long kQueryCancelled = -2147217842;
inline constexpr long kQueryValueTooLong = -2147217833;

/// True for the numbers of a statement its limits stopped (its own text says it all).
inline bool stoppedByLimits(const Error &e) {
    return e.number() == kQueryTimedOut || e.number() == kQueryCancelled ||
           e.number() == kQueryValueTooLong;
}

inline Error queryTimedOut(int seconds) {
    return Error(kQueryTimedOut, "The query ran longer than its time limit of " +
                                     std::to_string(seconds) +
                                     (seconds == 1 ? " second" : " seconds") + " and was stopped.");
}

inline Error queryCancelled() {
    return Error(kQueryCancelled, "The query was cancelled.");
}

inline Error queryValueTooLong(std::size_t bytes) {
    return Error(kQueryValueTooLong, "The query makes a value longer than " +
                                         std::to_string(bytes) + " bytes and was stopped.");
}

inline Error queryTooMuchData(std::size_t bytes) {
    return Error(kQueryValueTooLong, "The query brings back more than " + std::to_string(bytes) +
                                         " bytes of data and was stopped.");
}

/// Counts what a backend reads against the limits: rows and bytes.
class ReadBudget {
public:
    explicit ReadBudget(const DbQueryLimits &limits)
        : m_limits(limits) {}
    /// False when a row more is beyond maxRows (the reading stops there, the rest unread).
    bool roomForRow() const { return m_limits.maxRows == 0 || m_rows < m_limits.maxRows; }
    void countRow() { ++m_rows; }
    /// Counts `more` bytes of a value that has `valueBytes` so far (read part by part, a value
    /// beyond the limits is never read whole); throws when the value or all data read is
    /// beyond the limits.
    void countPart(std::size_t &valueBytes, std::size_t more) {
        valueBytes += more;
        if (m_limits.maxValueBytes > 0 && valueBytes > m_limits.maxValueBytes)
            throw queryValueTooLong(m_limits.maxValueBytes);
        m_bytes += more;
        if (m_limits.maxTotalBytes > 0 && m_bytes > m_limits.maxTotalBytes)
            throw queryTooMuchData(m_limits.maxTotalBytes);
    }

private:
    const DbQueryLimits &m_limits;
    std::size_t m_rows = 0;
    std::size_t m_bytes = 0;
};

} // namespace zeph
