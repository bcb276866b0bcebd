#pragma once
// The drill's rules: its countdown, when it reads the timer, how the countdown's fall is judged
// against the time that passed, how long it waits for the expiry, and the exit codes of
// "zynwatch -drill". Plain logic without Win32 calls, so it also builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

#include "watchdog/watchdog_messages.h"

const uint32_t kDrillDefaultSeconds = 20;
const uint32_t kDrillLeastSeconds = 10;
const uint32_t kDrillMostSeconds = 120;

// The exit codes of "zynwatch -drill", for deployment and fleet scripts.
enum DrillExitCode {
    kDrillExitPassed = 0,
    kDrillExitNotInstalled = 1,  // the service is not installed: no configuration to restore
    kDrillExitBmcUnread = 2,     // the BMC could not be read: no device, no answer, a refusal
    kDrillExitNotRun = 3,        // refused or interrupted: no verdict about the BMC
    kDrillExitFailed = 4,        // the BMC failed the drill
};

bool DrillSecondsValid(uint32_t seconds);

// The drill's Get Watchdog Timer readings: the first right after the start, then at a quarter, a
// half and three quarters of the countdown.
const uint32_t kDrillReadings = 4;

// Milliseconds after the start at which reading index (0 to kDrillReadings - 1) is due.
uint64_t DrillReadingDueMs(uint32_t seconds, uint32_t index);

// Milliseconds after the start after which a timer that has not expired never will: the countdown,
// a tenth of it for a slow clock the pace check let pass, and two seconds for the requests.
uint64_t DrillExpiryDeadlineMs(uint32_t seconds);

// Milliseconds between polls for the expiry once the countdown should have run out.
const uint32_t kDrillExpiryPollMs = 500;

// A reading and when its request went out and its answer came back, on a steady clock in ms.
struct DrillSample {
    uint64_t sentMs;
    uint64_t answeredMs;
    uint16_t counts;  // the present countdown, 100 ms each
};

// The countdown's fall from first to last against the time between them, the middle of each
// request taken as its moment. within: the fall lies within 10 % of some time the two requests
// allow (each request may have been read at any moment between its sending and its answer, and
// each countdown is rounded to 100 ms), so a slow answer never fails a sound BMC.
struct DrillPace {
    uint32_t fallMs;
    uint32_t elapsedMs;
    uint32_t perMille;  // of the real pace
    bool within;
};

DrillPace JudgeDrillPace(const DrillSample &first, const DrillSample &last);

// The reading shows the drill's own setting: SMS/OS, no action, no interrupt, its countdown.
bool ReadingIsTheDrills(const WatchdogReading &reading, uint32_t seconds);

// The drill's expiry: the timer stopped and the SMS/OS expiration flag set.
bool ReadingExpired(const WatchdogReading &reading);
