// The TAPI converter: a thin front for the telephony port component outside the module. Create
// finds the component's class in the registry, has the broker provide it, takes it from the
// global interface table and asks it for ITapiPort; the other methods forward to that port.
// Apartment-threaded: one call at a time, a plain reference count, no lock.
#pragma once

#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "interfaces/FrameworkInterfaces.h"

class CTapiConverter final : public ComObject<CTapiConverter, Counting::Plain, IZTK_TapiConverter> {
public:
    static constexpr bool kAggregatable = false;

    ~CTapiConverter();
    HRESULT FinalConstruct();
    void FinalRelease();

    STDMETHODIMP Create() override;
    STDMETHODIMP Destroy() override;
    STDMETHODIMP Configure(LPWSTR prgDevice, LONG winHandle) override;
    STDMETHODIMP GetSettings(LPWSTR prgDevice, LPWSTR* pprgDeviceSettings) override;
    STDMETHODIMP SetSettings(LPWSTR prgDevice, LPWSTR prgDeviceSettings) override;
    STDMETHODIMP GetDevices(IZTK_EnumDevices** ppEnumDevices) override;
    STDMETHODIMP GetCountries(IZTK_EnumCountries** ppEnumCountries) override;

private:
    // Releases the component and the port and gives the component back to the broker.
    ULONG GiveBack();

    ComPtr<IPortBroker> m_broker;   // from construction to final release
    CLSID m_componentClass{};       // parsed from the registry by Create
    ComPtr<IUnknown> m_component;   // as taken from the global interface table
    ComPtr<ITapiPort> m_port;       // what the forwarding methods call
    DWORD m_cookie = 0;             // from AcquireComponent, for ReleaseComponent
    bool m_acquired = false;        // AcquireComponent succeeded and no Destroy gave it back yet
};
