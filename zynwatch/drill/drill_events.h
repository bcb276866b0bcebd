#pragma once
// The entry a drill writes with its verdict: information when it passed, an error when the BMC
// failed it or could not be read, a warning when it ended before its verdict; none when it did
// not run.
#include "drill/drill_report.h"

void ReportDrillVerdict(const DrillReport &report);
