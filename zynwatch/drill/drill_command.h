#pragma once
// "zynwatch -drill [seconds] [-json]": proves, without a reset, that the BMC's watchdog counts and
// expires. Through the service when it runs (its heartbeats pause for the drill), alone when it is
// stopped; one drill at a time, and none while the service withholds its heartbeats.
#include <stdint.h>

// Prints each step as it happens and the verdict, or with json one JSON line at the end; gives the
// exit code (DrillExitCode).
int RunDrillCommand(uint32_t seconds, bool json);
