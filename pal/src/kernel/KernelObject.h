// Internal: the objects behind this layer's handles, and the shared-memory regions that hold
// the state of named ones.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <string>

namespace pal {

enum class ObjectKind { Mapping, Mutex, Event };

class KernelObject {
public:
    explicit KernelObject(ObjectKind kind) : kind(kind) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    // WAIT_OBJECT_0, WAIT_ABANDONED or WAIT_TIMEOUT; WAIT_FAILED for objects that cannot be waited on.
    virtual DWORD Wait(DWORD /*milliseconds*/) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }

    const ObjectKind kind;
    HANDLE handle = nullptr;  // set by RegisterHandle
};

// Handles are small numbers naming slots of a process-wide table, with a use count in their upper
// bits, so that stale or foreign values are refused rather than followed. Looking one up takes no
// lock: every wait and release does it.
//
// Registers object (which the table then owns) and returns its handle; null with
// ERROR_NOT_ENOUGH_MEMORY when the table is full (the object is then deleted).
HANDLE RegisterHandle(KernelObject* object);
// The object of a live handle, or null with ERROR_INVALID_HANDLE.
KernelObject* LookUpHandle(HANDLE handle);
// Takes the handle out of the table and returns its object for deletion; null with
// ERROR_INVALID_HANDLE if it is no live handle (or another thread closed it first).
KernelObject* UnregisterHandle(HANDLE handle);

// The object of a live handle of kind T, or null with ERROR_INVALID_HANDLE.
template <class T>
T* ObjectOf(HANDLE handle) {
    KernelObject* object = LookUpHandle(handle);
    if (object == nullptr) return nullptr;
    if (object->kind != T::kKind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return static_cast<T*>(object);
}

// A region of shared memory. A named region is a file in /dev/shm (POSIX shared memory), kept
// open with a shared flock on it while this process has a handle on it: the lock marks a live
// handle in some process and goes with the process however it ends. An object nobody holds a lock
// on is gone (whoever finds one removes it), so a process that was killed leaves no object behind,
// as on Windows. A process maps each named object once, however many handles it opens on it, so
// that the pthread objects inside have one address per process. Unnamed regions are anonymous
// shared memory.
struct OpenObject;

class SharedRegion {
public:
    enum class Mode { Create, Open };

    SharedRegion() = default;
    ~SharedRegion();
    SharedRegion(const SharedRegion&) = delete;
    SharedRegion& operator=(const SharedRegion&) = delete;

    // Creates (or, if it exists, opens: alreadyExisted is then set) or only opens the region of
    // kind and name. initialise runs once, by the creator, before anyone else can see the region.
    // On failure returns false with the Win32 error in error.
    bool Attach(const char* kind, const char* name, std::size_t payloadSize, Mode mode, void (*initialise)(void*),
                bool& alreadyExisted, DWORD& error);

    void* Payload() const { return m_payload; }
    std::size_t PayloadSize() const { return m_payloadSize; }

private:
    void* m_payload = nullptr;
    std::size_t m_payloadSize = 0;
    OpenObject* m_object = nullptr;  // named regions: this process's use of the object
};

}  // namespace pal
