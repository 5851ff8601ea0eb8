// A description of every interface declared in C++, taken from the declarations themselves:
// names by stringizing the members, slots from the compiler's vtable layout, parameter counts
// from the member types. Tests hold it against the documented slots and the type library.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "interfaces/FrameworkInterfaces.h"
#include "interfaces/ZanthropInterfaces.h"

struct MethodEntry {
    std::string name;
    int slot;
    int paramCount;
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
constexpr int ParamCount(R (STDMETHODCALLTYPE C::*)(Args...)) {
    return static_cast<int>(sizeof...(Args));
}

#define ZANTHROP_METHOD(Interface, Method) \
    MethodEntry { #Method, VtableSlot(&Interface::Method), ParamCount(&Interface::Method) }

// The public interfaces, in the order the type library lists them.
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

// The framework operations the module calls (placeholders left out).
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
