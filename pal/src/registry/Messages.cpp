// System message texts for the error codes this layer returns, worded as Wine words them.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

struct Message {
    DWORD code;
    const char* text;
};

const Message kMessages[] = {
    {0, "Success.\r\n"},
    {2, "File not found.\r\n"},
    {3, "Path not found.\r\n"},
    {5, "Access denied.\r\n"},
    {6, "Invalid handle.\r\n"},
    {8, "Not enough memory.\r\n"},
    {14, "Out of memory.\r\n"},
    {87, "Invalid parameter.\r\n"},
    {122, "Insufficient buffer.\r\n"},
    {161, "Path is invalid.\r\n"},
    {234, "More data available.\r\n"},
    {259, "No more data available.\r\n"},
    {998, "No access to memory location.\r\n"},
    {1009, "Registry corrupt.\r\n"},
    {1010, "Invalid key.\r\n"},
    {1011, "Can't open registry key.\r\n"},
    {1012, "Can't read registry key.\r\n"},
    {1013, "Can't write registry key.\r\n"},
    {1015, "Registry is corrupt.\r\n"},
    {1018, "Key deleted.\r\n"},
};

}  // namespace

// Supports what the module asks for: FORMAT_MESSAGE_FROM_SYSTEM with an allocated buffer (freed
// by LocalFree) or a caller's buffer. Unknown codes fail with ERROR_MR_MID_NOT_FOUND.
extern "C" DWORD FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                                va_list*) {
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // An allocated buffer is null whenever there is no text.
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) *reinterpret_cast<LPSTR*>(lpBuffer) = nullptr;
    const char* text = nullptr;
    for (const Message& message : kMessages) {
        if (message.code == dwMessageId) text = message.text;
    }
    if (text == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const DWORD length = static_cast<DWORD>(std::strlen(text));
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto* copy = static_cast<char*>(std::malloc(length + 1));
        if (copy == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::memcpy(copy, text, length + 1);
        *reinterpret_cast<LPSTR*>(lpBuffer) = copy;
        return length;
    }
    if (nSize <= length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpBuffer, text, length + 1);
    return length;
}

extern "C" HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}
