#pragma once
// Stopping the BMC's watchdog, the same for the service, its -remove and the installer's removal:
// the request's bytes, how often a refused stop is tried, and when a stopped service may have left
// the timer running. Plain rules without Win32 calls, so they also build and are tested natively.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Set Watchdog Timer as the message form carries it (responder, network function and LUN, command,
// six data bytes): SMS/OS, no action, no pre-timeout interrupt, the SMS/OS expiration flag cleared,
// a 300 s countdown. The timer stays stopped.
const size_t kStopWatchdogMessageLength = 9;
const size_t kStopWatchdogHeaderLength = 3;
const uint8_t kStopWatchdogMessage[kStopWatchdogMessageLength] = {0x20, 0x18, 0x24, 0x04, 0x00,
                                                                  0x00, 0x10, 0xB8, 0x0B};

const uint32_t kStopLeastTries = 3;
const uint64_t kStopRetryWindowMs = 10000;
const uint32_t kStopRetryPauseMs = 1000;

// A stop that failed `tries` times, the first elapsedMs ago, is tried again until it was tried at
// least three times and for about 10 s.
inline bool StopRetryDue(uint32_t tries, uint64_t elapsedMs)
{
    return tries < kStopLeastTries || elapsedMs < kStopRetryWindowMs;
}

// The pause before the next try: the same all through.
inline uint32_t StopRetryPauseMs(uint64_t)
{
    return kStopRetryPauseMs;
}

// How long a removal waits for a service that is starting or stopping, which takes no stop control
// meanwhile: a start's four requests before it takes one, or a stop's retry of about 10 s after a
// heartbeat under way and the health checks' end. Still pending after it, the timer may run.
const uint32_t kServiceStopWaitSeconds = 40;

const uint32_t kStartFailureExitCode = 20;    // ERROR_BAD_UNIT: the service never armed the timer
const uint32_t kNeverStartedExitCode = 1077;  // ERROR_SERVICE_NEVER_STARTED

// A service that reached the stopped state with exit code 0, with a start failure's 20, or that
// never started, stopped the timer itself or never ran it; any other end may leave it running.
inline bool StopLeftNoTimer(bool stopped, uint32_t exitCode)
{
    return stopped && (exitCode == 0 || exitCode == kStartFailureExitCode || exitCode == kNeverStartedExitCode);
}

// "completion code 0xC0" when the BMC answered, "error 258" when it did not.
inline void DescribeRequestEnd(uint32_t error, uint8_t completionCode, char *text, size_t size)
{
    if (error == 258) {  // WAIT_TIMEOUT: neither the BMC nor its driver answered in time
        snprintf(text, size, "error %lu (no answer in time)", static_cast<unsigned long>(error));
    } else if (error != 0) {
        snprintf(text, size, "error %lu", static_cast<unsigned long>(error));
    } else {
        snprintf(text, size, "completion code 0x%02X", completionCode);
    }
}

// Printed by a removal whose stop requests all failed, with the cause and the requests sent.
const char kWatchdogStopFailedFormat[] = "The BMC watchdog timer could not be stopped - %s (%lu requests sent)\n";
