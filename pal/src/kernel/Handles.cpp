// The handle table and the shared-memory regions behind named objects.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "KernelObject.h"

namespace pal {

// One named object as this process has it open: mapped once, with one lock, for all its handles.
struct OpenObject {
    std::string path;
    int fd = -1;  // with our shared lock on it
    void* base = nullptr;
    std::size_t size = 0;
    int uses = 0;  // regions (handles and views) on it; guarded by OpenObjectsLock()
    pid_t owner = 0;  // the process that opened it (a child made by fork inherits, but never owns, it)
};

namespace {

// The handle table: chunks of slots made as needed and never freed, so a look-up reads two atomic
// pointers and nothing else. A handle is ((use << 20) | (slot + 1)) << 2: a multiple of four, never
// null or INVALID_HANDLE_VALUE, and a slot's next user gets a handle its last one never had (until
// the 10-bit use count comes round again).
constexpr std::uint32_t kChunkSize = 256;
constexpr std::uint32_t kChunkCount = 1024;  // 262144 handles at most
constexpr std::uint32_t kSlotBits = 20;
constexpr std::uint32_t kUseMask = 0x3FF;

struct Slot {
    std::atomic<KernelObject*> object{nullptr};
    std::uint32_t uses = 0;  // guarded by TableLock()
};
std::atomic<Slot*> chunks[kChunkCount];

std::mutex& TableLock() {  // guards adding and removing entries, the free slots and the uses
    static auto* lock = new std::mutex();
    return *lock;
}
std::vector<std::uint32_t>& FreeSlots() {
    static auto* free = new std::vector<std::uint32_t>();
    return *free;
}
std::uint32_t slotsMade = 0;  // guarded by TableLock()

// The slot number a handle names, or kNoSlot for a value no handle can have.
constexpr std::uint32_t kNoSlot = ~std::uint32_t{0};
std::uint32_t SlotNumber(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if ((value & 3) != 0 || (value >> (kSlotBits + 12)) != 0) return kNoSlot;
    const std::uintptr_t number = (value >> 2) & ((std::uintptr_t{1} << kSlotBits) - 1);
    return number == 0 || number > kChunkSize * kChunkCount ? kNoSlot : static_cast<std::uint32_t>(number - 1);
}

Slot* SlotOf(std::uint32_t number) {
    if (number == kNoSlot) return nullptr;
    Slot* chunk = chunks[number / kChunkSize].load(std::memory_order_acquire);
    return chunk == nullptr ? nullptr : &chunk[number % kChunkSize];
}

const char kShmDirectory[] = "/dev/shm";  // where glibc keeps POSIX shared-memory objects

// "/dev/shm/zanthrop.<kind>.<name>", every "/" or "\" of the name made "_".
std::string ShmPath(const char* kind, const char* name) {
    std::string path = std::string(kShmDirectory) + "/zanthrop." + kind + ".";
    for (const char* p = name; *p != 0; ++p) path.push_back(*p == '/' || *p == '\\' ? '_' : *p);
    return path;
}

DWORD ErrorOf(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENAMETOOLONG:
            return ERROR_INVALID_PARAMETER;
        case ENOMEM:
        case ENOSPC:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_ACCESS_DENIED;
    }
}

// Whether the open file fd is still the one that path names (and not removed or replaced).
bool StillNamed(int fd, const std::string& path) {
    struct stat opened {}, named {};
    return fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// Removes path if fd is the only open file with a lock on it: no handle anywhere holds the
// object any more. Returns whether it did.
bool RemoveIfUnheld(int fd, const std::string& path) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;  // someone else holds it
    if (StillNamed(fd, path)) unlink(path.c_str());
    return true;
}

enum class Step { Attached, Absent, Failed, Retry };

// Opens the object at path if it exists and some process holds it.
Step OpenExisting(OpenObject& object, DWORD& error) {
    const int fd = open(object.path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        const int openError = errno;
        error = ErrorOf(openError);
        return openError == ENOENT ? Step::Absent : Step::Failed;
    }
    // Left behind by processes that all ended without closing it: it no longer exists.
    if (RemoveIfUnheld(fd, object.path)) {
        close(fd);
        return Step::Retry;
    }
    if (flock(fd, LOCK_SH) != 0 || !StillNamed(fd, object.path)) {
        close(fd);  // its last holder removed it while we were getting here
        return Step::Retry;
    }
    struct stat info {};
    void* base = MAP_FAILED;
    if (fstat(fd, &info) == 0 && info.st_size > 0) {
        base = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (base == MAP_FAILED) {
        close(fd);
        error = ERROR_NOT_ENOUGH_MEMORY;
        return Step::Failed;
    }
    object.fd = fd;
    object.base = base;
    object.size = static_cast<std::size_t>(info.st_size);
    return Step::Attached;
}

// Builds the object complete under a private name, locked, and only then links it under its own
// name: no process ever sees it half-made, and of two creators at once exactly one succeeds.
Step CreateNew(OpenObject& object, std::size_t size, void (*initialise)(void*), DWORD& error) {
    static std::atomic<unsigned> sequence{0};
    const std::string privatePath = std::string(kShmDirectory) + "/zanthrop.new." + std::to_string(getpid()) + "." +
                                    std::to_string(sequence.fetch_add(1));
    const int fd = open(privatePath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = ErrorOf(errno);
        return Step::Failed;
    }
    void* base = MAP_FAILED;
    if (size > 0 && ftruncate(fd, static_cast<off_t>(size)) == 0 && flock(fd, LOCK_SH) == 0) {
        base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (base == MAP_FAILED) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        unlink(privatePath.c_str());
        close(fd);
        return Step::Failed;
    }
    if (initialise != nullptr) initialise(base);
    const bool linked = link(privatePath.c_str(), object.path.c_str()) == 0;
    const int linkError = errno;
    unlink(privatePath.c_str());
    if (!linked) {
        munmap(base, size);
        close(fd);
        if (linkError == EEXIST) return Step::Retry;  // another process made it first: open that one
        error = ErrorOf(linkError);
        return Step::Failed;
    }
    object.fd = fd;
    object.base = base;
    object.size = size;
    return Step::Attached;
}

// The named objects this process has open, by path.
std::mutex& OpenObjectsLock() {
    static auto* lock = new std::mutex();
    return *lock;
}
std::unordered_map<std::string, OpenObject*>& OpenObjects() {  // guarded by OpenObjectsLock()
    static auto* objects = new std::unordered_map<std::string, OpenObject*>();
    return *objects;
}

}  // namespace

HANDLE RegisterHandle(KernelObject* object) {
    std::lock_guard<std::mutex> guard(TableLock());
    std::uint32_t slot = 0;
    if (!FreeSlots().empty()) {
        slot = FreeSlots().back();
        FreeSlots().pop_back();
    } else if (slotsMade < kChunkSize * kChunkCount) {
        slot = slotsMade++;
        if (slot % kChunkSize == 0) chunks[slot / kChunkSize].store(new Slot[kChunkSize], std::memory_order_release);
    } else {
        delete object;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Slot& entry = chunks[slot / kChunkSize].load(std::memory_order_relaxed)[slot % kChunkSize];
    entry.uses = (entry.uses + 1) & kUseMask;
    object->handle = reinterpret_cast<HANDLE>(
        ((static_cast<std::uintptr_t>(entry.uses) << kSlotBits) | (static_cast<std::uintptr_t>(slot) + 1)) << 2);
    entry.object.store(object, std::memory_order_release);
    return object->handle;
}

KernelObject* LookUpHandle(HANDLE handle) {
    Slot* slot = SlotOf(SlotNumber(handle));
    KernelObject* object = slot != nullptr ? slot->object.load(std::memory_order_acquire) : nullptr;
    if (object == nullptr || object->handle != handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

KernelObject* UnregisterHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(TableLock());
    const std::uint32_t number = SlotNumber(handle);
    Slot* slot = SlotOf(number);
    KernelObject* object = slot != nullptr ? slot->object.load(std::memory_order_relaxed) : nullptr;
    if (object == nullptr || object->handle != handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    slot->object.store(nullptr, std::memory_order_release);
    FreeSlots().push_back(number);
    return object;
}

bool SharedRegion::Attach(const char* kind, const char* name, std::size_t payloadSize, Mode mode,
                          void (*initialise)(void*), bool& alreadyExisted, DWORD& error) {
    alreadyExisted = false;
    if (name == nullptr || *name == 0) {
        if (mode == Mode::Open) {
            error = ERROR_INVALID_PARAMETER;
            return false;
        }
        void* base = mmap(nullptr, payloadSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        m_payload = base;
        m_payloadSize = payloadSize;
        if (initialise != nullptr) initialise(m_payload);
        return true;
    }

    const std::string path = ShmPath(kind, name);
    std::lock_guard<std::mutex> guard(OpenObjectsLock());
    auto found = OpenObjects().find(path);
    if (found != OpenObjects().end() && found->second->owner != getpid()) {
        OpenObjects().erase(found);  // inherited through fork(): the parent's, left to it
        found = OpenObjects().end();
    }
    if (found != OpenObjects().end()) {  // open here already: it exists, and stays while we hold it
        m_object = found->second;
        alreadyExisted = true;
    } else {
        auto object = std::make_unique<OpenObject>();
        object->path = path;
        object->owner = getpid();
        // Each step either settles the matter or found the name changing under it (an object being
        // removed, or made by another process at the same moment): then it looks again.
        Step step = Step::Retry;
        for (int attempt = 0; attempt < 1000 && step == Step::Retry; ++attempt) {
            step = OpenExisting(*object, error);
            alreadyExisted = step == Step::Attached;
            if (step == Step::Absent) {
                if (mode == Mode::Open) return false;
                step = CreateNew(*object, payloadSize, initialise, error);
            }
        }
        if (step != Step::Attached) {
            if (step == Step::Retry) error = ERROR_ACCESS_DENIED;
            return false;
        }
        m_object = object.release();
        OpenObjects()[path] = m_object;
    }
    ++m_object->uses;
    m_payload = m_object->base;
    m_payloadSize = m_object->size;
    return true;
}

SharedRegion::~SharedRegion() {
    if (m_payload == nullptr) return;
    if (m_object == nullptr) {
        munmap(m_payload, m_payloadSize);
        return;
    }
    std::lock_guard<std::mutex> guard(OpenObjectsLock());
    if (--m_object->uses > 0) return;
    auto found = OpenObjects().find(m_object->path);
    if (found != OpenObjects().end() && found->second == m_object) OpenObjects().erase(found);
    munmap(m_object->base, m_object->size);
    // The object goes with its last handle in any process; a child made by fork() shares its
    // parent's lock, so it never decides that.
    if (m_object->owner == getpid()) RemoveIfUnheld(m_object->fd, m_object->path);
    close(m_object->fd);
    delete m_object;
}

}  // namespace pal

extern "C" BOOL CloseHandle(HANDLE handle) {
    pal::KernelObject* object = pal::UnregisterHandle(handle);
    if (object == nullptr) return FALSE;
    delete object;
    return TRUE;
}

extern "C" DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    pal::KernelObject* object = pal::LookUpHandle(hHandle);
    return object == nullptr ? WAIT_FAILED : object->Wait(dwMilliseconds);
}
