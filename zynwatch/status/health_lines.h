#pragma once
// The health checks' lines of "zynwatch -status". Plain logic without Win32 calls, so it also
// builds and is tested natively.
#include "health/health_records.h"
#include "status/report_lines.h"

// The settings line and one line per check; nothing when no check is configured.
void AddHealthLines(const HealthFacts &facts, StatusReport *report);

// While the heartbeats are withheld: why, and since when.
void AddWithheldLine(const HealthFacts &facts, StatusReport *report);
