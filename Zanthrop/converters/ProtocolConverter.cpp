#include "converters/ProtocolConverter.h"

#include "com/HResult.h"
#include "com/TextConversion.h"
#include "com/WideText.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "trace/Trace.h"

template <class Derived>
HRESULT ProtocolConverter<Derived>::FinalConstruct() {
    m_enumerator = nullptr;
    RETURN_IF_FAILED(CoCreateFreeThreadedMarshaler(this->ControllingUnknown(), m_marshaler.Put()));
    CEnumMessages* enumerator = nullptr;
    RETURN_IF_FAILED(CEnumMessages::MakeObject(&enumerator));
    m_enumerator.Attach(enumerator);
    return S_OK;
}

template <class Derived>
void ProtocolConverter<Derived>::FinalRelease() {
    m_enumerator.Reset();
    m_marshaler.Reset();
    // A converter released without a complete Destroy gives back what Create took.
    m_deviceConfig.Reset();
    m_factory.Reset();
    CloseEvent();
}

template <class Derived>
HRESULT ProtocolConverter<Derived>::QueryInterfaceExtra(REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IMarshal) && m_marshaler) {
        return m_marshaler->QueryInterface(riid, ppv);
    }
    return E_NOINTERFACE;
}

template <class Derived>
void ProtocolConverter<Derived>::CloseEvent() {
    if (m_event != nullptr) {
        CloseHandle(m_event);
        m_event = nullptr;
    }
}

template <class Derived>
STDMETHODIMP ProtocolConverter<Derived>::Create(USHORT* prgEventName, USHORT* prgName, IUnknown* pUnk,
                                                IZTK_DeviceConfig* pDeviceConfig, IUnknown* pPS) {
    TraceQO("%s::Create()\n", Derived::kClassName);
    if (Derived::kWritesConnectionMilestones) TraceE("NEW LEGACY CONNECTION\n");
    if (pUnk == nullptr) return S_OK;
    if (pDeviceConfig == nullptr) return E_POINTER;  // the stack would be created without a configuration

    m_factory = ComPtr<IStackFactory>(reinterpret_cast<IStackFactory*>(pUnk));
    m_deviceConfig = ComPtr<IZTK_DeviceConfig>(pDeviceConfig);

    m_stack = nullptr;
    RETURN_IF_FAILED(m_factory->CreateStack(reinterpret_cast<LPWSTR>(prgName), pDeviceConfig, &m_stack));
    if (m_stack == nullptr) return E_UNEXPECTED;  // a success without a stack: nothing to work on
    ZTK_ID stackId{};
    RETURN_IF_FAILED(m_stack->GetStackId(&stackId));
    ComPtr<IStackCallback> callback;
    RETURN_IF_FAILED(this->QueryInterface(IID_IStackCallback, callback.PutVoid()));

    HRESULT hr = m_stack->Advise(&IID_IStackCallback, callback.Get());
    if (SUCCEEDED(hr)) hr = m_stack->Advise(&IID_IStackSink, pPS);
    if (SUCCEEDED(hr)) hr = m_factory->OpenStack(stackId);
    if (FAILED(hr)) return hr;

    if (Derived::kWritesConnectionMilestones) TraceE("NEW LEGACY CONNECTION - Initialising Stack\n");
    hr = callback->ConnectPort(m_stack);
    if (Derived::kWritesConnectionMilestones) TraceE("NEW LEGACY CONNECTION - Stack Initialised\n");

    // The client made the event; the converter only opens it. No event is no error.
    CloseEvent();
    if (prgEventName != nullptr) {
        const std::string eventName = ToAnsi(reinterpret_cast<const WCHAR*>(prgEventName));
        m_event = OpenEventA(EVENT_ALL_ACCESS, FALSE, eventName.c_str());
    }
    return hr;
}

template <class Derived>
STDMETHODIMP ProtocolConverter<Derived>::Destroy() {
    if (!m_factory || m_stack == nullptr) return S_OK;
    HRESULT hr = S_OK;
    ZTK_ID stackId{};
    if (SUCCEEDED(hr = DisconnectPort()) && SUCCEEDED(hr = m_stack->GetStackId(&stackId)) &&
        SUCCEEDED(hr = m_factory->CloseStack(stackId))) {
        m_stack->Unadvise(&IID_IStackCallback);  // results ignored: the stack is going anyway
        m_stack->Unadvise(&IID_IStackSink);
        hr = m_factory->DeleteStack(stackId);
        if (SUCCEEDED(hr)) m_stack = nullptr;  // deleted: a later CompareConfiguration must not reach it
        CloseEvent();
    }
    m_factory.Reset();
    m_deviceConfig.Reset();
    return hr;
}

template <class Derived>
HRESULT ProtocolConverter<Derived>::CreateBroker(ComPtr<IPortBroker>* broker) {
    return CoCreateInstance(CLSID_PortBroker, nullptr, kBrokerClassContext, IID_IPortBroker, broker->PutVoid());
}

template <class Derived>
STDMETHODIMP ProtocolConverter<Derived>::ConnectPort(IUnknown* pStack) {
    ComPtr<IPortBroker> broker;
    RETURN_IF_FAILED(CreateBroker(&broker));
    LONG unused = 0;
    RETURN_IF_FAILED(broker->RegisterStack(pStack, static_cast<IZTK_ProtocolConverter*>(this), &m_port, &m_portId, &unused));
    if (m_port == nullptr) return E_UNEXPECTED;  // registered without a port: nothing to attach to
    return m_port->AttachStack(pStack);
}

