#pragma once
#include <windows.h>

// The present BMC response timeout of the process, in milliseconds.
LONG TimeoutSetting();

extern "C" {
DWORD WINAPI SendVX7RequestTimed(DWORD session, BYTE netFnLun, BYTE command,
                                 const BYTE *requestData, BYTE requestLength,
                                 BYTE responderAddress, BYTE *responseData, BYTE *responseLength,
                                 BYTE *completionCode, LONG timeout);
}
