#include "sim/SimTapi.h"

#include <cstring>

#include "com/HResult.h"
#include "com/TextConversion.h"

#define SIM_ENTER(operation) RETURN_IF_FAILED(SimWorld::Instance().Enter(operation))

namespace {

LPWSTR TaskText(const std::string& text) {
    const std::basic_string<WCHAR> wide = ToWide(text);
    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
    if (copy != nullptr) std::memcpy(copy, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return copy;
}

class SimEnumDevices final : public ComObject<SimEnumDevices, Counting::Atomic, IZTK_EnumDevices> {
public:
    static constexpr bool kCountsTowardsModule = false;
    STDMETHODIMP Next(LPWSTR* pprgDevice) override {
        if (m_next >= SimTapiComponent::kDevices.size()) return S_FALSE;
        *pprgDevice = TaskText(SimTapiComponent::kDevices[m_next++]);
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        m_next = 0;
        return S_OK;
    }

private:
    SimLife m_life;
    size_t m_next = 0;
};

class SimEnumCountries final : public ComObject<SimEnumCountries, Counting::Atomic, IZTK_EnumCountries> {
public:
    static constexpr bool kCountsTowardsModule = false;
    STDMETHODIMP Next(LPWSTR* pprgCountry, LONG* plCode) override {
        if (m_next >= SimTapiComponent::kCountries.size()) return S_FALSE;
        *pprgCountry = TaskText(SimTapiComponent::kCountries[m_next].first);
        *plCode = SimTapiComponent::kCountries[m_next++].second;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        m_next = 0;
        return S_OK;
    }

private:
    SimLife m_life;
    size_t m_next = 0;
};

template <class T, class I>
HRESULT MakeInto(I** out) {
    T* object = nullptr;
    RETURN_IF_FAILED(T::MakeObject(&object));
    *out = object;  // carries MakeObject's reference
    return S_OK;
}

}  // namespace

const std::vector<std::string> SimTapiComponent::kDevices = {"Standard 56000 bps Modem", "Fax Modem 2", "Line Modem 3"};
const std::vector<std::pair<std::string, LONG>> SimTapiComponent::kCountries = {
    {"Germany", 49}, {"United Kingdom", 44}, {"United States", 1}};

HRESULT SimTapiComponent::FinalConstruct() {
    for (const std::string& device : kDevices) m_settings[device] = "BAUD=9600;PARITY=N";
    return CoCreateFreeThreadedMarshaler(ControllingUnknown(), m_marshaler.Put());
}

HRESULT SimTapiComponent::QueryInterfaceExtra(REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IMarshal) && m_marshaler) return m_marshaler->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP SimTapiComponent::Configure(LPWSTR prgDevice, LONG) {
    SIM_ENTER("ITapiPort::Configure");
    return m_settings.count(ToAnsi(prgDevice)) != 0 ? S_OK : E_INVALIDARG;
}

STDMETHODIMP SimTapiComponent::GetSettings(LPWSTR prgDevice, LPWSTR* pprgDeviceSettings) {
    SIM_ENTER("ITapiPort::GetSettings");
    auto found = m_settings.find(ToAnsi(prgDevice));
    if (found == m_settings.end()) return E_INVALIDARG;
    *pprgDeviceSettings = TaskText(found->second);
    return *pprgDeviceSettings != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP SimTapiComponent::SetSettings(LPWSTR prgDevice, LPWSTR prgDeviceSettings) {
    SIM_ENTER("ITapiPort::SetSettings");
    auto found = m_settings.find(ToAnsi(prgDevice));
    if (found == m_settings.end()) return E_INVALIDARG;
    found->second = ToAnsi(prgDeviceSettings);
    return S_OK;
}

STDMETHODIMP SimTapiComponent::GetDevices(IZTK_EnumDevices** ppEnumDevices) {
    SIM_ENTER("ITapiPort::GetDevices");
    return MakeInto<SimEnumDevices>(ppEnumDevices);
}

STDMETHODIMP SimTapiComponent::GetCountries(IZTK_EnumCountries** ppEnumCountries) {
    SIM_ENTER("ITapiPort::GetCountries");
    return MakeInto<SimEnumCountries>(ppEnumCountries);
}
