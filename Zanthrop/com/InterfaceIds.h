// The IID of each interface the module's code names in templates: InterfaceId<IEnumMessages>().
#pragma once

#include <windows.h>
#include <objbase.h>

#include "interfaces/FrameworkInterfaces.h"
#include "interfaces/ZanthropInterfaces.h"

template <class Interface>
struct InterfaceIdOf;  // specialised below for every interface in use

template <class Interface>
constexpr const IID& InterfaceId() {
    return InterfaceIdOf<Interface>::value;
}

#define ZANTHROP_INTERFACE_ID(Interface, iid)            \
    template <>                                           \
    struct InterfaceIdOf<Interface> {                     \
        static constexpr const IID& value = iid;          \
    }

ZANTHROP_INTERFACE_ID(IUnknown, IID_IUnknown);
ZANTHROP_INTERFACE_ID(IClassFactory, IID_IClassFactory);
ZANTHROP_INTERFACE_ID(IMarshal, IID_IMarshal);
ZANTHROP_INTERFACE_ID(IGlobalInterfaceTable, IID_IGlobalInterfaceTable);
ZANTHROP_INTERFACE_ID(IZanthropBase, IID_IZanthropBase);
ZANTHROP_INTERFACE_ID(IZTK_ProtocolConverter, IID_IZTK_ProtocolConverter);
ZANTHROP_INTERFACE_ID(IEnumMessages, IID_IEnumMessages);
ZANTHROP_INTERFACE_ID(IZTK_TapiConverter, IID_IZTK_TapiConverter);
ZANTHROP_INTERFACE_ID(IZTK_EnumDevices, IID_IZTK_EnumDevices);
ZANTHROP_INTERFACE_ID(IZTK_EnumCountries, IID_IZTK_EnumCountries);
ZANTHROP_INTERFACE_ID(IZTK_DeviceConfig, IID_IZTK_DeviceConfig);
ZANTHROP_INTERFACE_ID(IZTK_ItemAccessor, IID_IZTK_ItemAccessor);
ZANTHROP_INTERFACE_ID(IStackCallback, IID_IStackCallback);
ZANTHROP_INTERFACE_ID(IPortBroker, IID_IPortBroker);
ZANTHROP_INTERFACE_ID(IPortMessage, IID_IPortMessage);
ZANTHROP_INTERFACE_ID(ITapiPort, IID_ITapiPort);
