// The registry store against the real registry (under Wine) and our SQLite registry (Linux):
// results, recorded errors and their texts byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <shlwapi.h>

#include "registry/CRegistryStore.h"

namespace {

const char kNotFound[] = "File not found.\r\n";

// Each test works below a private key of its own, removed afterwards; on Linux in a fresh database.
class RegistryStoreTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
#ifndef _WIN32
        m_database = "/tmp/zanthrop-registry-test-" + std::to_string(getpid()) + "-" + test + ".db";
        std::remove(m_database.c_str());
        setenv("ZANTHROP_REGISTRY", m_database.c_str(), 1);
#endif
        m_base = "Software\\ZanthropTests\\" + test;
        SHDeleteKeyA(HKEY_CURRENT_USER, m_base.c_str());
    }
    void TearDown() override {
        SHDeleteKeyA(HKEY_CURRENT_USER, m_base.c_str());
#ifndef _WIN32
        for (const char* suffix : {"", "-wal", "-shm"}) std::remove((m_database + suffix).c_str());
#endif
    }
    std::string Key(const std::string& relative) const { return m_base + "\\" + relative; }
    void SetRaw(const std::string& relative, const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Key(relative).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::string m_base;
    std::string m_database;
    CRegistryStore m_store;
};

TEST_F(RegistryStoreTest, WrittenTextsReadBackAndPathsLoseOneTrailingBackslash) {
    EXPECT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("Serial\\"), "CLSID", "{1234}"));
    EXPECT_TRUE(m_store.KeyExists(HKEY_CURRENT_USER, Key("Serial")));
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("Serial\\"), "CLSID", ""), "{1234}");
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("SERIAL"), "clsid", ""), "{1234}");  // names ignore case
    EXPECT_EQ(m_store.Status(), 0);
}

TEST_F(RegistryStoreTest, MissingKeyRecordsTheOpeningErrorWithTheTrimmedPath) {
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("Missing\\"), "CLSID", "x"), "");
    EXPECT_EQ(m_store.Status(), -1);
    EXPECT_EQ(m_store.ErrorText(), "Error: Opening registry key '" + Key("Missing") + "' reason: " + kNotFound);
    EXPECT_EQ(m_store.ReadDword(HKEY_CURRENT_USER, Key("Missing"), "n", 5), 0u);
    EXPECT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("Now"), "a", "b"));
    EXPECT_EQ(m_store.Status(), -1);  // stays after later successes
}

TEST_F(RegistryStoreTest, ReadStringTakesTheBytesUpToTheFirstZero) {
    const DWORD one = 0x31;
    SetRaw("K", "dword", REG_DWORD, &one, sizeof(one));
    const std::string long499(499, 'x');
    SetRaw("K", "s499", REG_SZ, long499.c_str(), 500);
    const std::string long600(600, 'y');
    SetRaw("K", "s600", REG_SZ, long600.c_str(), 601);
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("K"), "dword", ""), "1");
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("K"), "s499", ""), long499);
    // Too long to read: the default takes its place and is the result.
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("K"), "s600", "dflt"), "dflt");
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("K"), "s600", "other"), "dflt");
    EXPECT_EQ(m_store.Status(), 0);
}

TEST_F(RegistryStoreTest, UnreadableValuesGetTheirDefaults) {
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("D"), "", ""));
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("D"), "absent", "fallback"), "fallback");
    EXPECT_EQ(m_store.ReadDword(HKEY_CURRENT_USER, Key("D"), "number", 42), 42u);
    EXPECT_EQ(m_store.ReadDword(HKEY_CURRENT_USER, Key("D"), "number", 7), 42u);  // written before
    EXPECT_TRUE(m_store.SetDefaultDword(HKEY_CURRENT_USER, Key("D"), "number", 9));
    EXPECT_EQ(m_store.ReadDword(HKEY_CURRENT_USER, Key("D"), "number", 0), 42u);  // kept: it could be read
    EXPECT_TRUE(m_store.SetDefaultDword(HKEY_CURRENT_USER, Key("D"), "fresh", 9));
    EXPECT_EQ(m_store.ReadDword(HKEY_CURRENT_USER, Key("D"), "fresh", 0), 9u);
}

TEST_F(RegistryStoreTest, WriteStringForms) {
    EXPECT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("W"), "", ""));
    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("W")), 0u);  // key made, nothing written
    EXPECT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("W"), "", "unnamed"));
    EXPECT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("W"), "empty", ""));
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("W"), "", ""), "unnamed");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Key("W").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD size = 0;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "empty", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    RegCloseKey(key);
}

