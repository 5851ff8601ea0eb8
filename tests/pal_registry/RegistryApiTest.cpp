// The registry calls and their message texts, run against Wine's registry (Windows build) and our
// SQLite registry (Linux build): both must give the same results.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "registry/TestRegistry.h"

#ifndef _WIN32
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

class RegistryApiTest : public testing::Test {
protected:
    // Creates (or opens) a key below the test's key with full access.
    void Create(const std::string& relative, KeyHandle& key, const char* className = nullptr) {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_registry.Key(relative).c_str(), 0, const_cast<LPSTR>(className), 0,
                                  KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
    }
    LONG Open(const std::string& relative, REGSAM access, KeyHandle& key) {
        return RegOpenKeyExA(HKEY_CURRENT_USER, m_registry.Key(relative).c_str(), 0, access, key.Put());
    }
    static void SetText(HKEY key, const char* name, const std::string& text) {
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }

    TestRegistry m_registry;
};

// Every failure the registry store can meet, with the code Windows gives for it.
TEST_F(RegistryApiTest, FailuresGiveTheWindowsErrorCodes) {
    KeyHandle full;
    Create("K", full);
    SetText(full.Get(), "v", "text");
    KeyHandle child;
    Create("K\\child", child);
    KeyHandle reader;
    ASSERT_EQ(Open("K", KEY_READ, reader), ERROR_SUCCESS);
    KeyHandle setter;
    ASSERT_EQ(Open("K", KEY_SET_VALUE, setter), ERROR_SUCCESS);
    KeyHandle querier;
    ASSERT_EQ(Open("K", KEY_QUERY_VALUE, querier), ERROR_SUCCESS);
    const std::string longestName(16383, 'n');
    const std::string tooLongName(16384, 'n');
    BYTE data[16];
    DWORD size = sizeof(data);
    char name[64];
    DWORD length = sizeof(name);
    KeyHandle out;

    struct Case {
        const char* what;
        std::function<LONG()> call;
        LONG expected;
    };
    const std::vector<Case> cases = {
        {"open a missing key", [&] { return Open("Missing", KEY_READ, out); }, ERROR_FILE_NOT_FOUND},
        {"open below a missing key", [&] { return Open("Missing\\Deeper", KEY_READ, out); }, ERROR_FILE_NOT_FOUND},
        {"open with a leading backslash",
         [&] { return RegOpenKeyExA(HKEY_CURRENT_USER, ("\\" + m_registry.Key("K")).c_str(), 0, KEY_READ, out.Put()); },
         ERROR_BAD_PATHNAME},
        {"create with a leading backslash",
         [&] {
             return RegCreateKeyExA(HKEY_CURRENT_USER, ("\\" + m_registry.Key("New")).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, out.Put(), nullptr);
         },
         ERROR_BAD_PATHNAME},
        {"open through a closed handle",
         [&] {
             HKEY closed = nullptr;
             RegOpenKeyExA(HKEY_CURRENT_USER, m_registry.Key("K").c_str(), 0, KEY_READ, &closed);
             RegCloseKey(closed);
             return RegOpenKeyExA(closed, "child", 0, KEY_READ, out.Put());
         },
         ERROR_INVALID_HANDLE},
        {"close a closed handle",
         [&] {
             HKEY closed = nullptr;
             RegOpenKeyExA(HKEY_CURRENT_USER, m_registry.Key("K").c_str(), 0, KEY_READ, &closed);
             RegCloseKey(closed);
             return RegCloseKey(closed);
         },
         ERROR_INVALID_HANDLE},
        {"set a value through a read handle",
         [&] { return RegSetValueExA(reader.Get(), "w", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2); },
         ERROR_ACCESS_DENIED},
        {"delete a value through a read handle", [&] { return RegDeleteValueA(reader.Get(), "v"); }, ERROR_ACCESS_DENIED},
        {"read a value through a set-value handle",
         [&] { return RegQueryValueExA(setter.Get(), "v", nullptr, nullptr, data, &size); }, ERROR_ACCESS_DENIED},
        {"enumerate values through a set-value handle",
         [&] { return RegEnumValueA(setter.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr); },
         ERROR_ACCESS_DENIED},
        {"enumerate sub-keys through a query-value handle",
         [&] { return RegEnumKeyExA(querier.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr); },
         ERROR_ACCESS_DENIED},
        {"set a value through a set-value handle",
         [&] { return RegSetValueExA(setter.Get(), "w", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2); }, ERROR_SUCCESS},
        {"read a missing value", [&] { return RegQueryValueExA(reader.Get(), "none", nullptr, nullptr, data, &size); },
         ERROR_FILE_NOT_FOUND},
        {"read into no buffer without a size",
         [&] { return RegQueryValueExA(reader.Get(), "v", nullptr, nullptr, data, nullptr); }, ERROR_INVALID_PARAMETER},
        {"enumerate sub-keys past the last",
         [&] { return RegEnumKeyExA(reader.Get(), 1, name, &length, nullptr, nullptr, nullptr, nullptr); },
         ERROR_NO_MORE_ITEMS},
        {"enumerate values past the last",
         [&] { return RegEnumValueA(reader.Get(), 2, name, &length, nullptr, nullptr, nullptr, nullptr); },
         ERROR_NO_MORE_ITEMS},
        {"delete a missing value", [&] { return RegDeleteValueA(full.Get(), "none"); }, ERROR_FILE_NOT_FOUND},
        {"value name of 16383 characters",
         [&] { return RegSetValueExA(full.Get(), longestName.c_str(), 0, REG_DWORD, data, 4); }, ERROR_SUCCESS},
        {"value name of 16384 characters",
         [&] { return RegSetValueExA(full.Get(), tooLongName.c_str(), 0, REG_DWORD, data, 4); }, ERROR_INVALID_PARAMETER},
        {"read a value name of 16384 characters",
         [&] { return RegQueryValueExA(full.Get(), tooLongName.c_str(), nullptr, nullptr, data, &size); },
         ERROR_FILE_NOT_FOUND},
        {"set without data but with a size", [&] { return RegSetValueExA(full.Get(), "x", 0, REG_BINARY, nullptr, 4); },
         ERROR_NOACCESS},
        {"class buffer without its length",
         [&] {
             return RegQueryInfoKeyA(full.Get(), name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr);
         },
         ERROR_INVALID_PARAMETER},
        {"delete a key with sub-keys", [&] { return RegDeleteKeyA(HKEY_CURRENT_USER, m_registry.Key("K").c_str()); },
         ERROR_ACCESS_DENIED},
        {"delete a missing key", [&] { return RegDeleteKeyA(HKEY_CURRENT_USER, m_registry.Key("Missing").c_str()); },
         ERROR_FILE_NOT_FOUND},
        {"delete a root", [&] { return RegDeleteKeyA(HKEY_CURRENT_USER, ""); }, ERROR_ACCESS_DENIED},
        {"delete a key without a path", [&] { return RegDeleteKeyA(full.Get(), nullptr); }, ERROR_INVALID_PARAMETER},
        {"delete a missing tree",
         [&] { return static_cast<LONG>(SHDeleteKeyA(HKEY_CURRENT_USER, m_registry.Key("Missing").c_str())); },
         ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        size = sizeof(data);
        length = sizeof(name);
        EXPECT_EQ(c.call(), c.expected) << c.what;
    }
}

TEST_F(RegistryApiTest, HandlesOfADeletedKeyReportItDeleted) {
    KeyHandle key;
    Create("Doomed", key);
    SetText(key.Get(), "v", "1");
    ASSERT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, m_registry.Key("Doomed").c_str()), static_cast<DWORD>(ERROR_SUCCESS));
    // A key made again under the same name is another key.
    KeyHandle again;
    Create("Doomed", again);

    BYTE data[8];
    DWORD size = sizeof(data);
    char name[16];
    DWORD length = sizeof(name);
    DWORD count = 0;
    KeyHandle out;
    const std::vector<std::pair<const char*, std::function<LONG()>>> calls = {
        {"query", [&] { return RegQueryValueExA(key.Get(), "v", nullptr, nullptr, data, &size); }},
        {"set", [&] { return RegSetValueExA(key.Get(), "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2); }},
        {"delete value", [&] { return RegDeleteValueA(key.Get(), "v"); }},
        {"create below", [&] { return RegCreateKeyExA(key.Get(), "sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, out.Put(), nullptr); }},
        {"open itself", [&] { return RegOpenKeyExA(key.Get(), "", 0, KEY_READ, out.Put()); }},
        {"information",
         [&] {
             return RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr);
         }},
        {"enumerate", [&] { return RegEnumKeyExA(key.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr); }},
    };
    for (const auto& [what, call] : calls) EXPECT_EQ(call(), ERROR_KEY_DELETED) << what;
    EXPECT_EQ(RegQueryValueExA(again.Get(), "v", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key.Release()), ERROR_SUCCESS);
}

TEST_F(RegistryApiTest, CreateReportsWhetherTheKeyIsNewAndKeepsItsClass) {
    DWORD disposition = 0;
    KeyHandle key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_registry.Key("A\\B").c_str(), 0, const_cast<LPSTR>("ZClass"), 0,
                              KEY_ALL_ACCESS, nullptr, key.Put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    KeyHandle same;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_registry.Key("a\\b").c_str(), 0, const_cast<LPSTR>("ZClass"), 0,
                              KEY_READ, nullptr, same.Put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    char className[32] = {};
    DWORD classLength = sizeof(className);
    EXPECT_EQ(RegQueryInfoKeyA(same.Get(), className, &classLength, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(className, "ZClass");
    EXPECT_EQ(classLength, 6u);

    KeyHandle parent;
    ASSERT_EQ(Open("A", KEY_READ, parent), ERROR_SUCCESS);
    char name[16] = {};
    DWORD nameLength = sizeof(name);
    char childClass[16] = {};
    DWORD childClassLength = sizeof(childClass);
    EXPECT_EQ(RegEnumKeyExA(parent.Get(), 0, name, &nameLength, nullptr, childClass, &childClassLength, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "B");
    EXPECT_EQ(nameLength, 1u);
    EXPECT_STREQ(childClass, "ZClass");
}

TEST_F(RegistryApiTest, NamesIgnoreCaseAndKeepTheirSpelling) {
    KeyHandle key;
    Create("MixedCase", key);
    SetText(key.Get(), "ValueName", "1");
    KeyHandle lower;
    ASSERT_EQ(Open("mixedCASE", KEY_READ, lower), ERROR_SUCCESS);
    char data[8] = {};
    DWORD size = sizeof(data);
    EXPECT_EQ(RegQueryValueExA(lower.Get(), "VALUENAME", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    SetText(key.Get(), "valuename", "2");  // the same value

    KeyHandle base;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_registry.Base().c_str(), 0, KEY_READ, base.Put()), ERROR_SUCCESS);
    char name[32] = {};
    DWORD length = sizeof(name);
    EXPECT_EQ(RegEnumKeyExA(base.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "MixedCase");
    length = sizeof(name);
    size = sizeof(data);
    EXPECT_EQ(RegEnumValueA(lower.Get(), 0, name, &length, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "ValueName");  // the first spelling stays
    EXPECT_STREQ(data, "2");
    EXPECT_EQ(RegEnumValueA(lower.Get(), 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

// Sub-keys and values come in the order of their names folded to lower case.
TEST_F(RegistryApiTest, EnumerationFollowsLowerCaseNameOrder) {
    KeyHandle key;
    Create("Order", key);
    for (const char* name : {"b", "A", "_u", "c", "Z", "a1", "[x", "~t", "`q"}) {
        KeyHandle child;
        Create(std::string("Order\\") + name, child);
        SetText(key.Get(), name, name);
    }
    const std::vector<std::string> expected = {"[x", "_u", "`q", "A", "a1", "b", "c", "Z", "~t"};
    std::vector<std::string> keys;
    std::vector<std::string> values;
    for (DWORD index = 0;; ++index) {
        char name[16] = {};
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        keys.emplace_back(name, length);
    }
    for (DWORD index = 0;; ++index) {
        char name[16] = {};
        DWORD length = sizeof(name);
        if (RegEnumValueA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        values.emplace_back(name, length);
    }
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(values, expected);
}

TEST_F(RegistryApiTest, ReadingAValueHonoursTheCallersBufferSize) {
    KeyHandle key;
    Create("Q", key);
    SetText(key.Get(), "text", "abcdefgh");  // 9 bytes
    const BYTE binary[3] = {1, 0, 2};
    ASSERT_EQ(RegSetValueExA(key.Get(), "bin", 0, REG_BINARY, binary, sizeof(binary)), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.Get(), "empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);

    struct Case {
        const char* name;
        bool withBuffer;
        DWORD capacity;
        LONG result;
        DWORD size;
        DWORD type;
    };
    const Case cases[] = {
        {"text", false, 0, ERROR_SUCCESS, 9, REG_SZ},  // size query
        {"text", true, 8, ERROR_MORE_DATA, 9, REG_SZ},
        {"text", true, 9, ERROR_SUCCESS, 9, REG_SZ},
        {"bin", true, 2, ERROR_MORE_DATA, 3, REG_BINARY},
        {"bin", true, 16, ERROR_SUCCESS, 3, REG_BINARY},
        {"empty", true, 16, ERROR_SUCCESS, 0, REG_SZ},
        {"", true, 16, ERROR_FILE_NOT_FOUND, 16, REG_NONE},  // no unnamed value
    };
    for (const Case& c : cases) {
        BYTE buffer[16];
        std::memset(buffer, 0xEE, sizeof(buffer));
        DWORD size = c.capacity;
        DWORD type = 99;
        const LONG result = RegQueryValueExA(key.Get(), c.name, nullptr, &type, c.withBuffer ? buffer : nullptr, &size);
        EXPECT_EQ(result, c.result) << c.name << " " << c.capacity;
        EXPECT_EQ(size, c.size) << c.name << " " << c.capacity;
        EXPECT_EQ(type, c.type) << c.name << " " << c.capacity;
        if (result != ERROR_SUCCESS) {
            EXPECT_EQ(buffer[0], 0xEE) << "nothing written: " << c.name << " " << c.capacity;
        }
    }
    BYTE buffer[16] = {};
    DWORD size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExA(key.Get(), "BIN", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(0, std::memcmp(buffer, binary, sizeof(binary)));
    EXPECT_EQ(RegQueryValueExA(key.Get(), "text", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
}

TEST_F(RegistryApiTest, EnumeratingAValueReportsWhatDoesNotFit) {
    KeyHandle key;
    Create("E", key);
    SetText(key.Get(), "value", "data");  // 5 bytes
    char name[16];
    DWORD length = 0;
    BYTE data[16];
    DWORD size = 0;
    DWORD type = 0;
    auto enumerate = [&](DWORD nameCapacity, DWORD dataCapacity) {
        std::memset(name, 'q', sizeof(name));
        length = nameCapacity;
        size = dataCapacity;
        type = 99;
        return RegEnumValueA(key.Get(), 0, name, &length, nullptr, &type, data, &size);
    };
    EXPECT_EQ(enumerate(16, 2), ERROR_MORE_DATA);  // data too small: the name is left alone
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(name[0], 'q');
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(enumerate(5, 16), ERROR_MORE_DATA);  // no room for the NUL
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(enumerate(6, 16), ERROR_SUCCESS);
    EXPECT_STREQ(name, "value");
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(size, 5u);
    EXPECT_STREQ(reinterpret_cast<char*>(data), "data");

    KeyHandle child;
    Create("E\\longname", child);
    length = 8;
    EXPECT_EQ(RegEnumKeyExA(key.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, 8u);
}

TEST_F(RegistryApiTest, KeyInformationCountsAndMeasures) {
    KeyHandle key;
    Create("I", key, "Outer");
    for (const char* name : {"ab", "abcdefgh"}) {
        KeyHandle child;
        Create(std::string("I\\") + name, child, "SixCls");
    }
    SetText(key.Get(), "s", "abcdef");  // 7 bytes, counted as 14
    const BYTE binary[10] = {};
    ASSERT_EQ(RegSetValueExA(key.Get(), "binary", 0, REG_BINARY, binary, sizeof(binary)), ERROR_SUCCESS);

    char className[8] = {};
    DWORD classLength = sizeof(className);
    DWORD subKeys = 0, maxSubKey = 0, maxClass = 0, values = 0, maxValueName = 0, maxValue = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key.Get(), className, &classLength, nullptr, &subKeys, &maxSubKey, &maxClass, &values,
                               &maxValueName, &maxValue, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(className, "Outer");
    EXPECT_EQ(classLength, 5u);
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(maxSubKey, 8u);
    EXPECT_EQ(maxClass, 6u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxValueName, 6u);
    EXPECT_EQ(maxValue, 14u);

    char small[5] = {};
    DWORD smallLength = sizeof(small);
    EXPECT_EQ(RegQueryInfoKeyA(key.Get(), small, &smallLength, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
}

TEST_F(RegistryApiTest, PathsToleratePlainAndTrailingBackslashes) {
    KeyHandle key;
    Create("P\\Q\\", key);
    struct Case {
        const char* path;
        LONG result;
    };
    for (const Case& c : {Case{"P\\Q", ERROR_SUCCESS}, Case{"P\\Q\\", ERROR_SUCCESS}, Case{"P\\Q\\\\", ERROR_SUCCESS},
                          Case{"P\\\\Q", ERROR_SUCCESS}, Case{"P\\R", ERROR_FILE_NOT_FOUND}}) {
        KeyHandle opened;
        EXPECT_EQ(Open(c.path, KEY_READ, opened), c.result) << c.path;
    }
    HKEY root = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &root), ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
    KeyHandle same;
    EXPECT_EQ(RegOpenKeyExA(key.Get(), "", 0, KEY_READ, same.Put()), ERROR_SUCCESS);
    EXPECT_NE(same.Get(), key.Get());  // a key of our own: a new handle
}

TEST_F(RegistryApiTest, DeletingKeysAndTrees) {
    {
        KeyHandle leaf;
        Create("T\\leaf", leaf);
        EXPECT_EQ(RegDeleteKeyA(leaf.Get(), ""), ERROR_SUCCESS);  // the key itself
    }
    KeyHandle gone;
    EXPECT_EQ(Open("T\\leaf", KEY_READ, gone), ERROR_FILE_NOT_FOUND);

    KeyHandle tree;
    Create("T\\tree", tree);
    SetText(tree.Get(), "v", "1");
    KeyHandle deep;
    Create("T\\tree\\a\\b", deep);
    SetText(deep.Get(), "w", "2");
    deep.Close();
    // An empty path empties the key and keeps it.
    EXPECT_EQ(SHDeleteKeyA(tree.Get(), ""), static_cast<DWORD>(ERROR_SUCCESS));
    DWORD subKeys = 9;
    DWORD values = 9;
    EXPECT_EQ(RegQueryInfoKeyA(tree.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, 0u);

    Create("T\\tree\\a\\b", deep);
    SetText(deep.Get(), "w", "2");
    deep.Close();
    EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, m_registry.Key("t\\TREE").c_str()), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Open("T\\tree\\a\\b", KEY_READ, gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("T\\tree", KEY_READ, gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("T", KEY_READ, gone), ERROR_SUCCESS);
}

TEST_F(RegistryApiTest, LocalMachineTakesWrites) {
    KeyHandle key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (m_registry.MachineBase() + "\\Serial").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    SetText(key.Get(), "CLSID", "{1}");
    KeyHandle other;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (m_registry.MachineBase() + "\\Serial").c_str(), 0, KEY_READ, other.Put()),
              ERROR_FILE_NOT_FOUND);  // the roots are separate trees
}

TEST(RegistryMessageTest, MessageTextsAreTheSystems) {
    const std::pair<DWORD, const char*> cases[] = {
        {ERROR_SUCCESS, "Success.\r\n"},
        {ERROR_FILE_NOT_FOUND, "File not found.\r\n"},
        {ERROR_ACCESS_DENIED, "Access denied.\r\n"},
        {ERROR_INVALID_HANDLE, "Invalid handle.\r\n"},
        {ERROR_INVALID_PARAMETER, "Invalid parameter.\r\n"},
        {ERROR_BAD_PATHNAME, "Path is invalid.\r\n"},
        {ERROR_MORE_DATA, "More data available.\r\n"},
        {ERROR_NO_MORE_ITEMS, "No more data available.\r\n"},
        {ERROR_NOACCESS, "No access to memory location.\r\n"},
        {ERROR_BADDB, "Registry corrupt.\r\n"},
        {ERROR_BADKEY, "Invalid key.\r\n"},
        {ERROR_KEY_DELETED, "Key deleted.\r\n"},
    };
    for (const auto& [code, text] : cases) {
        char* message = nullptr;
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0x0400, reinterpret_cast<LPSTR>(&message), 0, nullptr);
        ASSERT_NE(message, nullptr) << code;
        EXPECT_EQ(std::string(message), text) << code;
        EXPECT_EQ(length, std::strlen(text)) << code;
        EXPECT_EQ(LocalFree(message), nullptr);
    }

    char* message = reinterpret_cast<char*>(1);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, 0x2000FFFFu, 0x0400, reinterpret_cast<LPSTR>(&message), 0, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(message, nullptr);

    // Into a caller's buffer: the text and its NUL must fit.
    char buffer[32];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND, 0x0400,
                             buffer, 17, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND, 0x0400,
                             buffer, 18, nullptr),
              17u);
    EXPECT_STREQ(buffer, "File not found.\r\n");
}

#ifndef _WIN32
// Several processes, one started by fork() after the parent had used the registry, write the
// same key at once: every value arrives and the database stays sound.
TEST_F(RegistryApiTest, ConcurrentWritersFromSeveralProcessesLoseNothing) {
    KeyHandle key;
    Create("Shared", key);  // the parent's connection exists before the fork
    key.Close();
    constexpr int kWriters = 3;
    constexpr int kWrites = 200;
    auto write = [&](int writer) {
        bool ok = true;
        for (int i = 0; i < kWrites; ++i) {
            HKEY shared = nullptr;
            ok = RegCreateKeyExA(HKEY_CURRENT_USER, m_registry.Key("Shared").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 &shared, nullptr) == ERROR_SUCCESS &&
                 ok;
            const std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
            const DWORD value = static_cast<DWORD>(writer * 1000 + i);
            ok = RegSetValueExA(shared, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
                     ERROR_SUCCESS &&
                 ok;
            RegCloseKey(shared);
        }
        return ok;
    };
    std::vector<pid_t> children;
    for (int writer = 1; writer < kWriters; ++writer) {
        const pid_t child = fork();
        if (child == 0) _exit(write(writer) ? 0 : 1);
        children.push_back(child);
    }
    EXPECT_TRUE(write(0));
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    ASSERT_EQ(Open("Shared", KEY_READ, key), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kWriters * kWrites));
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int i = 0; i < kWrites; ++i) {
            const std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
            DWORD value = 0;
            DWORD size = sizeof(value);
            ASSERT_EQ(RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
                      ERROR_SUCCESS)
                << name;
            EXPECT_EQ(value, static_cast<DWORD>(writer * 1000 + i));
        }
    }

    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open_v2(m_registry.Database().c_str(), &database, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(database, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(database);
}

// Without ZANTHROP_REGISTRY the database lives in the user's data directory.
TEST(RegistryLocationTest, DefaultDatabaseIsInTheUsersDataDirectory) {
    const std::string saved = std::getenv("ZANTHROP_REGISTRY") != nullptr ? std::getenv("ZANTHROP_REGISTRY") : "";
    const std::string savedData = std::getenv("XDG_DATA_HOME") != nullptr ? std::getenv("XDG_DATA_HOME") : "";
    const std::string savedHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const std::string root = "/tmp/zanthrop-registry-home-" + std::to_string(getpid());
    struct Case {
        const char* dataHome;  // null: unset, the database lives below $HOME/.local/share
        std::string expected;
    };
    const Case cases[] = {
        {"data", root + "/data/zanthrop/registry.db"},
        {nullptr, root + "/.local/share/zanthrop/registry.db"},
    };
    unsetenv("ZANTHROP_REGISTRY");
    setenv("HOME", root.c_str(), 1);
    for (const Case& c : cases) {
        if (c.dataHome != nullptr) {
            setenv("XDG_DATA_HOME", (root + "/" + c.dataHome).c_str(), 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ZanthropTests\\Location", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_EQ(access(c.expected.c_str(), F_OK), 0) << c.expected;
    }
    setenv("HOME", savedHome.c_str(), 1);
    if (!savedData.empty()) setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    if (!saved.empty()) setenv("ZANTHROP_REGISTRY", saved.c_str(), 1);
    EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
}
#endif

}  // namespace
