// Simulated framework components: device configuration, message, loopback protocol stack, stack
// factory, port and broker. They honour every call and reliance the converters depend on:
//  - the factory owns its stacks (CreateStack hands out a pointer without a reference);
//  - a stack keeps a reference on each advised sink, lends its device configuration through
//    QueryObject without a reference, and answers each transmitted request on its own thread
//    with a response frame through IStackCallback::Receive, interleaving control frames;
//  - the broker's ports outlive the broker objects (which the converters create per call) and
//    are handed out without references; a port passes submitted frames to its attached stack.
// Every operation records itself in SimWorld and fails when a failure is injected for it.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "interfaces/FrameworkInterfaces.h"
#include "sim/SimWorld.h"

// Identifiers the framework gives its own interfaces; the converters never ask for them.
inline constexpr IID IID_IStackFactory = {0x7C1E5A20, 0x3B4D, 0x4E61, {0x9F, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x01}};
inline constexpr IID IID_IProtocolStack = {0x7C1E5A20, 0x3B4D, 0x4E61, {0x9F, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x02}};
inline constexpr IID IID_IPort = {0x7C1E5A20, 0x3B4D, 0x4E61, {0x9F, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x03}};
ZANTHROP_INTERFACE_ID(IStackFactory, IID_IStackFactory);
ZANTHROP_INTERFACE_ID(IProtocolStack, IID_IProtocolStack);
ZANTHROP_INTERFACE_ID(IPort, IID_IPort);

// Counts a simulated object as alive for as long as it exists.
struct SimLife {
    SimLife() { SimWorld::Instance().ObjectBorn(); }
    ~SimLife() { SimWorld::Instance().ObjectDied(); }
    SimLife(const SimLife&) = delete;
    SimLife& operator=(const SimLife&) = delete;
};

class SimDeviceConfig final : public ComObject<SimDeviceConfig, Counting::Atomic, IZTK_DeviceConfig> {
public:
    static constexpr bool kCountsTowardsModule = false;
    static ComPtr<IZTK_DeviceConfig> Make(const std::string& configuration);

