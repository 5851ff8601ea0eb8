// Self-registration, seen from outside: the module is copied into a folder whose path holds a
// single quote, registered and unregistered there, and created by ProgID through the component
// runtime as any client would. On Linux the registry is a private database per test.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ExpectedRegistration.h"
#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "interfaces/ZanthropIds.h"
#include "registry/TestRegistry.h"
#include "sim/SimObjects.h"
#include "support/ChildProcess.h"

#ifdef _WIN32
#include <oleauto.h>
#endif

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
const char kModuleFile[] = "Zanthrop.dll";
const char kSeparator = '\\';
#else
const char kModuleFile[] = "Zanthrop.so";
const char kSeparator = '/';
#endif

using EntryPoint = HRESULT(STDAPICALLTYPE*)();

std::string BinDirectory() {
    const std::string self = SiblingProgram("x");
    return self.substr(0, self.find_last_of("\\/") + 1);
}

std::string TempDirectory() {
#ifdef _WIN32
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, path);
    return path;
#else
    return "/tmp/";
#endif
}

// Everything registration writes, removed (the CLSID key itself stays).
void RemoveRegistration() {
    for (const RegisteredClass& c : kRegisteredClasses) {
        for (const std::string& key : ClassKeys(c)) SHDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
    }
    SHDeleteKeyA(HKEY_CLASSES_ROOT, (std::string("TypeLib\\") + kLibraryIdText).c_str());
    for (const RegistryRow& row : kFrameworkRows) SHDeleteKeyA(HKEY_LOCAL_MACHINE, row.key.c_str());
}

std::vector<std::string> AllClassKeys() {
    std::vector<std::string> keys;
    for (const RegisteredClass& c : kRegisteredClasses) {
        for (const std::string& key : ClassKeys(c)) keys.push_back(key);
    }
    return keys;
}

RegistryRows AllExpectedClassRows(const std::string& modulePath) {
    RegistryRows rows;
    for (const RegisteredClass& c : kRegisteredClasses) {
        for (const RegistryRow& row : ExpectedClassRows(c, modulePath)) rows.insert(row);
    }
    return rows;
}

class SelfRegistrationTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_directory = TempDirectory() + "zanthrop's module " + std::to_string(GetCurrentProcessId());
        std::error_code error;
        fs::create_directories(m_directory, error);
        ASSERT_FALSE(error) << error.message();
        m_modulePath = m_directory + kSeparator + kModuleFile;
        fs::copy_file(BinDirectory() + kModuleFile, m_modulePath, fs::copy_options::overwrite_existing, error);
        ASSERT_FALSE(error) << error.message();
        fs::copy_file(BinDirectory() + "Zanthrop.tlb", TypeLibPath(), fs::copy_options::overwrite_existing, error);
        ASSERT_FALSE(error) << error.message();
        RemoveRegistration();
    }
    void TearDown() override {
        RemoveRegistration();
        if (m_module != nullptr) FreeLibrary(m_module);
        CoUninitialize();
        std::error_code ignored;  // a module the runtime still holds cannot go on Windows
        fs::remove_all(m_directory, ignored);
    }

    std::string TypeLibPath() const { return m_directory + kSeparator + "Zanthrop.tlb"; }

    // The module's own entry point, the module loaded from the copy.
    EntryPoint Entry(const char* name) {
        if (m_module == nullptr) m_module = LoadLibraryA(m_modulePath.c_str());
        if (m_module == nullptr) return nullptr;
        return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    }
    HRESULT Register() {
        EntryPoint entry = Entry("DllRegisterServer");
        return entry != nullptr ? entry() : E_UNEXPECTED;
    }
    HRESULT Unregister() {
        EntryPoint entry = Entry("DllUnregisterServer");
        return entry != nullptr ? entry() : E_UNEXPECTED;
    }

    void ExpectFrameworkValues() {
        for (const RegistryRow& row : kFrameworkRows) {
            RegistryRows rows;
            ReadRows(HKEY_LOCAL_MACHINE, row.key, rows);
            EXPECT_EQ(rows, RegistryRows{row}) << row.key;
        }
    }
    void ExpectTypeLibRegistered() {
#ifdef _WIN32
        ComPtr<ITypeLib> typeLib;
        ASSERT_EQ(LoadRegTypeLib(LIBID_ZANTHROPLib, 1, 0, 0, typeLib.Put()), S_OK);
        BSTR path = nullptr;
        ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_ZANTHROPLib, 1, 0, 0, &path), S_OK);
        EXPECT_EQ(ToAnsi(path), m_modulePath);  // the module's own resource, not the .tlb beside it
        SysFreeString(path);
