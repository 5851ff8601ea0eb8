// What registration must leave in the registry, written out in full, and ways to read back what
// it did leave: as rows (key below the root, value name, text data; "" names the default value).
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

struct RegistryRow {
    std::string key;
    std::string name;
    std::string data;
    bool operator<(const RegistryRow& other) const {
        return std::tie(key, name, data) < std::tie(other.key, other.name, other.data);
    }
    bool operator==(const RegistryRow& other) const {
        return key == other.key && name == other.name && data == other.data;
    }
};
using RegistryRows = std::set<RegistryRow>;

struct RegisteredClass {
    const char* progId;
    const char* versionIndependentProgId;
    const char* description;
    const char* clsidText;  // as the registration writes it
};

inline const RegisteredClass kRegisteredClasses[] = {
    {"Velsa.ProtocolConverter.1", "Velsa.ProtocolConverter", "ProtocolConverter Class",
     "{A3F17C42-5D09-4E6B-8B21-7C94E0D1A5F3}"},
    {"Velsa.TapiConverter.1", "Velsa.TapiConverter", "TapiConverter Class", "{C4E9A153-6B7D-42ae-9D38-A5F60E71B2C9}"},
    {"Zanthrop.TCPProtocolConverter.1", "Zanthrop.TCPProtocolConverter", "TCPProtocolConverter Class",
     "{8F5A2D6E-0B3C-4917-8E4D-C2A1B9F07E63}"},
};

inline const char kLibraryIdText[] = "{5E2B9A70-C81D-4F36-9A4E-0B7D3C61E829}";

// The three keys below HKEY_CLASSES_ROOT that one class's script writes.
inline std::vector<std::string> ClassKeys(const RegisteredClass& c) {
    return {c.progId, c.versionIndependentProgId, std::string("CLSID\\") + c.clsidText};
}

inline RegistryRows ExpectedClassRows(const RegisteredClass& c, const std::string& modulePath) {
    const std::string classKey = std::string("CLSID\\") + c.clsidText;
    const std::string progId = c.progId;
    const std::string independent = c.versionIndependentProgId;
    return {
        {progId, "", c.description},
        {progId + "\\CLSID", "", c.clsidText},
        {independent, "", c.description},
        {independent + "\\CLSID", "", c.clsidText},
        {independent + "\\CurVer", "", progId},
        {classKey, "", c.description},
        {classKey + "\\ProgID", "", progId},
        {classKey + "\\VersionIndependentProgID", "", independent},
        {classKey + "\\InprocServer32", "", modulePath},
        {classKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {classKey + "\\TypeLib", "", kLibraryIdText},
    };
}

// The framework's values, below HKEY_LOCAL_MACHINE: (key without its trailing backslash).
inline const RegistryRow kFrameworkRows[] = {
    {"SOFTWARE\\Velsa\\Sorbanet", "Serial Handle", "ProtocolCallbackCallbackEvent"},
    {"SOFTWARE\\Velsa\\Kestrix\\COMPONENTS\\DeviceConfigurations\\LEGACY", "CLSID", "{A9E2B7D4-1F6C-4853-9C0A-6D3B8E5F2147}"},
    {"SOFTWARE\\Velsa\\Kestrix\\GROUPS\\Plumvane", "LEGACY", "KR7Stack"},
};

// Every text value of the key and everything below it, as rows with keys relative to root.
inline void ReadRows(HKEY root, const std::string& path, RegistryRows& rows) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD nameLength = sizeof(name);
        BYTE data[1024] = {};
        DWORD dataLength = sizeof(data) - 1;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        rows.insert({path, name, type == REG_SZ ? reinterpret_cast<const char*>(data) : "<not text>"});
    }
    std::vector<std::string> subKeys;
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD nameLength = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subKeys.emplace_back(name);
    }
    RegCloseKey(key);
    for (const std::string& subKey : subKeys) ReadRows(root, path + "\\" + subKey, rows);
}

inline RegistryRows ReadRows(HKEY root, const std::vector<std::string>& paths) {
    RegistryRows rows;
    for (const std::string& path : paths) ReadRows(root, path, rows);
    return rows;
}

inline bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}
