#pragma once
// The lines of "zynwatch -status" and the exit code they end with: the type that the report and
// the health checks' lines both fill. Plain logic without Win32 calls.
#include <stddef.h>

// 3: the watchdog runs, but the BMC will act: heartbeats are not reaching it.
enum StatusExitCode { kStatusProtected = 0, kStatusUnprotected = 1, kStatusBmcUnreadable = 2, kStatusBmcWillAct = 3 };

const size_t kStatusMaxLines = 48;
const size_t kStatusLineSize = 320;

struct StatusReport {
    char lines[kStatusMaxLines][kStatusLineSize];  // without line ends
    size_t lineCount;
    StatusExitCode exitCode;
};

// Appends one line, cut to kStatusLineSize.
void AddStatusLine(StatusReport *report, const char *text);
