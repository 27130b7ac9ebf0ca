#pragma once
// Late-bound COM automation (IDispatch), as a scripting language calls an object: members by
// name, arguments as variants, failures as Error with the object's own number and text.

#include <memory>
#include <string>
#include <vector>

// windows.h first: the other system headers need its types.
#include <windows.h>

#include <oleauto.h>

namespace zeph::win32 {

/// A variant that clears itself.
class Variant {
public:
    Variant() { ::VariantInit(&m_value); }
    explicit Variant(const std::string &text);
    explicit Variant(bool value);
    /// An omitted optional argument.
    static Variant missing();
    ~Variant() { ::VariantClear(&m_value); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    Variant(Variant &&other) noexcept;

    VARIANT *get() { return &m_value; }
    const VARIANT &value() const { return m_value; }
    bool isEmpty() const;
    std::string toText() const;
    long toLong() const;

private:
    VARIANT m_value;
};

/// An automation object.
class Dispatch {
public:
    Dispatch() = default;
    explicit Dispatch(IDispatch *object)
        : m_object(object) {} // takes over the reference
    ~Dispatch();
    Dispatch(const Dispatch &) = delete;
    Dispatch &operator=(const Dispatch &) = delete;
    Dispatch(Dispatch &&other) noexcept;
    Dispatch &operator=(Dispatch &&other) noexcept;

    /// The object of a program id ("MAPI.Session"); an empty one when no such program is
    /// registered. Throws Error when it is registered but cannot be created.
    static Dispatch create(const std::wstring &programId);
    explicit operator bool() const { return m_object != nullptr; }

    /// Calls a method with its arguments in order. Throws Error on failure.
    Variant call(const wchar_t *name, std::vector<Variant> arguments = {});
    /// Reads a property. Throws Error on failure.
    Variant get(const wchar_t *name);
    /// The object a member returns; an empty one when it returns nothing (Nothing, Empty).
    static Dispatch objectOf(Variant &&result);

private:
    Variant invoke(const wchar_t *name, WORD kind, std::vector<Variant> &arguments);
    IDispatch *m_object = nullptr;
};

/// Apartment-threaded COM for the calling thread while it lives.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;

private:
    bool m_initialised = false;
};

} // namespace zeph::win32
