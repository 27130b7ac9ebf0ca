#pragma once
// A handle of the system that is closed when its owner goes, for the kinds whose closing call
// takes the handle alone: service handles, internet handles, registry keys. Include after
// <windows.h>.

namespace zeph::win32 {

template <class Handle, auto Close> class OwnedHandle {
public:
    explicit OwnedHandle(Handle handle)
        : m_handle(handle) {}
    ~OwnedHandle() {
        if (m_handle)
            Close(m_handle);
    }
    OwnedHandle(const OwnedHandle &) = delete;
    OwnedHandle &operator=(const OwnedHandle &) = delete;
    Handle get() const { return m_handle; }

private:
    Handle m_handle;
};

} // namespace zeph::win32
