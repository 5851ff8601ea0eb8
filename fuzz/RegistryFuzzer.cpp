// Registry values of any type, size and bytes, written with RegSetValueExA into a private
// registry (a database of this process's own, named by ZANTHROP_REGISTRY), then read back through
// CRegistryStore: ReadString, ReadDword, QueryKeyInfo, EnumValue with caller buffers of any
// capacity, and the sub-key listings.
#include <fuzzer/FuzzedDataProvider.h>

#include <shlwapi.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "registry/CRegistryStore.h"

namespace {

const char kPath[] = "Software\\ZanthropFuzz";

void Require(bool condition) {
    if (!condition) std::abort();
}

std::string& Database() {
    static std::string* path = new std::string("/tmp/zanthrop-fuzz-registry-" + std::to_string(getpid()) + ".db");
    return *path;
}

void RemoveDatabase() {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((Database() + suffix).c_str());
}

void UsePrivateRegistry() {
    static bool done = [] {
        RemoveDatabase();
        setenv("ZANTHROP_REGISTRY", Database().c_str(), 1);
        std::atexit(RemoveDatabase);
        return true;
    }();
    (void)done;
}

// Reads every value of the key through EnumValue with buffers of the input's capacities.
void EnumerateValues(FuzzedDataProvider& input, CRegistryStore& store) {
    const DWORD total = store.QueryKeyInfo(HKEY_CURRENT_USER, kPath);
    Require(total == store.SubKeyCount() + store.ValueCount());
    for (DWORD index = 0; index <= store.ValueCount() + 1; ++index) {
        std::vector<char> name(input.ConsumeIntegralInRange<size_t>(1, 300));
        std::vector<BYTE> data(input.ConsumeIntegralInRange<size_t>(1, 70000));
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (store.EnumValue(HKEY_CURRENT_USER, kPath, index, name.data(), &nameLength, &type, data.data(), &dataLength)) {
            Require(index >= 1 && index <= store.ValueCount());
            Require(nameLength < name.size() && name[nameLength] == 0);
            Require(dataLength <= data.size());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    UsePrivateRegistry();
    FuzzedDataProvider input(bytes, size);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        std::abort();
    }
    std::vector<std::string> names;
    const int values = input.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < values; ++i) {
        const std::string name = input.ConsumeRandomLengthString(300);
        const DWORD type = input.ConsumeBool() ? input.ConsumeIntegralInRange<DWORD>(0, 11) : input.ConsumeIntegral<DWORD>();
        const std::vector<BYTE> data = input.ConsumeBytes<BYTE>(input.ConsumeIntegralInRange<size_t>(0, 66000));
        // The stated size may be less than the buffer, never more (a caller's promise).
        const DWORD stated = input.ConsumeIntegralInRange<DWORD>(0, static_cast<DWORD>(data.size()));
        RegSetValueExA(key, name.c_str(), 0, type, data.empty() ? nullptr : data.data(), stated);
        names.push_back(name);
    }
    if (input.ConsumeBool()) {
        HKEY sub = nullptr;
        const std::string subName = input.ConsumeRandomLengthString(300);
        if (RegCreateKeyExA(key, subName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr) == ERROR_SUCCESS) {
            RegCloseKey(sub);
        }
    }
    RegCloseKey(key);

    CRegistryStore store;
    for (const std::string& name : names) {
        const std::string text = store.ReadString(HKEY_CURRENT_USER, kPath, name, "default");
        Require(text.size() <= 500);
        store.ReadDword(HKEY_CURRENT_USER, kPath, name, 42);
        store.SetDefaultDword(HKEY_CURRENT_USER, kPath, name, 7);
    }
    EnumerateValues(input, store);
    char subKey[256];
    for (DWORD index = 0; index <= store.SubKeyCount() + 1; ++index) {
        if (store.GetSubKeyName(HKEY_CURRENT_USER, kPath, index, subKey)) Require(std::strlen(subKey) < sizeof(subKey));
        std::string text;
        store.GetSubKeyNameAt(HKEY_CURRENT_USER, index, kPath, text);
    }
    std::vector<std::string> subKeys;
    store.ListSubKeys(HKEY_CURRENT_USER, kPath, subKeys);
    Require(store.DeleteKey(HKEY_CURRENT_USER, kPath));
    return 0;
}
