// Conversion between UTF-16 and 8-bit text. The ANSI code page of this layer is fixed:
// Windows-1252, default character "?".
#pragma once

#include "pal/types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_COMPOSITECHECK 0x00000200
#define WC_NO_BEST_FIT_CHARS 0x00000400

// The ANSI code page: 1252.
extern "C" UINT GetACP(void);

// The two conversions, for CP_ACP, CP_THREAD_ACP and 1252 (all Windows-1252) and CP_UTF8; any
// other code page fails with ERROR_INVALID_PARAMETER. What the module relies on:
// - ASCII and Latin-1 (U+0000-U+00FF) convert both ways unchanged; the bytes 0x80-0x9F map to the
//   page's characters (0x80 <-> U+20AC ...), its five undefined bytes to U+0081, U+008D, U+008F,
//   U+0090, U+009D and back.
// - A character the page lacks becomes *defaultChar, or "?" when defaultChar is null, and sets
//   *usedDefaultChar (when given) to TRUE, else it is set to FALSE. Windows substitutes a similar
//   character for some ("best fit", e.g. U+0100 -> 'A') unless WC_NO_BEST_FIT_CHARS is given;
//   this layer never does, as if that flag were always given.
// - A negative length means "up to and including the NUL"; a length counts every unit given,
//   NULs included, and then no NUL is added. The result is the number of units written, or with
//   an output size of 0 the number needed.
// - Too small an output: as much as fits is written (whole characters), the result is 0 and the
//   last error ERROR_INSUFFICIENT_BUFFER; *usedDefaultChar then covers what was converted.
// - The result is 0 with ERROR_INVALID_PARAMETER for a null input, a length of 0, a negative
//   output size or a null output with a non-zero size; ERROR_INVALID_FLAGS for flags the call
//   does not know. The other flags are accepted and change nothing, except for UTF-8:
//   MB_ERR_INVALID_CHARS and WC_ERR_INVALID_CHARS make ill-formed input (otherwise U+FFFD)
//   fail with ERROR_NO_UNICODE_TRANSLATION.
// - For UTF-8, defaultChar and usedDefaultChar are ignored (as Wine does; Windows refuses them).
extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte,
                                   LPWSTR wideChar, int cchWideChar);
extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideChar, int cchWideChar,
                                   LPSTR multiByte, int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar);
