// The handle table and the shared-memory regions behind named objects.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <vector>

#include "KernelObject.h"

namespace pal {
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

    m_path = ShmPath(kind, name);
    // Each step either settles the matter or found the name changing under it (an object being
    // removed, or made by another process at the same moment): then it looks again.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        Step step = OpenExisting(error);
        if (step == Step::Attached) alreadyExisted = true;
        if (step == Step::Absent) {
            if (mode == Mode::Open) return false;
            step = CreateNew(payloadSize, initialise, error);
        }
        if (step != Step::Retry) return step == Step::Attached;
    }
    error = ERROR_ACCESS_DENIED;
    return false;
}

SharedRegion::Step SharedRegion::OpenExisting(DWORD& error) {
    const int fd = open(m_path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        const int openError = errno;
        error = ErrorOf(openError);
        return openError == ENOENT ? Step::Absent : Step::Failed;
    }
    // Left behind by processes that all ended without closing it: it no longer exists.
    if (RemoveIfUnheld(fd, m_path)) {
        close(fd);
        return Step::Retry;
    }
    if (flock(fd, LOCK_SH) != 0 || !StillNamed(fd, m_path)) {
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
    m_fd = fd;
    m_payload = base;
    m_payloadSize = static_cast<std::size_t>(info.st_size);
    return Step::Attached;
}

// Builds the object complete under a private name, locked, and only then links it under its own
// name: no process ever sees it half-made, and of two creators at once exactly one succeeds.
SharedRegion::Step SharedRegion::CreateNew(std::size_t payloadSize, void (*initialise)(void*), DWORD& error) {
    static std::atomic<unsigned> sequence{0};
    const std::string privatePath = std::string(kShmDirectory) + "/zanthrop.new." + std::to_string(getpid()) + "." +
                                    std::to_string(sequence.fetch_add(1));
    const int fd = open(privatePath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = ErrorOf(errno);
        return Step::Failed;
    }
    void* base = MAP_FAILED;
    if (payloadSize > 0 && ftruncate(fd, static_cast<off_t>(payloadSize)) == 0 && flock(fd, LOCK_SH) == 0) {
        base = mmap(nullptr, payloadSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (base == MAP_FAILED) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        unlink(privatePath.c_str());
        close(fd);
        return Step::Failed;
    }
    if (initialise != nullptr) initialise(base);
    const bool linked = link(privatePath.c_str(), m_path.c_str()) == 0;
    const int linkError = errno;
    unlink(privatePath.c_str());
    if (!linked) {
        munmap(base, payloadSize);
        close(fd);
        if (linkError == EEXIST) return Step::Retry;  // another process made it first: open that one
        error = ErrorOf(linkError);
        return Step::Failed;
    }
    m_fd = fd;
    m_payload = base;
    m_payloadSize = payloadSize;
    return Step::Attached;
}

SharedRegion::~SharedRegion() {
    if (m_payload == nullptr) return;
    munmap(m_payload, m_payloadSize);
    if (m_fd >= 0) {
        RemoveIfUnheld(m_fd, m_path);  // the object goes with its last handle
        close(m_fd);
    }
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
