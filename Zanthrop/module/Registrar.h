// Applies registration scripts to the registry, in either direction.
//
// Registering writes every key and value of the script; a ForceRemove key is first removed with
// everything below it. Unregistering removes, depth first: ForceRemove keys with everything
// below them, named values of the script, and unmarked keys that have no sub-keys left; NoRemove
// keys (and the roots) stay.
#pragma once

#include "module/RegistrationScript.h"

namespace registration {

enum class Mode { Register, Unregister };

// S_OK; the first registry failure as an HRESULT (registering stops there; unregistering goes on
// and reports the first); HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for a script that cannot be
// read, in which case nothing is changed.
HRESULT ApplyScript(const std::string& script, const Replacements& replacements, Mode mode);

// Removes a key with all its sub-keys and values. S_OK when it is gone (or was never there).
HRESULT DeleteKeyTree(HKEY parent, const std::string& name);

}  // namespace registration
