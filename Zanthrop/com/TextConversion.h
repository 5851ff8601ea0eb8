// UTF-16 <-> 8-bit text in the process's ANSI code page; characters without a mapping become
// the system's default character.
#pragma once

#include <windows.h>

#include <string>

// A null text converts to the empty string.
std::string ToAnsi(const WCHAR* text);
std::basic_string<WCHAR> ToWide(const std::string& text);
