/* The public header as a C program uses it: every export called through C declarations. */
#include "zynvx7w.h"

DWORD CallFromC(DWORD *version, BYTE *completionCode)
{
    DWORD session = 0;
    BYTE data[VX7_MAX_RESPONSE_DATA];
    BYTE length = sizeof(data);
    DWORD result = GetVX7Version(version);
    if (result == 0) result = OpenVX7Driver(&session);
    if (result != 0) return result;
    result = SendVX7Request(session, 0x18, 0x01, NULL, 0, VX7_BMC_ADDRESS, data, &length, completionCode);
    if (result == 0) result = SendVX7RequestTimed(session, 0x18, 0x01, NULL, 0, VX7_BMC_ADDRESS, data, &length,
                                                  completionCode, 5000);
    DWORD closed = CloseVX7Driver((LONG)session);
    return result != 0 ? result : closed;
}
