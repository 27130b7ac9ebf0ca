#pragma once
// A statement's run watched from the caller's thread, so that a time limit and a Cancel stop it
// whatever the driver makes of SQL_ATTR_QUERY_TIMEOUT (some ignore it, none applies it to the
// reading of rows): the work runs on a thread of its own while the caller's thread asks
// keepGoing and, when it says no or the time is up, calls SQLCancel, which ODBC allows from
// another thread on a statement that is running.

#include "OdbcCall.h"
#include "OdbcStatement.h"
#include "platform/QueryLimits.h"

#include <chrono>
#include <future>
#include <utility>

namespace zeph::odbc {

template <class Work>
auto runStoppable(Statement &statement, const DbQueryLimits &limits, Work &&work) {
    if (limits.timeoutSeconds <= 0 && !limits.keepGoing)
        return work();
    using Clock = std::chrono::steady_clock;
    constexpr auto kLookEvery = std::chrono::milliseconds(50);
    enum class Stop { None, Time, Cancel };
    auto running = std::async(std::launch::async, std::forward<Work>(work));
    const auto start = Clock::now();
    Stop stop = Stop::None;
    while (running.wait_for(kLookEvery) != std::future_status::ready) {
        if (stop != Stop::None)
            continue; // cancelled: the driver ends the call
        if (limits.timeoutSeconds > 0 &&
            Clock::now() - start >= std::chrono::seconds(limits.timeoutSeconds))
            stop = Stop::Time;
        else if (limits.keepGoing && !limits.keepGoing())
            stop = Stop::Cancel;
        if (stop != Stop::None)
            statement.cancel();
    }
    auto stopped = [&](const Error *failure) -> Error {
        if (stop == Stop::Time || (failure && failure->number() == kQueryTimedOut))
            return queryTimedOut(limits.timeoutSeconds);
        if (stop == Stop::Cancel)
            return queryCancelled();
        return *failure;
    };
    try {
        auto result = running.get();
        if (stop == Stop::None)
            return result;
    } catch (const Error &failure) {
        throw stopped(&failure);
    }
    // Cancelled as the statement ended: what it read may be short, so none of it is used.
    throw stopped(nullptr);
}

} // namespace zeph::odbc
