// The module's own handle and file path, for its resources and its registration.
#pragma once

#include <windows.h>

#include <string>

HMODULE ModuleInstance();
// The full path of the module's file ("" if it cannot be told).
std::string ModulePath();
