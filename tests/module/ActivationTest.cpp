// Activation by class identifier and ProgID through the registry, where what the registry names
// is wrong: the component runtime's answers (Windows's under Wine; the platform layer's on Linux).
#include <gtest/gtest.h>
#include <shlwapi.h>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "registry/TestRegistry.h"
#include "support/ChildProcess.h"

namespace {

const char kClassKey[] = "CLSID\\{6A1D9E40-2B7C-4F35-8D14-9E0C3B5A7F21}";
const CLSID kClass = {0x6A1D9E40, 0x2B7C, 0x4F35, {0x8D, 0x14, 0x9E, 0x0C, 0x3B, 0x5A, 0x7F, 0x21}};
const char kProgId[] = "Zanthrop.ActivationTest.1";

class ActivationTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        Remove();
    }
    void TearDown() override {
        Remove();
        CoUninitialize();
    }
    static void Remove() {
        SHDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey);
        SHDeleteKeyA(HKEY_CLASSES_ROOT, kProgId);
    }
    static void WriteDefault(const std::string& key, const std::string& text) {
        HKEY handle = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
        RegCloseKey(handle);
    }
    static HRESULT Create() {
        ComPtr<IUnknown> object;
        return CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.PutVoid());
    }

    TestRegistry m_registry;  // Linux: a database of the test's own
};

TEST_F(ActivationTest, WhatTheRegistryNamesDecidesTheFailure) {
    EXPECT_EQ(Create(), REGDB_E_CLASSNOTREG);  // not registered at all

    WriteDefault(std::string(kClassKey) + "\\InprocServer32", SiblingProgram("no-such-module") + ".dll");
    EXPECT_EQ(Create(), E_ACCESSDENIED);  // Wine's answer; Windows gives HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)

#ifdef _WIN32
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string withoutEntryPoint = std::string(system) + "\\version.dll";
#else
    const std::string withoutEntryPoint = SiblingProgram("x").substr(0, SiblingProgram("x").size() - 1) + "libpal.so";
#endif
    WriteDefault(std::string(kClassKey) + "\\InprocServer32", withoutEntryPoint);
    EXPECT_EQ(Create(), CO_E_DLLNOTFOUND);
}

TEST_F(ActivationTest, ProgIdsResolveOnlyToValidClassIdentifiers) {
    CLSID clsid = kClass;
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromProgID(ToWide(kProgId).c_str(), nullptr), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromProgID(ToWide(kProgId).c_str(), &clsid), CO_E_CLASSSTRING);  // not registered
    EXPECT_TRUE(IsEqualCLSID(clsid, GUID{}));

    WriteDefault(std::string(kProgId) + "\\CLSID", "not a class identifier");
    clsid = kClass;
    EXPECT_EQ(CLSIDFromProgID(ToWide(kProgId).c_str(), &clsid), CO_E_CLASSSTRING);

    WriteDefault(std::string(kProgId) + "\\CLSID", "{6a1d9e40-2b7c-4f35-8d14-9e0c3b5a7f21}");  // any case
    EXPECT_EQ(CLSIDFromProgID(ToWide(kProgId).c_str(), &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kClass));
}

}  // namespace
