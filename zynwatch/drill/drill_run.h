#pragma once
// The drill itself, the same through the service and alone: it reads the timer and the SEL, arms
// the timer for SMS/OS with no action and the drill's countdown, starts it, reads the countdown a
// few times, waits for the expiry, looks for the BMC's record of it, and has its host restore the
// timer, whatever ended it. Every wait ends at once when one of the host's interrupts is signalled.
#include <windows.h>

#include "drill/drill_report.h"

struct DrillHost {
    DrillMode mode;
    const HANDLE *interrupts;  // any of them ends the drill
    const char *const *interruptReasons;  // why, for each: "the service is stopping"
    DWORD interruptCount;
    // Arms the timer as the service keeps it, or stops it; says how it left the timer.
    DrillLeft (*restore)(void *context, WatchdogOutcome *outcome);
    // After each step, with the report so far; may be null.
    void (*progress)(void *context, const DrillReport &report);
    void *context;
    WatchdogSettings settings;  // the service's, for the report; zero alone
};

// Runs the drill to its verdict; gives the index of the interrupt that ended it, or -1.
int RunDrill(const DrillHost &host, uint16_t seconds, DrillReport *report);
