// The task allocator, on malloc, with the allocator spy that tests use to count blocks.
//
// The spy protocol follows what Windows does, callback for callback, so a counting spy gives the
// same numbers on both builds:
// - while a spy is registered, every allocation, free and reallocation goes through it; a free
//   or reallocation tells it whether the block was allocated under it ("spied");
// - a reallocation always yields a spied block, even from an unspied one;
// - PreAlloc or PreRealloc returning 0 for a non-zero request makes the call fail (block intact);
// - revoking a spy while spied blocks are outstanding fails with E_ACCESSDENIED; the spy keeps
//   spying and is released when no spied block is left.
// Where Wine's bookkeeping goes wrong this layer does not follow it: Wine may report a null
// pointer given to a reallocation as spied and then miscount, counts a refused allocation as
// outstanding, and returns null from a spied reallocation to size 0 without freeing the block.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

// Every block carries its requested size in front of it, so that IMalloc::GetSize can answer.
struct alignas(std::max_align_t) BlockHeader {
    SIZE_T size;
};
constexpr SIZE_T kHeaderSize = sizeof(BlockHeader);

BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

void* RawAlloc(SIZE_T cb) {
    if (cb > static_cast<SIZE_T>(-1) - kHeaderSize) return nullptr;
    auto* header = static_cast<BlockHeader*>(std::malloc(kHeaderSize + cb));
    if (header == nullptr) return nullptr;
    header->size = cb;
    return header + 1;
}

// Like realloc: null grows into a new block; on failure the old block stays valid.
void* RawRealloc(void* block, SIZE_T cb) {
    if (block == nullptr) return RawAlloc(cb);
    if (cb > static_cast<SIZE_T>(-1) - kHeaderSize) return nullptr;
    auto* header = static_cast<BlockHeader*>(std::realloc(HeaderOf(block), kHeaderSize + cb));
    if (header == nullptr) return nullptr;
    header->size = cb;
    return header + 1;
}

void RawFree(void* block) {
    if (block != nullptr) std::free(HeaderOf(block));
}

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
    // Guards everything below. Recursive: a spy's callbacks may use the task allocator.
    std::recursive_mutex lock;
    // Whether a spy is registered, readable without the lock: without a spy, allocation and
    // freeing take no lock at all (the common case, and the hot path of received frames).
    std::atomic<bool> present{false};
    IMallocSpy* spy = nullptr;  // one reference while registered
    bool revokePending = false;  // released when spiedBlocks becomes empty
    std::unordered_set<void*, std::hash<void*>, std::equal_to<void*>, MallocAllocator<void*>> spiedBlocks;

    // Records a spied block. Should the record itself fail for lack of memory, the block is simply
    // not spied: its free then reports fSpyed = FALSE.
    void Track(void* block) {
        try {
            spiedBlocks.insert(block);
        } catch (...) {
        }
    }
    BOOL Untrack(void* block) { return spiedBlocks.erase(block) != 0 ? TRUE : FALSE; }
    BOOL IsTracked(void* block) const { return spiedBlocks.count(block) != 0 ? TRUE : FALSE; }

    void ReleaseIfPending() {
        if (revokePending && spiedBlocks.empty()) {
            spy->Release();
            spy = nullptr;
            present.store(false, std::memory_order_release);
            revokePending = false;
        }
    }
};

SpyState& Spy() {
    static SpyState* state = new SpyState();  // never destroyed: frees may run during exit
    return *state;
}

void* Alloc(SIZE_T cb) {
    SpyState& s = Spy();
    if (!s.present.load(std::memory_order_acquire)) return RawAlloc(cb);
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.spy == nullptr) return RawAlloc(cb);
    const SIZE_T actual = s.spy->PreAlloc(cb);
    if (actual == 0 && cb != 0) return nullptr;  // the spy refused the allocation
    void* block = s.spy->PostAlloc(RawAlloc(actual));
    if (block != nullptr) s.Track(block);
    return block;
}

void Free(void* pv) {
    if (pv == nullptr) return;
    SpyState& s = Spy();
    if (!s.present.load(std::memory_order_acquire)) {
        RawFree(pv);
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.spy == nullptr) {
        RawFree(pv);
        return;
    }
    const BOOL spied = s.Untrack(pv);
    RawFree(s.spy->PreFree(pv, spied));
    s.spy->PostFree(spied);
    s.ReleaseIfPending();
}

