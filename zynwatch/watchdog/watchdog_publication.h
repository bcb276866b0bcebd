#pragma once
// What the service tells "zynwatch -status" about its watchdog beyond the BMC's own answer: the
// heartbeats that failed since it started and in a row now, in the volatile subkey "Watchdog" of
// the service key (written only when they change, removed when the service stops), and when it
// last found that the watchdog had expired, kept in the service key across restarts.
#include <stdint.h>

// Creates the subkey when it is missing.
void PublishHeartbeatFailures(uint32_t total, uint32_t inARow);
void RemoveHeartbeatPublication();

// False when the running service published nothing.
bool ReadHeartbeatPublication(uint32_t *total, uint32_t *inARow);

// "WatchdogExpiryFound": a FILETIME (UTC) as REG_QWORD.
void WriteWatchdogExpiryFound(uint64_t fileTime);

// 0 when none was found, or the value is not a REG_QWORD of 8 bytes.
uint64_t ReadWatchdogExpiryFound();
