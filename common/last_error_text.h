#pragma once
#include <windows.h>

// Size of the process-wide error text buffer of the programs that print system texts.
const DWORD kErrorTextSize = 256;

// The system's text for the thread's last error as "<text> (0x<code>)", or the empty text
// when there is none or it does not fit; always returns buffer.
char *GetLastErrorText(char *buffer, DWORD size);

// The process-wide 256-character buffer that messages print behind " - ".
extern char g_errorText[kErrorTextSize];
