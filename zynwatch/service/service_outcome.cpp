#include "service/service_outcome.h"

#include "watchdog_stop.h"

uint32_t ServiceExitCode(const ServiceOutcome &outcome)
{
    if (outcome.timerLeftRunning) return kStopFailureExitCode;
    if (outcome.startFailed) return kStartFailureExitCode;
    return outcome.reportFailure;
}
