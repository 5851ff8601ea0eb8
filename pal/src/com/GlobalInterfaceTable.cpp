// The process-wide global interface table. Within one process every apartment may use every
// pointer directly, so the table only holds a reference per cookie and answers lookups with
// QueryInterface on the stored object.
#include "Activation.h"

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

    // Holds a reference to the object's riid interface until the cookie is revoked.
    STDMETHODIMP RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) override {
        if (pUnk == nullptr || pdwCookie == nullptr) return E_INVALIDARG;
        IUnknown* held = nullptr;
        HRESULT hr = pUnk->QueryInterface(riid, reinterpret_cast<void**>(&held));
        if (FAILED(hr)) return hr;
        std::lock_guard<std::mutex> guard(m_lock);
        const DWORD cookie = m_nextCookie;
        m_nextCookie += 0x100;
        m_entries[cookie] = held;
        *pdwCookie = cookie;
        return S_OK;
    }

    STDMETHODIMP RevokeInterfaceFromGlobal(DWORD dwCookie) override {
        IUnknown* held = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            auto found = m_entries.find(dwCookie);
            if (found == m_entries.end()) return E_INVALIDARG;
            held = found->second;
            m_entries.erase(found);
        }
        held->Release();
        return S_OK;
    }

    // Yields an added reference to the stored object's riid interface.
    STDMETHODIMP GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_INVALIDARG;
        *ppv = nullptr;
        IUnknown* held = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            auto found = m_entries.find(dwCookie);
            if (found == m_entries.end()) return E_INVALIDARG;
            held = found->second;
            held->AddRef();
        }
        HRESULT hr = held->QueryInterface(riid, ppv);
        held->Release();
        return hr;
    }

private:
    std::mutex m_lock;  // guards m_entries and m_nextCookie
    std::map<DWORD, IUnknown*> m_entries;
    DWORD m_nextCookie = 0x100;
};

}  // namespace

namespace pal {
IUnknown* GlobalInterfaceTable() {
    static Table* table = new Table();
    return table;
}
}  // namespace pal
