// The compiled type library agrees with the C++ declarations: identifiers, bases, help strings,
// method names, slots and parameter counts, and the coclasses with their default interfaces.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <map>
#include <string>

#include "InterfaceCatalog.h"

namespace {

std::string Narrow(const BSTR text) {
    std::string out;
    if (text != nullptr) {
        for (const OLECHAR* p = text; *p != 0; ++p) out.push_back(static_cast<char>(*p));
    }
    return out;
}

std::wstring TypeLibraryPath() {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Zanthrop.tlb";
}

struct Documentation {
    std::string name;
    std::string helpString;
};

Documentation Document(ITypeInfo* info, MEMBERID member) {
    BSTR name = nullptr;
    BSTR help = nullptr;
    Documentation doc;
    if (SUCCEEDED(info->GetDocumentation(member, &name, &help, nullptr, nullptr))) {
        doc = {Narrow(name), Narrow(help)};
    }
    SysFreeString(name);
    SysFreeString(help);
    return doc;
}

// Name of the type that implementation slot `index` refers to (base interface or coclass member).
std::string ImplementedTypeName(ITypeInfo* info, UINT index) {
    HREFTYPE ref = 0;
    ITypeInfo* refInfo = nullptr;
    std::string name;
    if (SUCCEEDED(info->GetRefTypeOfImplType(index, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, &refInfo))) {
        name = Document(refInfo, MEMBERID_NIL).name;
        refInfo->Release();
    }
    return name;
}

class TypeLibraryTest : public testing::Test {
protected:
    void SetUp() override {
        HRESULT hr = LoadTypeLibEx(TypeLibraryPath().c_str(), REGKIND_NONE, &m_lib);
        ASSERT_EQ(hr, S_OK) << "cannot load Zanthrop.tlb beside the test program";
    }
    void TearDown() override {
        if (m_lib != nullptr) m_lib->Release();
    }

    ITypeLib* m_lib = nullptr;
};

TEST_F(TypeLibraryTest, LibraryAttributes) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(m_lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_ZANTHROPLib));
    EXPECT_EQ(attr->wMajorVerNum, kTypeLibMajorVersion);
    EXPECT_EQ(attr->wMinorVerNum, kTypeLibMinorVersion);
    m_lib->ReleaseTLibAttr(attr);

    BSTR name = nullptr;
    BSTR help = nullptr;
    ASSERT_EQ(m_lib->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Narrow(name), "ZANTHROPLib");
    EXPECT_EQ(Narrow(help), "Zanthrop 1.0 Type Library");
    SysFreeString(name);
    SysFreeString(help);
}

TEST_F(TypeLibraryTest, HoldsExactlyTheDeclaredTypes) {
    std::map<std::string, TYPEKIND> kinds;
    for (UINT i = 0; i < m_lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ASSERT_EQ(m_lib->GetTypeInfoType(i, &kind), S_OK);
        BSTR name = nullptr;
        ASSERT_EQ(m_lib->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr), S_OK);
        kinds[Narrow(name)] = kind;
        SysFreeString(name);
    }
    std::map<std::string, TYPEKIND> expected;
    for (const InterfaceEntry& entry : PublicInterfaces()) expected[entry.name] = TKIND_INTERFACE;
    for (const CoclassEntry& entry : Coclasses()) expected[entry.name] = TKIND_COCLASS;
    EXPECT_EQ(kinds, expected);
}

TEST_F(TypeLibraryTest, InterfacesMatchTheDeclarations) {
    const std::map<std::string, std::string> helpStrings = {
        {"IZTK_ProtocolConverter", "IZTK_SerialPortConverter Interface"},
        {"IZanthropBase", "IEnumMessages Interface"},
        {"IZTK_DeviceConfig", "IZTK_DeviceConfig interface"},
        {"IZTK_ItemAccessor", "IZTK_ItemAccessor Interface"},
        {"IEnumMessages", "IEnumMessages Interface"},
        {"IZTK_TapiConverter", "IZTK_TapiConverter Interface"},
        {"IZTK_EnumDevices", "IZTK_EnumDevices Interface"},
        {"IZTK_EnumCountries", "IZTK_EnumCountries Interface"},
    };
    for (const InterfaceEntry& entry : PublicInterfaces()) {
        SCOPED_TRACE(entry.name);
        ITypeInfo* info = nullptr;
        ASSERT_EQ(m_lib->GetTypeInfoOfGuid(entry.iid, &info), S_OK);

        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
        EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE), 0);
        EXPECT_EQ(attr->cImplTypes, 1);
        const int functionCount = attr->cFuncs;
        info->ReleaseTypeAttr(attr);

        const Documentation doc = Document(info, MEMBERID_NIL);
        EXPECT_EQ(doc.name, entry.name);
        EXPECT_EQ(doc.helpString, helpStrings.at(entry.name));
        EXPECT_EQ(ImplementedTypeName(info, 0), entry.base);

        ASSERT_EQ(functionCount, static_cast<int>(entry.methods.size()));
        for (int i = 0; i < functionCount; ++i) {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(info->GetFuncDesc(static_cast<UINT>(i), &func), S_OK);
            const MethodEntry& method = entry.methods[static_cast<size_t>(i)];
            EXPECT_EQ(Document(info, func->memid).name, method.name);
            EXPECT_EQ(func->oVft / static_cast<int>(sizeof(void*)), method.slot) << method.name;
            EXPECT_EQ(func->cParams, method.paramCount) << method.name;
            info->ReleaseFuncDesc(func);
        }
        info->Release();
    }
}

TEST_F(TypeLibraryTest, CoclassesNameTheirDefaultInterface) {
    for (const CoclassEntry& entry : Coclasses()) {
        SCOPED_TRACE(entry.name);
        ITypeInfo* info = nullptr;
        ASSERT_EQ(m_lib->GetTypeInfoOfGuid(entry.clsid, &info), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->typekind, TKIND_COCLASS);
        ASSERT_EQ(attr->cImplTypes, 1);
        info->ReleaseTypeAttr(attr);

        INT flags = 0;
        ASSERT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
        EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
        EXPECT_EQ(ImplementedTypeName(info, 0), entry.defaultInterface);

        const Documentation doc = Document(info, MEMBERID_NIL);
        EXPECT_EQ(doc.name, entry.name);
        EXPECT_EQ(doc.helpString, entry.helpString);
        info->Release();
    }
}

}  // namespace
