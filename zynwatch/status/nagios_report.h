#pragma once
// "zynwatch -status -nagios": the verdict as one line in the monitoring plugins' format, "STATE -
// text | performance data", and the plugin's exit code, which Nagios, Icinga and their kin read as
// OK, WARNING, CRITICAL or UNKNOWN. Plain logic without Win32 calls, so it also builds and is
// tested natively.
#include <stddef.h>

#include "status/status_report.h"

enum NagiosState { kNagiosOk = 0, kNagiosWarning = 1, kNagiosCritical = 2, kNagiosUnknown = 3 };

// CRITICAL: the BMC will act (-status 3). WARNING: not installed, not running, the timer stopped or
// not the OS's, no action at expiry (-status 1), or protected now but not on automatic start, so
// that the next restart of Windows leaves the server unprotected. UNKNOWN: the BMC could not be
// read with the service installed (-status 2), or the SCM refused the query. OK: protected and on
// automatic start.
NagiosState DecideNagiosState(const StatusFacts &facts);

// "OK", "WARNING", "CRITICAL", "UNKNOWN".
const char *NagiosStateName(NagiosState state);

// The line without its line end: the state, the reasons, and the seconds left on the BMC's countdown
// (when its timer runs) and the heartbeat interval in use as performance data.
NagiosState BuildNagiosLine(const StatusFacts &facts, char *line, size_t size);