TEST_F(RegistryStoreTest, SubKeysByIndex) {
    for (const char* name : {"b", "A", "c"}) ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("S\\") + name, "", ""));
    char buffer[256] = "unchanged";
    EXPECT_FALSE(m_store.GetSubKeyName(HKEY_CURRENT_USER, Key("S"), 0, buffer));
    EXPECT_EQ(m_store.ErrorText(), "Index out of range.  Valid range: 1 - [Number of sub keys]");
    EXPECT_TRUE(m_store.GetSubKeyName(HKEY_CURRENT_USER, Key("S"), 3, buffer));
    EXPECT_STREQ(buffer, "c");
    EXPECT_FALSE(m_store.GetSubKeyName(HKEY_CURRENT_USER, Key("S"), 4, buffer));
    EXPECT_EQ(m_store.SubKeyCount(), 3u);

    std::string text = "unchanged";
    EXPECT_TRUE(m_store.GetSubKeyNameAt(HKEY_CURRENT_USER, 0, Key("S"), text));
    EXPECT_EQ(text, "A");
    EXPECT_TRUE(m_store.GetSubKeyNameAt(HKEY_CURRENT_USER, 3, Key("S"), text));
    EXPECT_EQ(text, "A");  // past the last one: unchanged
    EXPECT_FALSE(m_store.GetSubKeyNameAt(HKEY_CURRENT_USER, 0, Key("None"), text));

    std::vector<std::string> names;
    EXPECT_TRUE(m_store.ListSubKeys(HKEY_CURRENT_USER, Key("S"), names));
    EXPECT_TRUE(m_store.ListSubKeys(HKEY_CURRENT_USER, Key("S"), names));
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "c", "A", "b", "c"}));
    EXPECT_FALSE(m_store.ListSubKeys(HKEY_CURRENT_USER, Key("None"), names));
}

TEST_F(RegistryStoreTest, ValuesByIndexAndKeyInformation) {
    char name[64] = {};
    DWORD nameLength = sizeof(name);
    DWORD type = 0;
    BYTE data[64] = {};
    DWORD dataLength = sizeof(data);
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("V"), "", ""));
    EXPECT_FALSE(m_store.EnumValue(HKEY_CURRENT_USER, Key("V"), 1, name, &nameLength, &type, data, &dataLength));
    EXPECT_EQ(m_store.ErrorText(), "Index out of range.  Valid range: 1 - [Number of key values]");

    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("V"), "first", "1"));
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("V\\child"), "", ""));
    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("V")), 2u);
    EXPECT_TRUE(m_store.EnumValue(HKEY_CURRENT_USER, Key("V"), 1, name, &nameLength, &type, data, &dataLength));
    EXPECT_STREQ(name, "first");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(reinterpret_cast<char*>(data), "1");

    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("Nothing")), 0u);
    EXPECT_EQ(m_store.SubKeyCount(), 1u);  // the earlier counts stay
    EXPECT_EQ(m_store.ValueCount(), 1u);
}

TEST_F(RegistryStoreTest, Deleting) {
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("X\\Y\\Z"), "v", "1"));
    ASSERT_TRUE(m_store.WriteString(HKEY_CURRENT_USER, Key("X"), "v", "1"));
    EXPECT_TRUE(m_store.DeleteValue(HKEY_CURRENT_USER, Key("X"), "v"));
    EXPECT_FALSE(m_store.DeleteValue(HKEY_CURRENT_USER, Key("X"), "v"));
    EXPECT_EQ(m_store.Status(), 0);
    EXPECT_FALSE(m_store.DeleteValue(HKEY_CURRENT_USER, Key("Gone"), "v"));
    EXPECT_EQ(m_store.ErrorText(), "Error: Opening registry key '" + Key("Gone") + "' reason: " + kNotFound);

    CRegistryStore fresh;
    EXPECT_TRUE(fresh.DeleteKey(HKEY_CURRENT_USER, Key("X")));
    EXPECT_FALSE(fresh.KeyExists(HKEY_CURRENT_USER, Key("X\\Y\\Z")));
    EXPECT_FALSE(fresh.DeleteKey(HKEY_CURRENT_USER, Key("X")));
    EXPECT_EQ(fresh.Status(), 0);  // nothing recorded
}

#ifndef _WIN32
TEST_F(RegistryStoreTest, TwoProcessesWritingOneKeyLoseNothing) {
    constexpr int kWrites = 150;
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        if (children[child] == 0) {
            CRegistryStore store;
            bool ok = true;
            for (int i = 0; i < kWrites; ++i) {
                ok = store.WriteString(HKEY_CURRENT_USER, Key("Shared"), "p" + std::to_string(child) + "_" + std::to_string(i),
                                       std::to_string(i)) && ok;
            }
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(m_store.QueryKeyInfo(HKEY_CURRENT_USER, Key("Shared")), 2u * kWrites);
    EXPECT_EQ(m_store.ReadString(HKEY_CURRENT_USER, Key("Shared"), "p1_149", ""), "149");
}
#endif

}  // namespace
