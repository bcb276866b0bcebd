// Packet building and response delivery with whatever the caller and the driver hand over: only
// the documented arguments are refused, nothing is read or written outside the buffers, and a
// refused delivery leaves the caller's outputs as they were.
#include "driver_packet.h"
#include "fuzz_input.h"

// The driver's statuses and the Win32 errors they become, written out rather than taken from the
// library's own constants, so that a wrong constant fails the target.
static void CheckStatusMapping(uint32_t status)
{
    uint32_t mapped = MapDriverStatus(status);
    if (status == 0xE0070002u || status == 0xE0070003u) {
        FUZZ_CHECK(mapped == 122);  // ERROR_INSUFFICIENT_BUFFER
    } else if (status == 0xE004000Cu) {
        FUZZ_CHECK(mapped == 111);  // ERROR_BUFFER_OVERFLOW
    } else if (status == 0xE0040007u) {
        FUZZ_CHECK(mapped == 258);  // WAIT_TIMEOUT
    } else {
        FUZZ_CHECK(mapped == status);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzInput in(bytes, size);
    uint8_t present = in.Byte();
    uint8_t netFnLun = in.Byte(), command = in.Byte(), responder = in.Byte();
    uint8_t requestLength = in.Byte(), capacity = in.Byte();
    uint32_t timeout = in.Word(), reported = in.Word();
    CheckStatusMapping(in.Word());
    DriverResponsePacket response;
    in.Fill(reinterpret_cast<uint8_t *>(&response), sizeof(response));
    // The caller's buffers hold exactly the sizes the caller claims.
    uint8_t *request = static_cast<uint8_t *>(malloc(requestLength == 0 ? 1 : requestLength));
    in.Fill(request, requestLength);
    uint8_t *answer = static_cast<uint8_t *>(malloc(capacity == 0 ? 1 : capacity));
    memset(answer, 0xA5, capacity);

    const uint8_t *requestData = (present & 1) ? request : nullptr;
    uint8_t *responseData = (present & 2) ? answer : nullptr;
    uint8_t length = capacity, code = 0xEE;
    uint8_t *lengthPointer = (present & 4) ? &length : nullptr;
    uint8_t *codePointer = (present & 8) ? &code : nullptr;
    bool refusable = (requestData != nullptr && requestLength > kMaxRequestData) || lengthPointer == nullptr ||
                     codePointer == nullptr || (responseData == nullptr && capacity != 0);
    uint32_t checked = CheckRequestArguments(requestData, requestLength, responseData, lengthPointer, codePointer);
    FUZZ_CHECK(checked == (refusable ? kResultInvalidParameter : kResultSuccess));
    if (checked != kResultSuccess) {
        free(answer);
        free(request);
        return 0;
    }

    DriverRequestPacket packet;
    uint32_t inputLength = BuildRequestPacket(&packet, netFnLun, command, requestData, requestLength, responder, timeout);
    size_t sent = requestData != nullptr ? requestLength : 0;
    FUZZ_CHECK(inputLength == kRequestHeaderSize + sent && inputLength <= kRequestBufferSize);
    FUZZ_CHECK(packet.flags == 0 && packet.timeoutMicroseconds == timeout && packet.responderAddress == responder);
    FUZZ_CHECK(packet.command == command && packet.networkFunction == (netFnLun >> 2) && packet.responderLun == (netFnLun & 3));
    FUZZ_CHECK(packet.dataLength == sent && memcmp(packet.data, request, sent) == 0);

    uint32_t result = DeliverResponse(&response, reported, responseData, &length, &code);
    uint32_t dataCount = reported - 1;
    if (dataCount <= capacity && dataCount <= sizeof(response.data)) {
        FUZZ_CHECK(result == kResultSuccess && length == dataCount && code == response.completionCode);
        FUZZ_CHECK(dataCount == 0 || memcmp(answer, response.data, dataCount) == 0);
    } else {
        FUZZ_CHECK(result == kResultInsufficientBuffer && length == capacity && code == 0xEE);
        for (size_t i = 0; i < capacity; ++i) FUZZ_CHECK(answer[i] == 0xA5);
    }
    free(answer);
    free(request);
    return 0;
}
