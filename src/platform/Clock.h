#pragma once
// Time and sleeping. The stand-in host's virtual time makes sleeps instant and moves its clock.

#include <chrono>
#include <string>

namespace zeph {

using TimePoint = std::chrono::system_clock::time_point;

/// A moment in the local time zone, broken down.
struct LocalTime {
    int year = 0;
    int month = 0; // 1..12
    int day = 0;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    virtual TimePoint now() = 0;
    virtual LocalTime toLocal(TimePoint t) = 0;
    virtual void sleepMs(int milliseconds) = 0;
};

class IGuidSource {
public:
    virtual ~IGuidSource() = default;
    /// A fresh GUID in braced text form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 characters.
    virtual std::string newGuid() = 0;
};

} // namespace zeph