#else
        // No loader on Linux: the keys name the .tlb file beside the module.
        const std::string key = std::string("TypeLib\\") + kLibraryIdText;
        RegistryRows rows;
        ReadRows(HKEY_CLASSES_ROOT, key, rows);
        const RegistryRows expected = {
            {key + "\\1.0", "", "Zanthrop 1.0 Type Library"},
            {key + "\\1.0\\0\\win32", "", TypeLibPath()},
            {key + "\\1.0\\FLAGS", "", "0"},
            {key + "\\1.0\\HELPDIR", "", m_directory},
        };
        EXPECT_EQ(rows, expected);
#endif
    }
    void ExpectUnregistered() {
        EXPECT_EQ(ReadRows(HKEY_CLASSES_ROOT, AllClassKeys()), RegistryRows{});
        for (const std::string& key : AllClassKeys()) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLibraryIdText));
        ExpectFrameworkValues();
    }

    TestRegistry m_registry;  // Linux: a database of the test's own
    std::string m_directory;
    std::string m_modulePath;
    HMODULE m_module = nullptr;
};

TEST_F(SelfRegistrationTest, RegistersEveryClassTheTypeLibraryAndTheFrameworkValuesOnAFreshMachine) {
    for (const RegistryRow& row : kFrameworkRows) ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, row.key));
    ASSERT_EQ(Register(), S_OK);
    // The path under InprocServer32 is the real one: the quote is doubled in the script text only.
    EXPECT_EQ(ReadRows(HKEY_CLASSES_ROOT, AllClassKeys()), AllExpectedClassRows(m_modulePath));
    ExpectFrameworkValues();
    ExpectTypeLibRegistered();
}

TEST_F(SelfRegistrationTest, RegisteringAgainWritesTheSameEntriesAfresh) {
    ASSERT_EQ(Register(), S_OK);
    HKEY stale = nullptr;
    const std::string staleKey = std::string("CLSID\\") + kRegisteredClasses[0].clsidText + "\\Stale";
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, staleKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &stale, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(stale);
    ASSERT_EQ(Register(), S_OK);
    EXPECT_EQ(ReadRows(HKEY_CLASSES_ROOT, AllClassKeys()), AllExpectedClassRows(m_modulePath));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, staleKey));
    ExpectFrameworkValues();
    ExpectTypeLibRegistered();
}

TEST_F(SelfRegistrationTest, UnregisteringRemovesClassesAndTypeLibraryButKeepsClsidAndFrameworkValues) {
    ASSERT_EQ(Register(), S_OK);
    EXPECT_EQ(Unregister(), S_OK);
    ExpectUnregistered();
}

TEST_F(SelfRegistrationTest, UnregisteringWhatWasNeverRegisteredSucceeds) {
    EXPECT_EQ(Unregister(), S_OK);
    EXPECT_EQ(ReadRows(HKEY_CLASSES_ROOT, AllClassKeys()), RegistryRows{});
}

#ifdef _WIN32
// Installers look for this entry before they call DllRegisterServer.
TEST(ModuleVersionTest, TheVersionInformationAnnouncesSelfRegistration) {
    const std::string module = BinDirectory() + kModuleFile;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(module.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(module.c_str(), 0, size, info.data()));
    void* value = nullptr;
    UINT length = 0;
    EXPECT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\OLESelfRegister", &value, &length));
    EXPECT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\OriginalFilename", &value, &length));
    EXPECT_STREQ(static_cast<const char*>(value), "Zanthrop.DLL");
}
#else
// On Windows the type library travels inside the module; on Linux it is the file beside it.
TEST_F(SelfRegistrationTest, WithoutItsTypeLibraryRegistrationFailsAfterTheClasses) {
    fs::remove(TypeLibPath());
    EXPECT_EQ(Register(), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(ReadRows(HKEY_CLASSES_ROOT, AllClassKeys()), AllExpectedClassRows(m_modulePath));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLibraryIdText));
}
#endif

int RunRegistrationTool(const std::vector<std::string>& arguments) { return ChildProcess(RegistrationTool(), arguments).Wait(); }

#ifdef _WIN32
// The rows that "reg query KEY /s" prints.
RegistryRows RegQueryRows(const std::string& key, const std::string& outputFile) {
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    ChildProcess reg(std::string(system) + "\\reg.exe", {"query", key, "/s"}, outputFile);
    EXPECT_EQ(reg.Wait(), 0) << key;
    std::ifstream file(outputFile);
    RegistryRows rows;
    std::string line;
    std::string current;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("HKEY_", 0) == 0) {
            current = line.substr(line.find('\\') + 1);
        } else if (line.rfind("    ", 0) == 0) {
            const size_t type = line.find("    REG_SZ    ");
            if (type == std::string::npos) {
                rows.insert({current, line, "<unparsed>"});
                continue;
            }
            std::string name = line.substr(4, type - 4);
            if (name == "(Default)") name.clear();
            rows.insert({current, name, line.substr(type + 14)});
        }
    }
    return rows;
}
#endif

