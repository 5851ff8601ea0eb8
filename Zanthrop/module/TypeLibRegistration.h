// Registration of the type library the module carries (resource TYPELIB 1 on Windows) or that
// lies beside it as a .tlb file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Where the type library is looked for, in order: the module itself, then the module's path with
// its extension replaced by ".tlb" (appended when the file name has none).
std::vector<std::string> TypeLibCandidates(const std::string& modulePath);

// The directory part of a path, without its last separator.
std::string DirectoryOf(const std::string& path);

// Loads the type library from the first candidate that holds one and registers it with that path
// and its directory as the help directory. The load's failure when no candidate holds one.
HRESULT RegisterModuleTypeLib(const std::string& modulePath);

// Removes the registration of the type library found as RegisterModuleTypeLib finds it; failures
// are not reported.
void UnregisterModuleTypeLib(const std::string& modulePath);
