// The Win32 subset of the Linux build. Module code includes <windows.h> and <objbase.h> on
// both builds; on Linux they resolve to these declarations, implemented in pal/src.
#pragma once

#include "pal/types.h"
#include "pal/errors.h"
#include "pal/guid.h"
#include "pal/unknwn.h"
#include "pal/com.h"
#include "pal/sync.h"
#include "pal/text.h"
#include "pal/kernel.h"
#include "pal/registry.h"
