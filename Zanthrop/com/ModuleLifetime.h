// The module's lock count: how many live objects, extra class-object references and server
// locks keep the module loaded. Changed atomically from any thread.
#pragma once

#include <windows.h>

namespace ModuleLifetime {
void Lock();
void Unlock();
LONG Count();
}  // namespace ModuleLifetime
