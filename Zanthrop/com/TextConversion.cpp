#include "com/TextConversion.h"

std::string ToAnsi(const WCHAR* text) {
    if (text == nullptr || text[0] == 0) return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));  // without the NUL
    return out;
}

std::basic_string<WCHAR> ToWide(const std::string& text) {
    if (text.empty()) return std::basic_string<WCHAR>();
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return std::basic_string<WCHAR>();
    std::basic_string<WCHAR> out(static_cast<size_t>(size), 0);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], size);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}
