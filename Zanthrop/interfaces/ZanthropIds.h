// Every identifier of the module and of the framework parts it talks to, in one place:
// interface and class identifiers, the type library, ProgIDs, named kernel objects and
// registry locations.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "com/WideText.h"

namespace zanthrop_ids_detail {
constexpr GUID Guid(DWORD d1, WORD d2, WORD d3, BYTE b0, BYTE b1, BYTE b2, BYTE b3, BYTE b4, BYTE b5, BYTE b6,
                    BYTE b7) {
    return GUID{d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}};
}
}  // namespace zanthrop_ids_detail

#define ZANTHROP_GUID(name, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
    inline constexpr GUID name = zanthrop_ids_detail::Guid(d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7)

// Type library ZANTHROPLib 1.0
ZANTHROP_GUID(LIBID_ZANTHROPLib, 0x5E2B9A70, 0xC81D, 0x4F36, 0x9A, 0x4E, 0x0B, 0x7D, 0x3C, 0x61, 0xE8, 0x29);
inline constexpr WORD kTypeLibMajorVersion = 1;
inline constexpr WORD kTypeLibMinorVersion = 0;
inline constexpr char kTypeLibHelpString[] = "Zanthrop 1.0 Type Library";
inline constexpr char kTypeLibText[] = "{5E2B9A70-C81D-4F36-9A4E-0B7D3C61E829}";  // as registered

// Public interfaces
ZANTHROP_GUID(IID_IZTK_ProtocolConverter, 0x3B7F1A95, 0xC2D4, 0x11E0, 0xA5, 0xB8, 0x6C, 0x9E, 0x0F, 0x1D, 0x2A, 0x34);
ZANTHROP_GUID(IID_IZanthropBase, 0x4E8D2C61, 0xB7A3, 0x4F95, 0x8C, 0x02, 0xD1, 0xE6, 0xF3, 0xA5, 0xB7, 0x98);
ZANTHROP_GUID(IID_IZTK_DeviceConfig, 0x6A1E3F58, 0xD09B, 0x4C72, 0x8E, 0x14, 0xB5, 0xF2, 0xA7, 0xC6, 0xD9, 0x03);
ZANTHROP_GUID(IID_IZTK_ItemAccessor, 0x2F6B0D83, 0x5E9A, 0x4C17, 0xA3, 0xD8, 0x9B, 0x1E, 0x7C, 0x4F, 0x0A, 0x65);
ZANTHROP_GUID(IID_IEnumMessages, 0x0C6D4E21, 0x93A7, 0x4B58, 0xA1, 0xF2, 0x6E, 0x8B, 0x7D, 0x95, 0xC0, 0x34);
ZANTHROP_GUID(IID_IZTK_TapiConverter, 0xF28B6D04, 0x4C1E, 0x4A9B, 0x97, 0xD3, 0x0E, 0x5A, 0x8C, 0x2B, 0x6F, 0x17);
ZANTHROP_GUID(IID_IZTK_EnumDevices, 0xD5A17E3C, 0x8B4F, 0x4062, 0x9E, 0x1D, 0x0C, 0x7B, 0x3A, 0x9F, 0x5E, 0x84);
ZANTHROP_GUID(IID_IZTK_EnumCountries, 0xC0F47A19, 0x6D2B, 0x4E83, 0xB5, 0xA1, 0x8E, 0x9C, 0x2D, 0x0F, 0x3B, 0x46);

// Classes of the type library
ZANTHROP_GUID(CLSID_CoZTK_ProtocolConverter, 0xA3F17C42, 0x5D09, 0x4E6B, 0x8B, 0x21, 0x7C, 0x94, 0xE0, 0xD1, 0xA5, 0xF3);
ZANTHROP_GUID(CLSID_CoEnumMessages, 0x71B3E5C9, 0x2A4F, 0x4D80, 0xB6, 0xE7, 0x9F, 0x1C, 0x0A, 0x82, 0xD4, 0xB5);
ZANTHROP_GUID(CLSID_CoZTK_TapiConverter, 0xC4E9A153, 0x6B7D, 0x42AE, 0x9D, 0x38, 0xA5, 0xF6, 0x0E, 0x71, 0xB2, 0xC9);
ZANTHROP_GUID(CLSID_CoZTK_TCPProtocolConverter, 0x8F5A2D6E, 0x0B3C, 0x4917, 0x8E, 0x4D, 0xC2, 0xA1, 0xB9, 0xF0, 0x7E, 0x63);

