// Conversion between UTF-16 and 8-bit text. The ANSI code page of this layer is fixed:
// Windows-1252, default character "?".
#pragma once

#include "pal/types.h"

#define CP_ACP 0
#define CP_UTF8 65001
#define WC_NO_BEST_FIT_CHARS 0x00000400

extern "C" UINT GetACP(void);

// As on Windows: a length of -1 means "up to and including the NUL"; an output size of 0 asks
// for the needed size; too small an output fails with ERROR_INSUFFICIENT_BUFFER.
extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte,
                                   LPWSTR wideChar, int cchWideChar);
extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideChar, int cchWideChar,
                                   LPSTR multiByte, int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar);
