#include "module/Registrar.h"

#include <shlwapi.h>

namespace registration {

namespace {

// An open registry key, closed with its scope.
class Key {
public:
    Key() = default;
    ~Key() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* Put() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

HRESULT FromStatus(LONG status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

HRESULT SetText(HKEY key, const char* name, const std::string& data) {
    return FromStatus(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                     static_cast<DWORD>(data.size() + 1)));
}

HRESULT RegisterKey(HKEY parent, const ScriptKey& scriptKey) {
    if (scriptKey.removal == Removal::ForceRemove) {
        const HRESULT hr = DeleteKeyTree(parent, scriptKey.name);
        if (FAILED(hr)) return hr;
    }
    Key key;
    HRESULT hr = FromStatus(RegCreateKeyExA(parent, scriptKey.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
    if (FAILED(hr)) return hr;
    if (scriptKey.hasDefault && FAILED(hr = SetText(key.Get(), nullptr, scriptKey.defaultData))) return hr;
    for (const ScriptValue& value : scriptKey.values) {
        if (FAILED(hr = SetText(key.Get(), value.name.c_str(), value.data))) return hr;
    }
    for (const ScriptKey& subKey : scriptKey.subKeys) {
        if (FAILED(hr = RegisterKey(key.Get(), subKey))) return hr;
    }
    return S_OK;
}

HRESULT UnregisterKey(HKEY parent, const ScriptKey& scriptKey) {
    if (scriptKey.removal == Removal::ForceRemove) return DeleteKeyTree(parent, scriptKey.name);
    Key key;
    const LONG status = RegOpenKeyExA(parent, scriptKey.name.c_str(), 0, KEY_ALL_ACCESS, key.Put());
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;  // nothing of it to remove
    HRESULT first = FromStatus(status);
    if (FAILED(first)) return first;
    auto note = [&first](HRESULT hr) {
        if (SUCCEEDED(first)) first = hr;
    };
    for (const ScriptKey& subKey : scriptKey.subKeys) note(UnregisterKey(key.Get(), subKey));
    for (const ScriptValue& value : scriptKey.values) {
        const LONG deleted = RegDeleteValueA(key.Get(), value.name.c_str());
        if (deleted != ERROR_FILE_NOT_FOUND) note(FromStatus(deleted));
    }
    if (scriptKey.removal == Removal::NoRemove) return first;
    DWORD subKeys = 0;
    note(FromStatus(RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr)));
    if (subKeys == 0) {
        const LONG deleted = RegDeleteKeyA(parent, scriptKey.name.c_str());
        if (deleted != ERROR_FILE_NOT_FOUND) note(FromStatus(deleted));
    }
    return first;
}

}  // namespace

HRESULT DeleteKeyTree(HKEY parent, const std::string& name) {
    const LONG status = static_cast<LONG>(SHDeleteKeyA(parent, name.c_str()));
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

HRESULT ApplyScript(const std::string& script, const Replacements& replacements, Mode mode) {
    const ParsedScript parsed = ParseScript(script, replacements);
    if (!parsed.error.empty()) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    HRESULT first = S_OK;
    for (const ScriptRoot& root : parsed.roots) {
        for (const ScriptKey& key : root.keys) {
            if (mode == Mode::Register) {
                const HRESULT hr = RegisterKey(root.root, key);
                if (FAILED(hr)) return hr;
            } else {
                const HRESULT hr = UnregisterKey(root.root, key);
                if (FAILED(hr) && SUCCEEDED(first)) first = hr;
            }
        }
    }
    return first;
}

}  // namespace registration
