// The public interfaces of the type library ZANTHROPLib, slot for slot as Zanthrop.idl declares
// them. All derive from IUnknown; none is a dispatch interface.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "interfaces/ZanthropIds.h"

interface IEnumMessages;
interface IZTK_EnumDevices;
interface IZTK_EnumCountries;
interface IZTK_ItemAccessor;
interface IZTK_DeviceConfig;

// The framework's device configuration (implemented by the framework).
interface IZTK_DeviceConfig : public IUnknown {
    STDMETHOD(SetConfiguration)(LPWSTR prgConfigType, LPWSTR prgConfig) PURE;                    // 3
    STDMETHOD(GetConfiguration)(LPWSTR prgConfigType, LPWSTR* pprgConfig) PURE;                  // 4
    STDMETHOD(GetDeviceType)(IZTK_ItemAccessor** ppDeviceType) PURE;                             // 5
    STDMETHOD(ShowModalConfigurationDialog)(LPWSTR prgDialogName, LONG editable, LONG* pbApply) PURE;  // 6
    STDMETHOD(IsSame)(LPWSTR prgCompareType, LPWSTR prgConfig, LONG* pbSame) PURE;               // 7
    STDMETHOD(ChangeOnline)(LONG bOnline) PURE;                                                  // 8
    STDMETHOD(GetOnlineStatus)(LONG* pbOnline) PURE;                                             // 9
    STDMETHOD(MergeAndSetConfiguration)(LPWSTR prgNewConfig, LPWSTR prgBaseConfig) PURE;         // 10
};

// Name/value items of a device type (implemented by the framework; not called by the module).
interface IZTK_ItemAccessor : public IUnknown {
    STDMETHOD(GetItemCount)(LONG* pCount) PURE;                    // 3
    STDMETHOD(ResetEnumeration)() PURE;                            // 4
    STDMETHOD(AddItem)(LPWSTR pName, LPWSTR pValue) PURE;          // 5
    STDMETHOD(NextItem)(LPWSTR* ppName, LPWSTR* ppValue) PURE;     // 6
    STDMETHOD(FindItem)(LPWSTR pName, LPWSTR* ppValue) PURE;       // 7
};

interface IZanthropBase : public IUnknown {
    STDMETHOD(Create)(USHORT* prgEventName, USHORT* prgName, IUnknown* pUnk, IZTK_DeviceConfig* pDeviceConfig,
                      IUnknown* pPS) PURE;  // 3
    STDMETHOD(Destroy)() PURE;              // 4
};

interface IZTK_ProtocolConverter : public IZanthropBase {
    STDMETHOD(Send)(LONG bRequireResponse, LONG bRequireReset, LONG lTimeout, LONG lDataSize, BYTE* pData,
                    LONG lOptionsSize, BYTE* pOptions) PURE;                          // 5
    STDMETHOD(GetReceiveData)(LONG lCookie, LONG* plEnumSize, IEnumMessages** ppEnum) PURE;  // 6
};

// The received-message queue as the client reads it: one frame per call, E_FAIL when empty.
interface IEnumMessages : public IUnknown {
    STDMETHOD(Next)(LONG* lDataSize, BYTE** ppData) PURE;  // 3
};

interface IZTK_TapiConverter : public IUnknown {
    STDMETHOD(Create)() PURE;                                                   // 3
    STDMETHOD(Destroy)() PURE;                                                  // 4
    STDMETHOD(Configure)(LPWSTR prgDevice, LONG winHandle) PURE;                // 5
    STDMETHOD(GetSettings)(LPWSTR prgDevice, LPWSTR* pprgDeviceSettings) PURE;  // 6
    STDMETHOD(SetSettings)(LPWSTR prgDevice, LPWSTR prgDeviceSettings) PURE;    // 7
    STDMETHOD(GetDevices)(IZTK_EnumDevices** ppEnumDevices) PURE;               // 8
    STDMETHOD(GetCountries)(IZTK_EnumCountries** ppEnumCountries) PURE;         // 9
};

// Enumerators handed out by the telephony port component.
interface IZTK_EnumDevices : public IUnknown {
    STDMETHOD(Next)(LPWSTR* pprgDevice) PURE;  // 3
    STDMETHOD(Reset)() PURE;                   // 4
};

interface IZTK_EnumCountries : public IUnknown {
    STDMETHOD(Next)(LPWSTR* pprgCountry, LONG* plCode) PURE;  // 3
    STDMETHOD(Reset)() PURE;                                  // 4
};
