#include "console.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

const DWORD kDiagnosticBufferSize = 4096;
const int kPrefixCode = 0xE0;

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
        // Shift, Ctrl and Alt alone are not key presses of their own.
        if (key.wVirtualKeyCode == VK_SHIFT || key.wVirtualKeyCode == VK_CONTROL || key.wVirtualKeyCode == VK_MENU) {
            continue;
        }
        g_pendingScanCode = key.wVirtualScanCode;
        return kPrefixCode;
    }
}

bool KeyIs(int key, char letter)
{
    char lower = static_cast<char>(letter | 0x20);
    return key == lower || key == (lower & ~0x20);
}

void DiagnosticLine(const char *text)
{
    OutputDebugStringA(text);
}

void DiagnosticPrint(const char *format, ...)
{
    char buffer[kDiagnosticBufferSize];
    va_list arguments;
    va_start(arguments, format);
    int length = wvsprintfA(buffer, format, arguments);  // writes at most 1024 characters
    va_end(arguments);
    if (length < 0) length = 0;
    buffer[length] = '\0';
    if (length == 0 || buffer[length - 1] != '\n') strcpy(buffer + length, "\r\n");
    OutputDebugStringA(buffer);
}

int ReportFailure(const char *label)
{
    DWORD error = GetLastError();
    DiagnosticPrint("%s FAILURE: (0x%08x)\n", label, error);
    SetLastError(error);
    return -1;
}
