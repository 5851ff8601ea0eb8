// The one implementation of IUnknown that every COM class of the module shares.
//
// A class names its interfaces once, the first being its identity:
//
//     class CEnumMessages final : public ComObject<CEnumMessages, Counting::Atomic, IEnumMessages> { ... };
//
// and gets QueryInterface (table-driven over that list), AddRef and Release, aggregation
// support (a controlling outer unknown and a non-delegating inner unknown), the module's lock
// count for as long as it lives, and the creation sequence:
//   allocate (E_OUTOFMEMORY) -> construct -> FinalConstruct() under a temporary reference ->
//   QueryInterface for the caller -> on any failure FinalRelease() and destruction.
// A class may define `HRESULT FinalConstruct()`, `void FinalRelease()` and
// `HRESULT QueryInterfaceExtra(REFIID, void**)` (for interfaces answered by an aggregated inner
// object, such as IMarshal by the free-threaded marshaler).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

#include "com/InterfaceIds.h"
#include "com/ModuleLifetime.h"

// How an object's reference count changes: atomically for objects called from any thread,
// plainly for apartment-threaded ones.
enum class Counting { Atomic, Plain };

template <Counting>
class RefCounter;

template <>
class RefCounter<Counting::Atomic> {
public:
    ULONG Increment() { return m_count.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Decrement() { return m_count.fetch_sub(1, std::memory_order_acq_rel) - 1; }

private:
    std::atomic<ULONG> m_count{0};
};

template <>
class RefCounter<Counting::Plain> {
public:
    ULONG Increment() { return ++m_count; }
    ULONG Decrement() { return --m_count; }

private:
    ULONG m_count = 0;
};

template <class Derived, Counting counting, class Identity, class... Others>
class ComObject : public Identity, public Others... {
public:
    // IUnknown as every interface of the object exposes it: the controlling unknown decides.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (m_outer != nullptr) return m_outer->QueryInterface(riid, ppv);
        return InternalQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_outer != nullptr ? m_outer->AddRef() : InternalAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_outer != nullptr ? m_outer->Release() : InternalRelease(); }

    // The object's identity: the outer object's unknown when aggregated, else its own.
    IUnknown* ControllingUnknown() { return m_outer != nullptr ? m_outer : IdentityUnknown(); }

    // Creates an object for a caller that asked for riid, as a class factory does. With an outer
    // unknown only IUnknown may be asked for (CLASS_E_NOAGGREGATION otherwise), and the inner
    // non-delegating unknown is returned.
    static HRESULT CreateObject(IUnknown* outer, REFIID riid, void** ppv) {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr && (!Derived::kAggregatable || !IsEqualIID(riid, IID_IUnknown))) return CLASS_E_NOAGGREGATION;
        Derived* object = new (std::nothrow) Derived();
        if (object == nullptr) return E_OUTOFMEMORY;
        object->m_outer = outer;
        HRESULT hr = object->RunFinalConstruct();
        if (hr == S_OK) {
            hr = outer != nullptr ? object->m_inner.QueryInterface(riid, ppv) : object->InternalQueryInterface(riid, ppv);
        }
        if (hr != S_OK) {
            if (SUCCEEDED(hr)) {  // a success other than S_OK still fails creation: give the reference back
                if (*ppv != nullptr) static_cast<IUnknown*>(*ppv)->Release();
                *ppv = nullptr;
                return hr;
            }
            object->DestroyObject();
        }
        return hr;
    }

    // Creates an object for the module's own use, not aggregated, holding one reference.
    static HRESULT MakeObject(Derived** out) {
        *out = nullptr;
        Derived* object = new (std::nothrow) Derived();
        if (object == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = object->RunFinalConstruct();
        if (hr != S_OK) {
            object->DestroyObject();
            return hr;
        }
        object->InternalAddRef();
        *out = object;
        return S_OK;
    }

    // Objects of the module keep it loaded while they live; a class that is not part of the
    // module (a test or simulation object) sets this to false.
    static constexpr bool kCountsTowardsModule = true;
    // Whether the class may be part of an aggregate; one that may not refuses an outer object
    // with CLASS_E_NOAGGREGATION.
    static constexpr bool kAggregatable = true;

protected:
    ComObject() {
        if (Derived::kCountsTowardsModule) ModuleLifetime::Lock();
    }
    ~ComObject() = default;

    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}
    HRESULT QueryInterfaceExtra(REFIID /*riid*/, void** ppv) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

private:
    // The non-delegating unknown through which an outer object holds an aggregated one.
    struct InnerUnknown final : IUnknown {
        explicit InnerUnknown(ComObject* self) : m_self(self) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            if (ppv == nullptr) return E_POINTER;
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            return m_self->InternalQueryInterface(riid, ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return m_self->InternalAddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_self->InternalRelease(); }
        ComObject* m_self;
    };

    IUnknown* IdentityUnknown() { return static_cast<Identity*>(this); }

    template <class Interface>
    bool Answer(REFIID riid, void** ppv) {
        if (!IsEqualIID(riid, InterfaceId<Interface>())) return false;
        *ppv = static_cast<Interface*>(static_cast<Derived*>(this));
        return true;
    }

    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = IdentityUnknown();
        } else if (!(Answer<Identity>(riid, ppv) || (Answer<Others>(riid, ppv) || ...))) {
            return static_cast<Derived*>(this)->QueryInterfaceExtra(riid, ppv);
        }
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }

    ULONG InternalAddRef() { return m_refs.Increment(); }
    ULONG InternalRelease() {
        const ULONG refs = m_refs.Decrement();
        if (refs == 0) DestroyObject();
        return refs;
    }

    // Final construction runs under a temporary reference, so that references handed out and
    // given back during it cannot destroy the object.
    HRESULT RunFinalConstruct() {
        m_refs.Increment();
        const HRESULT hr = static_cast<Derived*>(this)->FinalConstruct();
        m_refs.Decrement();
        return hr;
    }

    void DestroyObject() {
        static_cast<Derived*>(this)->FinalRelease();
        if (Derived::kCountsTowardsModule) ModuleLifetime::Unlock();
        delete static_cast<Derived*>(this);
    }

    RefCounter<counting> m_refs;
    IUnknown* m_outer = nullptr;  // the controlling unknown when aggregated; no reference held
    InnerUnknown m_inner{this};
};
