#include "health/health_records.h"

#include <stdio.h>
#include <string.h>


static void Put32(uint8_t *bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

static void Put64(uint8_t *bytes, uint64_t value)
{
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

static uint32_t Get32(const uint8_t *bytes)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

static uint64_t Get64(const uint8_t *bytes)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

size_t EncodeCheckRecord(const HealthCheckRecord &record, const char *label, uint8_t bytes[kCheckRecordSize])
{
    memset(bytes, 0, kCheckRecordHeader);
    bytes[0] = record.state;
    bytes[1] = record.everPassed ? 1 : 0;
    bytes[2] = record.cause.kind;
    Put32(bytes + 4, record.cause.value);
    Put32(bytes + 8, record.cause.limit);
    Put64(bytes + 12, record.sinceTime);
    size_t length = strnlen(label, kHealthLabelSize - 1);
    memcpy(bytes + kCheckRecordHeader, label, length);
    return kCheckRecordHeader + length;
}

bool DecodeCheckRecord(const uint8_t *bytes, size_t size, HealthCheckRecord *record, char label[kHealthLabelSize])
{
    if (size < kCheckRecordHeader || size >= kCheckRecordSize || bytes[0] > kCheckFailed || bytes[1] > 1) return false;
    *record = {};
    record->state = bytes[0];
    record->everPassed = bytes[1] != 0;
    record->cause = {bytes[2], Get32(bytes + 4), Get32(bytes + 8)};
    record->sinceTime = Get64(bytes + 12);
    memcpy(label, bytes + kCheckRecordHeader, size - kCheckRecordHeader);
    label[size - kCheckRecordHeader] = '\0';
    return true;
}

void EncodeHeartbeatsRecord(bool withheld, uint32_t actedCheck, uint64_t since, uint8_t bytes[kHeartbeatsRecordSize])
{
    memset(bytes, 0, kHeartbeatsRecordSize);
    bytes[0] = withheld ? 1 : 0;
    Put32(bytes + 4, actedCheck);
    Put64(bytes + 8, since);
}

bool DecodeHeartbeatsRecord(const uint8_t *bytes, size_t size, bool *withheld, uint32_t *actedCheck, uint64_t *since)
{
    if (size != kHeartbeatsRecordSize || bytes[0] > 1) return false;
    *withheld = bytes[0] != 0;
    *actedCheck = Get32(bytes + 4);
    *since = Get64(bytes + 8);
    return true;
}

void FormatCivilTime(const CivilTime &time, char *text, size_t size)
{
    snprintf(text, size, "%04u-%02u-%02u %02u:%02u:%02u", time.year, time.month, time.day, time.hour, time.minute,
             time.second);
}

bool HealthWithheld(const HealthFacts &facts)
{
    return facts.checkCount != 0 && facts.source == kHealthFromService && facts.withheld;
}

size_t WithheldCheck(const HealthFacts &facts)
{
    auto failing = [&](size_t index) {
        const HealthCheckRecord &record = facts.checks[index].record;
        return record.state == kCheckFailed && record.everPassed;
    };
    if (facts.actedCheck < facts.checkCount && failing(facts.actedCheck)) return facts.actedCheck;
    for (size_t index = 0; index < facts.checkCount; ++index) {
        if (failing(index)) return index;
    }
    return facts.checkCount;
}
