#pragma once
// Errors as the system reports them: a number and a description.
//
// Platform operations that can fail throw zeph::Error. The core catches them with trap(), which
// turns them into the system's "(error):" report for the procedure that was running and lets
// the caller go on with its next step, or with caught(), which hands the error back as a value.

#include "Result.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace zeph {

/// What a failure says about the server beyond its number.
enum class ErrorKind {
    Plain,
    /// The server cannot take a write for a reason of its own, not of the statement: its disk or
    /// file is full, it is read-only, its storage failed, or a lock was not granted in time.
    /// The next write is refused as well until someone sees to the server.
    WriteRefused,
};

class Error : public std::runtime_error {
public:
    Error(long number, std::string description, ErrorKind kind = ErrorKind::Plain)
        : std::runtime_error(description)
        , m_number(number)
        , m_description(std::move(description))
        , m_kind(kind) {}
    long number() const { return m_number; }
    const std::string &description() const { return m_description; }
    ErrorKind kind() const { return m_kind; }
    bool writeRefused() const { return m_kind == ErrorKind::WriteRefused; }

private:
    long m_number;
    std::string m_description;
    ErrorKind m_kind;
};

/// Error numbers the core raises itself (the registry's own errors use 1001).
namespace errnum {
inline constexpr long kRegistry = 1001;
inline constexpr long kOutOfMemory = 7;
inline constexpr long kInternal = 51; // an unexpected internal failure
inline constexpr long kSubscriptOutOfRange = 9;
inline constexpr long kInvalidUseOfNull = 94;
inline constexpr long kFileNotFound = 53;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathNotFound = 76;
} // namespace errnum

/// Where a procedure lives, for the report: "Form frmMain" or "Module Module1".
struct Where {
    std::string_view procedure;
    std::string_view kind; // "Form" or "Module"
    std::string_view container;
};

/// "(error):" + number + " (" + description + ") in procedure P of Form F"
inline std::string errorReport(long number, std::string_view description, const Where &where) {
    std::string text = "(error):";
    text += std::to_string(number);
    text += " (";
    text += description;
    text += ") in procedure ";
    text += where.procedure;
    text += " of ";
    text += where.kind;
    text += " ";
    text += where.container;
    return text;
}

/// Runs one step and gives back the error it raised, as the system numbers it: its own Error,
/// "Out of memory", or any other exception as an internal failure. The one place where a
/// step's exception becomes a value.
template <class Step> Result<void, Error> caught(Step &&step) {
    try {
        step();
        return {};
    } catch (const Error &e) {
        return e;
    } catch (const std::bad_alloc &) {
        return Error(errnum::kOutOfMemory, "Out of memory");
    } catch (const std::exception &e) {
        return Error(errnum::kInternal, e.what());
    }
}

/// An error as the text of a Result's failure: its description, or its number when it has none.
inline Failure failureOf(const Error &e) {
    return fail(e.description().empty() ? "error " + std::to_string(e.number()) : e.description());
}

/// Runs one step; an error it raises is reported through `report` and swallowed, so the caller
/// goes on with its next step. Returns true when the step finished without error.
template <class Step>
bool trap(const Where &where, const std::function<void(const std::string &)> &report, Step &&step) {
    const Result<void, Error> done = caught(std::forward<Step>(step));
    if (!done)
        report(errorReport(done.error().number(), done.error().description(), where));
    return done.ok();
}

} // namespace zeph
