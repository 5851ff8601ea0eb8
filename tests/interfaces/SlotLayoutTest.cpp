// Every operation sits in the vtable slot, and takes the parameter types, that its callers and
// implementers rely on; the identifiers are the documented ones.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "InterfaceCatalog.h"

namespace {

std::map<std::string, const MethodEntry*> DeclaredMethods(const std::vector<InterfaceEntry>& interfaces) {
    std::map<std::string, const MethodEntry*> methods;
    for (const InterfaceEntry& entry : interfaces) {
        for (const MethodEntry& method : entry.methods) methods[entry.name + "::" + method.name] = &method;
    }
    return methods;
}

TEST(SlotLayoutTest, EveryOperationSitsInItsSlotWithItsParameterTypes) {
    std::vector<InterfaceEntry> interfaces = PublicInterfaces();
    for (InterfaceEntry& entry : FrameworkInterfaces()) interfaces.push_back(std::move(entry));
    const std::map<std::string, const MethodEntry*> declared = DeclaredMethods(interfaces);

    std::set<std::string> documented;
    for (const OperationContract& operation : Contract()) {
        const std::string key = std::string(operation.interfaceName) + "::" + operation.name;
        SCOPED_TRACE(key);
        documented.insert(key);
        auto found = declared.find(key);
        ASSERT_NE(found, declared.end());
        EXPECT_EQ(found->second->slot, operation.slot);
        EXPECT_EQ(found->second->paramTypes, ContractTypes(operation));
    }
    // Nothing is catalogued that the contract leaves out.
    for (const auto& [key, method] : declared) EXPECT_EQ(documented.count(key), 1u) << key;
}

TEST(SlotLayoutTest, InheritedOperationsKeepTheBaseSlots) {
    // QueryInterface is overloaded by the Windows headers; the slot of its neighbour pins it.
    EXPECT_EQ(VtableSlot(&IZTK_ProtocolConverter::AddRef), 1);
    EXPECT_EQ(VtableSlot(&IEnumMessages::Release), 2);
    EXPECT_EQ(VtableSlot(&IZTK_ProtocolConverter::Create), 3);
    EXPECT_EQ(VtableSlot(&IZTK_ProtocolConverter::Destroy), 4);
}

TEST(SlotLayoutTest, StackAndPortIdsAreSixteenPlainBytes) {
    EXPECT_EQ(sizeof(ZTK_ID), 16u);
    EXPECT_EQ(alignof(ZTK_ID), 1u);
    ZTK_ID a{};
    ZTK_ID b{};
    EXPECT_TRUE(a == b);
    b.bytes[15] = 1;
    EXPECT_TRUE(a != b);
    a.bytes[15] = 1;
    a.bytes[0] = 0x80;
    EXPECT_FALSE(a == b);
}

std::string GuidText(const GUID& guid) {
    OLECHAR text[40] = {};
    if (StringFromGUID2(guid, text, 40) == 0) return "";
    std::string narrow;
    for (const OLECHAR* p = text; *p != 0; ++p) narrow.push_back(static_cast<char>(*p));
    return narrow;
}

// Every identifier against its documented text, and no two alike.
TEST(SlotLayoutTest, IdentifiersHaveTheirDocumentedValues) {
    const std::pair<const GUID*, const char*> ids[] = {
        {&LIBID_ZANTHROPLib, "{5E2B9A70-C81D-4F36-9A4E-0B7D3C61E829}"},
        {&IID_IZTK_ProtocolConverter, "{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}"},
        {&IID_IZanthropBase, "{4E8D2C61-B7A3-4F95-8C02-D1E6F3A5B798}"},
        {&IID_IZTK_DeviceConfig, "{6A1E3F58-D09B-4C72-8E14-B5F2A7C6D903}"},
        {&IID_IZTK_ItemAccessor, "{2F6B0D83-5E9A-4C17-A3D8-9B1E7C4F0A65}"},
        {&IID_IEnumMessages, "{0C6D4E21-93A7-4B58-A1F2-6E8B7D95C034}"},
        {&IID_IZTK_TapiConverter, "{F28B6D04-4C1E-4A9B-97D3-0E5A8C2B6F17}"},
        {&IID_IZTK_EnumDevices, "{D5A17E3C-8B4F-4062-9E1D-0C7B3A9F5E84}"},
        {&IID_IZTK_EnumCountries, "{C0F47A19-6D2B-4E83-B5A1-8E9C2D0F3B46}"},
        {&CLSID_CoZTK_ProtocolConverter, "{A3F17C42-5D09-4E6B-8B21-7C94E0D1A5F3}"},
        {&CLSID_CoEnumMessages, "{71B3E5C9-2A4F-4D80-B6E7-9F1C0A82D4B5}"},
        {&CLSID_CoZTK_TapiConverter, "{C4E9A153-6B7D-42AE-9D38-A5F60E71B2C9}"},
        {&CLSID_CoZTK_TCPProtocolConverter, "{8F5A2D6E-0B3C-4917-8E4D-C2A1B9F07E63}"},
        {&IID_IStackCallback, "{49C2F0D8-7E1B-4A63-B5C9-8D3E2F6A1047}"},
        {&IID_IStackSink, "{D17E8B4A-3C95-11E2-9A6F-5B0C4D2E8F71}"},
        {&CLSID_PortBroker, "{92D4C6E1-8A3B-4F75-B0E6-1D7A5C3F9B28}"},
        {&IID_IPortBroker, "{B84F2E69-7A05-4D3C-A916-E2C7B0F5D83A}"},
        {&CLSID_PortMessage, "{1D9C5A37-E6F2-11E0-B4A7-2F8E6D0C9B51}"},
        {&IID_IPortMessage, "{5C3A7F1B-92E8-4B06-8D5A-C4F1E9B07D26}"},
        {&IID_ITapiComponent, "{E6A08B73-15F4-4C2D-8B6A-3F9D0E7C5A12}"},
        {&IID_ITapiPort, "{07E5D9B2-A36C-4E18-BC4F-71A9D3E2F065}"},
        {&CLSID_LegacyDeviceConfiguration, "{A9E2B7D4-1F6C-4853-9C0A-6D3B8E5F2147}"},
    };
    std::set<std::string> seen;
    for (const auto& [guid, text] : ids) {
        EXPECT_EQ(GuidText(*guid), text);
        EXPECT_TRUE(seen.insert(text).second) << text << " twice";
    }
}

// Texts that name identifiers elsewhere (registry data, registration scripts) agree with them.
TEST(SlotLayoutTest, IdentifierTextsNameTheirIdentifiers) {
    const std::pair<const char*, const GUID*> texts[] = {
        {kProtocolConverterClsidText, &CLSID_CoZTK_ProtocolConverter},
        {kTapiConverterClsidText, &CLSID_CoZTK_TapiConverter},
        {kTcpProtocolConverterClsidText, &CLSID_CoZTK_TCPProtocolConverter},
        {kLegacyDeviceConfigurationData, &CLSID_LegacyDeviceConfiguration},
        {kTypeLibText, &LIBID_ZANTHROPLib},
    };
    for (const auto& [text, guid] : texts) {
        SCOPED_TRACE(text);
        OLECHAR wide[40] = {};
        size_t i = 0;
        for (; text[i] != 0 && i < 39; ++i) wide[i] = static_cast<OLECHAR>(text[i]);
        EXPECT_EQ(i, 38u);
        CLSID parsed = GUID_NULL;
        ASSERT_EQ(CLSIDFromString(wide, &parsed), S_OK);
        EXPECT_TRUE(IsEqualGUID(parsed, *guid));
    }
    // As registered: lower-case "ae" in the third group, which the registrar keeps verbatim.
    EXPECT_STREQ(kTapiConverterClsidText, "{C4E9A153-6B7D-42ae-9D38-A5F60E71B2C9}");
}

}  // namespace
