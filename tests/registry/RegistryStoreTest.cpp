// The registry store against the real registry (under Wine) and our SQLite registry (Linux):
// results, what lands in the registry, and the recorded errors with their texts byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "registry/CRegistryStore.h"
#include "registry/TestRegistry.h"
#include "support/ChildProcess.h"

namespace {

const char kOpening[] = "Error: Opening registry key '";
const char kReason[] = "' reason: ";
const char kSettingDefault[] = "Error: Setting default value reason: ";
const char kNotFound[] = "File not found.\r\n";
const char kPathInvalid[] = "Path is invalid.\r\n";
const char kInvalidParameter[] = "Invalid parameter.\r\n";
const char kSubKeyRange[] = "Index out of range.  Valid range: 1 - [Number of sub keys]";
const char kValueRange[] = "Index out of range.  Valid range: 1 - [Number of key values]";

// A value as the registry holds it; absent when result is not ERROR_SUCCESS.
struct RawValue {
    LONG result = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    static RawValue Absent() { return RawValue{}; }
    static RawValue Text(const std::string& text) {
        return RawValue{ERROR_SUCCESS, REG_SZ, std::vector<BYTE>(text.begin(), text.end())}.Terminated();
    }
    static RawValue Dword(DWORD value) {
        const auto* bytes = reinterpret_cast<const BYTE*>(&value);
        return RawValue{ERROR_SUCCESS, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value))};
    }
    static RawValue Bytes(DWORD type, const std::string& bytes) {
        return RawValue{ERROR_SUCCESS, type, std::vector<BYTE>(bytes.begin(), bytes.end())};
    }
    RawValue Terminated() const {
        RawValue copy = *this;
        copy.data.push_back(0);
        return copy;
    }
    bool operator==(const RawValue& other) const {
        return result == other.result && (result != ERROR_SUCCESS || (type == other.type && data == other.data));
    }
};

void PrintTo(const RawValue& value, std::ostream* out) {
    *out << "{result " << value.result << ", type " << value.type << ", " << value.data.size() << " bytes}";
}

class RegistryStoreTest : public testing::Test {
protected:
    std::string Key(const std::string& relative) const { return m_registry.Key(relative); }
    void Set(const std::string& relative, const char* name, const RawValue& value) {
        if (value.result != ERROR_SUCCESS) return;
        KeyHandle key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Key(relative).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.Get(), name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS);
    }
    RawValue Get(const std::string& relative, const char* name) const {
        KeyHandle key;
        RawValue value;
        value.result = RegOpenKeyExA(HKEY_CURRENT_USER, Key(relative).c_str(), 0, KEY_READ, key.Put());
        if (value.result != ERROR_SUCCESS) return value;
        DWORD size = 0;
        value.result = RegQueryValueExA(key.Get(), name, nullptr, &value.type, nullptr, &size);
        if (value.result != ERROR_SUCCESS) return value;
        value.data.resize(size);
        value.result = RegQueryValueExA(key.Get(), name, nullptr, &value.type, value.data.data(), &size);
        return value;
    }
    static std::string OpeningError(const std::string& path, const char* reason) { return kOpening + path + kReason + reason; }

    TestRegistry m_registry;
    CRegistryStore m_store;
};

TEST_F(RegistryStoreTest, ConstructionLeavesEverythingEmpty) {
    EXPECT_EQ(m_store.Status(), 0);
    EXPECT_EQ(m_store.ErrorText(), "");
    EXPECT_EQ(m_store.SubKeyCount(), 0u);
    EXPECT_EQ(m_store.ValueCount(), 0u);
    EXPECT_EQ(m_store.ClassName(), "");
}

