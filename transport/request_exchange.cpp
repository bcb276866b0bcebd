#include "request_exchange.h"

#include "../common/guards.h"
#include "driver_packet.h"
#include "session_table.h"

// Not reached on the synchronous handle; kept for a driver that pends the request anyway. A
// request still running when the wait ends is cancelled and awaited, so that it never writes
// into buffers that are gone.
static DWORD AwaitPendingRequest(OVERLAPPED *overlapped, DWORD timeoutMs, DWORD *reportedCount)
{
    HANDLE device = SharedDeviceHandle();
    if (WaitForSingleObject(overlapped->hEvent, timeoutMs) == WAIT_TIMEOUT) {
        CancelIoEx(device, overlapped);
        GetOverlappedResult(device, overlapped, reportedCount, TRUE);
        return WAIT_TIMEOUT;
    }
    return GetOverlappedResult(device, overlapped, reportedCount, FALSE) ? ERROR_SUCCESS : GetLastError();
}

// Sends the packet and gives the driver's status: 0, or the error of the failed request.
static DWORD SendPacket(const DriverRequestPacket *packet, DWORD inputLength,
                        DriverResponsePacket *response, DWORD *reportedCount)
{
    UniqueHandle event(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    if (!event.Valid()) return GetLastError();
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    if (DeviceIoControl(SharedDeviceHandle(), kImbSendMessageIoctl, const_cast<DriverRequestPacket *>(packet),
                        inputLength, response, sizeof(*response), reportedCount, &overlapped)) {
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return error;
    return AwaitPendingRequest(&overlapped, packet->timeoutMicroseconds / 1000, reportedCount);
}

DWORD ExchangeDriverRequest(BYTE netFnLun, BYTE command, const BYTE *requestData,
                            BYTE requestLength, BYTE responderAddress, DWORD timeoutMicroseconds,
                            BYTE *responseData, BYTE *responseLength, BYTE *completionCode)
{
    DWORD invalid = CheckRequestArguments(requestData, requestLength, responseData, responseLength,
                                          completionCode);
    if (invalid != ERROR_SUCCESS) return invalid;
    DriverRequestPacket packet;
    DWORD inputLength = BuildRequestPacket(&packet, netFnLun, command, requestData, requestLength,
                                           responderAddress, timeoutMicroseconds);
    DriverResponsePacket response = {};
    DWORD reportedCount = 0;
    DWORD status = SendPacket(&packet, inputLength, &response, &reportedCount);
    if (status != ERROR_SUCCESS) return MapDriverStatus(status);
    return DeliverResponse(&response, reportedCount, responseData, responseLength, completionCode);
}
