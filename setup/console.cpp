#include "console.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

const DWORD kDiagnosticBufferSize = 4096;
const int kPrefixCode = 0xE0;
// Set on the scan code that follows the prefix: F10's scan code 0x44 would otherwise read as "D".
const int kScanCodeMark = 0x100;

void ConsolePrint(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stdout, format, arguments);
    va_end(arguments);
    fflush(stdout);
}

void ConsoleLine(const char *text)
{
    fputs(text, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

// Scan code of a key without a character, handed out by the call after its prefix.
static int g_pendingScanCode = -1;

// Shift, Ctrl, Alt and the lock keys alone are not key presses of their own.
static bool IsModifierKey(WORD virtualKey)
{
    return virtualKey == VK_SHIFT || virtualKey == VK_CONTROL || virtualKey == VK_MENU || virtualKey == VK_CAPITAL ||
           virtualKey == VK_NUMLOCK || virtualKey == VK_SCROLL;
}

int ReadKey()
{
    if (g_pendingScanCode >= 0) {
        int scanCode = g_pendingScanCode;
        g_pendingScanCode = -1;
        return scanCode;
    }
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return kEndOfInput;
    for (;;) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0) return kEndOfInput;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        const KEY_EVENT_RECORD &key = record.Event.KeyEvent;
        if (key.uChar.AsciiChar != 0) return static_cast<unsigned char>(key.uChar.AsciiChar);
        if (IsModifierKey(key.wVirtualKeyCode)) continue;
        g_pendingScanCode = kScanCodeMark | key.wVirtualScanCode;
        return kPrefixCode;
    }
}

bool KeyIs(int key, char letter)
{
    char lower = static_cast<char>(letter | 0x20);
    return key == lower || key == (lower & ~0x20);
}

// Trace lines keep the thread's last error, so a failure traced before ReportFailure still reports its own code.
void DiagnosticLine(const char *text)
{
    DWORD error = GetLastError();
    OutputDebugStringA(text);
    SetLastError(error);
}

void DiagnosticPrint(const char *format, ...)
{
    char buffer[kDiagnosticBufferSize] = {};
    va_list arguments;
    va_start(arguments, format);
    // wvsprintfA writes at most 1024 characters; its result is not trusted past the terminator.
    wvsprintfA(buffer, format, arguments);
    va_end(arguments);
    size_t length = strnlen(buffer, kDiagnosticBufferSize - 3);
    buffer[length] = '\0';
    if (length == 0 || buffer[length - 1] != '\n') memcpy(buffer + length, "\r\n", 3);
    DiagnosticLine(buffer);
}

int ReportFailure(const char *label)
{
    DWORD error = GetLastError();
    DiagnosticPrint("%s FAILURE: (0x%08x)\n", label, error);
    SetLastError(error);
    return -1;
}