// What ReadString returns for each kind of stored value, and what the registry holds afterwards:
// an unreadable value is replaced by the default.
TEST_F(RegistryStoreTest, ReadStringTakesTheBytesUpToTheFirstZeroOrWritesTheDefault) {
    struct Case {
        const char* what;
        RawValue stored;
        const char* defaultText;
        std::string result;
        RawValue after;
    };
    const std::string text499(499, 'x');
    const std::string text500(500, 'y');
    const std::string binary500(500, 'b');
    const std::vector<Case> cases = {
        {"text", RawValue::Text("{1234}"), "d", "{1234}", RawValue::Text("{1234}")},
        {"dword whose first byte is 0x31", RawValue::Dword(0x31), "d", "1", RawValue::Dword(0x31)},
        {"499 characters", RawValue::Text(text499), "d", text499, RawValue::Text(text499)},
        {"500 bytes without a zero", RawValue::Bytes(REG_BINARY, binary500), "d", binary500,
         RawValue::Bytes(REG_BINARY, binary500)},
        {"a zero inside", RawValue::Bytes(REG_BINARY, std::string("ab\0cd", 5)), "d", "ab",
         RawValue::Bytes(REG_BINARY, std::string("ab\0cd", 5))},
        {"empty text", RawValue::Text(""), "d", "", RawValue::Text("")},
        {"501 bytes: unreadable", RawValue::Text(text500), "dflt", "dflt", RawValue::Text("dflt")},
        {"absent", RawValue::Absent(), "fallback", "fallback", RawValue::Text("fallback")},
        {"absent, empty default", RawValue::Absent(), "", "", RawValue::Text("")},
    };
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("R"), "", ""));
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "v" + std::to_string(index++);
        Set("R", name.c_str(), c.stored);
        EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("R"), name, c.defaultText), c.result) << c.what;
        EXPECT_EQ(Get("R", name.c_str()), c.after) << c.what;
    }
    EXPECT_EQ(m_store.Status(), 0);
    EXPECT_EQ(m_store.ErrorText(), "");
}

TEST_F(RegistryStoreTest, ReadDwordTakesUpToFourBytesOrWritesTheDefault) {
    struct Case {
        const char* what;
        RawValue stored;
        DWORD defaultValue;
        DWORD result;
        RawValue after;
    };
    const std::vector<Case> cases = {
        {"dword", RawValue::Dword(7), 1, 7, RawValue::Dword(7)},
        {"two bytes", RawValue::Bytes(REG_BINARY, "\x34\x12"), 1, 0x1234, RawValue::Bytes(REG_BINARY, "\x34\x12")},
        {"text of three bytes", RawValue::Text("12"), 1, 0x3231, RawValue::Text("12")},
        {"no bytes", RawValue::Bytes(REG_BINARY, ""), 1, 0, RawValue::Bytes(REG_BINARY, "")},
        {"five bytes: unreadable", RawValue::Text("1234"), 9, 9, RawValue::Dword(9)},
        {"absent", RawValue::Absent(), 42, 42, RawValue::Dword(42)},
    };
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("R"), "", ""));
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "v" + std::to_string(index++);
        Set("R", name.c_str(), c.stored);
        EXPECT_EQ(m_store.ReadDword(HKEY_CURRENT_USER, Key("R"), name, c.defaultValue), c.result) << c.what;
        EXPECT_EQ(Get("R", name.c_str()), c.after) << c.what;
    }
    EXPECT_EQ(m_store.ReadDword(HKEY_CURRENT_USER, Key("R"), "v5", 7), 42u);  // the default written before stays
    EXPECT_EQ(m_store.Status(), 0);
}

TEST_F(RegistryStoreTest, ReadsIgnoreCaseAndOneTrailingBackslash) {
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("Serial"), "CLSID", "{1234}"));
    for (const std::string& path : {Key("Serial"), Key("Serial\\"), Key("SERIAL")}) {
        EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, path, "clsid", ""), "{1234}") << path;
    }
    // An empty path, or one of a single backslash, names the root key itself.
    KeyHandle serial;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Key("Serial").c_str(), 0, KEY_READ, serial.Put()), ERROR_SUCCESS);
    EXPECT_EQ(m_store.ReadString(serial.Get(), "", "CLSID", ""), "{1234}");
    EXPECT_EQ(m_store.ReadString(serial.Get(), "\\", "CLSID", ""), "{1234}");
    EXPECT_EQ(m_store.Status(), 0);
}

