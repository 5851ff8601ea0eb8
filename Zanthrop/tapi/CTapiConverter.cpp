#include "tapi/CTapiConverter.h"

#include "com/HResult.h"
#include "com/TextConversion.h"
#include "com/WideText.h"
#include "registry/CRegistryStore.h"
#include "trace/Trace.h"

CTapiConverter::~CTapiConverter() { TraceE("CTapiConverter::~CTapiConverter()\n"); }

HRESULT CTapiConverter::FinalConstruct() {
    return CoCreateInstance(CLSID_PortBroker, nullptr, kBrokerClassContext, IID_IPortBroker, m_broker.PutVoid());
}

void CTapiConverter::FinalRelease() {
    if (m_acquired) GiveBack();  // released without Destroy: nothing stays acquired
    m_component.Reset();
    m_port.Reset();
    m_broker.Reset();
}

ULONG CTapiConverter::GiveBack() {
    m_component.Reset();
    ULONG count = 0;
    if (m_port) count = m_port.Detach()->Release();
    if (m_broker) m_broker->ReleaseComponent(m_componentClass, kTapiComponentName, m_cookie);
    m_acquired = false;
    return count;
}

STDMETHODIMP CTapiConverter::Create() {
    if (!m_broker) return S_OK;
    CRegistryStore store;
    const std::string classText = store.ReadString(HKEY_LOCAL_MACHINE, kTapiComponentKey, kTapiComponentValue, "");
    if (classText.empty()) return S_OK;  // no component configured
    if (m_acquired) GiveBack();  // a second Create gives back what the first one took

    const std::basic_string<WCHAR> wideClass = ToWide(classText);
    CLSIDFromString(wideClass.c_str(), &m_componentClass);  // a text that does not parse is the broker's to judge
    LONG unused = 0;
    RETURN_IF_FAILED(m_broker->AcquireComponent(m_componentClass, 1, kTapiComponentName, &m_cookie, &unused));
    m_acquired = true;

    ComPtr<IGlobalInterfaceTable> table;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, kGlobalTableClassContext,
                                      IID_IGlobalInterfaceTable, table.PutVoid()));
    HRESULT hr = table->GetInterfaceFromGlobal(m_cookie, IID_ITapiComponent, m_component.PutVoid());
    table.Reset();
    if (SUCCEEDED(hr) && m_component) {
        hr = m_component->QueryInterface(IID_ITapiPort, m_port.PutVoid());
    }
    return hr;
}

STDMETHODIMP CTapiConverter::Destroy() {
    m_component.Reset();
    ULONG count = 0;
    if (m_port) count = m_port.Detach()->Release();
    TraceE("CTapiConverter::Destroy() - TAPI Ref Count - [%d]\n", static_cast<int>(count));
    if (m_broker) m_broker->ReleaseComponent(m_componentClass, kTapiComponentName, m_cookie);
    m_acquired = false;
    return S_OK;
}

STDMETHODIMP CTapiConverter::Configure(LPWSTR prgDevice, LONG winHandle) {
    if (prgDevice == nullptr || !m_port) return S_OK;
    return m_port->Configure(prgDevice, winHandle);
}

STDMETHODIMP CTapiConverter::GetSettings(LPWSTR prgDevice, LPWSTR* pprgDeviceSettings) {
    if (prgDevice == nullptr || !m_port) return S_OK;
    if (pprgDeviceSettings == nullptr) return E_POINTER;  // the port would write through it
    return m_port->GetSettings(prgDevice, pprgDeviceSettings);
}

STDMETHODIMP CTapiConverter::SetSettings(LPWSTR prgDevice, LPWSTR prgDeviceSettings) {
    if (prgDevice == nullptr || !m_port) return S_OK;
    return m_port->SetSettings(prgDevice, prgDeviceSettings);
}

STDMETHODIMP CTapiConverter::GetDevices(IZTK_EnumDevices** ppEnumDevices) {
    if (!m_port) return S_OK;
    if (ppEnumDevices == nullptr) return E_POINTER;
    return m_port->GetDevices(ppEnumDevices);
}

STDMETHODIMP CTapiConverter::GetCountries(IZTK_EnumCountries** ppEnumCountries) {
    if (!m_port) return S_OK;
    if (ppEnumCountries == nullptr) return E_POINTER;
    return m_port->GetCountries(ppEnumCountries);
}
