// Named shared memory.
#include <mutex>
#include <string>
#include <unordered_map>

#include "KernelObject.h"

namespace {

class Mapping final : public pal::KernelObject {
public:
    static constexpr pal::ObjectKind kKind = pal::ObjectKind::Mapping;
    Mapping() : KernelObject(kKind) {}

    pal::SharedRegion region;
    std::string name;  // empty for an unnamed mapping
};

// Each view of a named mapping attaches the region anew, so a view outlives the handle it was
// made from, as on Windows. A process maps a named object once, so views of one object share an
// address (Windows gives each its own); each unmapping lets go of one of them. Guarded by viewsLock.
std::mutex viewsLock;
std::unordered_multimap<const void*, pal::SharedRegion*>& Views() {
    static auto* views = new std::unordered_multimap<const void*, pal::SharedRegion*>();
    return *views;
}

HANDLE Attach(const char* name, std::size_t size, pal::SharedRegion::Mode mode) {
    auto* mapping = new Mapping();
    bool existed = false;
    DWORD error = ERROR_SUCCESS;
    if (!mapping->region.Attach("mapping", name, size, mode, [](void*) {}, existed, error)) {
        delete mapping;
        SetLastError(error);
        return nullptr;
    }
    mapping->name = name != nullptr ? name : "";
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return pal::RegisterHandle(mapping);
}

}  // namespace

extern "C" HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD, DWORD dwMaximumSizeHigh,
                                     DWORD dwMaximumSizeLow, LPCSTR lpName) {
    const std::size_t size = (static_cast<std::size_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
    if (hFile != INVALID_HANDLE_VALUE || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Attach(lpName, size, pal::SharedRegion::Mode::Create);
}

extern "C" HANDLE OpenFileMappingA(DWORD, BOOL, LPCSTR lpName) {
    return Attach(lpName, 0, pal::SharedRegion::Mode::Open);
}

extern "C" LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD, DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                                SIZE_T dwNumberOfBytesToMap) {
    auto* mapping = pal::ObjectOf<Mapping>(hFileMappingObject);
    if (mapping == nullptr) return nullptr;
    if (dwFileOffsetHigh != 0 || dwFileOffsetLow != 0 || dwNumberOfBytesToMap > mapping->region.PayloadSize()) {
        SetLastError(ERROR_INVALID_PARAMETER);  // views of the whole area only: all the module needs
        return nullptr;
    }
    if (mapping->name.empty()) {
        return mapping->region.Payload();  // an unnamed mapping's view lives with its handle
    }
    auto* view = new pal::SharedRegion();
    bool existed = false;
    DWORD error = ERROR_SUCCESS;
    if (!view->Attach("mapping", mapping->name.c_str(), 0, pal::SharedRegion::Mode::Open, nullptr, existed, error)) {
        delete view;
        SetLastError(error);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(viewsLock);
    Views().emplace(view->Payload(), view);
    return view->Payload();
}

extern "C" BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
    pal::SharedRegion* view = nullptr;
    {
        std::lock_guard<std::mutex> guard(viewsLock);
        auto found = Views().find(lpBaseAddress);
        if (found == Views().end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        view = found->second;
        Views().erase(found);
    }
    delete view;
    return TRUE;
}
