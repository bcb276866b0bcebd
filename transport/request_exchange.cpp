#include "request_exchange.h"

#include "driver_packet.h"
#include "request_block.h"
#include "session_table.h"

// Beyond the packet's timeout: room for the driver's own time-out answer, then for a cancellation.
const DWORD kDriverAnswerGraceMs = 500;
const DWORD kCancelGraceMs = 500;

// The completed request's status, 0 or its error; the byte count goes into the block.
static DWORD CompletedStatus(RequestBlock *block)
{
    return GetOverlappedResult(SharedDeviceHandle(), &block->overlapped, &block->reportedCount, FALSE)
               ? ERROR_SUCCESS
               : GetLastError();
}

// Waits for a pending request; one still running after its timeout is cancelled and, when the
// driver honours that, ends as a time-out. False when it is still pending: it owns its block then.
static bool AwaitPendingRequest(RequestBlock *block, DWORD timeoutMs, DWORD *status)
{
    HANDLE event = block->overlapped.hEvent;
    if (WaitForSingleObject(event, timeoutMs + kDriverAnswerGraceMs) == WAIT_OBJECT_0) {
        *status = CompletedStatus(block);
        return true;
    }
    CancelIoEx(SharedDeviceHandle(), &block->overlapped);
    *status = WAIT_TIMEOUT;
    if (WaitForSingleObject(event, kCancelGraceMs) != WAIT_OBJECT_0) return false;
    DWORD completed = CompletedStatus(block);
    if (completed != ERROR_OPERATION_ABORTED) *status = completed;
    return true;
}

// Sends the packet and gives the driver's status: 0, or the error of the failed request. A
// request that never completes keeps its block, which the caller's guard then no longer holds.
static DWORD SendPacket(const DriverRequestPacket *packet, DWORD inputLength, UniqueRequestBlock *guard)
{
    RequestBlock *block = guard->Get();
    if (DeviceIoControl(SharedDeviceHandle(), kImbSendMessageIoctl, const_cast<DriverRequestPacket *>(packet),
                        inputLength, &block->response, sizeof(block->response), &block->reportedCount,
                        &block->overlapped)) {
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return error;
    DWORD status = ERROR_SUCCESS;
    if (!AwaitPendingRequest(block, packet->timeoutMicroseconds / 1000, &status)) AbandonRequestBlock(guard->Release());
    return status;
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
    UniqueRequestBlock block(TakeRequestBlock());
    if (!block.Valid()) return GetLastError();
    DWORD status = SendPacket(&packet, inputLength, &block);
    if (status != ERROR_SUCCESS) return MapDriverStatus(status);
    return DeliverResponse(&block.Get()->response, block.Get()->reportedCount, responseData, responseLength,
                           completionCode);
}
