// The registrar: reading the script language's subset and applying scripts in both directions.
#include <gtest/gtest.h>

#include "module/Registrar.h"
#include "registry/TestRegistry.h"

namespace {

using registration::Mode;
using registration::ParseScript;
using registration::Removal;

// Reading: what the tree holds, and the scripts that must be refused as a whole.
TEST(RegistrationScriptTest, ReadsRootsKeysMarksValuesAndQuotedText) {
    const auto parsed = ParseScript(
        "HKCR\n{\n NoRemove CLSID\n {\n  ForceRemove {A3F17C42-5D09-4E6B-8B21-7C94E0D1A5F3} = s 'It''s %NAME%'\n"
        "  {\n   InprocServer32 = s '%MODULE%'\n   {\n    val ThreadingModel = s 'Apartment'\n   }\n  }\n }\n"
        " 'Quoted Key' = s '100%%'\n}\nHKEY_LOCAL_MACHINE { Plain }\n",
        {{"MODULE", "C:\\It''s\\Z.dll"}, {"name", "x"}});
    ASSERT_EQ(parsed.error, "");
    ASSERT_EQ(parsed.roots.size(), 2u);
    EXPECT_EQ(parsed.roots[0].root, HKEY_CLASSES_ROOT);
    EXPECT_EQ(parsed.roots[1].root, HKEY_LOCAL_MACHINE);
    ASSERT_EQ(parsed.roots[0].keys.size(), 2u);
    const auto& clsid = parsed.roots[0].keys[0];
    EXPECT_EQ(clsid.name, "CLSID");
    EXPECT_EQ(clsid.removal, Removal::NoRemove);
    EXPECT_FALSE(clsid.hasDefault);
    ASSERT_EQ(clsid.subKeys.size(), 1u);
    const auto& classKey = clsid.subKeys[0];
    EXPECT_EQ(classKey.name, "{A3F17C42-5D09-4E6B-8B21-7C94E0D1A5F3}");
    EXPECT_EQ(classKey.removal, Removal::ForceRemove);
    EXPECT_EQ(classKey.defaultData, "It's x");
    ASSERT_EQ(classKey.subKeys.size(), 1u);
    const auto& server = classKey.subKeys[0];
    EXPECT_EQ(server.defaultData, "C:\\It's\\Z.dll");
    ASSERT_EQ(server.values.size(), 1u);
    EXPECT_EQ(server.values[0].name, "ThreadingModel");
    EXPECT_EQ(server.values[0].data, "Apartment");
    EXPECT_EQ(parsed.roots[0].keys[1].name, "Quoted Key");
    EXPECT_EQ(parsed.roots[0].keys[1].defaultData, "100%");
    EXPECT_EQ(parsed.roots[1].keys[0].name, "Plain");
}

TEST(RegistrationScriptTest, RefusesWhatItCannotReadWithTheLine) {
    const std::string deep = "HKCR {" + [] {
        std::string keys;
        for (int i = 0; i < 40; ++i) keys += " K {";
        for (int i = 0; i < 40; ++i) keys += " }";
        return keys;
    }() + " }";
    const struct {
        const char* what;
        std::string script;
        const char* error;
    } cases[] = {
        {"unknown root", "HKXX { A }", "line 1: expected a root key (HKCR, HKLM or HKCU)"},
        {"missing brace", "HKCR {\n A = s 'x'\n", "line 3: expected '}'"},
        {"unterminated text", "HKCR {\n A = s 'x }", "line 2: quoted text without its closing quote"},
        {"value type other than text", "HKCR { A = d '5' }", "line 1: expected value type s (text)"},
        {"value outside a key", "HKCR { val X = s 'y' }", "line 1: expected a key (a named value needs a key to belong to)"},
        {"backslash in a name", "HKCR { 'A\\B' }", "line 1: expected a key name without backslashes"},
        {"unknown replacement", "HKCR { A = s '%OTHER%' }", "no replacement for %OTHER%"},
        {"unclosed replacement", "HKCR { A = s '%MODULE' }", "a '%' without its closing '%'"},
        {"nesting too deep", deep, "line 1: expected keys nested less deeply"},
        {"dangling mark", "HKCR { NoRemove }", "line 1: expected a name"},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseScript(c.script, {{"MODULE", "m"}});
        EXPECT_EQ(parsed.error, c.error) << c.what;
        EXPECT_TRUE(parsed.roots.empty()) << c.what;
    }
}

TEST(RegistrationScriptTest, QuoteForScriptDoublesSingleQuotesOnly) {
    EXPECT_EQ(registration::QuoteForScript("C:\\It's 'here'\\\"Z\".dll"), "C:\\It''s ''here''\\\"Z\".dll");
    EXPECT_EQ(registration::QuoteForScript(""), "");
}

// Applying: a script under the test's own key of HKEY_CURRENT_USER.
class RegistrarTest : public testing::Test {
protected:
    std::string Script(const std::string& body) const {
        return "HKCU\n{\n NoRemove Software\n {\n  NoRemove ZanthropTests\n  {\n   NoRemove '" + Leaf() + "'\n   {\n" + body +
               "\n   }\n  }\n }\n}\n";
    }
    std::string Leaf() const { return m_registry.Base().substr(m_registry.Base().find_last_of('\\') + 1); }
    bool KeyExists(const std::string& relative) const {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, m_registry.Key(relative).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    // The text value, or "<absent>".
    std::string Text(const std::string& relative, const char* name) const {
        char data[512] = {};
        DWORD size = sizeof(data);
        DWORD type = 0;
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, m_registry.Key(relative).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<absent>";
        const LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
        return status == ERROR_SUCCESS && type == REG_SZ ? std::string(data) : "<absent>";
    }
    void MakeKey(const std::string& relative) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_registry.Key(relative).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    TestRegistry m_registry;
};

const char kBody[] =
    "    Prog.Id = s 'Desc'\n    {\n     CLSID = s '{X}'\n    }\n"
    "    NoRemove Keep\n    {\n     ForceRemove Class = s 'Desc'\n     {\n      Server = s '%MODULE%'\n      {\n"
    "       val ThreadingModel = s 'Apartment'\n      }\n     }\n    }";

TEST_F(RegistrarTest, RegisteringWritesEveryKeyAndValue) {
    MakeKey("x");
    ASSERT_EQ(registration::ApplyScript(Script(kBody), {{"MODULE", "C:\\It''s\\Z.dll"}}, Mode::Register), S_OK);
    EXPECT_EQ(Text("Prog.Id", nullptr), "Desc");
    EXPECT_EQ(Text("Prog.Id\\CLSID", nullptr), "{X}");
    EXPECT_EQ(Text("Keep\\Class", nullptr), "Desc");
    EXPECT_EQ(Text("Keep\\Class\\Server", nullptr), "C:\\It's\\Z.dll");
    EXPECT_EQ(Text("Keep\\Class\\Server", "ThreadingModel"), "Apartment");
}

TEST_F(RegistrarTest, ForceRemoveClearsWhatWasThereBeforeWritingAgain) {
    ASSERT_EQ(registration::ApplyScript(Script(kBody), {{"MODULE", "m"}}, Mode::Register), S_OK);
    MakeKey("Keep\\Class\\Stale");
    MakeKey("Prog.Id\\Extra");
    ASSERT_EQ(registration::ApplyScript(Script(kBody), {{"MODULE", "m2"}}, Mode::Register), S_OK);
    EXPECT_FALSE(KeyExists("Keep\\Class\\Stale"));
    EXPECT_TRUE(KeyExists("Prog.Id\\Extra"));  // unmarked keys are only written over
    EXPECT_EQ(Text("Keep\\Class\\Server", nullptr), "m2");
}

TEST_F(RegistrarTest, UnregisteringHonoursTheMarks) {
    ASSERT_EQ(registration::ApplyScript(Script(kBody), {{"MODULE", "m"}}, Mode::Register), S_OK);
    MakeKey("Keep\\Class\\Stale");  // goes with its ForceRemove parent
    MakeKey("Keep\\Other");         // NoRemove parent: stays, with what else it holds
    ASSERT_EQ(registration::ApplyScript(Script(kBody), {{"MODULE", "m"}}, Mode::Unregister), S_OK);
    EXPECT_FALSE(KeyExists("Prog.Id"));
    EXPECT_FALSE(KeyExists("Keep\\Class"));
    EXPECT_TRUE(KeyExists("Keep\\Other"));
    EXPECT_TRUE(KeyExists(""));
}

TEST_F(RegistrarTest, UnregisteringKeepsAnUnmarkedKeyThatStillHasOtherSubKeys) {
    ASSERT_EQ(registration::ApplyScript(Script(kBody), {{"MODULE", "m"}}, Mode::Register), S_OK);
    MakeKey("Prog.Id\\Foreign");
    ASSERT_EQ(registration::ApplyScript(Script(kBody), {{"MODULE", "m"}}, Mode::Unregister), S_OK);
    EXPECT_TRUE(KeyExists("Prog.Id\\Foreign"));
    EXPECT_FALSE(KeyExists("Prog.Id\\CLSID"));
}

TEST_F(RegistrarTest, UnregisteringWhatWasNeverRegisteredSucceeds) {
    EXPECT_EQ(registration::ApplyScript(Script(kBody), {{"MODULE", "m"}}, Mode::Unregister), S_OK);
    EXPECT_FALSE(KeyExists("Keep"));
}

TEST_F(RegistrarTest, AScriptThatCannotBeReadChangesNothing) {
    EXPECT_EQ(registration::ApplyScript(Script(std::string(kBody) + "\n Broken = s 'x"), {{"MODULE", "m"}}, Mode::Register),
              HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_FALSE(KeyExists("Prog.Id"));
}

}  // namespace
