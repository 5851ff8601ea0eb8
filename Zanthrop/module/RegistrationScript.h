// Registration scripts: the registrar language's subset our scripts use, read into a tree.
//
//   HKCR                                   root: HKCR, HKLM, HKCU or their HKEY_ names
//   {
//       NoRemove CLSID                     key, optionally marked NoRemove or ForceRemove
//       {
//           ForceRemove {...} = s 'Text'   key with its default value (type s: text only)
//           {
//               val ThreadingModel = s 'Apartment'    named value
//           }
//       }
//   }
//
// Tokens are separated by white space ("{", "}" and "=" too, so "{A3F1...}" is a name);
// names are bare words or quoted; quoted text uses '' for a quote. %NAME% is replaced by the
// caller's text for NAME before reading ('%%' stands for '%'); an unknown name is an error.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace registration {

enum class Removal { Normal, NoRemove, ForceRemove };

struct ScriptValue {
    std::string name;
    std::string data;
};

struct ScriptKey {
    std::string name;
    Removal removal = Removal::Normal;
    bool hasDefault = false;
    std::string defaultData;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> subKeys;
};

struct ScriptRoot {
    HKEY root = nullptr;
    std::vector<ScriptKey> keys;
};

using Replacements = std::vector<std::pair<std::string, std::string>>;

struct ParsedScript {
    std::vector<ScriptRoot> roots;
    std::string error;  // empty when the script was read
};

// Substitutes the replacements and reads the whole script; on any error nothing is returned
// but the error's description (with the line it was found on).
ParsedScript ParseScript(const std::string& script, const Replacements& replacements);

// Text put into a quoted script string: every single quote doubled.
std::string QuoteForScript(const std::string& text);

}  // namespace registration
