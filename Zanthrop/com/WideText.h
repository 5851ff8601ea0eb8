// Wide-string literals of the platform's WCHAR: wchar_t on Windows, char16_t on Linux (where
// wchar_t is 32 bits wide). ZW("TAPI") is a const WCHAR[5] on both builds.
#pragma once

#ifdef _WIN32
#define ZW(text) L##text
#else
#define ZW(text) u##text
#endif
