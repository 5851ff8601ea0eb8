// Counts the task allocator's blocks while it is registered: tests use it to prove that memory
// handed across interfaces is freed. Works with the real allocator and with our platform layer.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>

class CountingMallocSpy final : public IMallocSpy {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
            *ppv = static_cast<IMallocSpy*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cbRequest) override { return cbRequest; }
    STDMETHODIMP_(void*) PostAlloc(void* pActual) override {
        if (pActual != nullptr) ++m_allocations;
        return pActual;
    }
    STDMETHODIMP_(void*) PreFree(void* pRequest, BOOL fSpyed) override {
        if (fSpyed && pRequest != nullptr) ++m_frees;
        return pRequest;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL) override {
        *ppNewRequest = pRequest;
        return cbRequest;
    }
    STDMETHODIMP_(void*) PostRealloc(void* pActual, BOOL) override { return pActual; }
    STDMETHODIMP_(void*) PreGetSize(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    long Allocations() const { return m_allocations; }
    long Frees() const { return m_frees; }
    long Outstanding() const { return m_allocations - m_frees; }

private:
    std::atomic<ULONG> m_refs{1};
    std::atomic<long> m_allocations{0};
    std::atomic<long> m_frees{0};
};

// Registers a spy for one scope.
class ScopedMallocSpy {
public:
    ScopedMallocSpy() { m_registered = SUCCEEDED(CoRegisterMallocSpy(&m_spy)); }
    ~ScopedMallocSpy() {
        if (m_registered) CoRevokeMallocSpy();
    }
    bool Registered() const { return m_registered; }
    CountingMallocSpy& Spy() { return m_spy; }

private:
    CountingMallocSpy m_spy;
    bool m_registered = false;
};
