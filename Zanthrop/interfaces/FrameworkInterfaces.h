// The framework's interfaces that the converters call, and the callback they implement. The
// framework defines more operations than the module uses; those slots are declared as Reserved
// placeholders (never called by the module) so every operation the module calls sits in its slot.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "interfaces/ZanthropInterfaces.h"

// The opaque 16-byte identifiers of stacks and ports.
struct ZTK_ID {
    BYTE bytes[16];
};

inline bool operator==(const ZTK_ID& a, const ZTK_ID& b) {
    for (int i = 0; i < 16; ++i) {
        if (a.bytes[i] != b.bytes[i]) return false;
    }
    return true;
}
inline bool operator!=(const ZTK_ID& a, const ZTK_ID& b) { return !(a == b); }

interface IProtocolStack;
interface IPort;
interface IPortMessage;

interface IStackFactory : public IUnknown {
    STDMETHOD(Reserved3)() PURE;
    STDMETHOD(CreateStack)(LPWSTR prgName, IZTK_DeviceConfig* pDeviceConfig, IProtocolStack** ppStack) PURE;  // 4
    STDMETHOD(DeleteStack)(ZTK_ID stackId) PURE;  // 5
    STDMETHOD(Reserved6)() PURE;
    STDMETHOD(Reserved7)() PURE;
    STDMETHOD(OpenStack)(ZTK_ID stackId) PURE;   // 8
    STDMETHOD(CloseStack)(ZTK_ID stackId) PURE;  // 9
};

interface IProtocolStack : public IUnknown {
    STDMETHOD(GetStackId)(ZTK_ID* pStackId) PURE;  // 3
    STDMETHOD(Reserved4)() PURE;
    STDMETHOD(Reserved5)() PURE;
    STDMETHOD(Reserved6)() PURE;
    STDMETHOD(Advise)(const IID* piid, IUnknown* pSink) PURE;           // 7
    STDMETHOD(QueryObject)(const IID* piid, void** ppObject) PURE;      // 8
    STDMETHOD(Unadvise)(const IID* piid) PURE;                          // 9
};

// The stack sink handed to Create; the converters only pass it on to the stack.
interface IStackSink : public IUnknown {};

// Implemented by both protocol converters and advised to their stack.
interface IStackCallback : public IUnknown {
    STDMETHOD(ConnectPort)(IUnknown* pStack) PURE;                                  // 3
    STDMETHOD(DisconnectPort)() PURE;                                               // 4
    STDMETHOD(Notify)(LONG lValue) PURE;                                            // 5
    STDMETHOD(Receive)(IPortMessage* pMessage) PURE;                                // 6
    STDMETHOD(CompareConfiguration)(LPCWSTR prgConfig, LONG* pbSame) PURE;          // 7
};

interface IPortBroker : public IUnknown {
    STDMETHOD(Reserved3)() PURE;
    STDMETHOD(Reserved4)() PURE;
    STDMETHOD(Reserved5)() PURE;
    STDMETHOD(Reserved6)() PURE;
    STDMETHOD(RegisterStack)(IUnknown* pStack, IZTK_ProtocolConverter* pConverter, IPort** ppPort, ZTK_ID* pPortId,
                             LONG* plReserved) PURE;  // 7
    STDMETHOD(UnregisterStack)(IUnknown* pStack) PURE;  // 8
    STDMETHOD(Reserved9)() PURE;
    STDMETHOD(Reserved10)() PURE;
    STDMETHOD(Reserved11)() PURE;
    STDMETHOD(AcquireComponent)(CLSID clsidComponent, LONG lValue, LPCWSTR prgName, DWORD* pdwCookie,
                                LONG* plReserved) PURE;  // 12
    STDMETHOD(ReleaseComponent)(CLSID clsidComponent, LPCWSTR prgName, DWORD dwCookie) PURE;  // 13
};

interface IPort : public IUnknown {
    STDMETHOD(Reserved3)() PURE;
    STDMETHOD(AttachStack)(IUnknown* pStack) PURE;  // 4
    STDMETHOD(DetachStack)(IUnknown* pStack) PURE;  // 5
    STDMETHOD(Reserved6)() PURE;
    STDMETHOD(ClosePort)(ZTK_ID portId) PURE;                      // 7
    STDMETHOD(Submit)(ZTK_ID portId, IPortMessage* pMessage) PURE;  // 8
};

interface IPortMessage : public IUnknown {
    STDMETHOD(SetData)(LONG lSize, BYTE* pData) PURE;       // 3
    STDMETHOD(GetData)(LONG* plSize, BYTE** ppData) PURE;   // 4
    STDMETHOD(Reserved5)() PURE;
    STDMETHOD(Initialise)(IPortMessage** ppMessage) PURE;   // 6
    STDMETHOD(Reserved7)() PURE;
    STDMETHOD(Reserved8)() PURE;
    STDMETHOD(SetTimeout)(LONG lTimeout) PURE;              // 9
    STDMETHOD(Reserved10)() PURE;
    STDMETHOD(SetRequireResponse)(LONG bRequireResponse) PURE;  // 11
    STDMETHOD(Reserved12)() PURE;
    STDMETHOD(SetOptions)(LONG lSize, BYTE* pOptions) PURE;     // 13
    STDMETHOD(Reserved14)() PURE;
    STDMETHOD(SetRequireReset)(LONG bRequireReset) PURE;        // 15
    STDMETHOD(Reserved16)() PURE;
    STDMETHOD(SetKind)(LONG lKind) PURE;                        // 17
};

// The telephony port component's operations interface.
interface ITapiPort : public IUnknown {
    STDMETHOD(Configure)(LPWSTR prgDevice, LONG winHandle) PURE;                // 3
    STDMETHOD(GetSettings)(LPWSTR prgDevice, LPWSTR* pprgDeviceSettings) PURE;  // 4
    STDMETHOD(SetSettings)(LPWSTR prgDevice, LPWSTR prgDeviceSettings) PURE;    // 5
    STDMETHOD(GetDevices)(IZTK_EnumDevices** ppEnumDevices) PURE;               // 6
    STDMETHOD(GetCountries)(IZTK_EnumCountries** ppEnumCountries) PURE;         // 7
};
