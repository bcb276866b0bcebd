#include "driver_packet.h"

#include <string.h>

uint32_t CheckRequestArguments(const uint8_t *requestData, uint8_t requestLength,
                               const uint8_t *responseData, const uint8_t *responseLength,
                               const uint8_t *completionCode)
{
    if (requestData != nullptr && requestLength > kMaxRequestData) return kResultInvalidParameter;
    if (responseLength == nullptr || completionCode == nullptr) return kResultInvalidParameter;
    if (responseData == nullptr && *responseLength != 0) return kResultInvalidParameter;
    return kResultSuccess;
}

uint32_t BuildRequestPacket(DriverRequestPacket *packet, uint8_t netFnLun, uint8_t command,
                            const uint8_t *requestData, uint8_t requestLength,
                            uint8_t responderAddress, uint32_t timeoutMicroseconds)
{
    memset(packet, 0, sizeof(*packet));
    packet->flags = 0;
    packet->timeoutMicroseconds = timeoutMicroseconds;
    packet->responderAddress = responderAddress;
    packet->command = command;
    packet->networkFunction = static_cast<uint8_t>(netFnLun >> 2);
    packet->responderLun = static_cast<uint8_t>(netFnLun & 3);
    if (requestData != nullptr) {
        packet->dataLength = requestLength;
        memcpy(packet->data, requestData, requestLength);
    }
    return static_cast<uint32_t>(kRequestHeaderSize + packet->dataLength);
}

uint32_t MapDriverStatus(uint32_t status)
{
    switch (status) {
    case kDriverStatusBufferTooSmall:
    case kDriverStatusBufferTooSmall2:
        return kResultInsufficientBuffer;
    case kDriverStatusOverflow:
        return kResultBufferOverflow;
    case kDriverStatusTimeout:
        return kResultWaitTimeout;
    default:
        return status;
    }
}

uint32_t DeliverResponse(const DriverResponsePacket *response, uint32_t reportedCount,
                         uint8_t *responseData, uint8_t *responseLength, uint8_t *completionCode)
{
    uint32_t dataCount = reportedCount - 1;  // unsigned: a count of 0 wraps and never fits
    if (dataCount > *responseLength) return kResultInsufficientBuffer;
    // A count beyond the response buffer is the driver's error; never copy from past its end.
    if (dataCount > sizeof(response->data)) return kResultInsufficientBuffer;
    *completionCode = response->completionCode;
    *responseLength = static_cast<uint8_t>(dataCount);
    if (dataCount > 0) memcpy(responseData, response->data, dataCount);
    return kResultSuccess;
}
