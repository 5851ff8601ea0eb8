// Holders that own exactly one system handle each and close it when they let go of it. They
// move but do not copy; taking over a handle (Attach), giving it up (Detach) and filling an
// out-parameter (Put) are explicit, as with ComPtr.
//
//     UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
//     if (!event) return HRESULT_FROM_WIN32(GetLastError());
#pragma once

#include <windows.h>

#include <utility>

// Traits: the handle type, which values mean "no handle", and how to close one.
template <class Traits>
class UniqueAny {
public:
    using Handle = typename Traits::Handle;

    UniqueAny() = default;
    // Takes over h.
    explicit UniqueAny(Handle h) : m_h(h) {}
    UniqueAny(UniqueAny&& other) noexcept : m_h(other.Detach()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) Attach(other.Detach());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { Reset(); }

    Handle Get() const { return m_h; }
    explicit operator bool() const { return !Traits::IsNone(m_h); }

    // Closes the held handle, if any.
    void Reset() { Attach(Traits::None()); }
    // Closes the held handle and takes over h.
    void Attach(Handle h) {
        const Handle old = std::exchange(m_h, h);
        if (!Traits::IsNone(old) && old != h) Traits::Close(old);
    }
    // Gives the handle to the caller without closing it.
    Handle Detach() { return std::exchange(m_h, Traits::None()); }
    // Closes the held handle and returns the address to pass as an out-parameter.
    Handle* Put() {
        Reset();
        return &m_h;
    }

private:
    Handle m_h = Traits::None();
};

// Kernel object handles (events, mutexes, file mappings, processes, threads). The system's
// functions report "none" as null or as INVALID_HANDLE_VALUE depending on the function; both
// are never closed.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return nullptr; }
    static bool IsNone(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};
using UniqueHandle = UniqueAny<KernelHandleTraits>;
