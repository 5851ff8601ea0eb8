// The module's class table and its class-object entry points.
#include "module/ClassTable.h"

#include <mutex>

#include "com/ModuleLifetime.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "module/Exports.h"
#include "tapi/CTapiConverter.h"

namespace {

ClassEntry classTable[kClassCount] = {
    {&CLSID_CoZTK_ProtocolConverter, &CProtocolConverter::CreateObject, 101, {}},
    {&CLSID_CoZTK_TapiConverter, &CTapiConverter::CreateObject, 103, {}},
    {&CLSID_CoZTK_TCPProtocolConverter, &CTCPProtocolConverter::CreateObject, 105, {}},
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

ClassEntry (&ClassTable())[kClassCount] { return classTable; }

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
