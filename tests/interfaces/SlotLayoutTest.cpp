// Every operation sits in the vtable slot its callers and implementers rely on.
#include <gtest/gtest.h>

#include <map>

#include "InterfaceCatalog.h"

namespace {

struct ExpectedSlots {
    const char* interfaceName;
    std::map<std::string, int> slots;
};

const ExpectedSlots kExpected[] = {
    {"IZTK_ProtocolConverter", {{"Send", 5}, {"GetReceiveData", 6}}},
    {"IZanthropBase", {{"Create", 3}, {"Destroy", 4}}},
    {"IZTK_DeviceConfig",
     {{"SetConfiguration", 3}, {"GetConfiguration", 4}, {"GetDeviceType", 5}, {"ShowModalConfigurationDialog", 6},
      {"IsSame", 7}, {"ChangeOnline", 8}, {"GetOnlineStatus", 9}, {"MergeAndSetConfiguration", 10}}},
    {"IZTK_ItemAccessor", {{"GetItemCount", 3}, {"ResetEnumeration", 4}, {"AddItem", 5}, {"NextItem", 6}, {"FindItem", 7}}},
    {"IEnumMessages", {{"Next", 3}}},
    {"IZTK_TapiConverter",
     {{"Create", 3}, {"Destroy", 4}, {"Configure", 5}, {"GetSettings", 6}, {"SetSettings", 7}, {"GetDevices", 8},
      {"GetCountries", 9}}},
    {"IZTK_EnumDevices", {{"Next", 3}, {"Reset", 4}}},
    {"IZTK_EnumCountries", {{"Next", 3}, {"Reset", 4}}},
    {"IStackFactory", {{"CreateStack", 4}, {"DeleteStack", 5}, {"OpenStack", 8}, {"CloseStack", 9}}},
    {"IProtocolStack", {{"GetStackId", 3}, {"Advise", 7}, {"QueryObject", 8}, {"Unadvise", 9}}},
    {"IStackCallback", {{"ConnectPort", 3}, {"DisconnectPort", 4}, {"Notify", 5}, {"Receive", 6}, {"CompareConfiguration", 7}}},
    {"IPortBroker", {{"RegisterStack", 7}, {"UnregisterStack", 8}, {"AcquireComponent", 12}, {"ReleaseComponent", 13}}},
    {"IPort", {{"AttachStack", 4}, {"DetachStack", 5}, {"ClosePort", 7}, {"Submit", 8}}},
    {"IPortMessage",
     {{"SetData", 3}, {"GetData", 4}, {"Initialise", 6}, {"SetTimeout", 9}, {"SetRequireResponse", 11}, {"SetOptions", 13},
      {"SetRequireReset", 15}, {"SetKind", 17}}},
    {"ITapiPort", {{"Configure", 3}, {"GetSettings", 4}, {"SetSettings", 5}, {"GetDevices", 6}, {"GetCountries", 7}}},
};

TEST(SlotLayoutTest, EveryOperationSitsInItsDocumentedSlot) {
    std::map<std::string, InterfaceEntry> declared;
    for (auto& entry : PublicInterfaces()) declared[entry.name] = entry;
    for (auto& entry : FrameworkInterfaces()) declared[entry.name] = entry;

    for (const ExpectedSlots& expected : kExpected) {
        SCOPED_TRACE(expected.interfaceName);
        auto found = declared.find(expected.interfaceName);
        ASSERT_NE(found, declared.end());
        std::map<std::string, int> actual;
        for (const MethodEntry& method : found->second.methods) actual[method.name] = method.slot;
        EXPECT_EQ(actual, expected.slots);
    }
}

TEST(SlotLayoutTest, InheritedOperationsKeepTheBaseSlots) {
    EXPECT_EQ(VtableSlot(&IZTK_ProtocolConverter::Create), 3);
    EXPECT_EQ(VtableSlot(&IZTK_ProtocolConverter::Destroy), 4);
    EXPECT_EQ(VtableSlot(&IZTK_ProtocolConverter::AddRef), 1);
    EXPECT_EQ(VtableSlot(&IEnumMessages::Release), 2);
}

TEST(SlotLayoutTest, IdentifiersAreDistinct) {
    std::vector<std::pair<std::string, GUID>> ids = {
        {"LIBID", LIBID_ZANTHROPLib}, {"IZTK_ProtocolConverter", IID_IZTK_ProtocolConverter},
        {"IZanthropBase", IID_IZanthropBase}, {"IEnumMessages", IID_IEnumMessages},
        {"IStackCallback", IID_IStackCallback}, {"IStackSink", IID_IStackSink}, {"IPortBroker", IID_IPortBroker},
        {"IPortMessage", IID_IPortMessage}, {"ITapiComponent", IID_ITapiComponent}, {"ITapiPort", IID_ITapiPort},
        {"CoZTK_ProtocolConverter", CLSID_CoZTK_ProtocolConverter}, {"CoZTK_TapiConverter", CLSID_CoZTK_TapiConverter},
        {"CoZTK_TCPProtocolConverter", CLSID_CoZTK_TCPProtocolConverter}, {"CoEnumMessages", CLSID_CoEnumMessages},
        {"PortBroker", CLSID_PortBroker}, {"PortMessage", CLSID_PortMessage},
    };
    for (size_t i = 0; i < ids.size(); ++i) {
        for (size_t j = i + 1; j < ids.size(); ++j) {
            EXPECT_FALSE(IsEqualGUID(ids[i].second, ids[j].second)) << ids[i].first << " and " << ids[j].first;
        }
    }
}

TEST(SlotLayoutTest, StackAndPortIdsAreSixteenBytes) { EXPECT_EQ(sizeof(ZTK_ID), 16u); }

}  // namespace
