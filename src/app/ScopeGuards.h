#pragma once
// Guards that keep a change only while a scope lasts and take it back on every way out of it,
// an exception included: a busy flag set for one press, a callback or an observer that points
// at an object of the scope. Every layer may name this header (it is standard C++ only).
//
//     const SaveAndRestore busy(m_busy, true);          // m_busy is false again on the way out
//     const ScopeExit quiet([&] { log.setLineObserver(nullptr); });

#include <utility>

namespace zeph {

/// Sets a variable for the lifetime of the guard and gives it back the value it had before.
template <class T> class SaveAndRestore {
public:
    template <class U>
    SaveAndRestore(T &place, U &&value)
        : m_place(place)
        , m_saved(std::exchange(place, std::forward<U>(value))) {}
    ~SaveAndRestore() { m_place = std::move(m_saved); }
    SaveAndRestore(const SaveAndRestore &) = delete;
    SaveAndRestore &operator=(const SaveAndRestore &) = delete;
    SaveAndRestore(SaveAndRestore &&) = delete;
    SaveAndRestore &operator=(SaveAndRestore &&) = delete;

private:
    T &m_place;
    T m_saved;
};

template <class T, class U> SaveAndRestore(T &, U &&) -> SaveAndRestore<T>;

/// Runs an action when the guard goes out of scope, however the scope is left. The action
/// undoes something (clears a callback, ends a busy state) and must not throw.
template <class Action> class ScopeExit {
public:
    explicit ScopeExit(Action action)
        : m_action(std::move(action)) {}
    ~ScopeExit() { m_action(); }
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;
    ScopeExit(ScopeExit &&) = delete;
    ScopeExit &operator=(ScopeExit &&) = delete;

private:
    Action m_action;
};

template <class Action> ScopeExit(Action) -> ScopeExit<Action>;

} // namespace zeph