// Framework interfaces and classes the converters use
ZANTHROP_GUID(IID_IStackCallback, 0x49C2F0D8, 0x7E1B, 0x4A63, 0xB5, 0xC9, 0x8D, 0x3E, 0x2F, 0x6A, 0x10, 0x47);
ZANTHROP_GUID(IID_IStackSink, 0xD17E8B4A, 0x3C95, 0x11E2, 0x9A, 0x6F, 0x5B, 0x0C, 0x4D, 0x2E, 0x8F, 0x71);
ZANTHROP_GUID(CLSID_PortBroker, 0x92D4C6E1, 0x8A3B, 0x4F75, 0xB0, 0xE6, 0x1D, 0x7A, 0x5C, 0x3F, 0x9B, 0x28);
ZANTHROP_GUID(IID_IPortBroker, 0xB84F2E69, 0x7A05, 0x4D3C, 0xA9, 0x16, 0xE2, 0xC7, 0xB0, 0xF5, 0xD8, 0x3A);
ZANTHROP_GUID(CLSID_PortMessage, 0x1D9C5A37, 0xE6F2, 0x11E0, 0xB4, 0xA7, 0x2F, 0x8E, 0x6D, 0x0C, 0x9B, 0x51);
ZANTHROP_GUID(IID_IPortMessage, 0x5C3A7F1B, 0x92E8, 0x4B06, 0x8D, 0x5A, 0xC4, 0xF1, 0xE9, 0xB0, 0x7D, 0x26);
// The telephony port component: the object held in the global interface table, and its operations.
ZANTHROP_GUID(IID_ITapiComponent, 0xE6A08B73, 0x15F4, 0x4C2D, 0x8B, 0x6A, 0x3F, 0x9D, 0x0E, 0x7C, 0x5A, 0x12);
ZANTHROP_GUID(IID_ITapiPort, 0x07E5D9B2, 0xA36C, 0x4E18, 0xBC, 0x4F, 0x71, 0xA9, 0xD3, 0xE2, 0xF0, 0x65);
// Written to the registry for the framework; none of the module's classes.
ZANTHROP_GUID(CLSID_LegacyDeviceConfiguration, 0xA9E2B7D4, 0x1F6C, 0x4853, 0x9C, 0x0A, 0x6D, 0x3B, 0x8E, 0x5F, 0x21, 0x47);

#undef ZANTHROP_GUID

// Class contexts of the framework objects the converters create.
inline constexpr DWORD kBrokerClassContext = 23;   // in-process server and handler, local and remote server
inline constexpr DWORD kMessageClassContext = 3;   // in-process server or handler
inline constexpr DWORD kGlobalTableClassContext = 7;
inline constexpr LONG kMessageKind = 1;

// ProgIDs and descriptions of the served classes.
inline constexpr char kProtocolConverterProgId[] = "Velsa.ProtocolConverter.1";
inline constexpr char kProtocolConverterVersionIndependentProgId[] = "Velsa.ProtocolConverter";
inline constexpr char kProtocolConverterDescription[] = "ProtocolConverter Class";
inline constexpr char kProtocolConverterClsidText[] = "{A3F17C42-5D09-4E6B-8B21-7C94E0D1A5F3}";  // as registered
inline constexpr char kTapiConverterProgId[] = "Velsa.TapiConverter.1";
inline constexpr char kTapiConverterVersionIndependentProgId[] = "Velsa.TapiConverter";
inline constexpr char kTapiConverterDescription[] = "TapiConverter Class";
inline constexpr char kTapiConverterClsidText[] = "{C4E9A153-6B7D-42ae-9D38-A5F60E71B2C9}";  // as registered
inline constexpr char kTcpProtocolConverterProgId[] = "Zanthrop.TCPProtocolConverter.1";
inline constexpr char kTcpProtocolConverterVersionIndependentProgId[] = "Zanthrop.TCPProtocolConverter";
inline constexpr char kTcpProtocolConverterDescription[] = "TCPProtocolConverter Class";
inline constexpr char kTcpProtocolConverterClsidText[] = "{8F5A2D6E-0B3C-4917-8E4D-C2A1B9F07E63}";  // as registered

// Named kernel objects of the trace ring, shared with the trace viewer.
inline constexpr char kTraceOutputName[] = "_ZRB_TraceOutput";
inline constexpr char kTraceMutexName[] = "_ZRB_TraceMutex";
inline constexpr char kTraceEventName[] = "_ZRB_TraceEvent";

// The telephony port component, as the broker knows it and as the registry names its class.
inline constexpr WCHAR kTapiComponentName[] = ZW("TAPI");
inline constexpr char kTapiComponentKey[] = "SOFTWARE\\Velsa\\Kestrix\\Components\\Ports\\Serial\\";
inline constexpr char kTapiComponentValue[] = "CLSID";

// Values written for the framework at registration (HKEY_LOCAL_MACHINE).
inline constexpr char kSorbanetKey[] = "SOFTWARE\\Velsa\\Sorbanet\\";
inline constexpr char kSerialHandleValue[] = "Serial Handle";
inline constexpr char kSerialHandleData[] = "ProtocolCallbackCallbackEvent";
inline constexpr char kLegacyDeviceConfigurationKey[] = "SOFTWARE\\Velsa\\Kestrix\\COMPONENTS\\DeviceConfigurations\\LEGACY\\";
inline constexpr char kLegacyDeviceConfigurationValue[] = "CLSID";
inline constexpr char kLegacyDeviceConfigurationData[] = "{A9E2B7D4-1F6C-4853-9C0A-6D3B8E5F2147}";
inline constexpr char kPlumvaneGroupKey[] = "SOFTWARE\\Velsa\\Kestrix\\GROUPS\\Plumvane";
inline constexpr char kPlumvaneGroupValue[] = "LEGACY";
inline constexpr char kPlumvaneGroupData[] = "KR7Stack";
