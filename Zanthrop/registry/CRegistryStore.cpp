#include "registry/CRegistryStore.h"

#include <shlwapi.h>

#include <cstring>

namespace {

constexpr DWORD kStringBufferSize = 500;
constexpr DWORD kNameBufferSize = 256;
const char kSettingDefaultPrefix[] = "Error: Setting default value reason: ";

void TrimOneBackslash(std::string& path) {
    if (!path.empty() && path.back() == '\\') path.pop_back();
}

// A key opened for the length of one operation.
class ScopedKey {
public:
    ~ScopedKey() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    HKEY* Put() { return &m_key; }
    HKEY Get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }

private:
    HKEY m_key = nullptr;
};

}  // namespace

void CRegistryStore::SetError(const std::string& prefix, LONG status) {
    char* message = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(status), 0x0400, reinterpret_cast<LPSTR>(&message), 0,
                                        nullptr);
    m_status = -1;
    m_errorText = prefix + (length != 0 && message != nullptr ? std::string(message, length) : std::string());
    if (message != nullptr) LocalFree(message);
}

void CRegistryStore::SetOpenError(const std::string& path, LONG status) {
    SetError("Error: Opening registry key '" + path + "' reason: ", status);
}

void CRegistryStore::SetIndexError(const char* text) {
    m_status = -1;
    m_errorText = text;
}

bool CRegistryStore::WriteDefault(HKEY root, const std::string& path, const std::string& name, DWORD type,
                                  const BYTE* data, DWORD size) {
    ScopedKey key;
    LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, key.Put());
    if (key) status = RegSetValueExA(key.Get(), name.c_str(), 0, type, data, size);
    if (status != ERROR_SUCCESS) {
        SetError(kSettingDefaultPrefix, status);
        return false;
    }
    return true;
}

std::string CRegistryStore::ReadString(HKEY root, std::string path, std::string name, std::string defaultText) {
    TrimOneBackslash(path);
    ScopedKey key;
    const LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put());
    if (!key) {
        SetOpenError(path, status);
        return std::string();
    }
    char buffer[kStringBufferSize] = {};
    DWORD size = kStringBufferSize;
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS) {
        return std::string(buffer, strnlen(buffer, kStringBufferSize));
    }
    const bool written = WriteDefault(root, path, name, REG_SZ, reinterpret_cast<const BYTE*>(defaultText.c_str()),
                                      static_cast<DWORD>(defaultText.size() + 1));
    return written ? defaultText : std::string();
}

bool CRegistryStore::WriteString(HKEY root, std::string path, std::string name, std::string data) {
    ScopedKey key;
    const LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    if (!key) {
        SetOpenError(path, status);
        return false;
    }
    if (name.empty() && data.empty()) return true;
    const LONG written = RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                        static_cast<DWORD>(data.size() + 1));
    if (written != ERROR_SUCCESS) {
        SetError(kSettingDefaultPrefix, written);
        return false;
    }
    return true;
}

DWORD CRegistryStore::ReadDword(HKEY root, std::string path, std::string name, DWORD defaultValue) {
    TrimOneBackslash(path);
    ScopedKey key;
    const LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put());
    if (!key) {
        SetOpenError(path, status);
        return 0;
    }
    BYTE buffer[4] = {};
    DWORD size = sizeof(buffer);
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr, buffer, &size) == ERROR_SUCCESS) {
        DWORD value = 0;
        std::memcpy(&value, buffer, sizeof(value));
        return value;
    }
    const bool written = WriteDefault(root, path, name, REG_DWORD, reinterpret_cast<const BYTE*>(&defaultValue),
                                      sizeof(defaultValue));
    return written ? defaultValue : 0;
}

bool CRegistryStore::SetDefaultDword(HKEY root, std::string path, std::string name, DWORD value) {
    ScopedKey key;
    const LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    if (!key) {
        SetOpenError(path, status);
        return false;
    }
    BYTE buffer[4] = {};
    DWORD size = sizeof(buffer);
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr, buffer, &size) == ERROR_SUCCESS) return true;
    const LONG written = RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                        sizeof(value));
    if (written != ERROR_SUCCESS) {
        SetError(kSettingDefaultPrefix, written);
        return false;
    }
    return true;
}

bool CRegistryStore::KeyExists(HKEY root, std::string path) {
    ScopedKey key;
    RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put());
    return static_cast<bool>(key);
}

DWORD CRegistryStore::QueryKeyInfo(HKEY root, std::string path) {
    ScopedKey key;
    RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put());
    if (!key) return 0;
    char className[kNameBufferSize] = {};
    DWORD classLength = kNameBufferSize;
    DWORD subKeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyA(key.Get(), className, &classLength, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        className[0] = 0;
        subKeys = 0;
        values = 0;
    }
    m_subKeyCount = subKeys;
    m_valueCount = values;
    m_className = className;
    return subKeys + values;
}

bool CRegistryStore::GetSubKeyName(HKEY root, std::string path, DWORD index, char* buffer) {
    if (buffer == nullptr) return false;  // nowhere to copy the name to
    QueryKeyInfo(root, path);
    if (index < 1 || index > m_subKeyCount) {
        SetIndexError("Index out of range.  Valid range: 1 - [Number of sub keys]");
        return false;
    }
    ScopedKey key;
    RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put());
    if (!key) return false;
    char name[kNameBufferSize] = {};
    DWORD length = kNameBufferSize;
    if (RegEnumKeyExA(key.Get(), index - 1, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    std::memcpy(buffer, name, length + 1);
    return true;
}

bool CRegistryStore::EnumValue(HKEY root, std::string path, DWORD index, char* name, DWORD* nameLength, DWORD* type,
                               BYTE* data, DWORD* dataLength) {
    QueryKeyInfo(root, path);
    if (index < 1 || index > m_valueCount) {
        SetIndexError("Index out of range.  Valid range: 1 - [Number of key values]");
        return false;
    }
    ScopedKey key;
    RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put());
    if (!key) return false;
    return RegEnumValueA(key.Get(), index - 1, name, nameLength, nullptr, type, data, dataLength) == ERROR_SUCCESS;
}

bool CRegistryStore::GetSubKeyNameAt(HKEY root, DWORD index, std::string path, std::string& text) {
    ScopedKey key;
    RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put());
    if (!key) return false;
    char name[kNameBufferSize] = {};
    DWORD length = kNameBufferSize;
    if (RegEnumKeyExA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        text.assign(name, length);
    }
    return true;
}

bool CRegistryStore::ListSubKeys(HKEY root, std::string path, std::vector<std::string>& names) {
    ScopedKey key;
    RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put());
    if (!key) return false;
    for (DWORD index = 0;; ++index) {
        char name[kNameBufferSize] = {};
        DWORD length = kNameBufferSize;
        if (RegEnumKeyExA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return true;
}

bool CRegistryStore::DeleteKey(HKEY root, std::string path) {
    // An empty path (or one of backslashes only) names the root itself: deleting "its subtree"
    // would empty a whole hive, which no caller means.
    if (path.find_first_not_of('\\') == std::string::npos) {
        SetError("Error: Deleting registry key '" + path + "' reason: ", ERROR_INVALID_PARAMETER);
        return false;
    }
    return SHDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
}

bool CRegistryStore::DeleteValue(HKEY root, std::string path, std::string name) {
    ScopedKey key;
    const LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, key.Put());
    if (!key) {
        SetOpenError(path, status);
        return false;
    }
    return RegDeleteValueA(key.Get(), name.c_str()) == ERROR_SUCCESS;
}
