#include "service/service_outcome.h"

#include "watchdog_stop.h"

uint32_t ServiceExitCode(const ServiceOutcome &outcome)
{
    if (outcome.startFailed) return kStartFailureExitCode;
    if (outcome.timerLeftRunning) return kStopFailureExitCode;
    return outcome.reportFailure;
}
