// Internal: the objects behind this layer's handles, and the shared-memory regions that hold
// the state of named ones.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <string>

namespace pal {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // WAIT_OBJECT_0, WAIT_ABANDONED or WAIT_TIMEOUT; WAIT_FAILED for objects that cannot be waited on.
    virtual DWORD Wait(DWORD /*milliseconds*/) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
};

// Handles are KernelObject pointers, known to a registry so that stale or foreign values are
// refused rather than followed.
HANDLE RegisterHandle(KernelObject* object);
// The object of a live handle, or null with ERROR_INVALID_HANDLE.
template <class T>
T* ObjectOf(HANDLE handle);
KernelObject* LookUpHandle(HANDLE handle);

template <class T>
T* ObjectOf(HANDLE handle) {
    return dynamic_cast<T*>(LookUpHandle(handle));
}

// A region of shared memory: a small header counting the handles on it, then the payload.
// Named regions are POSIX shared-memory objects; unnamed ones are anonymous shared memory.
class SharedRegion {
public:
    enum class Mode { Create, Open };

    SharedRegion() = default;
    ~SharedRegion();
    SharedRegion(const SharedRegion&) = delete;
    SharedRegion& operator=(const SharedRegion&) = delete;

    // Creates (or, if it exists, opens: alreadyExisted is then set) or only opens the region of
    // kind and name. initialise runs once, by the creator, before anyone else can use the payload.
    // On failure returns false with the Win32 error in error.
    bool Attach(const char* kind, const char* name, std::size_t payloadSize, Mode mode, void (*initialise)(void*),
                bool& alreadyExisted, DWORD& error);

    void* Payload() const { return m_payload; }
    std::size_t PayloadSize() const { return m_payloadSize; }

private:
    struct Header {
        std::atomic<int> ready;    // set once the creator has initialised the payload
        std::atomic<int> handles;  // handles on the region in all processes
        std::uint64_t payloadSize;
        std::uint64_t reserved;
    };

    Header* m_header = nullptr;
    void* m_payload = nullptr;
    std::size_t m_payloadSize = 0;
    std::size_t m_mappedSize = 0;
    std::string m_shmName;  // empty for unnamed regions
};

}  // namespace pal
