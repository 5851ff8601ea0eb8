// Two descriptions of the interfaces, for the tests to hold against each other:
// - the catalog, taken from the C++ declarations themselves: names by stringizing the members,
//   slots from the compiler's vtable layout, parameter types from the member types;
// - the contract: every operation's slot and parameters as the module's callers and the
//   framework rely on them (for the public interfaces also directions and names, as the type
//   library declares them).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "interfaces/FrameworkInterfaces.h"
#include "interfaces/ZanthropInterfaces.h"

// ---- Parameter types as text --------------------------------------------------------------
// The spelling is the one of the contract below ("LONG", "LPWSTR*", "IZTK_DeviceConfig*"); a type
// without a name here reads "?", so a stray `long` (64-bit on Linux) or a changed id type shows.

template <class T>
struct TypeText {
    static std::string Get() { return "?"; }
};
template <class T>
struct TypeText<T*> {
    static std::string Get() { return TypeText<T>::Get() + "*"; }
};
template <class T>
struct TypeText<const T> {
    static std::string Get() { return "const " + TypeText<T>::Get(); }
};
template <>
struct TypeText<WCHAR*> {
    static std::string Get() { return "LPWSTR"; }
};
template <>
struct TypeText<const WCHAR*> {
    static std::string Get() { return "LPCWSTR"; }
};

#define ZANTHROP_TYPE_TEXT(Type, text)                \
    template <>                                       \
    struct TypeText<Type> {                           \
        static std::string Get() { return text; }     \
    }

ZANTHROP_TYPE_TEXT(void, "void");
ZANTHROP_TYPE_TEXT(BYTE, "BYTE");
ZANTHROP_TYPE_TEXT(USHORT, "USHORT");
ZANTHROP_TYPE_TEXT(LONG, "LONG");
ZANTHROP_TYPE_TEXT(DWORD, "DWORD");
ZANTHROP_TYPE_TEXT(GUID, "GUID");
ZANTHROP_TYPE_TEXT(ZTK_ID, "ZTK_ID");
ZANTHROP_TYPE_TEXT(IUnknown, "IUnknown");
ZANTHROP_TYPE_TEXT(IZanthropBase, "IZanthropBase");
ZANTHROP_TYPE_TEXT(IZTK_ProtocolConverter, "IZTK_ProtocolConverter");
ZANTHROP_TYPE_TEXT(IEnumMessages, "IEnumMessages");
ZANTHROP_TYPE_TEXT(IZTK_TapiConverter, "IZTK_TapiConverter");
ZANTHROP_TYPE_TEXT(IZTK_EnumDevices, "IZTK_EnumDevices");
ZANTHROP_TYPE_TEXT(IZTK_EnumCountries, "IZTK_EnumCountries");
ZANTHROP_TYPE_TEXT(IZTK_DeviceConfig, "IZTK_DeviceConfig");
ZANTHROP_TYPE_TEXT(IZTK_ItemAccessor, "IZTK_ItemAccessor");
ZANTHROP_TYPE_TEXT(IProtocolStack, "IProtocolStack");
ZANTHROP_TYPE_TEXT(IPort, "IPort");
ZANTHROP_TYPE_TEXT(IPortMessage, "IPortMessage");
#undef ZANTHROP_TYPE_TEXT

// ---- The catalog ---------------------------------------------------------------------------

struct MethodEntry {
    std::string name;
    int slot;
    std::vector<std::string> paramTypes;
};

struct InterfaceEntry {
    std::string name;
    IID iid;
    std::string base;
    std::vector<MethodEntry> methods;  // the interface's own methods, in slot order
};

// GCC (both builds) stores a pointer to a virtual member function as 1 + the byte offset of its
// vtable entry, followed by a this-adjustment.
template <class Pmf>
int VtableSlot(Pmf pmf) {
    std::ptrdiff_t words[2];
    static_assert(sizeof(Pmf) == sizeof(words), "unexpected member pointer layout");
    std::memcpy(words, &pmf, sizeof(words));
    return static_cast<int>((words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)));
}

template <class C, class R, class... Args>
std::vector<std::string> ParamTypes(R (STDMETHODCALLTYPE C::*)(Args...)) {
    return {TypeText<Args>::Get()...};
}

