#pragma once
// The watchdog requests to the BMC; each runs in a driver session of its own. True only when
// the BMC answered with completion code 0x00 and the session closed cleanly; outcome, when
// given, tells how the request ended.
#include "configuration/service_configuration_rules.h"
#include "watchdog/watchdog_messages.h"

bool ArmWatchdog(const WatchdogSettings &settings, WatchdogOutcome *outcome = nullptr);
bool ResetWatchdog(WatchdogOutcome *outcome = nullptr);
bool StopWatchdog(WatchdogOutcome *outcome = nullptr);

// Get Watchdog Timer; false also when the answer is shorter than its eight data bytes.
bool ReadWatchdogTimer(WatchdogReading *reading, WatchdogOutcome *outcome = nullptr);

// Gives the running timer the shutdown phase's countdown (see BuildShutdownArmMessage).
bool ArmShutdownWatchdog(const WatchdogSettings &settings, uint16_t seconds, WatchdogOutcome *outcome = nullptr);

// Arms the timer for a drill (see BuildDrillArmMessage).
bool ArmDrillWatchdog(uint16_t seconds, WatchdogOutcome *outcome = nullptr);
