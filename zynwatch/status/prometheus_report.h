#pragma once
// "zynwatch -status -prometheus FILE": the facts of -status as the Prometheus text exposition
// format that the Windows exporter's textfile collector reads: every metric named zynwatch_..., its
// unit in its name, with HELP and TYPE lines. A fact that is not known has no sample rather than 0.
// Plain logic without Win32 calls, so it also builds and is tested natively.
#include <stddef.h>

#include "status/status_report.h"

// Room for every metric, with a labelled line for each check.
const size_t kPrometheusTextSize = 8192 + kHealthMaxChecks * (4 * kHealthLabelSize + 64);

// Seconds since 1970 (UTC) of a FILETIME.
double UnixSeconds(uint64_t fileTime);

// The whole text, every line ended by a line feed; false when it does not fit.
bool BuildPrometheusText(const StatusFacts &facts, char *text, size_t size);
