#pragma once
// How the service ends: the exit code of its final report, decided once from what happened. Plain
// logic without Win32 calls, so it also builds and is tested natively.
#include <stdint.h>

// Exit code of the final stopped report when every stop request failed and the BMC's watchdog
// may still run: ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error."
const uint32_t kStopFailureExitCode = 1117;

// What happened while the service ran.
struct ServiceOutcome {
    bool startFailed;          // the arm or the first reset failed, or the stop event could not be made
    bool timerLeftRunning;     // no stop request reached the BMC
    uint32_t reportFailure;    // the error of the last status report that failed, 0 when none did
};

// 1117 when the timer may still run, whatever else failed: a start failure's 20 would tell a
// removal that no timer was left. Else 20 after a start failure, else a failed report's error, else 0.
uint32_t ServiceExitCode(const ServiceOutcome &outcome);
