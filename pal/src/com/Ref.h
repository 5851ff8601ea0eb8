// One owned interface reference inside the layer: released when the holder goes.
#pragma once

#include <windows.h>

namespace pal {

template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* owned) : m_p(owned) {}  // takes over a reference the caller holds
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (m_p != nullptr) m_p->Release();
    }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // Takes over a reference the caller holds; the holder must be empty.
    void attach(T* owned) { m_p = owned; }
    // Gives up the reference without releasing it.
    T* detach() {
        T* owned = m_p;
        m_p = nullptr;
        return owned;
    }
    // The out-parameter for a call that yields a reference; the holder must be empty.
    void** put() { return reinterpret_cast<void**>(&m_p); }

private:
    T* m_p = nullptr;
};

}  // namespace pal
