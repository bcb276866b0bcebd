#include "last_error_text.h"

#include <stdio.h>
#include <string.h>

char g_errorText[kErrorTextSize];

char *GetLastErrorText(char *buffer, DWORD size)
{
    if (buffer == nullptr || size == 0) return buffer;
    DWORD code = GetLastError();
    char *text = nullptr;
    // Inserts are ignored: there are no arguments, and a text with %1 must not be expanded from nothing.
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                  FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    if (length == 0 || text == nullptr || length + 14 > size) {
        buffer[0] = '\0';
    } else {
        DWORD kept = length;
        if (kept > 0 && text[kept - 1] == '\n') --kept;
        if (kept > 0 && text[kept - 1] == '\r') --kept;
        text[kept] = '\0';
        snprintf(buffer, size, "%s (0x%lx)", text, static_cast<unsigned long>(code));
    }
    if (text != nullptr) LocalFree(text);
    SetLastError(code);
    return buffer;
}
