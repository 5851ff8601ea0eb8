#include "sim/SimObjects.h"
#include "sim/SimTapi.h"

#include <cstring>

#include "com/HResult.h"
#include "com/WideText.h"

#define SIM_ENTER(operation) RETURN_IF_FAILED(SimWorld::Instance().Enter(operation))

namespace {

// Ports live here, not in the transient broker objects. Guarded by PortsLock().
std::mutex& PortsLock() {
    static std::mutex* lock = new std::mutex();
    return *lock;
}
std::map<IUnknown*, ComPtr<SimPort>>& Ports() {
    static auto* ports = new std::map<IUnknown*, ComPtr<SimPort>>();
    return *ports;
}

std::string IidKey(const IID& iid) { return std::string(reinterpret_cast<const char*>(&iid), sizeof(IID)); }

template <class T>
ComPtr<T> MakeSim() {
    T* object = nullptr;
    ComPtr<T> held;
    if (SUCCEEDED(T::MakeObject(&object))) held.Attach(object);
    return held;
}

size_t WideLength(const WCHAR* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

// A class object for a simulated class.
template <class T>
class SimClassFactory final : public ComObject<SimClassFactory<T>, Counting::Atomic, IClassFactory> {
public:
    static constexpr bool kCountsTowardsModule = false;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return T::CreateObject(outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

}  // namespace

// --- device configuration ---

ComPtr<IZTK_DeviceConfig> SimDeviceConfig::Make(const std::string& configuration) {
    ComPtr<SimDeviceConfig> config = MakeSim<SimDeviceConfig>();
    config->m_configuration.assign(configuration.begin(), configuration.end());  // ASCII texts
    return ComPtr<IZTK_DeviceConfig>(config.Get());
}

STDMETHODIMP SimDeviceConfig::SetConfiguration(LPWSTR, LPWSTR prgConfig) {
    SIM_ENTER("IZTK_DeviceConfig::SetConfiguration");
    std::lock_guard<std::mutex> guard(m_lock);
    m_configuration = prgConfig != nullptr ? prgConfig : ZW("");
    return S_OK;
}

STDMETHODIMP SimDeviceConfig::GetConfiguration(LPWSTR, LPWSTR* pprgConfig) {
    SIM_ENTER("IZTK_DeviceConfig::GetConfiguration");
    std::lock_guard<std::mutex> guard(m_lock);
    const size_t bytes = (m_configuration.size() + 1) * sizeof(WCHAR);
    auto* text = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
    if (text == nullptr) return E_OUTOFMEMORY;
    std::memcpy(text, m_configuration.c_str(), bytes);
    *pprgConfig = text;
    return S_OK;
}

// --- message ---

std::atomic<bool> SimPortMessage::replaceOnInitialise{false};

ComPtr<IPortMessage> SimPortMessage::Make(const BYTE* data, LONG size) {
    ComPtr<SimPortMessage> message = MakeSim<SimPortMessage>();
    if (message && data != nullptr && size > 0) message->data.assign(data, data + size);
    return ComPtr<IPortMessage>(message.Get());
}

STDMETHODIMP SimPortMessage::SetData(LONG lSize, BYTE* pData) {
    SIM_ENTER("IPortMessage::SetData");
    data.assign(pData, pData + (pData != nullptr && lSize > 0 ? lSize : 0));
    return S_OK;
}

STDMETHODIMP SimPortMessage::GetData(LONG* plSize, BYTE** ppData) {
    SIM_ENTER("IPortMessage::GetData");
    *ppData = nullptr;
    *plSize = static_cast<LONG>(data.size());
    if (data.empty()) return S_OK;
    *ppData = static_cast<BYTE*>(CoTaskMemAlloc(data.size()));
    if (*ppData == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*ppData, data.data(), data.size());
    return S_OK;
}

STDMETHODIMP SimPortMessage::Initialise(IPortMessage** ppMessage) {
    SIM_ENTER("IPortMessage::Initialise");
    if (replaceOnInitialise) {
        ComPtr<IPortMessage> replacement = Make(nullptr, 0);
        (*ppMessage)->Release();
        *ppMessage = replacement.Detach();
    }
    return S_OK;
}

STDMETHODIMP SimPortMessage::SetTimeout(LONG lTimeout) {
    SIM_ENTER("IPortMessage::SetTimeout");
    timeout = lTimeout;
    return S_OK;
}
STDMETHODIMP SimPortMessage::SetRequireResponse(LONG value) {
    SIM_ENTER("IPortMessage::SetRequireResponse");
    requireResponse = value;
    return S_OK;
}
STDMETHODIMP SimPortMessage::SetOptions(LONG lSize, BYTE* pOptions) {
    SIM_ENTER("IPortMessage::SetOptions");
    options.assign(pOptions, pOptions + (pOptions != nullptr && lSize > 0 ? lSize : 0));
    return S_OK;
}
STDMETHODIMP SimPortMessage::SetRequireReset(LONG value) {
    SIM_ENTER("IPortMessage::SetRequireReset");
    requireReset = value;
    return S_OK;
}
STDMETHODIMP SimPortMessage::SetKind(LONG lKind) {
    SIM_ENTER("IPortMessage::SetKind");
    kind = lKind;
    return S_OK;
}

// --- stack ---

std::atomic<int> SimStack::controlFrameEvery{4};
std::atomic<long> SimStack::controlFramesDelivered{0};
std::atomic<bool> SimStack::lendNothing{false};

SimStack::~SimStack() { Close(); }

void SimStack::Initialise(const std::string& name, IZTK_DeviceConfig* config, const ZTK_ID& id) {
    m_tcp = name.find("TCP") != std::string::npos;
    m_config = ComPtr<IZTK_DeviceConfig>(config);
    m_id = id;
}

STDMETHODIMP SimStack::GetStackId(ZTK_ID* pStackId) {
    SIM_ENTER("IProtocolStack::GetStackId");
    *pStackId = m_id;
    return S_OK;
}

STDMETHODIMP SimStack::Advise(const IID* piid, IUnknown* pSink) {
    SIM_ENTER("IProtocolStack::Advise");
    if (pSink == nullptr) return E_POINTER;
    ComPtr<IStackCallback> callback;
    if (IsEqualIID(*piid, IID_IStackCallback)) RETURN_IF_FAILED(pSink->QueryInterface(IID_IStackCallback, callback.PutVoid()));
    std::lock_guard<std::mutex> guard(m_lock);
    m_sinks[IidKey(*piid)] = ComPtr<IUnknown>(pSink);
    if (callback) m_callback = callback;
    return S_OK;
}

STDMETHODIMP SimStack::Unadvise(const IID* piid) {
    SIM_ENTER("IProtocolStack::Unadvise");
    ComPtr<IUnknown> sink;
    ComPtr<IStackCallback> callback;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto found = m_sinks.find(IidKey(*piid));
        if (found == m_sinks.end()) return E_INVALIDARG;
        sink = std::move(found->second);
        m_sinks.erase(found);
        if (IsEqualIID(*piid, IID_IStackCallback)) callback = std::move(m_callback);
    }
    return S_OK;  // the references go outside the lock
}

STDMETHODIMP SimStack::QueryObject(const IID* piid, void** ppObject) {
    SIM_ENTER("IProtocolStack::QueryObject");
    *ppObject = nullptr;
    if (!IsEqualIID(*piid, IID_IZTK_DeviceConfig)) return E_NOINTERFACE;
    *ppObject = lendNothing ? nullptr : m_config.Get();  // lent, without a reference
    return S_OK;
}

void SimStack::Open() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_open) return;
    m_open = true;
    m_stopping = false;
    m_worker = std::thread([this] { Run(); });
}