// Each operation that records an opening error, with the path it quotes: ReadString and ReadDword
// drop one trailing backslash, the others pass the path on unchanged.
TEST_F(RegistryStoreTest, OpeningErrorsQuoteThePathAsOpened) {
    struct Case {
        const char* what;
        std::function<std::string(CRegistryStore&)> call;
        std::string result;
        std::string errorText;
    };
    const std::vector<Case> cases = {
        {"ReadString, trailing backslash",
         [&](CRegistryStore& s) { return s.ReadString(HKEY_CURRENT_USER, Key("Missing\\"), "CLSID", "x"); }, "",
         OpeningError(Key("Missing"), kNotFound)},
        {"ReadString, two trailing backslashes",
         [&](CRegistryStore& s) { return s.ReadString(HKEY_CURRENT_USER, Key("Missing\\\\"), "CLSID", "x"); }, "",
         OpeningError(Key("Missing\\"), kNotFound)},
        {"ReadString, leading backslash",
         [&](CRegistryStore& s) { return s.ReadString(HKEY_CURRENT_USER, "\\Bad\\", "CLSID", "x"); }, "",
         OpeningError("\\Bad", kPathInvalid)},
        {"ReadDword",
         [&](CRegistryStore& s) { return std::to_string(s.ReadDword(HKEY_CURRENT_USER, Key("Missing\\"), "n", 5)); }, "0",
         OpeningError(Key("Missing"), kNotFound)},
        {"WriteString",
         [&](CRegistryStore& s) { return std::to_string(s.WriteString(HKEY_CURRENT_USER, "\\Bad\\", "n", "v")); }, "0",
         OpeningError("\\Bad\\", kPathInvalid)},
        {"SetDefaultDword",
         [&](CRegistryStore& s) { return std::to_string(s.SetDefaultDword(HKEY_CURRENT_USER, "\\Bad\\", "n", 1)); }, "0",
         OpeningError("\\Bad\\", kPathInvalid)},
        {"DeleteValue", [&](CRegistryStore& s) { return std::to_string(s.DeleteValue(HKEY_CURRENT_USER, Key("Gone\\"), "v")); },
         "0", OpeningError(Key("Gone\\"), kNotFound)},
    };
    for (const Case& c : cases) {
        CRegistryStore store;
        EXPECT_EQ(c.call(store), c.result) << c.what;
        EXPECT_EQ(store.Status(), -1) << c.what;
        EXPECT_EQ(store.ErrorText(), c.errorText) << c.what;
    }
    EXPECT_FALSE(m_store.KeyExists(HKEY_CURRENT_USER, Key("Missing")));  // nothing was created
}

// A value write that the registry refuses (a name longer than 16383 characters) is recorded, and
// the operation says it failed.
TEST_F(RegistryStoreTest, RefusedValueWritesAreRecordedAndReported) {
    const std::string tooLong(16384, 'n');
    struct Case {
        const char* what;
        std::function<std::string(CRegistryStore&)> call;
        std::string result;
    };
    const std::vector<Case> cases = {
        {"WriteString", [&](CRegistryStore& s) { return std::to_string(s.WriteString(HKEY_CURRENT_USER, Key("W"), tooLong, "v")); },
         "0"},
        {"SetDefaultDword",
         [&](CRegistryStore& s) { return std::to_string(s.SetDefaultDword(HKEY_CURRENT_USER, Key("W"), tooLong, 1)); }, "0"},
        {"ReadString's default", [&](CRegistryStore& s) { return s.ReadString(HKEY_CURRENT_USER, Key("W"), tooLong, "dflt"); },
         ""},
        {"ReadDword's default",
         [&](CRegistryStore& s) { return std::to_string(s.ReadDword(HKEY_CURRENT_USER, Key("W"), tooLong, 7)); }, "0"},
    };
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("W"), "", ""));
    for (const Case& c : cases) {
        CRegistryStore store;
        EXPECT_EQ(c.call(store), c.result) << c.what;
        EXPECT_EQ(store.Status(), -1) << c.what;
        EXPECT_EQ(store.ErrorText(), std::string(kSettingDefault) + kInvalidParameter) << c.what;
    }
    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("W")), 0u);  // nothing was written
}

