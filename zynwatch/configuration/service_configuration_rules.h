#pragma once
// The service's configuration values: names, install and repair values, valid ranges, the
// description block and the heartbeat wait. Plain rules without Win32 calls, so they also
// build and are tested natively.
#include <stddef.h>
#include <stdint.h>

#include "service_identity.h"

struct WatchdogSettings {
    uint8_t timeoutAction;       // 0 none, 1 hard reset, 2 power down, 3 power cycle
    uint8_t preTimeoutAction;    // 0 none, 1 SMI, 2 NMI / diagnostic interrupt, 3 messaging interrupt
    uint16_t timeoutValue;       // seconds, 10-6553
    uint8_t preTimeoutInterval;  // seconds before expiry, 0-255
    uint32_t heartbeatInterval;  // seconds between heartbeats, any value
    uint16_t shutdownTimeout;    // seconds the shutdown phase allows, 10-6553; 0: no shutdown phase
};

enum SettingsField { kFieldTimeoutAction, kFieldPreTimeoutAction, kFieldTimeoutValue, kFieldPreTimeoutInterval };

// How one of the four timeout values is read, judged and repaired.
struct ConfigurationValueRule {
    const char *name;
    SettingsField field;
    uint32_t lowest;
    uint32_t highest;
    uint32_t repairValue;
    bool judgedByLowestByte;  // only the lowest byte is judged and used
};

// The four timeout values in the order they are loaded.
const size_t kLoadedValueCount = 4;
extern const ConfigurationValueRule kLoadedValueRules[kLoadedValueCount];

// A number as the install writes it.
struct InstalledValue {
    const char *name;
    uint32_t value;
};

// The five numbers the install writes after "Description", in writing order; the two actions
// are replaced by the install's choices.
const size_t kInstalledValueCount = 5;
extern const InstalledValue kInstalledValues[kInstalledValueCount];
const size_t kInstalledTimeoutActionIndex = 0;
const size_t kInstalledPreTimeoutActionIndex = 1;
const size_t kInstalledPreTimeoutIntervalIndex = 3;

// Seconds a pre-timeout interrupt chosen at install fires before the timeout: time for Windows
// to write a crash dump after the interrupt before the BMC resets the server.
const uint32_t kInstallPreTimeoutLead = 120;
static_assert(kInstallPreTimeoutLead < kInstallTimeoutValue, "the interrupt fires before the timeout");

// "PreTimeoutInterval" as the install writes it: the lead when an interrupt is chosen, else 0.
uint32_t InstalledPreTimeoutInterval(uint8_t preTimeoutAction);

const size_t kDescriptionBlockSize = 1024;

// The description text, its terminating zero and zero bytes up to the block's size.
void BuildDescriptionBlock(uint8_t block[kDescriptionBlockSize]);

// Gives true with the number to use when read is true and the number lies in the rule's range;
// false with the repair value otherwise (the caller writes it back).
bool JudgeConfigurationValue(const ConfigurationValueRule &rule, bool read, uint32_t number,
                             uint32_t *used);

void StoreSettingsField(WatchdogSettings *settings, SettingsField field, uint32_t value);

// "ShutdownTimeout": the countdown of the shutdown phase; off when missing, 0 or out of range.
const char kShutdownTimeoutValue[] = "ShutdownTimeout";
const uint32_t kShutdownTimeoutLowest = 10;
const uint32_t kShutdownTimeoutHighest = 6553;  // the 16-bit countdown in 100 ms counts

// The seconds of the shutdown phase, or 0 when it is off; nothing is repaired.
uint16_t JudgeShutdownTimeout(bool read, uint32_t number);

// The wait between heartbeats in milliseconds: seconds x 1000 without wrap-around, at most the
// largest finite wait.
uint32_t HeartbeatWaitMilliseconds(uint32_t seconds);
