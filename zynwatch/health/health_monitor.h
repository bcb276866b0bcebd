#pragma once
// The health checks on a thread of their own: a round every HealthCheckInterval, an entry at each
// change of an episode, the repair, and the verdict the heartbeat loop reads. The loop never waits
// for a check: it reads the latest verdict, and a change of the verdict wakes it. Everything here
// is started and stopped by the service thread.
#include <windows.h>

#include "configuration/service_configuration_rules.h"

// Reads the health values, warning about those it ignores, and starts the thread when a check is
// configured. Without one nothing more happens: the heartbeats go on as they always have.
void StartHealthMonitor(const WatchdogSettings &watchdog);

// The watchdog was armed with other settings while the checks run: a withholding names them.
void FollowArmedWatchdog(const WatchdogSettings &watchdog);

// True while the heartbeats are withheld.
bool HeartbeatsWithheld();

// Signalled when the verdict changes, so the heartbeat loop's pause ends early; null without checks.
HANDLE HealthWakeEvent();

// Ends the thread, and with it a running command's process tree, and removes the publication.
void StopHealthMonitor();