void SimStack::Close() {
    std::thread worker;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_open) return;
        m_open = false;
        m_stopping = true;
        worker = std::move(m_worker);
    }
    m_wake.notify_all();
    if (worker.joinable()) worker.join();
}

bool SimStack::IsOpen() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open;
}

bool SimStack::HasSink(REFIID iid) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sinks.count(IidKey(iid)) != 0;
}

void SimStack::Transmit(std::vector<BYTE> request) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_requests.push_back(std::move(request));
    }
    m_wake.notify_one();
}

HRESULT SimStack::Deliver(const BYTE* data, LONG size) {
    ComPtr<IStackCallback> callback;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        callback = m_callback;
    }
    if (!callback) return S_FALSE;
    ComPtr<IPortMessage> message = SimPortMessage::Make(data, size);
    return callback->Receive(message.Get());
}

// The loopback: every request is answered by "RSP:" and the request's bytes; now and then a
// control frame comes first ("INFORMATION" frames, and "TAPI" frames on legacy stacks).
void SimStack::Run() {
    static const char kInformation[] = "INFORMATION: link status";
    static const char kTapi[] = "TAPI line state";
    for (;;) {
        std::vector<BYTE> request;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait(lock, [this] { return m_stopping || !m_requests.empty(); });
            if (m_stopping) return;
            request = std::move(m_requests.front());
            m_requests.pop_front();
        }
        const int every = controlFrameEvery;
        if (every > 0 && ++m_responses % every == 0) {
            const bool tapi = !m_tcp && (m_responses / every) % 2 == 0;
            const char* control = tapi ? kTapi : kInformation;
            Deliver(reinterpret_cast<const BYTE*>(control), static_cast<LONG>(std::strlen(control)));
            ++controlFramesDelivered;
        }
        std::vector<BYTE> response = {'R', 'S', 'P', ':'};
        response.insert(response.end(), request.begin(), request.end());
        Deliver(response.data(), static_cast<LONG>(response.size()));
    }
}

