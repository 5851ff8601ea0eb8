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
// object, such as IMarshal by the free-threaded marshaler; it sets *ppv, adds the reference and
// returns E_NOINTERFACE with *ppv null for anything it does not answer).
//
// Creation never throws: a constructor that throws (a member that allocates) gives E_OUTOFMEMORY
// and leaves the module's lock count as it was. FinalRelease may take and drop references to the
// object without destroying it a second time.
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
    void Set(ULONG count) { m_count.store(count, std::memory_order_relaxed); }

private:
    std::atomic<ULONG> m_count{0};
};

template <>
class RefCounter<Counting::Plain> {
public:
    ULONG Increment() { return ++m_count; }
    ULONG Decrement() { return --m_count; }
    void Set(ULONG count) { m_count = count; }

private:
    ULONG m_count = 0;
};

template <class Derived, Counting counting, class Identity, class... Others>
class ComObject : public Identity, public Others... {
public:
    // IUnknown as every interface of the object exposes it: the controlling unknown decides.
    // An aggregated object asks its controlling unknown first, and its own table for what the
    // controlling unknown does not answer.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (m_outer == nullptr) return InternalQueryInterface(riid, ppv);
        const HRESULT hr = m_outer->QueryInterface(riid, ppv);
        if (FAILED(hr) && m_outer != IdentityUnknown()) return InternalQueryInterface(riid, ppv);
        return hr;
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
        Derived* object = Allocate();
        if (object == nullptr) return E_OUTOFMEMORY;
        object->m_outer = outer;
        HRESULT hr = object->RunFinalConstruct();
        if (hr != S_OK) {  // also a success other than S_OK: no interface was handed out
            object->DestroyObject();
            return hr;
        }
        hr = outer != nullptr ? object->m_inner.QueryInterface(riid, ppv) : object->InternalQueryInterface(riid, ppv);
        if (hr != S_OK) {
            if (SUCCEEDED(hr) && *ppv != nullptr) {
                // A success other than S_OK still fails creation: giving the reference back destroys the object.
                static_cast<IUnknown*>(*ppv)->Release();
                *ppv = nullptr;
            } else {
                object->DestroyObject();
            }
        }
        return hr;
    }

    // Creates an object for the module's own use, not aggregated, holding one reference.
    static HRESULT MakeObject(Derived** out) {
        *out = nullptr;
        Derived* object = Allocate();
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
    ComObject() noexcept {
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

    // Allocates and constructs an object; null when either fails. ComObject is the first base of
    // every class and its constructor cannot throw, so a throw means that a part of Derived
    // failed after the module was counted.
    static Derived* Allocate() noexcept {
        try {
            return new (std::nothrow) Derived();
        } catch (...) {
            if (Derived::kCountsTowardsModule) ModuleLifetime::Unlock();
            return nullptr;
        }
    }

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
        // References taken and given back during final release must not bring the count to 0 again.
        m_refs.Set(kDestroying);
        static_cast<Derived*>(this)->FinalRelease();
        if (Derived::kCountsTowardsModule) ModuleLifetime::Unlock();
        delete static_cast<Derived*>(this);
    }

    static constexpr ULONG kDestroying = 0x40000000;

    RefCounter<counting> m_refs;
    IUnknown* m_outer = nullptr;  // the controlling unknown when aggregated; no reference held
    InnerUnknown m_inner{this};
};
