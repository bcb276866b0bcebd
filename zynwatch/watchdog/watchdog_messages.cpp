#include "watchdog/watchdog_messages.h"

#include <string.h>

#include "watchdog_stop.h"

const uint8_t kBmcAddress = 0x20;
const uint8_t kApplicationNetFnLun = 0x18;  // network function 0x06, LUN 0
const uint8_t kSetWatchdogCommand = 0x24;
const uint8_t kResetWatchdogCommand = 0x22;
const uint8_t kGetWatchdogCommand = 0x25;
const uint8_t kTimerUseDontStop = 0x40;
const uint8_t kClearSmsOsExpiration = 0x10;

static void BuildSetMessage(uint8_t timerUse, uint8_t actions, uint8_t preTimeoutInterval, uint16_t countdown,
                            uint8_t message[kSetWatchdogMessageLength])
{
    message[0] = kBmcAddress;
    message[1] = kApplicationNetFnLun;
    message[2] = kSetWatchdogCommand;
    message[3] = timerUse;
    message[4] = actions;
    message[5] = preTimeoutInterval;
    message[6] = kClearSmsOsExpiration;
    message[7] = static_cast<uint8_t>(countdown & 0xFF);
    message[8] = static_cast<uint8_t>(countdown >> 8);
}

static void BuildHeaderOnly(uint8_t command, uint8_t message[3])
{
    message[0] = kBmcAddress;
    message[1] = kApplicationNetFnLun;
    message[2] = command;
}

void BuildArmMessage(const WatchdogSettings &settings, uint8_t message[kSetWatchdogMessageLength])
{
    uint8_t actions = static_cast<uint8_t>((settings.preTimeoutAction << 4) | settings.timeoutAction);
    // The loader keeps the timeout at 6553 s or less, so the count fits 16 bits.
    uint16_t countdown = static_cast<uint16_t>(settings.timeoutValue * 10u);
    BuildSetMessage(kTimerUseSmsOs, actions, settings.preTimeoutInterval, countdown, message);
}

static_assert(kStopWatchdogMessageLength == kSetWatchdogMessageLength, "the stop is a Set Watchdog Timer");

void BuildStopMessage(uint8_t message[kSetWatchdogMessageLength])
{
    memcpy(message, kStopWatchdogMessage, kStopWatchdogMessageLength);
}

void BuildResetMessage(uint8_t message[kResetWatchdogMessageLength])
{
    BuildHeaderOnly(kResetWatchdogCommand, message);
}

void BuildGetMessage(uint8_t message[kGetWatchdogMessageLength])
{
    BuildHeaderOnly(kGetWatchdogCommand, message);
}

void BuildShutdownArmMessage(const WatchdogSettings &settings, uint16_t seconds,
                             uint8_t message[kSetWatchdogMessageLength])
{
    // The BMC refuses a pre-timeout interval that is not shorter than the countdown.
    bool interruptFits = settings.preTimeoutAction != 0 && settings.preTimeoutInterval < seconds;
    uint8_t interrupt = interruptFits ? settings.preTimeoutAction : 0;
    uint8_t actions = static_cast<uint8_t>((interrupt << 4) | settings.timeoutAction);
    uint16_t countdown = static_cast<uint16_t>(seconds * 10u);
    BuildSetMessage(kTimerUseSmsOs | kTimerUseDontStop, actions, interruptFits ? settings.preTimeoutInterval : 0,
                    countdown, message);
}

void BuildDrillArmMessage(uint16_t seconds, uint8_t message[kSetWatchdogMessageLength])
{
    BuildSetMessage(kTimerUseSmsOs, 0x00, 0, static_cast<uint16_t>(seconds * 10u), message);
}

bool DecodeWatchdogReading(const uint8_t *data, size_t length, WatchdogReading *reading)
{
    if (data == nullptr || length < kWatchdogReadingLength) return false;
    reading->timerUse = data[0];
    reading->timerActions = data[1];
    reading->preTimeoutInterval = data[2];
    reading->expirationFlags = data[3];
    reading->initialCountdown = static_cast<uint16_t>(data[4] | (data[5] << 8));
    reading->presentCountdown = static_cast<uint16_t>(data[6] | (data[7] << 8));
    return true;
}

uint8_t ReadingTimerUse(const WatchdogReading &reading)
{
    return reading.timerUse & 0x07;
}

bool ReadingRunning(const WatchdogReading &reading)
{
    return (reading.timerUse & kTimerUseDontStop) != 0;
}

bool ReadingDontLog(const WatchdogReading &reading)
{
    return (reading.timerUse & 0x80) != 0;
}

uint8_t ReadingTimeoutAction(const WatchdogReading &reading)
{
    return reading.timerActions & 0x07;
}

uint8_t ReadingPreTimeoutInterrupt(const WatchdogReading &reading)
{
    return (reading.timerActions >> 4) & 0x07;
}

size_t CompareWithArmMessage(const uint8_t arm[kSetWatchdogMessageLength], const WatchdogReading &reading,
                             ArmedFieldDifference differences[kArmedFieldCount])
{
    const uint8_t useBits = 0x87;      // use and don't-log; bit 6 reads back whether the timer runs
    const uint8_t actionBits = 0x77;   // interrupt and action; bits 7 and 3 are reserved
    ArmedFieldDifference all[kArmedFieldCount] = {
        {kArmedTimerUse, static_cast<uint32_t>(arm[3] & useBits), static_cast<uint32_t>(reading.timerUse & useBits)},
        {kArmedTimerActions, static_cast<uint32_t>(arm[4] & actionBits),
         static_cast<uint32_t>(reading.timerActions & actionBits)},
        {kArmedPreTimeoutInterval, arm[5], reading.preTimeoutInterval},
        {kArmedInitialCountdown, static_cast<uint32_t>(arm[7] | (arm[8] << 8)), reading.initialCountdown},
    };
    size_t count = 0;
    for (const ArmedFieldDifference &field : all) {
        if (field.set != field.stored) differences[count++] = field;
    }
    return count;
}

bool OutcomeSucceeded(const WatchdogOutcome &outcome)
{
    return outcome.error == 0 && outcome.completionCode == 0x00;
}

void DescribeOutcome(const WatchdogOutcome &outcome, char *text, size_t size)
{
    DescribeRequestEnd(outcome.error, outcome.completionCode, text, size);
}
