#pragma once
// What passes between "zynwatch -drill" and the running service, in the service's volatile subkey
// "Drill": the command's request ("Request"), and the report the service publishes as the drill
// goes on ("Report"). Plain byte logic without Win32 calls, so it also builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

#include "drill/drill_report.h"

const char kDrillKeyPath[] = "System\\CurrentControlSet\\Services\\ZynAsrService\\Drill";
const char kDrillRequestValue[] = "Request";
const char kDrillReportValue[] = "Report";

// The request: the countdown in seconds, 0, and the moment it was written (FILETIME, UTC), which
// names the drill in the report.
const size_t kDrillRequestSize = 16;

struct DrillRequest {
    uint32_t seconds;
    uint64_t requestedAt;
};

void EncodeDrillRequest(const DrillRequest &request, uint8_t bytes[kDrillRequestSize]);
bool DecodeDrillRequest(const uint8_t *bytes, size_t size, DrillRequest *request);

// A request is taken only within a minute of its writing: one left behind by a command that never
// sent its control cannot start a drill later.
bool DrillRequestFresh(uint64_t requestedAt, uint64_t now);

// The report: the request's moment, finished (0 or 1), the exit code, 0, the line count (two
// bytes), two zeros; then each line and, once finished, the JSON form, each ending with a zero.
const size_t kDrillReportHeader = 16;
const size_t kDrillReportSize = kDrillReportHeader + kDrillMaxLines * kDrillLineSize + kDrillJsonSize;

// Gives the report's size, 0 when it does not fit.
size_t EncodeDrillReport(uint64_t requestId, const DrillReport &report, const char *json, uint8_t *bytes, size_t size);

struct PublishedDrill {
    uint64_t requestId;
    bool finished;
    uint8_t exitCode;
    size_t lineCount;
    char lines[kDrillMaxLines][kDrillLineSize];
    char json[kDrillJsonSize];
};

// False when the bytes are no report.
bool DecodeDrillReport(const uint8_t *bytes, size_t size, PublishedDrill *published);
