// The library's variant of the exchange: a process-wide, settable BMC response timeout.
#include "library_requests.h"

#include "driver_packet.h"
#include "request_exchange.h"

// Milliseconds; read by every request to the BMC, written only by SendVX7RequestTimed.
static volatile LONG g_timeoutSetting = kBmcDefaultTimeoutMs;

// The largest setting whose microseconds still fit the packet's 32-bit field.
const LONG kMaxTimeoutSettingMs = static_cast<LONG>(0xFFFFFFFFu / 1000u);

static DWORD PacketTimeout(BYTE responderAddress)
{
    if (responderAddress != kBmcResponderAddress) return kOtherResponderTimeoutUs;
    return static_cast<DWORD>(InterlockedCompareExchange(&g_timeoutSetting, 0, 0)) * 1000u;
}

LONG TimeoutSetting()
{
    return InterlockedCompareExchange(&g_timeoutSetting, 0, 0);
}

extern "C" DWORD WINAPI SendVX7Request(DWORD session, BYTE netFnLun, BYTE command,
                                       const BYTE *requestData, BYTE requestLength,
                                       BYTE responderAddress, BYTE *responseData,
                                       BYTE *responseLength, BYTE *completionCode)
{
    (void)session;  // requests travel over the shared handle; the number only marks a claim
    return ExchangeDriverRequest(netFnLun, command, requestData, requestLength, responderAddress,
                                 PacketTimeout(responderAddress), responseData, responseLength,
                                 completionCode);
}

extern "C" DWORD WINAPI SendVX7RequestTimed(DWORD session, BYTE netFnLun, BYTE command,
                                            const BYTE *requestData, BYTE requestLength,
                                            BYTE responderAddress, BYTE *responseData,
                                            BYTE *responseLength, BYTE *completionCode,
                                            LONG timeout)
{
    LONG setting = (responderAddress == kBmcResponderAddress || timeout >= 9000) ? timeout : 9000;
    if (setting < 1 || setting > kMaxTimeoutSettingMs) return ERROR_INVALID_PARAMETER;
    InterlockedExchange(&g_timeoutSetting, setting);
    return SendVX7Request(session, netFnLun, command, requestData, requestLength,
                          responderAddress, responseData, responseLength, completionCode);
}
