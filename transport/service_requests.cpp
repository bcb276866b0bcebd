// The service's variant of the exchange: fixed timeouts and the message form.
#include "service_requests.h"

#include <string.h>

#include "driver_packet.h"
#include "request_exchange.h"

const BYTE kMessageHeaderSize = 3;

extern "C" DWORD WINAPI SendVX7Request(DWORD session, BYTE netFnLun, BYTE command,
                                       const BYTE *requestData, BYTE requestLength,
                                       BYTE responderAddress, BYTE *responseData,
                                       BYTE *responseLength, BYTE *completionCode)
{
    (void)session;  // requests travel over the shared handle; the number only marks a claim
    DWORD timeout = responderAddress == kBmcResponderAddress ? kBmcDefaultTimeoutMs * 1000u
                                                             : kOtherResponderTimeoutUs;
    return ExchangeDriverRequest(netFnLun, command, requestData, requestLength, responderAddress,
                                 timeout, responseData, responseLength, completionCode);
}

DWORD WINAPI SendVX7Message(DWORD session, const BYTE *message, BYTE messageLength,
                            BYTE *responseData, BYTE *responseLength, BYTE *completionCode,
                            DWORD reserved)
{
    (void)reserved;
    if (message == nullptr || messageLength < kMessageHeaderSize) return ERROR_INVALID_PARAMETER;
    BYTE dataLength = static_cast<BYTE>(messageLength - kMessageHeaderSize);
    if (dataLength > kMaxRequestData) return ERROR_INVALID_PARAMETER;
    BYTE data[kRequestBufferSize] = {};
    if (dataLength > 0) memcpy(data, message + kMessageHeaderSize, dataLength);
    if (completionCode != nullptr) *completionCode = 0xFF;
    return SendVX7Request(session, message[1], message[2], data, dataLength, message[0],
                          responseData, responseLength, completionCode);
}
