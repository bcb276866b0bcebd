#pragma once
// The operating system in the BMC's log: the service writes "OS boot completed" once a boot of
// Windows, when it has armed the watchdog, and "OS graceful shutdown" at a planned shutdown or
// restart, so that the log tells a hang from a restart. "SelEvents" 0 turns both off. A BMC that
// refuses an event costs one warning entry, never the start.
#include <stdint.h>

// Reads "SelEvents", the Group Policy's value first, at start and when it changes, warning about a
// value it ignores; true when the events are written.
bool ReadSelEventsSetting();

// After the arm at start: the boot's event, unless it was written since Windows started.
void AnnounceOsBoot();

// At the shutdown or preshutdown control.
void AnnounceOsShutdown();