void* Realloc(void* pv, SIZE_T cb) {
    SpyState& s = Spy();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.spy == nullptr) {
        if (pv != nullptr && cb == 0) {
            RawFree(pv);
            return nullptr;
        }
        return RawRealloc(pv, cb);
    }
    const BOOL spied = pv != nullptr ? s.Untrack(pv) : FALSE;
    void* request = nullptr;
    const SIZE_T actual = s.spy->PreRealloc(pv, cb, &request, spied);
    if (actual == 0) {
        if (cb != 0) {  // the spy refused: the block stays as it was
            if (pv != nullptr && spied) s.Track(pv);
            return nullptr;
        }
        RawFree(request);  // a reallocation to size 0 frees the block
        s.ReleaseIfPending();
        return nullptr;
    }
    void* raw = RawRealloc(request, actual);
    if (raw == nullptr && pv != nullptr && spied) s.Track(pv);  // the old block is still there
    void* block = s.spy->PostRealloc(raw, TRUE);
    if (block != nullptr) s.Track(block);
    return block;
}

SIZE_T GetSize(void* pv) {
    if (pv == nullptr) return static_cast<SIZE_T>(-1);
    SpyState& s = Spy();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.spy == nullptr) return HeaderOf(pv)->size;
    const BOOL spied = s.IsTracked(pv);
    void* actual = s.spy->PreGetSize(pv, spied);
    return s.spy->PostGetSize(HeaderOf(actual)->size, spied);
}

// Whether a block is ours cannot be told without reading memory that may not be a block.
int DidAlloc(void* pv) {
    if (pv == nullptr) return -1;
    SpyState& s = Spy();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.spy == nullptr) return -1;
    const BOOL spied = s.IsTracked(pv);
    return s.spy->PostDidAlloc(s.spy->PreDidAlloc(pv, spied), spied, -1);
}

void HeapMinimize() {
    SpyState& s = Spy();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.spy != nullptr) s.spy->PreHeapMinimize();
    if (s.spy != nullptr) s.spy->PostHeapMinimize();
}

// The process's one IMalloc, as CoGetMalloc hands it out; it is never destroyed.
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
    STDMETHODIMP_(SIZE_T) GetSize(void* pv) override { return ::GetSize(pv); }
    STDMETHODIMP_(int) DidAlloc(void* pv) override { return ::DidAlloc(pv); }
    STDMETHODIMP_(void) HeapMinimize() override { ::HeapMinimize(); }
};

TaskAllocator taskAllocator;

}  // namespace

STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb) { return Alloc(cb); }

STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return Realloc(pv, cb); }

STDAPI_(void) CoTaskMemFree(LPVOID pv) { Free(pv); }

STDAPI CoGetMalloc(DWORD dwMemContext, IMalloc** ppMalloc) {
    if (ppMalloc == nullptr) return E_POINTER;
    if (dwMemContext != MEMCTX_TASK) {
        *ppMalloc = nullptr;
        return E_INVALIDARG;
    }
    *ppMalloc = &taskAllocator;
    return S_OK;
}

STDAPI CoRegisterMallocSpy(IMallocSpy* pMallocSpy) {
    SpyState& s = Spy();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.spy != nullptr) return CO_E_OBJISREG;
    if (pMallocSpy == nullptr) return E_INVALIDARG;
    IMallocSpy* spy = nullptr;
    if (FAILED(pMallocSpy->QueryInterface(IID_IMallocSpy, reinterpret_cast<void**>(&spy)))) return E_INVALIDARG;
    s.spy = spy;
    s.present.store(true, std::memory_order_release);
    return S_OK;
}

STDAPI CoRevokeMallocSpy(void) {
    SpyState& s = Spy();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.spy == nullptr) return CO_E_OBJNOTREG;
    if (!s.spiedBlocks.empty()) {
        s.revokePending = true;
        return E_ACCESSDENIED;
    }
    s.spy->Release();
    s.spy = nullptr;
    s.present.store(false, std::memory_order_release);
    return S_OK;
}