// --- stack factory ---

ComPtr<IStackFactory> SimStackFactory::Make() {
    ComPtr<SimStackFactory> factory = MakeSim<SimStackFactory>();
    return ComPtr<IStackFactory>(factory.Get());
}

STDMETHODIMP SimStackFactory::CreateStack(LPWSTR prgName, IZTK_DeviceConfig* pDeviceConfig, IProtocolStack** ppStack) {
    SIM_ENTER("IStackFactory::CreateStack");
    ComPtr<SimStack> stack = MakeSim<SimStack>();
    if (!stack) return E_OUTOFMEMORY;
    std::string name;
    if (prgName != nullptr) {
        for (size_t i = 0, n = WideLength(prgName); i < n; ++i) name.push_back(static_cast<char>(prgName[i]));
    }
    std::lock_guard<std::mutex> guard(m_lock);
    ZTK_ID id{};
    std::memcpy(id.bytes, &m_nextId, sizeof(m_nextId));
    const void* self = this;  // the factory's address, so two factories never make equal ids
    std::memcpy(id.bytes + 8, &self, sizeof(self) < 8 ? sizeof(self) : 8);
    ++m_nextId;
    stack->Initialise(name, pDeviceConfig, id);
    m_last = stack.Get();
    *ppStack = stack.Get();  // the factory keeps the only reference
    m_stacks.emplace_back(id, std::move(stack));
    return S_OK;
}

SimStack* SimStackFactory::Find(const ZTK_ID& id) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& entry : m_stacks) {
        if (entry.first == id) return entry.second.Get();
    }
    return nullptr;
}

SimStack* SimStackFactory::LastStack() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_last;
}

STDMETHODIMP SimStackFactory::OpenStack(ZTK_ID stackId) {
    SIM_ENTER("IStackFactory::OpenStack");
    SimStack* stack = Find(stackId);
    if (stack == nullptr) return E_INVALIDARG;
    stack->Open();
    return S_OK;
}

STDMETHODIMP SimStackFactory::CloseStack(ZTK_ID stackId) {
    SIM_ENTER("IStackFactory::CloseStack");
    SimStack* stack = Find(stackId);
    if (stack == nullptr) return E_INVALIDARG;
    stack->Close();
    return S_OK;
}

STDMETHODIMP SimStackFactory::DeleteStack(ZTK_ID stackId) {
    SIM_ENTER("IStackFactory::DeleteStack");
    ComPtr<SimStack> stack;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_stacks.begin(); it != m_stacks.end(); ++it) {
            if (it->first == stackId) {
                stack = std::move(it->second);
                m_stacks.erase(it);
                break;
            }
        }
        if (stack.Get() == m_last) m_last = nullptr;
    }
    return stack ? S_OK : E_INVALIDARG;
}

// --- port and broker ---

STDMETHODIMP SimPort::AttachStack(IUnknown* pStack) {
    SIM_ENTER("IPort::AttachStack");
    auto* stack = dynamic_cast<SimStack*>(pStack);
    if (stack == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(m_lock);
    m_stack = ComPtr<SimStack>(stack);
    return S_OK;
}

STDMETHODIMP SimPort::DetachStack(IUnknown* pStack) {
    SIM_ENTER("IPort::DetachStack");
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_stack) return S_OK;  // nothing attached: nothing to detach
    if (static_cast<IUnknown*>(static_cast<IProtocolStack*>(m_stack.Get())) != pStack) return E_INVALIDARG;
    m_stack.Reset();
    return S_OK;
}

STDMETHODIMP SimPort::ClosePort(ZTK_ID portId) {
    SIM_ENTER("IPort::ClosePort");
    std::lock_guard<std::mutex> guard(m_lock);
    if (portId != id) return E_INVALIDARG;
    m_open = false;
    return S_OK;
}

