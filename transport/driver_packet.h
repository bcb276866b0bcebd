#pragma once
// The send-message request of the IMB driver: packet layouts, status mapping and response
// delivery. Plain byte logic without Win32 calls, so it also builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

const uint32_t kImbSendMessageIoctl = 0x80102600u;  // device 0x8010, function 0x980, buffered
const size_t kRequestHeaderSize = 13;
const size_t kMaxRequestData = 51;
const size_t kRequestBufferSize = kRequestHeaderSize + kMaxRequestData;
const size_t kResponseBufferSize = 46;  // completion code + 45 data bytes
const uint8_t kBmcResponderAddress = 0x20;
const uint32_t kBmcDefaultTimeoutMs = 5000;
const uint32_t kOtherResponderTimeoutUs = 9000000;

// Win32 results of the exchange, spelled out so that this file needs no Windows header.
const uint32_t kResultSuccess = 0;
const uint32_t kResultInvalidParameter = 87;
const uint32_t kResultBufferOverflow = 111;
const uint32_t kResultInsufficientBuffer = 122;
const uint32_t kResultWaitTimeout = 258;

// The driver's own status values that callers recognise.
const uint32_t kDriverStatusBufferTooSmall = 0xE0070002u;
const uint32_t kDriverStatusBufferTooSmall2 = 0xE0070003u;
const uint32_t kDriverStatusOverflow = 0xE004000Cu;
const uint32_t kDriverStatusTimeout = 0xE0040007u;

#pragma pack(push, 1)
struct DriverRequestPacket {
    uint32_t flags;                // always 0
    uint32_t timeoutMicroseconds;  // how long the driver waits for the BMC
    uint8_t responderAddress;
    uint8_t command;
    uint8_t networkFunction;       // 0-63
    uint8_t responderLun;          // 0-3
    uint8_t dataLength;
    uint8_t data[kMaxRequestData];
};

struct DriverResponsePacket {
    uint8_t completionCode;
    uint8_t data[kResponseBufferSize - 1];
};
#pragma pack(pop)

static_assert(sizeof(DriverRequestPacket) == kRequestBufferSize, "request packet is 64 bytes");
static_assert(sizeof(DriverResponsePacket) == kResponseBufferSize, "response packet is 46 bytes");

// Checks the caller's arguments; kResultInvalidParameter when they cannot be sent or received safely.
uint32_t CheckRequestArguments(const uint8_t *requestData, uint8_t requestLength,
                               const uint8_t *responseData, const uint8_t *responseLength,
                               const uint8_t *completionCode);

// Fills packet (arguments already checked) and gives the input length, 13 + data length.
uint32_t BuildRequestPacket(DriverRequestPacket *packet, uint8_t netFnLun, uint8_t command,
                            const uint8_t *requestData, uint8_t requestLength,
                            uint8_t responderAddress, uint32_t timeoutMicroseconds);

// A failed request's status as the caller sees it.
uint32_t MapDriverStatus(uint32_t status);

// Hands a completed response to the caller; outputs stay untouched unless the result is 0.
uint32_t DeliverResponse(const DriverResponsePacket *response, uint32_t reportedCount,
                         uint8_t *responseData, uint8_t *responseLength, uint8_t *completionCode);
