// Registration scripts from any bytes: the reader either refuses the whole script with a reason
// or returns a tree whose every key has a name fit for the registry; it never applies anything.
// The first byte picks how the module path replacement looks (quotes doubled or not).
#include <cstdlib>
#include <string>

#include "module/RegistrationScript.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckKeys(const std::vector<registration::ScriptKey>& keys, int depth) {
    Require(depth <= 40);
    for (const registration::ScriptKey& key : keys) {
        Require(!key.name.empty() && key.name.find('\\') == std::string::npos);
        Require(key.hasDefault || key.defaultData.empty());
        CheckKeys(key.subKeys, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string path = (data[0] & 1) != 0 ? "C:\\It's here\\Zanthrop.dll" : "/tmp/Zanthrop.so";
    const std::string module = (data[0] & 2) != 0 ? registration::QuoteForScript(path) : path;
    const std::string script(reinterpret_cast<const char*>(data + 1), size - 1);
    const registration::ParsedScript parsed = registration::ParseScript(script, {{"MODULE", module}});
    if (!parsed.error.empty()) {
        Require(parsed.roots.empty());
        return 0;
    }
    for (const registration::ScriptRoot& root : parsed.roots) {
        Require(root.root == HKEY_CLASSES_ROOT || root.root == HKEY_LOCAL_MACHINE || root.root == HKEY_CURRENT_USER);
        CheckKeys(root.keys, 0);
    }
    return 0;
}
