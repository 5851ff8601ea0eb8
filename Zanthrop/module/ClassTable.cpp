// The module's class table and its class-object entry points.
#include <atomic>
#include <mutex>

#include "com/ModuleLifetime.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "module/ClassObject.h"
#include "tapi/CTapiConverter.h"

#ifdef _WIN32
#define ZANTHROP_EXPORT
#else
#define ZANTHROP_EXPORT __attribute__((visibility("default")))
#endif

namespace {

struct ClassEntry {
    const CLSID* clsid;
    ObjectCreator creator;
    std::atomic<CClassObject*> classObject{nullptr};  // made on first request, kept until unload
};

// In lookup and registration order.
ClassEntry classTable[] = {
    {&CLSID_CoZTK_ProtocolConverter, &CProtocolConverter::CreateObject, {}},
    {&CLSID_CoZTK_TapiConverter, &CTapiConverter::CreateObject, {}},
    {&CLSID_CoZTK_TCPProtocolConverter, &CTCPProtocolConverter::CreateObject, {}},
};

std::mutex classTableLock;  // guards the lazy creation of class objects

// Releases the cached class objects when the module is unloaded.
struct ClassTableShutdown {
    ~ClassTableShutdown() {
        for (ClassEntry& entry : classTable) {
            if (CClassObject* classObject = entry.classObject.exchange(nullptr)) classObject->Release();
        }
    }
} classTableShutdown;

}  // namespace

extern "C" ZANTHROP_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    for (ClassEntry& entry : classTable) {
        if (!IsEqualCLSID(*entry.clsid, rclsid)) continue;
        CClassObject* classObject = entry.classObject.load(std::memory_order_acquire);
        if (classObject == nullptr) {
            std::lock_guard<std::mutex> guard(classTableLock);
            classObject = entry.classObject.load(std::memory_order_acquire);
            if (classObject == nullptr) {
                classObject = new (std::nothrow) CClassObject(entry.creator);
                if (classObject == nullptr) return E_OUTOFMEMORY;
                entry.classObject.store(classObject, std::memory_order_release);
            }
        }
        return classObject->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" ZANTHROP_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow(void) {
    return ModuleLifetime::Count() == 0 ? S_OK : S_FALSE;
}