TEST_F(RegistryStoreTest, StatusStaysAfterLaterSuccesses) {
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("Missing"), "v", ""), "");
    const std::string recorded = m_store.ErrorText();
    EXPECT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("Now"), "a", "b"));
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("Now"), "a", ""), "b");
    EXPECT_EQ(m_store.Status(), -1);
    EXPECT_EQ(m_store.ErrorText(), recorded);
}

TEST_F(RegistryStoreTest, WriteStringForms) {
    struct Case {
        const char* what;
        const char* name;
        const char* data;
        const char* readName;  // the value to look at afterwards
        RawValue after;
    };
    const Case cases[] = {
        {"empty name and data: only the key", "", "", "", RawValue::Absent()},
        {"empty name: the unnamed value", "", "unnamed", "", RawValue::Text("unnamed")},
        {"empty data: a lone zero", "empty", "", "empty", RawValue::Text("")},
        {"a text", "name", "first", "name", RawValue::Text("first")},
        {"overwritten", "NAME", "second", "name", RawValue::Text("second")},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("W\\"), c.name, c.data)) << c.what;
        EXPECT_TRUE(m_store.KeyExists(HKEY_CURRENT_USER, Key("W"))) << c.what;
        EXPECT_EQ(Get("W", c.readName), c.after) << c.what;
    }
    EXPECT_EQ(m_store.Status(), 0);
}

// SetDefaultDword writes only where no value of that name can be read into four bytes.
TEST_F(RegistryStoreTest, SetDefaultDwordKeepsReadableValues) {
    struct Case {
        const char* what;
        RawValue stored;
        RawValue after;
    };
    const Case cases[] = {
        {"absent", RawValue::Absent(), RawValue::Dword(9)},
        {"a dword", RawValue::Dword(3), RawValue::Dword(3)},
        {"a short text", RawValue::Text("ab"), RawValue::Text("ab")},
        {"five bytes", RawValue::Text("abcd"), RawValue::Dword(9)},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "v" + std::to_string(index++);
        Set("D", name.c_str(), c.stored);
        EXPECT_TRUE(m_store.SetDefaultDword(HKEY_CURRENT_USER, Key("D\\New"), "", 1)) << c.what;
        EXPECT_TRUE(m_store.SetDefaultDword(HKEY_CURRENT_USER, Key("D"), name, 9)) << c.what;
        EXPECT_EQ(Get("D", name.c_str()), c.after) << c.what;
    }
    EXPECT_EQ(Get("D\\New", ""), RawValue::Dword(1));  // created with the key
    EXPECT_EQ(m_store.Status(), 0);
}

TEST_F(RegistryStoreTest, SubKeysByPosition) {
    for (const char* name : {"b", "A", "c"}) ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("S\\") + name, "", ""));

    struct Case {
        DWORD index;
        bool result;
        const char* buffer;
    };
    for (const Case& c : {Case{0, false, "unchanged"}, Case{1, true, "A"}, Case{3, true, "c"}, Case{4, false, "unchanged"}}) {
        CRegistryStore store;
        char buffer[256] = "unchanged";
        EXPECT_EQ(store.GetSubKeyName(HKEY_CURRENT_USER, Key("S"), c.index, buffer), c.result) << c.index;
        EXPECT_STREQ(buffer, c.buffer) << c.index;
        EXPECT_EQ(store.Status(), c.result ? 0 : -1) << c.index;
        EXPECT_EQ(store.ErrorText(), c.result ? "" : kSubKeyRange) << c.index;
        EXPECT_EQ(store.SubKeyCount(), 3u) << c.index;
    }

    std::string text = "unchanged";
    EXPECT_TRUE(m_store.GetSubKeyNameAt(HKEY_CURRENT_USER, 1, Key("S"), text));
    EXPECT_EQ(text, "b");
    EXPECT_TRUE(m_store.GetSubKeyNameAt(HKEY_CURRENT_USER, 3, Key("S"), text));
    EXPECT_EQ(text, "b");  // past the last one: unchanged
    EXPECT_FALSE(m_store.GetSubKeyNameAt(HKEY_CURRENT_USER, 0, Key("None"), text));

    std::vector<std::string> names = {"kept"};
    EXPECT_TRUE(m_store.ListSubKeys(HKEY_CURRENT_USER, Key("S"), names));
    EXPECT_TRUE(m_store.ListSubKeys(HKEY_CURRENT_USER, Key("S"), names));
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "A", "b", "c", "A", "b", "c"}));
    EXPECT_FALSE(m_store.ListSubKeys(HKEY_CURRENT_USER, Key("None"), names));
    EXPECT_TRUE(m_store.ListSubKeys(HKEY_CURRENT_USER, Key("S\\A"), names));
    EXPECT_EQ(names.size(), 7u);
    EXPECT_EQ(m_store.Status(), 0);
}