TEST_F(SelfRegistrationTest, AClientCreatesEveryClassByProgIdAfterTheRegistrationTool) {
    SimFramework framework;  // the broker the TAPI converter asks for
    ASSERT_EQ(RunRegistrationTool({"/s", m_modulePath}), 0);

#ifdef _WIN32
    const std::string output = m_directory + "\\reg-query.txt";
    RegistryRows shown;
    for (const std::string& key : AllClassKeys()) {
        for (const RegistryRow& row : RegQueryRows("HKCR\\" + key, output)) shown.insert(row);
    }
    EXPECT_EQ(shown, AllExpectedClassRows(m_modulePath));
    for (const RegistryRow& row : kFrameworkRows) {
        EXPECT_EQ(RegQueryRows("HKLM\\" + row.key, output), RegistryRows{row});
    }
    ComPtr<ITypeLib> typeLib;
    EXPECT_EQ(LoadRegTypeLib(LIBID_ZANTHROPLib, 1, 0, 0, typeLib.Put()), S_OK);
    typeLib.Reset();
#endif

    const struct {
        const char* progId;
        const CLSID* clsid;
        const IID* iid;
    } classes[] = {
        {"Velsa.ProtocolConverter.1", &CLSID_CoZTK_ProtocolConverter, &IID_IZTK_ProtocolConverter},
        {"Velsa.ProtocolConverter", &CLSID_CoZTK_ProtocolConverter, &IID_IZTK_ProtocolConverter},
        {"Velsa.TapiConverter.1", &CLSID_CoZTK_TapiConverter, &IID_IZTK_TapiConverter},
        {"Velsa.TapiConverter", &CLSID_CoZTK_TapiConverter, &IID_IZTK_TapiConverter},
        {"Zanthrop.TCPProtocolConverter.1", &CLSID_CoZTK_TCPProtocolConverter, &IID_IZTK_ProtocolConverter},
        {"Zanthrop.TCPProtocolConverter", &CLSID_CoZTK_TCPProtocolConverter, &IID_IZTK_ProtocolConverter},
    };
    std::vector<ComPtr<IUnknown>> objects;
    for (const auto& c : classes) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(ToWide(c.progId).c_str(), &clsid), S_OK) << c.progId;
        EXPECT_TRUE(IsEqualCLSID(clsid, *c.clsid)) << c.progId;
        ComPtr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, *c.iid, object.PutVoid()), S_OK) << c.progId;
        objects.push_back(object);
    }
    CLSID unknown{};
    EXPECT_EQ(CLSIDFromProgID(ToWide("Velsa.NoSuchClass").c_str(), &unknown), CO_E_CLASSSTRING);

    // Used: a protocol converter hands out its (empty) queue.
    ComPtr<IZTK_ProtocolConverter> converter;
    ASSERT_EQ(objects[0].As(&converter), S_OK);
    ComPtr<IEnumMessages> messages;
    LONG count = -1;
    EXPECT_EQ(converter->GetReceiveData(0, &count, messages.Put()), S_OK);
    EXPECT_EQ(count, 0);
    messages.Reset();

    // Marshalled to another apartment, a protocol converter arrives as the very same pointer.
    ComPtr<IGlobalInterfaceTable> table;
    ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                               table.PutVoid()),
              S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(table->RegisterInterfaceInGlobal(converter.Get(), IID_IZTK_ProtocolConverter, &cookie), S_OK);
    void* arrived = nullptr;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ComPtr<IZTK_ProtocolConverter> there;
        if (SUCCEEDED(table->GetInterfaceFromGlobal(cookie, IID_IZTK_ProtocolConverter, there.PutVoid()))) arrived = there.Get();
        there.Reset();
        CoUninitialize();
    }).join();
    EXPECT_EQ(arrived, static_cast<void*>(converter.Get()));
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
    table.Reset();

    // The module, as the runtime loaded it, tells whether it may go.
    HMODULE module = LoadLibraryA(m_modulePath.c_str());
    ASSERT_NE(module, nullptr);
    auto canUnloadNow = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    converter.Reset();
    objects.clear();
    EXPECT_EQ(canUnloadNow(), S_OK);
    FreeLibrary(module);

    ASSERT_EQ(RunRegistrationTool({"/u", "/s", m_modulePath}), 0);
    ExpectUnregistered();
    ComPtr<IUnknown> gone;
    EXPECT_EQ(CoCreateInstance(CLSID_CoZTK_ProtocolConverter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, gone.PutVoid()),
              REGDB_E_CLASSNOTREG);
}

}  // namespace