STDMETHODIMP SimPort::Submit(ZTK_ID portId, IPortMessage* pMessage) {
    SIM_ENTER("IPort::Submit");
    ComPtr<SimStack> stack;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (portId != id || !m_open) return E_INVALIDARG;
        stack = m_stack;
    }
    if (!stack || pMessage == nullptr) return E_UNEXPECTED;
    auto* message = dynamic_cast<SimPortMessage*>(pMessage);
    if (message == nullptr) return E_INVALIDARG;  // only the framework's own messages travel
    stack->Transmit(message->data);
    return S_OK;
}

STDMETHODIMP SimBroker::RegisterStack(IUnknown* pStack, IZTK_ProtocolConverter*, IPort** ppPort, ZTK_ID* pPortId,
                                      LONG* plReserved) {
    SIM_ENTER("IPortBroker::RegisterStack");
    SimPort* raw = nullptr;
    RETURN_IF_FAILED(SimPort::MakeObject(&raw));
    ComPtr<SimPort> port;
    port.Attach(raw);
    static std::atomic<unsigned> nextId{1};
    const unsigned number = nextId++;
    std::memcpy(port->id.bytes, &number, sizeof(number));
    port->id.bytes[15] = 0x9A;
    *ppPort = port.Get();  // the broker keeps the only reference
    *pPortId = port->id;
    *plReserved = 0;
    std::lock_guard<std::mutex> guard(PortsLock());
    Ports()[pStack] = std::move(port);
    return S_OK;
}

STDMETHODIMP SimBroker::UnregisterStack(IUnknown* pStack) {
    SIM_ENTER("IPortBroker::UnregisterStack");
    ComPtr<SimPort> port;
    {
        std::lock_guard<std::mutex> guard(PortsLock());
        auto found = Ports().find(pStack);
        if (found == Ports().end()) return E_INVALIDARG;
        port = std::move(found->second);
        Ports().erase(found);
    }
    return S_OK;
}

// The component is made afresh and put into the process's global interface table; the cookie
// names it there until ReleaseComponent takes it out.
STDMETHODIMP SimBroker::AcquireComponent(CLSID, LONG, LPCWSTR, DWORD* pdwCookie, LONG* plReserved) {
    SIM_ENTER("IPortBroker::AcquireComponent");
    *plReserved = 0;
    SimTapiComponent* raw = nullptr;
    RETURN_IF_FAILED(SimTapiComponent::MakeObject(&raw));
    ComPtr<ITapiComponent> component;
    component.Attach(raw);
    ComPtr<IGlobalInterfaceTable> table;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IGlobalInterfaceTable, table.PutVoid()));
    return table->RegisterInterfaceInGlobal(component.Get(), IID_ITapiComponent, pdwCookie);
}

STDMETHODIMP SimBroker::ReleaseComponent(CLSID, LPCWSTR, DWORD dwCookie) {
    SIM_ENTER("IPortBroker::ReleaseComponent");
    ComPtr<IGlobalInterfaceTable> table;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IGlobalInterfaceTable, table.PutVoid()));
    return table->RevokeInterfaceFromGlobal(dwCookie);
}

size_t SimBroker::RegisteredPorts() {
    std::lock_guard<std::mutex> guard(PortsLock());
    return Ports().size();
}

void SimBroker::ForgetPorts() {
    std::map<IUnknown*, ComPtr<SimPort>> ports;
    {
        std::lock_guard<std::mutex> guard(PortsLock());
        ports.swap(Ports());
    }
}

// --- registration ---

SimFramework::SimFramework() {
    SimClassFactory<SimBroker>* broker = nullptr;
    SimClassFactory<SimPortMessage>* message = nullptr;
    if (SUCCEEDED(SimClassFactory<SimBroker>::MakeObject(&broker))) {
        CoRegisterClassObject(CLSID_PortBroker, static_cast<IClassFactory*>(broker), CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &m_brokerCookie);
        broker->Release();
    }
    if (SUCCEEDED(SimClassFactory<SimPortMessage>::MakeObject(&message))) {
        CoRegisterClassObject(CLSID_PortMessage, static_cast<IClassFactory*>(message), CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &m_messageCookie);
        message->Release();
    }
}

SimFramework::~SimFramework() {
    if (m_brokerCookie != 0) CoRevokeClassObject(m_brokerCookie);
    if (m_messageCookie != 0) CoRevokeClassObject(m_messageCookie);
    SimBroker::ForgetPorts();
}
