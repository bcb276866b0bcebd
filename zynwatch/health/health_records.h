#pragma once
// What the running service publishes about its health checks, as bytes, and the facts that
// "zynwatch -status" reads from them. Plain logic without Win32 calls, so it also builds and is
// tested natively.
#include <stddef.h>
#include <stdint.h>

#include "health/health_rules.h"

// A check's record: state, ever passed, cause kind, 0, cause value and limit, since (FILETIME),
// then the label without its zero.
const size_t kCheckRecordHeader = 20;
const size_t kCheckRecordSize = kCheckRecordHeader + kHealthLabelSize;

// Gives the record's size.
size_t EncodeCheckRecord(const HealthCheckRecord &record, const char *label, uint8_t bytes[kCheckRecordSize]);

// False when the bytes are no check record.
bool DecodeCheckRecord(const uint8_t *bytes, size_t size, HealthCheckRecord *record, char label[kHealthLabelSize]);

// The heartbeats' record: withheld (0 or 1), three zeros, the check acted upon, withheld since.
const size_t kHeartbeatsRecordSize = 16;

void EncodeHeartbeatsRecord(bool withheld, uint32_t actedCheck, uint64_t since, uint8_t bytes[kHeartbeatsRecordSize]);
bool DecodeHeartbeatsRecord(const uint8_t *bytes, size_t size, bool *withheld, uint32_t *actedCheck, uint64_t *since);

// A moment in local time, as -status shows it, with the local time's offset from UTC.
struct CivilTime {
    uint16_t year, month, day, hour, minute, second;
    int16_t utcOffsetMinutes;  // local time less UTC: 60 in Central Europe in winter
};

// "2026-12-08 16:26:03".
void FormatCivilTime(const CivilTime &time, char *text, size_t size);

struct HealthCheckFacts {
    char label[kHealthLabelSize];
    HealthCheckRecord record;
    CivilTime since;
};

// Where the check lines come from: the running service, or the configuration when the service
// does not run or publishes nothing.
enum HealthSource : uint8_t { kHealthFromService, kHealthServiceNotRunning, kHealthNotPublished };

struct HealthFacts {
    size_t checkCount;  // 0: no health lines at all
    uint8_t source;
    HealthSettings settings;  // as configured now
    HealthCheckFacts checks[kHealthMaxChecks];
    bool withheld;
    uint32_t actedCheck;
    CivilTime withheldSince;
};

// True when the running service withholds its heartbeats.
bool HealthWithheld(const HealthFacts &facts);

// The check the heartbeats are withheld for: the one acted upon while it fails, else the first that
// fails and is acted upon; checkCount for none.
size_t WithheldCheck(const HealthFacts &facts);
