// The simulated telephony port component: a few modem devices with a settings text each, and a
// country list, behind ITapiPort. The broker's AcquireComponent makes one and puts it in the
// process's global interface table; ReleaseComponent takes it out again.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sim/SimObjects.h"

// The component object's own interface: the converter only asks it for ITapiPort.
interface ITapiComponent : public IUnknown {};
ZANTHROP_INTERFACE_ID(ITapiComponent, IID_ITapiComponent);

class SimTapiComponent final : public ComObject<SimTapiComponent, Counting::Atomic, ITapiComponent, ITapiPort> {
public:
    static constexpr bool kCountsTowardsModule = false;
    static const std::vector<std::string> kDevices;
    static const std::vector<std::pair<std::string, LONG>> kCountries;

    HRESULT FinalConstruct();
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv);

    STDMETHODIMP Configure(LPWSTR prgDevice, LONG winHandle) override;
    STDMETHODIMP GetSettings(LPWSTR prgDevice, LPWSTR* pprgDeviceSettings) override;
    STDMETHODIMP SetSettings(LPWSTR prgDevice, LPWSTR prgDeviceSettings) override;
    STDMETHODIMP GetDevices(IZTK_EnumDevices** ppEnumDevices) override;
    STDMETHODIMP GetCountries(IZTK_EnumCountries** ppEnumCountries) override;

private:
    SimLife m_life;
    ComPtr<IUnknown> m_marshaler;  // free-threaded: the global interface table hands the object itself out
    std::map<std::string, std::string> m_settings;
};
