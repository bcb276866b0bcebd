#pragma once
// The three watchdog messages as SendVX7Message takes them: responder, netFn/LUN, command, data.
// Plain byte logic without Win32 calls, so it also builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

#include "service_configuration_rules.h"

const size_t kSetWatchdogMessageLength = 9;    // header and 6 data bytes
const size_t kResetWatchdogMessageLength = 3;  // header only

// Set Watchdog Timer with the settings' actions, pre-timeout interval and countdown.
void BuildArmMessage(const WatchdogSettings &settings, uint8_t message[kSetWatchdogMessageLength]);

// Set Watchdog Timer with no action: the timer stays stopped.
void BuildStopMessage(uint8_t message[kSetWatchdogMessageLength]);

// Reset Watchdog Timer: restarts the countdown from its full value.
void BuildResetMessage(uint8_t message[kResetWatchdogMessageLength]);
