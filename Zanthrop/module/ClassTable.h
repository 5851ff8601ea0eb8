// The classes the module serves, in lookup and registration order.
#pragma once

#include <windows.h>

#include <atomic>

#include "module/ClassObject.h"

struct ClassEntry {
    const CLSID* clsid;
    ObjectCreator creator;
    UINT registrationScript;                           // resource identifier of its script
    std::atomic<CClassObject*> classObject{nullptr};  // made on first request, kept until unload
};

constexpr size_t kClassCount = 3;
ClassEntry (&ClassTable())[kClassCount];
