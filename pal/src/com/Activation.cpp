// Activation by class identifier: class objects registered in the process with
// CoRegisterClassObject, the global interface table, then the installed resolver.
#include "Activation.h"

#include <atomic>
#include <map>
#include <mutex>

namespace {

struct Registration {
    CLSID clsid;
    IUnknown* classObject;  // one reference, released by CoRevokeClassObject
};

struct Registrations {
    std::mutex lock;  // guards entries and nextCookie
    std::map<DWORD, Registration> entries;
    DWORD nextCookie = 1;
};

Registrations& Table() {
    static Registrations* table = new Registrations();  // outlives static destruction of clients
    return *table;
}

std::atomic<pal::ClassObjectResolver> resolver{nullptr};

// The registered class object of clsid, with an added reference, or null.
IUnknown* FindRegistered(REFCLSID clsid) {
    Registrations& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    for (auto& [cookie, registration] : table.entries) {
        (void)cookie;
        if (IsEqualCLSID(registration.clsid, clsid)) {
            registration.classObject->AddRef();
            return registration.classObject;
        }
    }
    return nullptr;
}

// A class object for the global interface table: CreateInstance hands out the singleton.
class GlobalTableClassObject final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return pal::GlobalInterfaceTable()->QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

GlobalTableClassObject globalTableClassObject;

}  // namespace

namespace pal {
void SetClassObjectResolver(ClassObjectResolver r) { resolver.store(r); }
}  // namespace pal

STDAPI CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD /*dwClsContext*/, DWORD /*flags*/,
                             LPDWORD lpdwRegister) {
    if (pUnk == nullptr || lpdwRegister == nullptr) return E_INVALIDARG;
    Registrations& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    pUnk->AddRef();
    const DWORD cookie = table.nextCookie++;
    table.entries[cookie] = Registration{rclsid, pUnk};
    *lpdwRegister = cookie;
    return S_OK;
}

STDAPI CoRevokeClassObject(DWORD dwRegister) {
    IUnknown* classObject = nullptr;
    {
        Registrations& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        auto found = table.entries.find(dwRegister);
        if (found == table.entries.end()) return E_INVALIDARG;  // an unknown cookie
        classObject = found->second.classObject;
        table.entries.erase(found);
    }
    classObject->Release();  // outside the lock: the release may run arbitrary code
    return S_OK;
}

STDAPI CoGetClassObject(REFCLSID rclsid, DWORD /*dwClsContext*/, LPVOID /*pvReserved*/, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    if (IUnknown* registered = FindRegistered(rclsid)) {
        HRESULT hr = registered->QueryInterface(riid, ppv);
        registered->Release();
        return hr;
    }
    if (IsEqualCLSID(rclsid, CLSID_StdGlobalInterfaceTable)) {
        return globalTableClassObject.QueryInterface(riid, ppv);
    }
    if (pal::ClassObjectResolver r = resolver.load()) {
        return r(rclsid, riid, ppv);
    }
    return REGDB_E_CLASSNOTREG;
}

STDAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}
