// A smart pointer that holds exactly one reference to a COM interface. Copying adds a
// reference, moving hands it over; taking over a reference (Attach), giving it up (Detach) and
// filling an out-parameter (Put) are explicit.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

#include "com/InterfaceIds.h"

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Adds a reference to p.
    explicit ComPtr(T* p) : m_p(p) { AddRefIfAny(); }
    ComPtr(const ComPtr& other) : m_p(other.m_p) { AddRefIfAny(); }
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) {
        if (this != &other) {
            ComPtr(other).Swap(*this);
        }
        return *this;
    }
    // The old reference is released only after the new one is in place: releasing it may
    // destroy the object that holds `other`.
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            ComPtr(std::move(other)).Swap(*this);
        }
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // Releases the held reference, if any.
    void Reset() {
        if (T* p = std::exchange(m_p, nullptr)) {
            p->Release();
        }
    }
    // Takes over a reference the caller owns.
    void Attach(T* p) {
        Reset();
        m_p = p;
    }
    // Gives the reference to the caller.
    T* Detach() { return std::exchange(m_p, nullptr); }
    // Releases what is held and returns the address to pass as an out-parameter.
    T** Put() {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // The held pointer with an added reference, for an out-parameter of the caller's.
    void CopyTo(T** out) const {
        *out = m_p;
        AddRefIfAny();
    }

    // QueryInterface for U into *out, which is emptied on failure. E_POINTER when nothing is held.
    template <class U>
    HRESULT As(ComPtr<U>* out) const {
        ComPtr<U> result;  // *out may hold the only reference on m_p
        const HRESULT hr = m_p != nullptr ? m_p->QueryInterface(InterfaceId<U>(), result.PutVoid()) : E_POINTER;
        *out = std::move(result);
        return hr;
    }

    void Swap(ComPtr& other) noexcept { std::swap(m_p, other.m_p); }

private:
    void AddRefIfAny() const {
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }

    T* m_p = nullptr;
};
