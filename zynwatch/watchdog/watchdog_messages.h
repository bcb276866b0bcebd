#pragma once
// The watchdog messages as SendVX7Message takes them (responder, netFn/LUN, command, data), and
// Get Watchdog Timer's answer. Plain byte logic without Win32 calls, so it also builds and is
// tested natively.
#include <stddef.h>
#include <stdint.h>

#include "configuration/service_configuration_rules.h"

const size_t kSetWatchdogMessageLength = 9;    // header and 6 data bytes
const size_t kResetWatchdogMessageLength = 3;  // header only
const size_t kGetWatchdogMessageLength = 3;    // header only
const size_t kWatchdogReadingLength = 8;       // data bytes of Get Watchdog Timer's answer

const uint8_t kCompletionCodeUninitialised = 0x80;  // Reset before any Set: the BMC lost its settings
const uint8_t kTimerUseSmsOs = 0x04;
const uint8_t kSmsOsExpirationFlag = 0x10;

// Set Watchdog Timer with the settings' actions, pre-timeout interval and countdown.
void BuildArmMessage(const WatchdogSettings &settings, uint8_t message[kSetWatchdogMessageLength]);

// Set Watchdog Timer with no action: the timer stays stopped.
void BuildStopMessage(uint8_t message[kSetWatchdogMessageLength]);

// Reset Watchdog Timer: restarts the countdown from its full value.
void BuildResetMessage(uint8_t message[kResetWatchdogMessageLength]);

// Get Watchdog Timer: the BMC's present settings, countdown and expiration flags.
void BuildGetMessage(uint8_t message[kGetWatchdogMessageLength]);

// Set Watchdog Timer for the shutdown phase: the settings' actions with seconds as countdown,
// and the don't-stop bit, so a running timer goes on from the new value without a gap. The
// pre-timeout interrupt is left out when its interval does not fit the shorter countdown.
void BuildShutdownArmMessage(const WatchdogSettings &settings, uint16_t seconds,
                             uint8_t message[kSetWatchdogMessageLength]);

// Set Watchdog Timer for a drill: SMS/OS, no action and no pre-timeout interrupt, seconds as
// countdown, the SMS/OS expiration flag cleared; the timer stays stopped until a Reset starts it.
void BuildDrillArmMessage(uint16_t seconds, uint8_t message[kSetWatchdogMessageLength]);

// Get Watchdog Timer's answer, field by field as the BMC gives it.
struct WatchdogReading {
    uint8_t timerUse;            // bits 2..0 the use, bit 6 running, bit 7 don't log
    uint8_t timerActions;        // bits 6..4 pre-timeout interrupt, bits 2..0 timeout action
    uint8_t preTimeoutInterval;  // seconds
    uint8_t expirationFlags;     // bit n: timer use n expired
    uint16_t initialCountdown;   // 100 ms counts
    uint16_t presentCountdown;   // 100 ms counts
};

// False when the answer is shorter than its eight data bytes.
bool DecodeWatchdogReading(const uint8_t *data, size_t length, WatchdogReading *reading);

uint8_t ReadingTimerUse(const WatchdogReading &reading);
bool ReadingRunning(const WatchdogReading &reading);
bool ReadingDontLog(const WatchdogReading &reading);
uint8_t ReadingTimeoutAction(const WatchdogReading &reading);
uint8_t ReadingPreTimeoutInterrupt(const WatchdogReading &reading);

enum ArmedField { kArmedTimerUse, kArmedTimerActions, kArmedPreTimeoutInterval, kArmedInitialCountdown };
const size_t kArmedFieldCount = 4;

struct ArmedFieldDifference {
    ArmedField field;
    uint32_t set;
    uint32_t stored;
};

// The fields the BMC stored otherwise than the arm message set them, in the order above; gives
// their count. The running bit and reserved bits are not compared.
size_t CompareWithArmMessage(const uint8_t arm[kSetWatchdogMessageLength], const WatchdogReading &reading,
                             ArmedFieldDifference differences[kArmedFieldCount]);

// How one request ended: error 0 and completion code 0 is success. length counts the answer's
// data bytes.
struct WatchdogOutcome {
    uint32_t error;          // Win32 code of the session or the exchange, 0 when the BMC answered
    uint8_t completionCode;  // the BMC's completion code when it answered
    uint8_t length;
};

bool OutcomeSucceeded(const WatchdogOutcome &outcome);

// "completion code 0x80" when the BMC answered, "error 55" when it could not be reached, and
// "error 258 (no answer in time)" when it did not answer.
void DescribeOutcome(const WatchdogOutcome &outcome, char *text, size_t size);