TEST_F(RegistryStoreTest, ValuesByPosition) {
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("V"), "", ""));
    char name[64] = {};
    DWORD nameLength = 0;
    DWORD type = 0;
    BYTE data[64] = {};
    DWORD dataLength = 0;
    auto enumerate = [&](CRegistryStore& store, DWORD index, DWORD dataCapacity) {
        nameLength = sizeof(name);
        dataLength = dataCapacity;
        return store.EnumValue(HKEY_CURRENT_USER, Key("V"), index, name, &nameLength, &type, data, &dataLength);
    };
    for (DWORD index : {0u, 1u, 2u}) {
        CRegistryStore store;
        EXPECT_FALSE(enumerate(store, index, sizeof(data))) << index;
        EXPECT_EQ(store.ErrorText(), kValueRange) << index;
    }

    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("V"), "second", "2"));
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("V"), "first", "1"));
    EXPECT_TRUE(enumerate(m_store, 2, sizeof(data)));
    EXPECT_STREQ(name, "second");
    EXPECT_EQ(nameLength, 6u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(reinterpret_cast<char*>(data), "2");
    EXPECT_EQ(dataLength, 2u);
    EXPECT_FALSE(enumerate(m_store, 1, 1));  // the enumeration fails: nothing recorded
    EXPECT_FALSE(enumerate(m_store, 3, sizeof(data)));
    EXPECT_EQ(m_store.ErrorText(), kValueRange);
}

// A key that does not open leaves the counts of the last one that did; an index within those
// counts then passes the check, and the operation fails without recording anything.
TEST_F(RegistryStoreTest, EnumeratingAMissingKeyFailsAfterTheIndexCheckPassed) {
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("K\\child"), "", ""));
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("K"), "value", "1"));
    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("K")), 2u);

    char buffer[256] = "unchanged";
    EXPECT_FALSE(m_store.GetSubKeyName(HKEY_CURRENT_USER, Key("Missing"), 1, buffer));
    EXPECT_STREQ(buffer, "unchanged");
    char name[64] = "unchanged";
    DWORD nameLength = sizeof(name);
    DWORD type = 99;
    BYTE data[64] = {};
    DWORD dataLength = sizeof(data);
    EXPECT_FALSE(m_store.EnumValue(HKEY_CURRENT_USER, Key("Missing"), 1, name, &nameLength, &type, data, &dataLength));
    EXPECT_STREQ(name, "unchanged");
    EXPECT_EQ(type, 99u);
    EXPECT_EQ(m_store.Status(), 0);
    EXPECT_EQ(m_store.ErrorText(), "");
    EXPECT_EQ(m_store.SubKeyCount(), 1u);
    EXPECT_EQ(m_store.ValueCount(), 1u);
}

