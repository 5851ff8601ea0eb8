// Short-lived registry access: every operation names its key afresh (root and path), opens it,
// does one thing and closes it again. Failures are recorded in the store (status -1 and an error
// text ending in the system's message) rather than thrown; each operation's result says whether
// it worked. Texts are 8-bit in the ANSI code page.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CRegistryStore {
public:
    CRegistryStore() = default;

    // The value as text (the bytes up to the first zero, at most 500), or "" when the key does not
    // open. A value that cannot be read (absent, or more than 500 bytes) is replaced by the
    // default, written with a separate open that asks only to set values; the default is the
    // result, or "" when that write fails. One trailing backslash of the path is ignored.
    std::string ReadString(HKEY root, std::string path, std::string name, std::string defaultText);
    // Creates the key if needed and writes the value as REG_SZ; empty name and data only create
    // the key. False when the key cannot be created or the value not written.
    bool WriteString(HKEY root, std::string path, std::string name, std::string data);
    // As ReadString with a 4-byte value and a REG_DWORD default.
    DWORD ReadDword(HKEY root, std::string path, std::string name, DWORD defaultValue);
    // Writes value as REG_DWORD unless a value of that name can be read already.
    bool SetDefaultDword(HKEY root, std::string path, std::string name, DWORD value);
    bool KeyExists(HKEY root, std::string path);
    // Sub-key count plus value count (also stored in the object), or 0 when the key does not open.
    DWORD QueryKeyInfo(HKEY root, std::string path);
    // The index-th (1-based) sub-key's name into buffer (at least 256 bytes); false for a null buffer.
    bool GetSubKeyName(HKEY root, std::string path, DWORD index, char* buffer);
    // The index-th (1-based) value: name, type and data into the caller's buffers.
    bool EnumValue(HKEY root, std::string path, DWORD index, char* name, DWORD* nameLength, DWORD* type, BYTE* data,
                   DWORD* dataLength);
    // The index-th (0-based) sub-key's name into text; text unchanged past the last one.
    bool GetSubKeyNameAt(HKEY root, DWORD index, std::string path, std::string& text);
    // Appends every sub-key's name to names.
    bool ListSubKeys(HKEY root, std::string path, std::vector<std::string>& names);
    // Deletes the key with its subtree. An empty path (or backslashes only) is refused: false,
    // with ERROR_INVALID_PARAMETER's text recorded.
    bool DeleteKey(HKEY root, std::string path);
    bool DeleteValue(HKEY root, std::string path, std::string name);

    LONG Status() const { return m_status; }
    const std::string& ErrorText() const { return m_errorText; }
    DWORD SubKeyCount() const { return m_subKeyCount; }
    DWORD ValueCount() const { return m_valueCount; }
    const std::string& ClassName() const { return m_className; }

private:
    void SetError(const std::string& prefix, LONG status);
    void SetOpenError(const std::string& path, LONG status);
    void SetIndexError(const char* text);
    // Writes an unreadable value's default with an open that asks only to set values.
    bool WriteDefault(HKEY root, const std::string& path, const std::string& name, DWORD type, const BYTE* data, DWORD size);

    LONG m_status = 0;
    std::string m_errorText;
    DWORD m_subKeyCount = 0;
    DWORD m_valueCount = 0;
    std::string m_className;
};
