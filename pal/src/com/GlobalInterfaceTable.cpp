// The process-wide global interface table. Within one process every apartment may use every
// pointer directly, so the table holds a reference per cookie and answers lookups with
// QueryInterface on the stored interface.
#include "Activation.h"
#include "Ref.h"

#include <map>
#include <mutex>

namespace {

class Table final : public IGlobalInterfaceTable {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IGlobalInterfaceTable)) {
            *ppv = static_cast<IGlobalInterfaceTable*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) override {
        if (pUnk == nullptr || pdwCookie == nullptr) return E_INVALIDARG;
        pal::Ref<IUnknown> held;
        const HRESULT hr = pUnk->QueryInterface(riid, held.put());
        if (FAILED(hr)) return hr;
        std::lock_guard<std::mutex> guard(m_lock);
        DWORD cookie = m_nextCookie++;
        if (cookie == 0) cookie = m_nextCookie++;  // 0 is never a cookie
        try {
            m_entries.emplace(cookie, held.get());
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        held.detach();  // the entry owns the reference now
        *pdwCookie = cookie;
        return S_OK;
    }

    STDMETHODIMP RevokeInterfaceFromGlobal(DWORD dwCookie) override {
        pal::Ref<IUnknown> held;  // released outside the lock: a release may run arbitrary code
        std::lock_guard<std::mutex> guard(m_lock);
        auto found = m_entries.find(dwCookie);
        if (found == m_entries.end()) return E_INVALIDARG;
        held.attach(found->second);
        m_entries.erase(found);
        return S_OK;
    }

    STDMETHODIMP GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_INVALIDARG;
        *ppv = nullptr;
        pal::Ref<IUnknown> held;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            auto found = m_entries.find(dwCookie);
            if (found == m_entries.end()) return E_INVALIDARG;
            found->second->AddRef();  // keeps the object alive should another thread revoke it now
            held.attach(found->second);
        }
        return held->QueryInterface(riid, ppv);
    }

private:
    std::mutex m_lock;                      // guards m_entries and m_nextCookie
    std::map<DWORD, IUnknown*> m_entries;   // one reference each
    DWORD m_nextCookie = 0x100;
};

}  // namespace

namespace pal {
IUnknown* GlobalInterfaceTable() {
    static Table* table = new Table();  // never destroyed: clients may use it during exit
    return table;
}
}  // namespace pal
