// The class object (IClassFactory) of one class of the class table. Its count follows the
// module's rule: the table's own reference does not keep the module loaded, every further one
// does (the lock count rises as the count goes from 1 to 2 and falls as it goes from 2 to 1).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <mutex>

// Creates an object of a class for a caller that asked for riid, with or without an outer object.
using ObjectCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

class CClassObject final : public IClassFactory {
public:
    explicit CClassObject(ObjectCreator creator) : m_creator(creator) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    ObjectCreator m_creator;
    std::mutex m_lock;  // guards m_count together with the lock-count changes it makes
    ULONG m_count = 1;  // the class table's reference
};