    STDMETHODIMP SetConfiguration(LPWSTR prgConfigType, LPWSTR prgConfig) override;
    STDMETHODIMP GetConfiguration(LPWSTR prgConfigType, LPWSTR* pprgConfig) override;
    STDMETHODIMP GetDeviceType(IZTK_ItemAccessor**) override { return E_NOTIMPL; }
    STDMETHODIMP ShowModalConfigurationDialog(LPWSTR, LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP IsSame(LPWSTR, LPWSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP ChangeOnline(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetOnlineStatus(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP MergeAndSetConfiguration(LPWSTR, LPWSTR) override { return E_NOTIMPL; }

private:
    SimLife m_life;
    std::mutex m_lock;  // guards m_configuration
    std::basic_string<WCHAR> m_configuration;
};

class SimPortMessage final : public ComObject<SimPortMessage, Counting::Atomic, IPortMessage> {
public:
    static constexpr bool kCountsTowardsModule = false;
    // When set, Initialise puts a fresh message in place of the one it was called on.
    static std::atomic<bool> replaceOnInitialise;

    static ComPtr<IPortMessage> Make(const BYTE* data, LONG size);

    STDMETHODIMP SetData(LONG lSize, BYTE* pData) override;
    STDMETHODIMP GetData(LONG* plSize, BYTE** ppData) override;
    STDMETHODIMP Initialise(IPortMessage** ppMessage) override;
    STDMETHODIMP SetTimeout(LONG lTimeout) override;
    STDMETHODIMP SetRequireResponse(LONG bRequireResponse) override;
    STDMETHODIMP SetOptions(LONG lSize, BYTE* pOptions) override;
    STDMETHODIMP SetRequireReset(LONG bRequireReset) override;
    STDMETHODIMP SetKind(LONG lKind) override;
    STDMETHODIMP Reserved5() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved7() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved8() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved10() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved12() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved14() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved16() override { return E_NOTIMPL; }

    std::vector<BYTE> data, options;
    LONG timeout = 0, requireResponse = 0, requireReset = 0, kind = 0;

private:
    SimLife m_life;
};

class SimStack final : public ComObject<SimStack, Counting::Atomic, IProtocolStack> {
public:
    static constexpr bool kCountsTowardsModule = false;
    // Every how many responses a control frame comes first (0: never).
    static std::atomic<int> controlFrameEvery;
    // Control frames delivered by all stacks so far.
    static std::atomic<long> controlFramesDelivered;
    // When set, QueryObject succeeds without yielding the configuration (a misbehaving stack).
    static std::atomic<bool> lendNothing;

    ~SimStack();
    void Initialise(const std::string& name, IZTK_DeviceConfig* config, const ZTK_ID& id);

    STDMETHODIMP GetStackId(ZTK_ID* pStackId) override;
    STDMETHODIMP Advise(const IID* piid, IUnknown* pSink) override;
    STDMETHODIMP QueryObject(const IID* piid, void** ppObject) override;
    STDMETHODIMP Unadvise(const IID* piid) override;
    STDMETHODIMP Reserved4() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved5() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved6() override { return E_NOTIMPL; }

    void Open();
    void Close();
    bool IsOpen();
    bool IsTcp() const { return m_tcp; }
    // Queues a request; the stack's thread answers it.
    void Transmit(std::vector<BYTE> request);
    // Hands a frame to the advised callback now, on the calling thread; the callback's result.
    HRESULT Deliver(const BYTE* data, LONG size);
    bool HasSink(REFIID iid);

private:
    void Run();

    SimLife m_life;
    bool m_tcp = false;
    ZTK_ID m_id{};
    ComPtr<IZTK_DeviceConfig> m_config;
    std::mutex m_lock;  // guards everything below
    std::condition_variable m_wake;
    std::map<std::string, ComPtr<IUnknown>> m_sinks;  // by IID text
    ComPtr<IStackCallback> m_callback;
    std::deque<std::vector<BYTE>> m_requests;
    bool m_open = false;
    bool m_stopping = false;
    std::thread m_worker;
    long m_responses = 0;
};

class SimStackFactory final : public ComObject<SimStackFactory, Counting::Atomic, IStackFactory> {
public:
    static constexpr bool kCountsTowardsModule = false;
    static ComPtr<IStackFactory> Make();

    STDMETHODIMP CreateStack(LPWSTR prgName, IZTK_DeviceConfig* pDeviceConfig, IProtocolStack** ppStack) override;
    STDMETHODIMP DeleteStack(ZTK_ID stackId) override;
    STDMETHODIMP OpenStack(ZTK_ID stackId) override;
    STDMETHODIMP CloseStack(ZTK_ID stackId) override;
    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved6() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved7() override { return E_NOTIMPL; }

    // The stack this factory made last (for tests), or null.
    SimStack* LastStack();

private:
    SimStack* Find(const ZTK_ID& id);

    SimLife m_life;
    std::mutex m_lock;  // guards m_stacks, m_nextId and m_last
    std::vector<std::pair<ZTK_ID, ComPtr<SimStack>>> m_stacks;
    unsigned m_nextId = 1;
    SimStack* m_last = nullptr;
};

class SimPort final : public ComObject<SimPort, Counting::Atomic, IPort> {
public:
    static constexpr bool kCountsTowardsModule = false;

    STDMETHODIMP AttachStack(IUnknown* pStack) override;
    STDMETHODIMP DetachStack(IUnknown* pStack) override;
    STDMETHODIMP ClosePort(ZTK_ID portId) override;
    STDMETHODIMP Submit(ZTK_ID portId, IPortMessage* pMessage) override;
    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved6() override { return E_NOTIMPL; }

    ZTK_ID id{};

private:
    SimLife m_life;
    std::mutex m_lock;  // guards m_stack and m_open
    ComPtr<SimStack> m_stack;
    bool m_open = true;
};

class SimBroker final : public ComObject<SimBroker, Counting::Atomic, IPortBroker> {
public:
    static constexpr bool kCountsTowardsModule = false;

    STDMETHODIMP RegisterStack(IUnknown* pStack, IZTK_ProtocolConverter* pConverter, IPort** ppPort, ZTK_ID* pPortId,
                               LONG* plReserved) override;
    STDMETHODIMP UnregisterStack(IUnknown* pStack) override;
    STDMETHODIMP AcquireComponent(CLSID clsidComponent, LONG lValue, LPCWSTR prgName, DWORD* pdwCookie,
                                  LONG* plReserved) override;
    STDMETHODIMP ReleaseComponent(CLSID clsidComponent, LPCWSTR prgName, DWORD dwCookie) override;
    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved4() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved5() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved6() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved9() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved10() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved11() override { return E_NOTIMPL; }

    // Ports registered now, across all broker objects.
    static size_t RegisteredPorts();
    // Drops every registered port (test clean-up).
    static void ForgetPorts();

private:
    SimLife m_life;
};

// Registers the broker and message classes with COM for this process, for as long as it lives.
class SimFramework {
public:
    SimFramework();
    ~SimFramework();
    SimFramework(const SimFramework&) = delete;
    SimFramework& operator=(const SimFramework&) = delete;
    bool Registered() const { return m_brokerCookie != 0 && m_messageCookie != 0; }

private:
    DWORD m_brokerCookie = 0;
    DWORD m_messageCookie = 0;
};
