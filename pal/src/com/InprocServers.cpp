// In-process servers named by the registry: HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 holds
// the library's path, HKEY_CLASSES_ROOT\<ProgID>\CLSID a ProgID's class identifier.
#include "Activation.h"

#include <map>
#include <mutex>
#include <string>

namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);

// The default value of a key under HKEY_CLASSES_ROOT, or false.
bool ReadDefaultText(const std::string& path, std::string& text) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    char data[1024] = {};
    DWORD type = 0;
    DWORD size = sizeof(data) - 1;
    const LONG status = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    text.assign(data, size);
    const size_t end = text.find('\0');
    if (end != std::string::npos) text.resize(end);
    return true;
}

std::string ToAnsi(const WCHAR* text, int length) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, text, length, &result[0], size, nullptr, nullptr);
    if (!result.empty() && result.back() == '\0') result.pop_back();
    return result;
}

// Libraries loaded for activation, by path; kept for the life of the process, as the objects they
// serve may be held anywhere.
struct LoadedServers {
    std::mutex lock;  // guards entries
    std::map<std::string, GetClassObjectFunction> entries;
};

LoadedServers& Servers() {
    static LoadedServers* servers = new LoadedServers();  // outlives static destruction of clients
    return *servers;
}

HRESULT ServerEntryPoint(const std::string& path, GetClassObjectFunction& entryPoint) {
    LoadedServers& servers = Servers();
    std::lock_guard<std::mutex> guard(servers.lock);
    auto found = servers.entries.find(path);
    if (found != servers.entries.end()) {
        entryPoint = found->second;
        return S_OK;
    }
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr) return E_ACCESSDENIED;
    entryPoint = reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    if (entryPoint == nullptr) {
        FreeLibrary(library);
        return CO_E_DLLNOTFOUND;
    }
    servers.entries.emplace(path, entryPoint);
    return S_OK;
}

}  // namespace

namespace pal {

HRESULT InprocServerClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    WCHAR text[39] = {};
    StringFromGUID2(clsid, text, 39);
    std::string path;
    if (!ReadDefaultText("CLSID\\" + ToAnsi(text, -1) + "\\InprocServer32", path) || path.empty()) {
        return REGDB_E_CLASSNOTREG;
    }
    GetClassObjectFunction entryPoint = nullptr;
    const HRESULT hr = ServerEntryPoint(path, entryPoint);
    if (FAILED(hr)) return hr;
    return entryPoint(clsid, riid, ppv);
}

}  // namespace pal

STDAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
    *lpclsid = CLSID{};
    std::string text;
    if (!ReadDefaultText(ToAnsi(lpszProgID, -1) + "\\CLSID", text)) return CO_E_CLASSSTRING;
    WCHAR wide[64] = {};
    if (text.size() >= 64 || MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 64) == 0) return CO_E_CLASSSTRING;
    if (FAILED(CLSIDFromString(wide, lpclsid))) {
        *lpclsid = CLSID{};
        return CO_E_CLASSSTRING;
    }
    return S_OK;
}
