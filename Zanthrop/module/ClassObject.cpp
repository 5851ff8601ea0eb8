#include "module/ClassObject.h"

#include "com/ModuleLifetime.h"

STDMETHODIMP CClassObject::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassObject::AddRef() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (++m_count == 2) ModuleLifetime::Lock();
    return m_count;
}

STDMETHODIMP_(ULONG) CClassObject::Release() {
    ULONG count = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        count = --m_count;
        if (count == 1) ModuleLifetime::Unlock();
    }
    if (count == 0) delete this;
    return count;
}

STDMETHODIMP CClassObject::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return m_creator(pUnkOuter, riid, ppvObject);
}

STDMETHODIMP CClassObject::LockServer(BOOL fLock) {
    if (fLock) {
        ModuleLifetime::Lock();
    } else {
        ModuleLifetime::Unlock();
    }
    return S_OK;
}
