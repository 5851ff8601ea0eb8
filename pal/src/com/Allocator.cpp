// The task allocator, on malloc, with the allocator spy that tests use to count blocks.
//
// Like Windows, a spy sees every allocation made while it is registered; frees report whether
// the block was allocated under the spy. Revoking a spy while such blocks are outstanding fails
// with E_ACCESSDENIED and the spy is released when the last of them is freed.
#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

// The bookkeeping of spied blocks stays off the C++ free store, so that programs counting their
// own new/delete blocks (as tests do) see only their own.
template <class T>
struct MallocAllocator {
    using value_type = T;
    MallocAllocator() = default;
    template <class U>
    MallocAllocator(const MallocAllocator<U>&) {}
    T* allocate(std::size_t n) {
        if (void* p = std::malloc(n * sizeof(T))) return static_cast<T*>(p);
        throw std::bad_alloc();
    }
    void deallocate(T* p, std::size_t) { std::free(p); }
    template <class U>
    bool operator==(const MallocAllocator<U>&) const { return true; }
    template <class U>
    bool operator!=(const MallocAllocator<U>&) const { return false; }
};

struct SpyState {
    std::mutex lock;  // guards everything below
    IMallocSpy* spy = nullptr;
    bool releasePending = false;
    std::unordered_set<void*, std::hash<void*>, std::equal_to<void*>, MallocAllocator<void*>> spyedBlocks;

    void ReleaseIfPending() {
        if (releasePending && spyedBlocks.empty()) {
            spy->Release();
            spy = nullptr;
            releasePending = false;
        }
    }
};

SpyState& Spy() {
    static SpyState* state = new SpyState();  // never destroyed: frees may run during exit
    return *state;
}

void* Alloc(SIZE_T cb) {
    SpyState& s = Spy();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.spy == nullptr || s.releasePending) {
        return std::malloc(cb == 0 ? 1 : cb);
    }
    SIZE_T actual = s.spy->PreAlloc(cb);
    void* block = std::malloc(actual == 0 ? 1 : actual);
    block = s.spy->PostAlloc(block);
    if (block != nullptr) {
        s.spyedBlocks.insert(block);
    }
    return block;
}

void Free(void* pv) {
    SpyState& s = Spy();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.spy == nullptr) {
        std::free(pv);
        return;
    }
    const BOOL spyed = s.spyedBlocks.erase(pv) != 0 ? TRUE : FALSE;
    std::free(s.spy->PreFree(pv, spyed));
    s.spy->PostFree(spyed);
    s.ReleaseIfPending();
}

void* Realloc(void* pv, SIZE_T cb) {
    SpyState& s = Spy();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.spy == nullptr) {
        return std::realloc(pv, cb == 0 ? 1 : cb);
    }
    const BOOL spyed = s.spyedBlocks.erase(pv) != 0 ? TRUE : FALSE;
    void* request = nullptr;
    SIZE_T actual = s.spy->PreRealloc(pv, cb, &request, spyed);
    void* block = std::realloc(request, actual == 0 ? 1 : actual);
    block = s.spy->PostRealloc(block, spyed);
    if (block != nullptr && spyed) {
        s.spyedBlocks.insert(block);
    }
    return block;
}

// The process's one IMalloc, as CoGetMalloc hands it out.
class TaskAllocator final : public IMalloc {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMalloc)) {
            *ppv = static_cast<IMalloc*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(void*) Alloc(SIZE_T cb) override { return ::Alloc(cb); }
    STDMETHODIMP_(void*) Realloc(void* pv, SIZE_T cb) override { return ::Realloc(pv, cb); }
    STDMETHODIMP_(void) Free(void* pv) override { ::Free(pv); }
    STDMETHODIMP_(SIZE_T) GetSize(void*) override { return static_cast<SIZE_T>(-1); }
    STDMETHODIMP_(int) DidAlloc(void*) override { return -1; }  // "cannot tell", as Windows allows
    STDMETHODIMP_(void) HeapMinimize() override {}
};

TaskAllocator taskAllocator;

}  // namespace

STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb) { return Alloc(cb); }

STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return pv == nullptr ? Alloc(cb) : Realloc(pv, cb); }

STDAPI_(void) CoTaskMemFree(LPVOID pv) {
    if (pv != nullptr) {
        Free(pv);
    }
}

STDAPI CoGetMalloc(DWORD dwMemContext, IMalloc** ppMalloc) {
    if (ppMalloc == nullptr) return E_POINTER;
    if (dwMemContext != 1) {  // MEMCTX_TASK is the only context there is
        *ppMalloc = nullptr;
        return E_INVALIDARG;
    }
    *ppMalloc = &taskAllocator;
    return S_OK;
}

STDAPI CoRegisterMallocSpy(IMallocSpy* pMallocSpy) {
    SpyState& s = Spy();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.spy != nullptr) return CO_E_OBJISREG;
    if (pMallocSpy == nullptr) return E_INVALIDARG;
    IMallocSpy* spy = nullptr;
    if (FAILED(pMallocSpy->QueryInterface(IID_IMallocSpy, reinterpret_cast<void**>(&spy)))) return E_INVALIDARG;
    s.spy = spy;
    return S_OK;
}

STDAPI CoRevokeMallocSpy(void) {
    SpyState& s = Spy();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.spy == nullptr) return CO_E_OBJNOTREG;
    if (!s.spyedBlocks.empty()) {
        s.releasePending = true;
        return E_ACCESSDENIED;
    }
    s.spy->Release();
    s.spy = nullptr;
    return S_OK;
}