template <class Derived>
STDMETHODIMP ProtocolConverter<Derived>::DisconnectPort() {
    ComPtr<IPortBroker> broker;
    RETURN_IF_FAILED(CreateBroker(&broker));
    if (m_port == nullptr) return S_OK;
    RETURN_IF_FAILED(m_port->ClosePort(m_portId));
    RETURN_IF_FAILED(m_port->DetachStack(m_stack));
    const HRESULT hr = broker->UnregisterStack(m_stack);
    if (FAILED(hr)) return hr;
    // The broker may free an unregistered port: forget it, so that a second DisconnectPort (the
    // stack's own, then Destroy's) or a Send after it does not reach a port that is gone.
    m_port = nullptr;
    m_portId = ZTK_ID{};
    return hr;
}

template <class Derived>
STDMETHODIMP ProtocolConverter<Derived>::Send(LONG bRequireResponse, LONG bRequireReset, LONG lTimeout, LONG lDataSize,
                                              BYTE* pData, LONG lOptionsSize, BYTE* pOptions) {
    TraceQO("%s::Send()\n", Derived::kClassName);
    if (m_port == nullptr) return E_UNEXPECTED;  // no connection to send on
    ComPtr<IPortMessage> message;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_PortMessage, nullptr, kMessageClassContext, IID_IPortMessage, message.PutVoid()));
    // The message may put another message in its place; work on whichever the variable holds.
    IPortMessage* current = message.Detach();
    HRESULT hr = current->Initialise(&current);
    message.Attach(current);
    if (FAILED(hr)) return hr;
    if (!message) return E_UNEXPECTED;
    RETURN_IF_FAILED(message->SetData(lDataSize, pData));
    RETURN_IF_FAILED(message->SetOptions(lOptionsSize, pOptions));
    RETURN_IF_FAILED(message->SetTimeout(lTimeout));
    RETURN_IF_FAILED(message->SetRequireResponse(bRequireResponse));
    RETURN_IF_FAILED(message->SetRequireReset(bRequireReset));
    RETURN_IF_FAILED(message->SetKind(kMessageKind));
    return m_port->Submit(m_portId, message.Get());
}

template <class Derived>
STDMETHODIMP ProtocolConverter<Derived>::GetReceiveData(LONG /*lCookie*/, LONG* plEnumSize, IEnumMessages** ppEnum) {
    if (plEnumSize == nullptr || ppEnum == nullptr) return E_POINTER;  // nowhere to put the answer
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_enumerator) return S_OK;
    *plEnumSize = m_enumerator->count();
    return m_enumerator->QueryInterface(IID_IEnumMessages, reinterpret_cast<void**>(ppEnum));
}

template <class Derived>
STDMETHODIMP ProtocolConverter<Derived>::Notify(LONG /*lValue*/) {
    return E_NOTIMPL;
}

template <class Derived>
STDMETHODIMP ProtocolConverter<Derived>::Receive(IPortMessage* pMessage) {
    std::lock_guard<std::mutex> guard(m_lock);
    TraceQO("%s::Receive()\n", Derived::kClassName);
    if (!m_enumerator || pMessage == nullptr) return S_OK;
    LONG size = 0;
    BYTE* data = nullptr;
    RETURN_IF_FAILED(pMessage->GetData(&size, &data));
    if (data == nullptr || size <= 0 || Derived::IsControlFrame(data, size)) {
        CoTaskMemFree(data);
        return S_OK;
    }
    Self().OnFrameQueued(data, size);
    if (m_enumerator->push(size, data)) {
        if (m_event != nullptr) SetEvent(m_event);
    } else {
        CoTaskMemFree(data);
    }
    return S_OK;
}

template <class Derived>
STDMETHODIMP ProtocolConverter<Derived>::CompareConfiguration(LPCWSTR prgConfig, LONG* pbSame) {
    if (prgConfig == nullptr) return S_OK;
    if (pbSame == nullptr) return E_POINTER;  // a match would have nowhere to go
    if (m_stack == nullptr) return E_UNEXPECTED;  // asked before a stack exists, or after Destroy
    const std::string candidate = ToAnsi(prgConfig);

    IZTK_DeviceConfig* config = nullptr;  // lent by the stack for this call: not released
    RETURN_IF_FAILED(m_stack->QueryObject(&IID_IZTK_DeviceConfig, reinterpret_cast<void**>(&config)));
    if (config == nullptr) return E_UNEXPECTED;

    WCHAR emptyType[1] = {0};
    LPWSTR ownText = nullptr;
    const HRESULT hr = config->GetConfiguration(emptyType, &ownText);
    if (FAILED(hr)) return hr;
    const std::string own = ToAnsi(ownText);
    CoTaskMemFree(ownText);
    if (own.empty()) return hr;

    Derived::Decide(CConfigString(own), CConfigString(candidate), pbSame);
    return hr;
}

template class ProtocolConverter<CProtocolConverter>;
template class ProtocolConverter<CTCPProtocolConverter>;
