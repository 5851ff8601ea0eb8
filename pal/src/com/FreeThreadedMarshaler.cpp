// The free-threaded marshaler: an inner object aggregated into its outer object. It answers
// IMarshal, whose IUnknown methods go to the outer object. Within one process pointers pass
// between threads unmarshalled; there is no other process to marshal to, so the IMarshal
// operations that would write or read a stream return E_NOTIMPL.
#include <windows.h>

#include <atomic>
#include <new>

namespace {

class FreeThreadedMarshaler final {
public:
    explicit FreeThreadedMarshaler(IUnknown* outer)
        : m_inner(this), m_marshal(this), m_outer(outer != nullptr ? outer : &m_inner) {}

    IUnknown* Inner() { return &m_inner; }

private:
    // The non-delegating IUnknown: the outer object's only handle on this object.
    struct InnerUnknown final : IUnknown {
        explicit InnerUnknown(FreeThreadedMarshaler* self) : m_self(self) {}
        FreeThreadedMarshaler& Self() { return *m_self; }
        FreeThreadedMarshaler* m_self;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            if (ppv == nullptr) return E_POINTER;
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = this;
                AddRef();
                return S_OK;
            }
            if (IsEqualIID(riid, IID_IMarshal)) {
                *ppv = &Self().m_marshal;
                Self().m_marshal.AddRef();
                return S_OK;
            }
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ++Self().m_count; }
        STDMETHODIMP_(ULONG) Release() override {
            FreeThreadedMarshaler& self = Self();
            const ULONG count = --self.m_count;
            if (count == 0) delete &self;
            return count;
        }
    };

    struct Marshal final : IMarshal {
        explicit Marshal(FreeThreadedMarshaler* self) : m_self(self) {}
        FreeThreadedMarshaler& Self() { return *m_self; }
        FreeThreadedMarshaler* m_self;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return Self().m_outer->QueryInterface(riid, ppv); }
        STDMETHODIMP_(ULONG) AddRef() override { return Self().m_outer->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return Self().m_outer->Release(); }
        STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) override { return E_NOTIMPL; }
        STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
        STDMETHODIMP MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override { return E_NOTIMPL; }
        STDMETHODIMP UnmarshalInterface(IStream*, REFIID, void**) override { return E_NOTIMPL; }
        STDMETHODIMP ReleaseMarshalData(IStream*) override { return E_NOTIMPL; }
        STDMETHODIMP DisconnectObject(DWORD) override { return S_OK; }
    };

    InnerUnknown m_inner;
    Marshal m_marshal;
    std::atomic<ULONG> m_count{1};
    IUnknown* m_outer;
};

}  // namespace

STDAPI CoCreateFreeThreadedMarshaler(IUnknown* punkOuter, IUnknown** ppunkMarshal) {
    if (ppunkMarshal == nullptr) return E_INVALIDARG;
    auto* marshaler = new (std::nothrow) FreeThreadedMarshaler(punkOuter);
    if (marshaler == nullptr) {
        *ppunkMarshal = nullptr;
        return E_OUTOFMEMORY;
    }
    *ppunkMarshal = marshaler->Inner();  // carries the initial reference
    return S_OK;
}
