#pragma once
// The three watchdog requests to the BMC; each runs in a driver session of its own. True only
// when the BMC answered with completion code 0x00 and the session closed cleanly.
#include "service_configuration_rules.h"

bool ArmWatchdog(const WatchdogSettings &settings);
bool ResetWatchdog();
bool StopWatchdog();
