#pragma once
#include <windows.h>

// Sends a whole message: byte 0 responder, byte 1 netFn/LUN, byte 2 command, then the data.
DWORD WINAPI SendVX7Message(DWORD session, const BYTE *message, BYTE messageLength,
                            BYTE *responseData, BYTE *responseLength, BYTE *completionCode,
                            DWORD reserved);
