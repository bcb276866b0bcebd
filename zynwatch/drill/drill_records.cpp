#include "drill/drill_records.h"

#include <string.h>

const uint64_t kFileTimeSecond = 10000000;
const uint64_t kRequestLifetime = 60 * kFileTimeSecond;
const uint64_t kClockSlack = 5 * kFileTimeSecond;

static void PutLe(uint8_t *bytes, uint64_t value, size_t count)
{
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

static uint64_t Le(const uint8_t *bytes, size_t count)
{
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return value;
}

void EncodeDrillRequest(const DrillRequest &request, uint8_t bytes[kDrillRequestSize])
{
    memset(bytes, 0, kDrillRequestSize);
    PutLe(bytes, request.seconds, 4);
    PutLe(bytes + 8, request.requestedAt, 8);
}

bool DecodeDrillRequest(const uint8_t *bytes, size_t size, DrillRequest *request)
{
    if (bytes == nullptr || size != kDrillRequestSize || Le(bytes + 4, 4) != 0) return false;
    request->seconds = static_cast<uint32_t>(Le(bytes, 4));
    request->requestedAt = Le(bytes + 8, 8);
    return true;
}

bool DrillRequestFresh(uint64_t requestedAt, uint64_t now)
{
    return requestedAt + kRequestLifetime >= now && requestedAt <= now + kClockSlack;
}

// Appends text and its zero; false when it does not fit.
static bool Append(const char *text, uint8_t *bytes, size_t size, size_t *used)
{
    size_t length = strlen(text) + 1;
    if (*used + length > size) return false;
    memcpy(bytes + *used, text, length);
    *used += length;
    return true;
}

size_t EncodeDrillReport(uint64_t requestId, const DrillReport &report, const char *json, uint8_t *bytes, size_t size)
{
    if (size < kDrillReportHeader) return 0;
    memset(bytes, 0, kDrillReportHeader);
    PutLe(bytes, requestId, 8);
    bytes[8] = report.outcome != kDrillUnderWay ? 1 : 0;
    bytes[9] = static_cast<uint8_t>(DrillExitCodeOf(report.outcome));
    PutLe(bytes + 12, report.lineCount, 2);
    size_t used = kDrillReportHeader;
    for (size_t index = 0; index < report.lineCount; ++index) {
        if (!Append(report.lines[index], bytes, size, &used)) return 0;
    }
    return Append(json, bytes, size, &used) ? used : 0;
}

// Copies the zero-ended text at *at into text; false when it has no zero within the bytes or no room.
static bool TakeText(const uint8_t *bytes, size_t size, size_t *at, char *text, size_t room)
{
    const void *zero = memchr(bytes + *at, 0, size - *at);
    if (zero == nullptr) return false;
    size_t length = static_cast<size_t>(static_cast<const uint8_t *>(zero) - (bytes + *at));
    if (length >= room) return false;
    memcpy(text, bytes + *at, length + 1);
    *at += length + 1;
    return true;
}

bool DecodeDrillReport(const uint8_t *bytes, size_t size, PublishedDrill *published)
{
    if (bytes == nullptr || size < kDrillReportHeader || bytes[8] > 1) return false;
    published->requestId = Le(bytes, 8);
    published->finished = bytes[8] == 1;
    published->exitCode = bytes[9];
    published->lineCount = static_cast<size_t>(Le(bytes + 12, 2));
    if (published->lineCount > kDrillMaxLines) return false;
    size_t at = kDrillReportHeader;
    for (size_t index = 0; index < published->lineCount; ++index) {
        if (!TakeText(bytes, size, &at, published->lines[index], kDrillLineSize)) return false;
    }
    return TakeText(bytes, size, &at, published->json, kDrillJsonSize);
}
