#include "watchdog_messages.h"

const uint8_t kBmcAddress = 0x20;
const uint8_t kApplicationNetFnLun = 0x18;  // network function 0x06, LUN 0
const uint8_t kSetWatchdogCommand = 0x24;
const uint8_t kResetWatchdogCommand = 0x22;
const uint8_t kTimerUseSmsOs = 0x04;          // timer stops on Set, expiry is logged
const uint8_t kClearSmsOsExpiration = 0x10;
const uint16_t kStopCountdown = 3000;         // 300 s in 100 ms counts

static void BuildSetMessage(uint8_t actions, uint8_t preTimeoutInterval, uint16_t countdown,
                            uint8_t message[kSetWatchdogMessageLength])
{
    message[0] = kBmcAddress;
    message[1] = kApplicationNetFnLun;
    message[2] = kSetWatchdogCommand;
    message[3] = kTimerUseSmsOs;
    message[4] = actions;
    message[5] = preTimeoutInterval;
    message[6] = kClearSmsOsExpiration;
    message[7] = static_cast<uint8_t>(countdown & 0xFF);
    message[8] = static_cast<uint8_t>(countdown >> 8);
}

void BuildArmMessage(const WatchdogSettings &settings, uint8_t message[kSetWatchdogMessageLength])
{
    uint8_t actions = static_cast<uint8_t>((settings.preTimeoutAction << 4) | settings.timeoutAction);
    // The loader keeps the timeout at 6553 s or less, so the count fits 16 bits.
    uint16_t countdown = static_cast<uint16_t>(settings.timeoutValue * 10u);
    BuildSetMessage(actions, settings.preTimeoutInterval, countdown, message);
}

void BuildStopMessage(uint8_t message[kSetWatchdogMessageLength])
{
    BuildSetMessage(0x00, 0x00, kStopCountdown, message);
}

void BuildResetMessage(uint8_t message[kResetWatchdogMessageLength])
{
    message[0] = kBmcAddress;
    message[1] = kApplicationNetFnLun;
    message[2] = kResetWatchdogCommand;
}
