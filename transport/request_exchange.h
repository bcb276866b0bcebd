#pragma once
// One IPMI request through the driver over the shared device handle; takes no lock.
#include <windows.h>

// Result: 0 with the completion code and data delivered, or a Win32 error code.
DWORD ExchangeDriverRequest(BYTE netFnLun, BYTE command, const BYTE *requestData,
                            BYTE requestLength, BYTE responderAddress, DWORD timeoutMicroseconds,
                            BYTE *responseData, BYTE *responseLength, BYTE *completionCode);

extern "C" {
DWORD WINAPI SendVX7Request(DWORD session, BYTE netFnLun, BYTE command, const BYTE *requestData,
                            BYTE requestLength, BYTE responderAddress, BYTE *responseData,
                            BYTE *responseLength, BYTE *completionCode);
}
