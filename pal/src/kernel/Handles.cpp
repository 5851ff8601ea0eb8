// The handle registry and the shared-memory regions behind named objects.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "KernelObject.h"

namespace pal {
namespace {

std::mutex& RegistryLock() {
    static std::mutex* lock = new std::mutex();
    return *lock;
}
std::unordered_set<KernelObject*>& Registry() {  // guarded by RegistryLock()
    static auto* registry = new std::unordered_set<KernelObject*>();
    return *registry;
}

std::string ShmName(const char* kind, const char* name) {
    std::string shm = std::string("/zanthrop.") + kind + ".";
    for (const char* p = name; *p != 0; ++p) shm.push_back(*p == '/' || *p == '\\' ? '_' : *p);
    return shm;
}

// Waits briefly for another process to finish creating a region: creation is a few steps.
template <class Condition>
bool WaitBriefly(Condition done) {
    for (int i = 0; i < 2000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return done();
}

}  // namespace

HANDLE RegisterHandle(KernelObject* object) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    Registry().insert(object);
    return object;
}

KernelObject* LookUpHandle(HANDLE handle) {
    auto* object = static_cast<KernelObject*>(handle);
    std::lock_guard<std::mutex> guard(RegistryLock());
    if (Registry().count(object) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

bool SharedRegion::Attach(const char* kind, const char* name, std::size_t payloadSize, Mode mode,
                          void (*initialise)(void*), bool& alreadyExisted, DWORD& error) {
    alreadyExisted = false;
    const std::size_t headerSize = sizeof(Header) < 64 ? 64 : sizeof(Header);
    if (name == nullptr || *name == 0) {
        if (mode == Mode::Open) {
            error = ERROR_INVALID_PARAMETER;
            return false;
        }
        m_mappedSize = headerSize + payloadSize;
        void* base = mmap(nullptr, m_mappedSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        m_header = new (base) Header{};
        m_payload = static_cast<char*>(base) + headerSize;
        m_payloadSize = payloadSize;
        if (initialise != nullptr) initialise(m_payload);
        m_header->handles = 1;
        m_header->ready = 1;
        return true;
    }

    m_shmName = ShmName(kind, name);
    int fd = -1;
    bool creator = false;
    if (mode == Mode::Create) {
        fd = shm_open(m_shmName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        creator = fd >= 0;
        if (!creator && errno != EEXIST) {
            error = ERROR_ACCESS_DENIED;
            return false;
        }
    }
    if (!creator) {
        fd = shm_open(m_shmName.c_str(), O_RDWR, 0);
        if (fd < 0) {
            error = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
            return false;
        }
        alreadyExisted = true;
        struct stat info {};
        // The creator sizes the object right after creating it.
        if (!WaitBriefly([&] { return fstat(fd, &info) == 0 && static_cast<std::size_t>(info.st_size) >= headerSize; })) {
            close(fd);
            error = ERROR_FILE_NOT_FOUND;
            return false;
        }
        m_mappedSize = static_cast<std::size_t>(info.st_size);
    } else {
        m_mappedSize = headerSize + payloadSize;
        if (ftruncate(fd, static_cast<off_t>(m_mappedSize)) != 0) {
            close(fd);
            shm_unlink(m_shmName.c_str());
            error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
    }
    void* base = mmap(nullptr, m_mappedSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (base == MAP_FAILED) {
        if (creator) shm_unlink(m_shmName.c_str());
        error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    m_header = static_cast<Header*>(base);
    m_payload = static_cast<char*>(base) + headerSize;
    if (creator) {
        m_header->payloadSize = payloadSize;
        if (initialise != nullptr) initialise(m_payload);
        m_header->handles.fetch_add(1);
        m_header->ready.store(1, std::memory_order_release);
    } else {
        if (!WaitBriefly([&] { return m_header->ready.load(std::memory_order_acquire) == 1; })) {
            munmap(base, m_mappedSize);
            m_header = nullptr;
            error = ERROR_FILE_NOT_FOUND;
            return false;
        }
        m_header->handles.fetch_add(1);
    }
    m_payloadSize = static_cast<std::size_t>(m_header->payloadSize);
    return true;
}

SharedRegion::~SharedRegion() {
    if (m_header == nullptr) return;
    const bool last = m_header->handles.fetch_sub(1) == 1;
    munmap(m_header, m_mappedSize);
    if (last && !m_shmName.empty()) {
        shm_unlink(m_shmName.c_str());  // the object goes with its last handle
    }
}

}  // namespace pal

extern "C" BOOL CloseHandle(HANDLE handle) {
    pal::KernelObject* object = pal::LookUpHandle(handle);
    if (object == nullptr) return FALSE;
    {
        std::lock_guard<std::mutex> guard(pal::RegistryLock());
        pal::Registry().erase(object);
    }
    delete object;
    return TRUE;
}

extern "C" DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    pal::KernelObject* object = pal::LookUpHandle(hHandle);
    return object == nullptr ? WAIT_FAILED : object->Wait(dwMilliseconds);
}
