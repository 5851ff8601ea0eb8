// The compiled type library agrees with the C++ declarations and the contract: identifiers, bases,
// help strings, method names, slots, parameter names, directions and types, index order, and the
// coclasses with their default interfaces.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "InterfaceCatalog.h"

namespace {

std::string Narrow(const BSTR text) {
    std::string out;
    if (text != nullptr) {
        for (const OLECHAR* p = text; *p != 0; ++p) out.push_back(static_cast<char>(*p));
    }
    return out;
}

// Beside the test program (the build's bin/), or else under ZANTHROP_BUILD_DIR.
std::wstring TypeLibraryPath() {
    wchar_t exe[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        std::wstring path(exe, length);
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"Zanthrop.tlb";
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
    }
    wchar_t buildDir[MAX_PATH] = {};
    const DWORD dirLength = GetEnvironmentVariableW(L"ZANTHROP_BUILD_DIR", buildDir, MAX_PATH);
    if (dirLength == 0 || dirLength >= MAX_PATH) return L"Zanthrop.tlb";
    return std::wstring(buildDir, dirLength) + L"/bin/Zanthrop.tlb";
}

// A parameter type in the spelling of the contract.
std::string TypeText(ITypeInfo* info, const TYPEDESC& desc) {
    switch (desc.vt) {
    case VT_I4: return "LONG";
    case VT_UI1: return "BYTE";
    case VT_UI2: return "USHORT";
    case VT_LPWSTR: return "LPWSTR";
    case VT_UNKNOWN: return "IUnknown*";
    case VT_PTR: return TypeText(info, *desc.lptdesc) + "*";
    case VT_USERDEFINED: {
        ITypeInfo* refInfo = nullptr;
        if (FAILED(info->GetRefTypeInfo(desc.hreftype, &refInfo))) return "?";
        BSTR name = nullptr;
        refInfo->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        std::string text = Narrow(name);
        SysFreeString(name);
        refInfo->Release();
        return text;
    }
    default: return "vt" + std::to_string(desc.vt);
    }
}

std::string DirectionText(USHORT flags) {
    switch (flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT)) {
    case 0: return "";
    case PARAMFLAG_FIN: return "in";
    case PARAMFLAG_FOUT: return "out";
    default: return "in, out";
    }
}

struct Parameter {
    std::string direction;
    std::string type;
    std::string name;
    bool operator==(const Parameter& other) const {
        return direction == other.direction && type == other.type && name == other.name;
    }
};

void PrintTo(const Parameter& param, std::ostream* out) {
    *out << "[" << param.direction << "] " << param.type << " " << param.name;
}

std::vector<Parameter> Parameters(ITypeInfo* info, const FUNCDESC& func) {
    BSTR names[32] = {};
    UINT count = 0;
    info->GetNames(func.memid, names, 32, &count);
    std::vector<Parameter> params;
    for (SHORT i = 0; i < func.cParams; ++i) {
        const ELEMDESC& elem = func.lprgelemdescParam[i];
        const UINT nameIndex = static_cast<UINT>(i) + 1;
        params.push_back({DirectionText(elem.paramdesc.wParamFlags), TypeText(info, elem.tdesc),
                          nameIndex < count ? Narrow(names[nameIndex]) : std::string()});
    }
    for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
    return params;
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
    EXPECT_EQ(attr->syskind, SYS_WIN32);  // the product's library, also read by the 64-bit tests
    EXPECT_EQ(attr->lcid, 0u);
    m_lib->ReleaseTLibAttr(attr);

    BSTR name = nullptr;
    BSTR help = nullptr;
    ASSERT_EQ(m_lib->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Narrow(name), "ZANTHROPLib");
    EXPECT_EQ(Narrow(help), kTypeLibHelpString);
    SysFreeString(name);
    SysFreeString(help);
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
        EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION), 0);
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
            SCOPED_TRACE(method.name);
            EXPECT_EQ(Document(info, func->memid).name, method.name);
            EXPECT_EQ(func->funckind, FUNC_PUREVIRTUAL);
            EXPECT_EQ(func->callconv, CC_STDCALL);
            EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
            EXPECT_EQ(func->oVft / static_cast<int>(sizeof(void*)), method.slot);
            EXPECT_EQ(static_cast<size_t>(func->cParams), method.paramTypes.size());
            info->ReleaseFuncDesc(func);
        }
        info->Release();
    }
}

// Names, directions and types of every parameter, as the public contract gives them.
TEST_F(TypeLibraryTest, ParametersFollowTheContract) {
    const std::map<std::string, IID> iids = [] {
        std::map<std::string, IID> map;
        for (const InterfaceEntry& entry : PublicInterfaces()) map[entry.name] = entry.iid;
        return map;
    }();
    for (const OperationContract& operation : Contract()) {
        auto iid = iids.find(operation.interfaceName);
        if (iid == iids.end()) continue;  // a framework interface: not in the library
        SCOPED_TRACE(std::string(operation.interfaceName) + "::" + operation.name);
        ITypeInfo* info = nullptr;
        ASSERT_EQ(m_lib->GetTypeInfoOfGuid(iid->second, &info), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        const int functionCount = attr->cFuncs;
        info->ReleaseTypeAttr(attr);

        bool found = false;
        for (int i = 0; i < functionCount && !found; ++i) {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(info->GetFuncDesc(static_cast<UINT>(i), &func), S_OK);
            if (Document(info, func->memid).name == operation.name) {
                found = true;
                EXPECT_EQ(func->oVft / static_cast<int>(sizeof(void*)), operation.slot);
                std::vector<Parameter> expected;
                for (const ParamContract& param : operation.params) {
                    expected.push_back({param.direction, param.type, param.name});
                }
                EXPECT_EQ(Parameters(info, *func), expected);
            }
            info->ReleaseFuncDesc(func);
        }
        EXPECT_TRUE(found);
        info->Release();
    }
}

// widl writes a base interface, and the interfaces its methods refer to, before the interface
// that needs them, so the library's index order differs from the order of the source (which
// lists IZTK_ProtocolConverter first). Clients look types up by GUID or name; the order is kept
// here so that a change to it is noticed.
TEST_F(TypeLibraryTest, IndexOrder) {
    std::vector<std::string> order;
    for (UINT i = 0; i < m_lib->GetTypeInfoCount(); ++i) {
        BSTR name = nullptr;
        ASSERT_EQ(m_lib->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr), S_OK);
        order.push_back(Narrow(name));
        SysFreeString(name);
    }
    const std::vector<std::string> expected = {
        "IZanthropBase",       "IZTK_DeviceConfig",  "IZTK_ItemAccessor",      "IZTK_ProtocolConverter",
        "IEnumMessages",       "IZTK_TapiConverter", "IZTK_EnumDevices",       "IZTK_EnumCountries",
        "CoZTK_ProtocolConverter", "CoEnumMessages", "CoZTK_TapiConverter", "CoZTK_TCPProtocolConverter",
    };
    EXPECT_EQ(order, expected);
}

TEST_F(TypeLibraryTest, CoclassesNameTheirDefaultInterface) {
    for (const CoclassEntry& entry : Coclasses()) {
        SCOPED_TRACE(entry.name);
        ITypeInfo* info = nullptr;
        ASSERT_EQ(m_lib->GetTypeInfoOfGuid(entry.clsid, &info), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->typekind, TKIND_COCLASS);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
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
