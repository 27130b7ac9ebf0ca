#pragma once
// What a call that can fail gives back: its value, or the text that says why it failed, in
// the words the operator reads ("it is larger than 10 MB, the most that is read of it").
// Standard C++ only, so that every layer may name it: the platform interfaces, the backends,
// the stand-in and the core.
//
//     Result<std::string> readSettings(const std::string &path);
//     Status saveSettings(const std::string &path, const Settings &settings);
//
//     Result<std::string> text = readSettings(path);
//     if (!text)
//         return fail("the settings could not be read (" + text.error() + ")");
//     use(*text);
//
// The type is [[nodiscard]]: a failure cannot be dropped by forgetting to look at it. A
// failure always says why (its text is never empty); there is no "empty text means it
// worked". Failures the system reports with an error number ("(error):" lines) are
// zeph::Error exceptions instead (Error.h), raised by the platform's calls and caught where
// the system's run reports them; `caught()` there gives such a failure back as a
// Result<void, Error> where the caller needs its number and description as a value.

#include <cassert>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace zeph {

/// Why a call failed, on its way into a Result: `return fail("no such folder");`.
struct Failure {
    std::string text;
};

inline Failure fail(std::string text) {
    assert(!text.empty() && "a failure says why");
    return Failure{std::move(text)};
}

namespace detail {
// What error() answers: a Failure's text, any other failure as it is.
inline const std::string &why(const Failure &failure) {
    return failure.text;
}
template <class E> const E &why(const E &failure) {
    return failure;
}
} // namespace detail

/// A value of T, or the failure that kept it from being made: its text (Failure), or another
/// kind of failure E that says more than a text.
template <class T, class E = Failure> class [[nodiscard]] Result {
    static_assert(!std::is_same_v<T, bool>, "a Result<bool> reads as its own success; say what "
                                            "the value means with an enum");

public:
    // Implicit on purpose, so that a function returns its value or fail(...) alike.
    // NOLINTBEGIN(google-explicit-constructor,hicpp-explicit-conversions)
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(E failure)
        : m_state(std::in_place_index<1>, std::move(failure)) {}
    // NOLINTEND(google-explicit-constructor,hicpp-explicit-conversions)

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    /// The value; only of a Result that is ok().
    T &value() & {
        assert(ok() && "the value of a failed result");
        return std::get<0>(m_state);
    }
    const T &value() const & {
        assert(ok() && "the value of a failed result");
        return std::get<0>(m_state);
    }
    T &&value() && {
        assert(ok() && "the value of a failed result");
        return std::get<0>(std::move(m_state));
    }
    T &operator*() & { return value(); }
    const T &operator*() const & { return value(); }
    T &&operator*() && { return std::move(*this).value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

    /// The value, or `fallback` when the call failed.
    template <class U> T valueOr(U &&fallback) const & {
        return ok() ? std::get<0>(m_state) : static_cast<T>(std::forward<U>(fallback));
    }
    template <class U> T valueOr(U &&fallback) && {
        return ok() ? std::get<0>(std::move(m_state)) : static_cast<T>(std::forward<U>(fallback));
    }

    /// Why the call failed (the text of a Failure, or the E itself); only of a Result that
    /// is not ok().
    const auto &error() const {
        assert(!ok() && "the error of a result that has its value");
        return detail::why(std::get<1>(m_state));
    }
    /// The failure, to hand on unchanged: `if (!r) return r.failure();`.
    E failure() const {
        assert(!ok() && "the error of a result that has its value");
        return std::get<1>(m_state);
    }

private:
    std::variant<T, E> m_state;
};

/// Done, or why not: the Result of a call that gives back no value.
template <class E> class [[nodiscard]] Result<void, E> {
public:
    /// Done.
    Result() = default;
    // NOLINTNEXTLINE(google-explicit-constructor,hicpp-explicit-conversions)
    Result(E failure)
        : m_failure(std::move(failure)) {}

    bool ok() const { return !m_failure.has_value(); }
    explicit operator bool() const { return ok(); }

    /// Why the call failed; only of a Status that is not ok().
    const auto &error() const {
        assert(!ok() && "the error of a result that succeeded");
        return detail::why(*m_failure);
    }
    E failure() const {
        assert(!ok() && "the error of a result that succeeded");
        return *m_failure;
    }

private:
    std::optional<E> m_failure;
};

/// Done, or the text of why not.
using Status = Result<void>;

/// The Status of a call that did what it was asked.
inline Status done() {
    return {};
}

} // namespace zeph