TEST_F(RegistryStoreTest, KeyInformation) {
    {
        KeyHandle key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Key("I").c_str(), 0, const_cast<LPSTR>("PortClass"), 0, KEY_ALL_ACCESS,
                                  nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
    }
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("I\\a"), "", ""));
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("I\\b"), "", ""));
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("I\\a"), "", ""));
    KeyHandle key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Key("I").c_str(), 0, KEY_SET_VALUE, key.Put()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.Get(), "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_SUCCESS);

    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("I")), 3u);
    EXPECT_EQ(m_store.SubKeyCount(), 2u);
    EXPECT_EQ(m_store.ValueCount(), 1u);
    EXPECT_EQ(m_store.ClassName(), "PortClass");
    // A key that does not open changes nothing.
    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("Nothing")), 0u);
    EXPECT_EQ(m_store.SubKeyCount(), 2u);
    EXPECT_EQ(m_store.ValueCount(), 1u);
    EXPECT_EQ(m_store.ClassName(), "PortClass");
    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("I\\a")), 0u);
    EXPECT_EQ(m_store.ClassName(), "");
    EXPECT_EQ(m_store.Status(), 0);
}

TEST_F(RegistryStoreTest, Deleting) {
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("X\\Y\\Z"), "v", "1"));
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("X"), "v", "1"));
    EXPECT_TRUE(m_store.DeleteValue(HKEY_CURRENT_USER, Key("X"), "V"));
    EXPECT_FALSE(m_store.DeleteValue(HKEY_CURRENT_USER, Key("X"), "v"));  // gone: nothing recorded
    EXPECT_EQ(m_store.Status(), 0);

    CRegistryStore fresh;
    EXPECT_TRUE(fresh.DeleteKey(HKEY_CURRENT_USER, Key("X")));
    EXPECT_FALSE(fresh.KeyExists(HKEY_CURRENT_USER, Key("X\\Y\\Z")));
    EXPECT_FALSE(fresh.KeyExists(HKEY_CURRENT_USER, Key("X")));
    EXPECT_FALSE(fresh.DeleteKey(HKEY_CURRENT_USER, Key("X")));
    EXPECT_EQ(fresh.Status(), 0);  // nothing recorded
    EXPECT_EQ(fresh.ErrorText(), "");
}

// The TAPI converter reads, and self-registration writes, below HKEY_LOCAL_MACHINE.
TEST_F(RegistryStoreTest, LocalMachine) {
    const std::string serial = m_registry.MachineBase() + "\\Ports\\Serial\\";
    EXPECT_TRUE(m_store.WriteString(HKEY_LOCAL_MACHINE, serial, "CLSID", "{5E2B9A70-C81D-4F36-9A4E-0B7D3C61E829}"));
    EXPECT_EQ(m_store.ReadString(HKEY_LOCAL_MACHINE, serial, "CLSID", ""), "{5E2B9A70-C81D-4F36-9A4E-0B7D3C61E829}");
    EXPECT_TRUE(m_store.DeleteKey(HKEY_LOCAL_MACHINE, m_registry.MachineBase()));
    EXPECT_FALSE(m_store.KeyExists(HKEY_LOCAL_MACHINE, serial));
    EXPECT_EQ(m_store.Status(), 0);
}

// Writer processes started at once on one key: every value arrives.
TEST_F(RegistryStoreTest, WriterProcessesOnOneKeyLoseNothing) {
    constexpr int kWriters = 3;
    constexpr int kWrites = 100;
    {
        std::vector<std::unique_ptr<ChildProcess>> writers;
        for (int writer = 0; writer < kWriters; ++writer) {
            writers.push_back(std::make_unique<ChildProcess>(
                SiblingProgram("registry_writer"),
                std::vector<std::string>{Key("Shared"), "p" + std::to_string(writer) + "_", std::to_string(kWrites)}));
            ASSERT_TRUE(writers.back()->Started());
        }
        for (auto& writer : writers) EXPECT_EQ(writer->Wait(), 0);
    }
    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("Shared")), static_cast<DWORD>(kWriters * kWrites));
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int i = 0; i < kWrites; ++i) {
            const std::string name = "p" + std::to_string(writer) + "_" + std::to_string(i);
            EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("Shared"), name, "missing"), std::to_string(i)) << name;
        }
    }
    EXPECT_EQ(m_store.Status(), 0);
}

}  // namespace
