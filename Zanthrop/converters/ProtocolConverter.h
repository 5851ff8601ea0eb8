// The protocol converter shared by the legacy and the TCP converter: joins one protocol stack
// to one framework port, queues received frames for the client and answers whether a
// configuration designates its connection. The two converters differ only where their class
// (the Derived parameter) says so:
//   kClassName                 trace texts ("<class>::Create()\n" and so on)
//   kWritesConnectionMilestones the "NEW LEGACY CONNECTION" lines on channel "e"
//   IsControlFrame(data, size) which received frames are dropped
//   OnFrameQueued(data, size)  what the converter learns from a queued frame
//   Decide(own, candidate, same) the matching decision on the two configuration texts
//
// Ownership: one reference each on the free-threaded marshaler and the queue (construction to
// final release) and on the factory and device configuration (Create to Destroy, or final
// release). The stack and the port are stored without references: the framework owns them, and
// they are forgotten once given back (the port after UnregisterStack, the stack after DeleteStack).
// Threads: methods run on the caller's thread; the stack calls Receive on its own threads.
// m_lock serialises Receive and GetReceiveData (then the queue's own lock: converter lock
// first). Create, Destroy, Send, ConnectPort, DisconnectPort and CompareConfiguration take no
// lock; the framework never runs Send during Create or Destroy.
#pragma once

#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>

#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "config/CConfigString.h"
#include "interfaces/FrameworkInterfaces.h"
#include "messages/CEnumMessages.h"

template <class Derived>
class ProtocolConverter : public ComObject<Derived, Counting::Atomic, IZTK_ProtocolConverter, IStackCallback> {
public:
    HRESULT FinalConstruct();
    void FinalRelease();
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv);

    // IZTK_ProtocolConverter
    STDMETHODIMP Create(USHORT* prgEventName, USHORT* prgName, IUnknown* pUnk, IZTK_DeviceConfig* pDeviceConfig,
                        IUnknown* pPS) override;
    STDMETHODIMP Destroy() override;
    STDMETHODIMP Send(LONG bRequireResponse, LONG bRequireReset, LONG lTimeout, LONG lDataSize, BYTE* pData,
                      LONG lOptionsSize, BYTE* pOptions) override;
    STDMETHODIMP GetReceiveData(LONG lCookie, LONG* plEnumSize, IEnumMessages** ppEnum) override;

    // IStackCallback
    STDMETHODIMP ConnectPort(IUnknown* pStack) override;
    STDMETHODIMP DisconnectPort() override;
    STDMETHODIMP Notify(LONG lValue) override;
    STDMETHODIMP Receive(IPortMessage* pMessage) override;
    STDMETHODIMP CompareConfiguration(LPCWSTR prgConfig, LONG* pbSame) override;

protected:
    ComPtr<IUnknown> m_marshaler;       // inner unknown of the aggregated free-threaded marshaler
    ComPtr<CEnumMessages> m_enumerator;  // the received-message queue
    ComPtr<IZTK_DeviceConfig> m_deviceConfig;
    // A plain mutex, which sleeps at once: with more delivering threads than cores, spinning
    // before sleeping cost about a quarter of the queue's throughput (bench/converters).
    std::mutex m_lock;
    HANDLE m_event = nullptr;  // the client's named event, may be null
    IProtocolStack* m_stack = nullptr;  // no reference: the factory's
    ComPtr<IStackFactory> m_factory;    // null when no Create is in force
    IPort* m_port = nullptr;            // no reference: the broker's
    ZTK_ID m_portId{};

private:
    Derived& Self() { return static_cast<Derived&>(*this); }
    HRESULT CreateBroker(ComPtr<IPortBroker>* broker);
    void CloseEvent();
};

// The two converters' own parts.
struct ConverterFrame {
    // Whether the frame begins with the marker's characters (byte-wise, without its NUL). Inline,
    // with the marker's length known at compile time: it runs for every received frame, under
    // the converter lock.
    template <size_t N>
    static bool StartsWith(const BYTE* data, LONG size, const char (&marker)[N]) {
        static_assert(N > 1, "an empty marker would match every frame");
        return size >= static_cast<LONG>(N - 1) && std::memcmp(data, marker, N - 1) == 0;
    }
};
