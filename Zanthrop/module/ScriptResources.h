// Where the module keeps its registration scripts: resources of type "REGISTRY" in the DLL on
// Windows, texts compiled into the library on Linux (which has no resources).
#pragma once

#include <windows.h>

#include <string>

// The script with the numeric resource identifier id of module, as text.
HRESULT LoadRegistrationScript(HMODULE module, UINT id, std::string& script);
