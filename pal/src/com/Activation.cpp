// Activation by class identifier: class objects registered in the caller's apartment with
// CoRegisterClassObject, the built-in global interface table, then in-process servers named by
// the registry.
#include "Activation.h"
#include "Ref.h"

#include <mutex>

namespace {

struct Registrations {
    std::mutex lock;  // guards entries and nextCookie
    pal::ClassRegistrations entries;
    DWORD nextCookie = 1;
};

Registrations& Table() {
    static Registrations* table = new Registrations();  // outlives static destruction of clients
    return *table;
}

// The class object registered for clsid in apartment for one of the contexts, with an added
// reference, or null.
IUnknown* FindRegistered(REFCLSID clsid, DWORD context, pal::ApartmentId apartment) {
    Registrations& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    for (pal::ClassRegistration& registration : table.entries) {
        if (registration.apartment == apartment && (registration.context & context) != 0 &&
            IsEqualCLSID(registration.clsid, clsid)) {
            registration.classObject->AddRef();
            return registration.classObject;
        }
    }
    return nullptr;
}

// The global interface table's class object: CreateInstance hands out the singleton.
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
    // A singleton cannot be part of another object (Wine ignores the outer object instead).
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

ClassRegistrations TakeRegistrationsOf(ApartmentId apartment) {
    ClassRegistrations taken;
    Registrations& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    for (auto it = table.entries.begin(); it != table.entries.end();) {
        auto next = std::next(it);
        if (it->apartment == apartment) taken.splice(taken.end(), table.entries, it);  // no allocation
        it = next;
    }
    return taken;
}

}  // namespace pal

STDAPI CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister) {
    if (pUnk == nullptr || lpdwRegister == nullptr) return E_INVALIDARG;
    const pal::ApartmentId apartment = pal::CurrentApartment();
    if (apartment == pal::kNoApartment) return CO_E_NOTINITIALIZED;
    *lpdwRegister = 0;

    Registrations& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    for (const pal::ClassRegistration& registration : table.entries) {
        if (registration.apartment == apartment && (registration.context & dwClsContext) != 0 &&
            IsEqualCLSID(registration.clsid, rclsid)) {
            return (flags & REGCLS_MULTIPLEUSE) != 0 ? S_OK : CO_E_OBJISREG;
        }
    }
    DWORD cookie = table.nextCookie++;
    if (cookie == 0) cookie = table.nextCookie++;  // 0 means "no registration"
    try {
        table.entries.push_back(pal::ClassRegistration{cookie, rclsid, dwClsContext, apartment, pUnk});
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    pUnk->AddRef();
    *lpdwRegister = cookie;
    return S_OK;
}

STDAPI CoRevokeClassObject(DWORD dwRegister) {
    const pal::ApartmentId apartment = pal::CurrentApartment();
    if (apartment == pal::kNoApartment) return CO_E_NOTINITIALIZED;
    pal::Ref<IUnknown> classObject;  // released outside the lock: a release may run arbitrary code
    {
        Registrations& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        auto found = table.entries.begin();
        while (found != table.entries.end() && found->cookie != dwRegister) ++found;
        if (found == table.entries.end()) return E_INVALIDARG;
        if (found->apartment != apartment) return RPC_E_WRONG_THREAD;
        classObject.attach(found->classObject);
        table.entries.erase(found);
    }
    return S_OK;
}

STDAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID /*pvReserved*/, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    const pal::ApartmentId apartment = pal::CurrentApartment();
    if (apartment == pal::kNoApartment) return CO_E_NOTINITIALIZED;
    if ((dwClsContext & CLSCTX_ALL) == 0) return E_UNEXPECTED;

    if (pal::Ref<IUnknown> registered{FindRegistered(rclsid, dwClsContext, apartment)}) {
        return registered->QueryInterface(riid, ppv);
    }
    if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    if (IsEqualCLSID(rclsid, CLSID_StdGlobalInterfaceTable)) {
        return globalTableClassObject.QueryInterface(riid, ppv);
    }
    return pal::InprocServerClassObject(rclsid, riid, ppv);
}

STDAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    pal::Ref<IClassFactory> factory;
    const HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, factory.put());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(pUnkOuter, riid, ppv);
}