#define ZANTHROP_METHOD(Interface, Method) \
    MethodEntry { #Method, VtableSlot(&Interface::Method), ParamTypes(&Interface::Method) }

// The public interfaces, in the order the type library's source lists them.
inline std::vector<InterfaceEntry> PublicInterfaces() {
    return {
        {"IZTK_ProtocolConverter", IID_IZTK_ProtocolConverter, "IZanthropBase",
         {ZANTHROP_METHOD(IZTK_ProtocolConverter, Send), ZANTHROP_METHOD(IZTK_ProtocolConverter, GetReceiveData)}},
        {"IZanthropBase", IID_IZanthropBase, "IUnknown",
         {ZANTHROP_METHOD(IZanthropBase, Create), ZANTHROP_METHOD(IZanthropBase, Destroy)}},
        {"IZTK_DeviceConfig", IID_IZTK_DeviceConfig, "IUnknown",
         {ZANTHROP_METHOD(IZTK_DeviceConfig, SetConfiguration), ZANTHROP_METHOD(IZTK_DeviceConfig, GetConfiguration),
          ZANTHROP_METHOD(IZTK_DeviceConfig, GetDeviceType),
          ZANTHROP_METHOD(IZTK_DeviceConfig, ShowModalConfigurationDialog), ZANTHROP_METHOD(IZTK_DeviceConfig, IsSame),
          ZANTHROP_METHOD(IZTK_DeviceConfig, ChangeOnline), ZANTHROP_METHOD(IZTK_DeviceConfig, GetOnlineStatus),
          ZANTHROP_METHOD(IZTK_DeviceConfig, MergeAndSetConfiguration)}},
        {"IZTK_ItemAccessor", IID_IZTK_ItemAccessor, "IUnknown",
         {ZANTHROP_METHOD(IZTK_ItemAccessor, GetItemCount), ZANTHROP_METHOD(IZTK_ItemAccessor, ResetEnumeration),
          ZANTHROP_METHOD(IZTK_ItemAccessor, AddItem), ZANTHROP_METHOD(IZTK_ItemAccessor, NextItem),
          ZANTHROP_METHOD(IZTK_ItemAccessor, FindItem)}},
        {"IEnumMessages", IID_IEnumMessages, "IUnknown", {ZANTHROP_METHOD(IEnumMessages, Next)}},
        {"IZTK_TapiConverter", IID_IZTK_TapiConverter, "IUnknown",
         {ZANTHROP_METHOD(IZTK_TapiConverter, Create), ZANTHROP_METHOD(IZTK_TapiConverter, Destroy),
          ZANTHROP_METHOD(IZTK_TapiConverter, Configure), ZANTHROP_METHOD(IZTK_TapiConverter, GetSettings),
          ZANTHROP_METHOD(IZTK_TapiConverter, SetSettings), ZANTHROP_METHOD(IZTK_TapiConverter, GetDevices),
          ZANTHROP_METHOD(IZTK_TapiConverter, GetCountries)}},
        {"IZTK_EnumDevices", IID_IZTK_EnumDevices, "IUnknown",
         {ZANTHROP_METHOD(IZTK_EnumDevices, Next), ZANTHROP_METHOD(IZTK_EnumDevices, Reset)}},
        {"IZTK_EnumCountries", IID_IZTK_EnumCountries, "IUnknown",
         {ZANTHROP_METHOD(IZTK_EnumCountries, Next), ZANTHROP_METHOD(IZTK_EnumCountries, Reset)}},
    };
}

// The framework operations the module calls or implements (placeholders left out).
inline std::vector<InterfaceEntry> FrameworkInterfaces() {
    return {
        {"IStackFactory", GUID_NULL, "IUnknown",
         {ZANTHROP_METHOD(IStackFactory, CreateStack), ZANTHROP_METHOD(IStackFactory, DeleteStack),
          ZANTHROP_METHOD(IStackFactory, OpenStack), ZANTHROP_METHOD(IStackFactory, CloseStack)}},
        {"IProtocolStack", GUID_NULL, "IUnknown",
         {ZANTHROP_METHOD(IProtocolStack, GetStackId), ZANTHROP_METHOD(IProtocolStack, Advise),
          ZANTHROP_METHOD(IProtocolStack, QueryObject), ZANTHROP_METHOD(IProtocolStack, Unadvise)}},
        {"IStackCallback", IID_IStackCallback, "IUnknown",
         {ZANTHROP_METHOD(IStackCallback, ConnectPort), ZANTHROP_METHOD(IStackCallback, DisconnectPort),
          ZANTHROP_METHOD(IStackCallback, Notify), ZANTHROP_METHOD(IStackCallback, Receive),
          ZANTHROP_METHOD(IStackCallback, CompareConfiguration)}},
        {"IPortBroker", IID_IPortBroker, "IUnknown",
         {ZANTHROP_METHOD(IPortBroker, RegisterStack), ZANTHROP_METHOD(IPortBroker, UnregisterStack),
          ZANTHROP_METHOD(IPortBroker, AcquireComponent), ZANTHROP_METHOD(IPortBroker, ReleaseComponent)}},
        {"IPort", GUID_NULL, "IUnknown",
         {ZANTHROP_METHOD(IPort, AttachStack), ZANTHROP_METHOD(IPort, DetachStack), ZANTHROP_METHOD(IPort, ClosePort),
          ZANTHROP_METHOD(IPort, Submit)}},
        {"IPortMessage", IID_IPortMessage, "IUnknown",
         {ZANTHROP_METHOD(IPortMessage, SetData), ZANTHROP_METHOD(IPortMessage, GetData),
          ZANTHROP_METHOD(IPortMessage, Initialise), ZANTHROP_METHOD(IPortMessage, SetTimeout),
          ZANTHROP_METHOD(IPortMessage, SetRequireResponse), ZANTHROP_METHOD(IPortMessage, SetOptions),
          ZANTHROP_METHOD(IPortMessage, SetRequireReset), ZANTHROP_METHOD(IPortMessage, SetKind)}},
        {"ITapiPort", IID_ITapiPort, "IUnknown",
         {ZANTHROP_METHOD(ITapiPort, Configure), ZANTHROP_METHOD(ITapiPort, GetSettings),
          ZANTHROP_METHOD(ITapiPort, SetSettings), ZANTHROP_METHOD(ITapiPort, GetDevices),
          ZANTHROP_METHOD(ITapiPort, GetCountries)}},
    };
}

struct CoclassEntry {
    std::string name;
    CLSID clsid;
    std::string helpString;
    std::string defaultInterface;
};

inline std::vector<CoclassEntry> Coclasses() {
    return {
        {"CoZTK_ProtocolConverter", CLSID_CoZTK_ProtocolConverter, "SerialPortConverter Class", "IZTK_ProtocolConverter"},
        {"CoEnumMessages", CLSID_CoEnumMessages, "EnumMessages Class", "IEnumMessages"},
        {"CoZTK_TapiConverter", CLSID_CoZTK_TapiConverter, "TapiConverter Class", "IZTK_TapiConverter"},
        {"CoZTK_TCPProtocolConverter", CLSID_CoZTK_TCPProtocolConverter, "TCPProtocolConverter Class",
         "IZTK_ProtocolConverter"},
    };
}

// ---- The contract --------------------------------------------------------------------------

struct ParamContract {
    const char* direction;  // "in", "out", or "" where the type library gives no direction
    const char* type;
    const char* name;       // the type library's name; "" for the framework's interfaces
};

struct OperationContract {
    const char* interfaceName;
    const char* name;
    int slot;
    std::vector<ParamContract> params;
};

// Public interfaces: the type library's parameter names and directions. Framework interfaces:
// only slots and types; an id "by value" is a ZTK_ID or GUID parameter, "by address" a pointer.
inline const std::vector<OperationContract>& Contract() {
    static const std::vector<OperationContract> contract = {
        {"IZanthropBase", "Create", 3,
         {{"in", "USHORT*", "prgEventName"},
          {"in", "USHORT*", "prgName"},
          {"in", "IUnknown*", "pUnk"},
          {"in", "IZTK_DeviceConfig*", "pDeviceConfig"},
          {"in", "IUnknown*", "pPS"}}},
        {"IZanthropBase", "Destroy", 4, {}},
        {"IZTK_ProtocolConverter", "Send", 5,
         {{"in", "LONG", "bRequireResponse"},
          {"in", "LONG", "bRequireReset"},
          {"in", "LONG", "lTimeout"},
          {"in", "LONG", "lDataSize"},
          {"in", "BYTE*", "pData"},
          {"in", "LONG", "lOptionsSize"},
          {"in", "BYTE*", "pOptions"}}},
        {"IZTK_ProtocolConverter", "GetReceiveData", 6,
         {{"in", "LONG", "lCookie"}, {"out", "LONG*", "plEnumSize"}, {"", "IEnumMessages**", "ppEnum"}}},
        {"IEnumMessages", "Next", 3, {{"out", "LONG*", "lDataSize"}, {"out", "BYTE**", "ppData"}}},
        {"IZTK_TapiConverter", "Create", 3, {}},
        {"IZTK_TapiConverter", "Destroy", 4, {}},
        {"IZTK_TapiConverter", "Configure", 5, {{"in", "LPWSTR", "prgDevice"}, {"in", "LONG", "winHandle"}}},
        {"IZTK_TapiConverter", "GetSettings", 6,
         {{"in", "LPWSTR", "prgDevice"}, {"out", "LPWSTR*", "pprgDeviceSettings"}}},
        {"IZTK_TapiConverter", "SetSettings", 7,
         {{"in", "LPWSTR", "prgDevice"}, {"in", "LPWSTR", "prgDeviceSettings"}}},
        {"IZTK_TapiConverter", "GetDevices", 8, {{"out", "IZTK_EnumDevices**", "ppEnumDevices"}}},
        {"IZTK_TapiConverter", "GetCountries", 9, {{"out", "IZTK_EnumCountries**", "ppEnumCountries"}}},
        {"IZTK_EnumDevices", "Next", 3, {{"out", "LPWSTR*", "pprgDevice"}}},
        {"IZTK_EnumDevices", "Reset", 4, {}},
        {"IZTK_EnumCountries", "Next", 3, {{"out", "LPWSTR*", "pprgCountry"}, {"out", "LONG*", "plCode"}}},
        {"IZTK_EnumCountries", "Reset", 4, {}},
        {"IZTK_DeviceConfig", "SetConfiguration", 3,
         {{"in", "LPWSTR", "prgConfigType"}, {"in", "LPWSTR", "prgConfig"}}},
        {"IZTK_DeviceConfig", "GetConfiguration", 4,
         {{"in", "LPWSTR", "prgConfigType"}, {"out", "LPWSTR*", "pprgConfig"}}},
        {"IZTK_DeviceConfig", "GetDeviceType", 5, {{"", "IZTK_ItemAccessor**", "ppDeviceType"}}},
        {"IZTK_DeviceConfig", "ShowModalConfigurationDialog", 6,
         {{"in", "LPWSTR", "prgDialogName"}, {"in", "LONG", "editable"}, {"out", "LONG*", "pbApply"}}},
        {"IZTK_DeviceConfig", "IsSame", 7,
         {{"in", "LPWSTR", "prgCompareType"}, {"in", "LPWSTR", "prgConfig"}, {"out", "LONG*", "pbSame"}}},
        {"IZTK_DeviceConfig", "ChangeOnline", 8, {{"in", "LONG", "bOnline"}}},
        {"IZTK_DeviceConfig", "GetOnlineStatus", 9, {{"out", "LONG*", "pbOnline"}}},
        {"IZTK_DeviceConfig", "MergeAndSetConfiguration", 10,
         {{"in", "LPWSTR", "prgNewConfig"}, {"in", "LPWSTR", "prgBaseConfig"}}},
        {"IZTK_ItemAccessor", "GetItemCount", 3, {{"out", "LONG*", "pCount"}}},
        {"IZTK_ItemAccessor", "ResetEnumeration", 4, {}},
        {"IZTK_ItemAccessor", "AddItem", 5, {{"in", "LPWSTR", "pName"}, {"in", "LPWSTR", "pValue"}}},
        {"IZTK_ItemAccessor", "NextItem", 6, {{"out", "LPWSTR*", "ppName"}, {"out", "LPWSTR*", "ppValue"}}},
        {"IZTK_ItemAccessor", "FindItem", 7, {{"in", "LPWSTR", "pName"}, {"out", "LPWSTR*", "ppValue"}}},

        {"IStackFactory", "CreateStack", 4,
         {{"", "LPWSTR", ""}, {"", "IZTK_DeviceConfig*", ""}, {"", "IProtocolStack**", ""}}},
        {"IStackFactory", "DeleteStack", 5, {{"", "ZTK_ID", ""}}},
        {"IStackFactory", "OpenStack", 8, {{"", "ZTK_ID", ""}}},
        {"IStackFactory", "CloseStack", 9, {{"", "ZTK_ID", ""}}},
        {"IProtocolStack", "GetStackId", 3, {{"", "ZTK_ID*", ""}}},
        {"IProtocolStack", "Advise", 7, {{"", "const GUID*", ""}, {"", "IUnknown*", ""}}},
        {"IProtocolStack", "QueryObject", 8, {{"", "const GUID*", ""}, {"", "void**", ""}}},
        {"IProtocolStack", "Unadvise", 9, {{"", "const GUID*", ""}}},
        {"IStackCallback", "ConnectPort", 3, {{"", "IUnknown*", ""}}},
        {"IStackCallback", "DisconnectPort", 4, {}},
        {"IStackCallback", "Notify", 5, {{"", "LONG", ""}}},
        {"IStackCallback", "Receive", 6, {{"", "IPortMessage*", ""}}},
        {"IStackCallback", "CompareConfiguration", 7, {{"", "LPCWSTR", ""}, {"", "LONG*", ""}}},
        {"IPortBroker", "RegisterStack", 7,
         {{"", "IUnknown*", ""},
          {"", "IZTK_ProtocolConverter*", ""},
          {"", "IPort**", ""},
          {"", "ZTK_ID*", ""},
          {"", "LONG*", ""}}},
        {"IPortBroker", "UnregisterStack", 8, {{"", "IUnknown*", ""}}},
        {"IPortBroker", "AcquireComponent", 12,
         {{"", "GUID", ""}, {"", "LONG", ""}, {"", "LPCWSTR", ""}, {"", "DWORD*", ""}, {"", "LONG*", ""}}},
        {"IPortBroker", "ReleaseComponent", 13, {{"", "GUID", ""}, {"", "LPCWSTR", ""}, {"", "DWORD", ""}}},
        {"IPort", "AttachStack", 4, {{"", "IUnknown*", ""}}},
        {"IPort", "DetachStack", 5, {{"", "IUnknown*", ""}}},
        {"IPort", "ClosePort", 7, {{"", "ZTK_ID", ""}}},
        {"IPort", "Submit", 8, {{"", "ZTK_ID", ""}, {"", "IPortMessage*", ""}}},
        {"IPortMessage", "SetData", 3, {{"", "LONG", ""}, {"", "BYTE*", ""}}},
        {"IPortMessage", "GetData", 4, {{"", "LONG*", ""}, {"", "BYTE**", ""}}},
        {"IPortMessage", "Initialise", 6, {{"", "IPortMessage**", ""}}},
        {"IPortMessage", "SetTimeout", 9, {{"", "LONG", ""}}},
        {"IPortMessage", "SetRequireResponse", 11, {{"", "LONG", ""}}},
        {"IPortMessage", "SetOptions", 13, {{"", "LONG", ""}, {"", "BYTE*", ""}}},
        {"IPortMessage", "SetRequireReset", 15, {{"", "LONG", ""}}},
        {"IPortMessage", "SetKind", 17, {{"", "LONG", ""}}},
        {"ITapiPort", "Configure", 3, {{"", "LPWSTR", ""}, {"", "LONG", ""}}},
        {"ITapiPort", "GetSettings", 4, {{"", "LPWSTR", ""}, {"", "LPWSTR*", ""}}},
        {"ITapiPort", "SetSettings", 5, {{"", "LPWSTR", ""}, {"", "LPWSTR", ""}}},
        {"ITapiPort", "GetDevices", 6, {{"", "IZTK_EnumDevices**", ""}}},
        {"ITapiPort", "GetCountries", 7, {{"", "IZTK_EnumCountries**", ""}}},
    };
    return contract;
}

inline std::vector<std::string> ContractTypes(const OperationContract& operation) {
    std::vector<std::string> types;
    for (const ParamContract& param : operation.params) types.push_back(param.type);
    return types;
}
